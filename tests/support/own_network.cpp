#include "support/own_network.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace LumetraTest {

namespace {

bool writeProcFile(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    out.flush();
    return static_cast<bool>(out);
}

// A user namespace in which this user is itself, so files, tmux's socket directory and
// every uid check look as before.
std::string unshareAsUser() {
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
        return std::string("unshare(user, net): ") + std::strerror(errno);
    }
    if (!writeProcFile("/proc/self/setgroups", "deny") ||
        !writeProcFile("/proc/self/uid_map",
                       std::to_string(uid) + " " + std::to_string(uid) + " 1") ||
        !writeProcFile("/proc/self/gid_map",
                       std::to_string(gid) + " " + std::to_string(gid) + " 1")) {
        return "cannot map ids in the user namespace";
    }
    return "";
}

std::string loopbackUp() {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return std::string("socket: ") + std::strerror(errno);
    }
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    std::string error;
    if (ioctl(fd, SIOCGIFFLAGS, &request) != 0) {
        error = std::string("SIOCGIFFLAGS lo: ") + std::strerror(errno);
    } else {
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
        if (ioctl(fd, SIOCSIFFLAGS, &request) != 0) {
            error = std::string("SIOCSIFFLAGS lo: ") + std::strerror(errno);
        }
    }
    close(fd);
    return error;
}

}  // namespace

std::string enterOwnNetwork() {
    std::string error;
    if (getuid() == 0) {
        if (unshare(CLONE_NEWNET) != 0) {
            error = std::string("unshare(net): ") + std::strerror(errno);
        }
    } else {
        error = unshareAsUser();
    }
    return error.empty() ? loopbackUp() : error;
}

}  // namespace LumetraTest
