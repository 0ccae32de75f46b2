#include "artnet/netns_support.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace Lumetra {
namespace ArtnetTest {

namespace {

std::string uniqueName(const char* role) {
    return std::string("lmt-") + role + "-" + std::to_string(getpid());
}

void enter(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) {
        throw std::runtime_error("cannot enter network namespace " + path);
    }
    close(fd);
}

}  // namespace

std::string script(const std::string& name) {
    return std::string(LUMETRA_SOURCE_DIR) + "/tests/artnet/" + name;
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
    : ctl(uniqueName("ctl")), node(uniqueName("node")) {
    if (shell(script("netns.sh") + " up " + ctl + " " + node + " " + node_iface) != 0) {
        throw std::runtime_error("netns.sh up failed");
    }
}

NetnsPair::~NetnsPair() {
    shell(script("netns.sh") + " down " + ctl + " " + node);
}

bool NetnsPair::available() {
    return getuid() == 0 && shell("ip netns list >/dev/null 2>&1") == 0;
}

InNetns::InNetns(const std::string& name)
    : home(open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) {
    enter("/var/run/netns/" + name);
}

InNetns::~InNetns() {
    setns(home, CLONE_NEWNET);
    close(home);
}

}  // namespace ArtnetTest
}  // namespace Lumetra
