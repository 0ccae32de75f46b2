#include "dmx_input/netns_support.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace Lumetra {
namespace ArtnetTest {

namespace {

std::atomic<int> pairs_made{0};

std::string uniqueName(const char* role, int serial) {
    return std::string("lmt-") + role + "-" + std::to_string(getpid()) + "-" +
           std::to_string(serial);
}

void enter(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool entered = fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
    if (fd >= 0) {
        close(fd);
    }
    if (!entered) {
        throw std::runtime_error("cannot enter network namespace " + path);
    }
}

// Empty when a namespace can be made, used the ways the tests use it, and removed.
std::string probeNamedNamespaces() {
    if (getuid() != 0) {
        return "needs root for named network namespaces";
    }
    if (shell("command -v ip >/dev/null 2>&1") != 0) {
        return "needs ip (iproute2)";
    }
    const std::string probe = uniqueName("probe", 0);
    std::string error;
    if (shell("ip netns add " + probe + " 2>/dev/null") != 0) {
        return "ip netns add does not work here";
    }
    if (shell("ip -n " + probe + " link set lo up 2>/dev/null") != 0 ||
        shell("ip netns exec " + probe + " true 2>/dev/null") != 0) {
        // e.g. '"mount --make-rslave /" failed' where / is not a mount point
        error = "cannot enter a named network namespace (ip -n / ip netns exec fail here)";
    }
    shell("ip netns del " + probe + " 2>/dev/null");
    return error;
}

}  // namespace

std::string script(const std::string& name) {
    return std::string(LUMETRA_SOURCE_DIR) + "/tests/dmx_input/" + name;
}

int shell(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string shellOutput(const std::string& command) {
    std::string text;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return text;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), pipe)) > 0) {
        text.append(buf, n);
    }
    pclose(pipe);
    return text;
}

NetnsPair::NetnsPair(const std::string& node_iface)
    : serial(++pairs_made), ctl(uniqueName("ctl", serial)), node(uniqueName("node", serial)) {
    if (shell(script("netns.sh") + " up " + ctl + " " + node + " " + node_iface) != 0) {
        // The destructor will not run for a half-made pair: remove what was made.
        shell(script("netns.sh") + " down " + ctl + " " + node);
        throw std::runtime_error("netns.sh up " + ctl + " " + node + " failed");
    }
}

NetnsPair::~NetnsPair() {
    shell(script("netns.sh") + " down " + ctl + " " + node);
}

const std::string& NetnsPair::unavailableReason() {
    static const std::string reason = probeNamedNamespaces();
    return reason;
}

bool NetnsPair::available() {
    return unavailableReason().empty();
}

InNetns::InNetns(const std::string& name)
    : home(open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) {
    if (home < 0) {
        throw std::runtime_error("cannot open this thread's network namespace");
    }
    try {
        enter("/var/run/netns/" + name);
    } catch (...) {
        close(home);
        throw;
    }
}

InNetns::~InNetns() {
    setns(home, CLONE_NEWNET);
    close(home);
}

}  // namespace ArtnetTest
}  // namespace Lumetra
