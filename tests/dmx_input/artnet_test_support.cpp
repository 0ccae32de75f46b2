#include "dmx_input/artnet_test_support.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <dlfcn.h>
#include <link.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace Lumetra {
namespace ArtnetTest {

Bytes artPoll(int size) {
    Bytes packet = {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x20, 0, 14, 0x02, 0};
    packet.resize(static_cast<size_t>(size));
    return packet;
}

Bytes artSync() {
    return {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x52, 0, 14, 0, 0};
}

Bytes artAddress() {
    Bytes packet = {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x60, 0, 14, 0x7f, 1};
    packet.resize(107, 0);
    std::fill(packet.begin() + 96, packet.begin() + 104, 0x7f);  // SwIn, SwOut: no change
    packet[104] = 0x7f;                                          // SubSwitch: no change
    return packet;
}

Sender::Sender() : fd(socket(AF_INET, SOCK_DGRAM, 0)) {
    if (fd < 0) {
        throw std::runtime_error("sender socket");
    }
}

Sender::Sender(const std::string& source_ip) : Sender() {
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, source_ip.c_str(), &from.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof(from)) != 0) {
        throw std::runtime_error("sender bind " + source_ip);  // the destructor closes fd
    }
}

Sender::~Sender() {
    close(fd);
}

void Sender::send(const Bytes& datagram, const std::string& ip, int port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, ip.c_str(), &to.sin_addr);
    if (sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
               sizeof(to)) != static_cast<ssize_t>(datagram.size())) {
        throw std::runtime_error("sendto");
    }
}

namespace {

// Mesa unloads its GL driver whenever the last EGL display goes; the sanitizers then lose
// the driver's symbols (its leaks come from an "unknown module", TSan stops on an unloaded
// suppressed library). Tests make and drop many screens, so the driver, once loaded, stays.
int keepLoaded(dl_phdr_info* info, size_t, void*) {
    std::string name = info->dlpi_name;
    if (name.find("/dri/") != std::string::npos || name.find("libgallium") != std::string::npos ||
        name.find("libLLVM") != std::string::npos) {
        dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
    }
    return 0;
}

}  // namespace

HeadlessScreen::HeadlessScreen(int canvases, const std::string& size) {
    char pattern[] = "/tmp/lumetra-screen-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("mkdtemp");
    }
    dir = pattern;
    std::string textures = dir + "/textures";
    mkdir(textures.c_str(), 0755);
    char cwd[4096];
    old_cwd = getcwd(cwd, sizeof(cwd)) != nullptr ? cwd : "/";
    if (chdir(dir.c_str()) != 0) {
        throw std::runtime_error("chdir");
    }
    setenv("LUMETRA_DISPLAY", "headless", 1);
    setenv("LUMETRA_SCREEN", size.c_str(), 1);
    screen = std::make_unique<CanvasManager>();
    dl_iterate_phdr(keepLoaded, nullptr);
    group = screen->generateCanvasGroup(canvases, "CONTENT_TEXTURE_256");
}

HeadlessScreen::~HeadlessScreen() {
    screen.reset();
    if (chdir(old_cwd.c_str()) != 0) {
        std::fprintf(stderr, "could not return to %s\n", old_cwd.c_str());
    }
    std::string command = "rm -rf '" + dir + "'";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "could not remove %s\n", dir.c_str());
    }
}

int openDescriptors() {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    closedir(dir);
    return count - 1;  // the directory stream itself
}

long residentKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

}  // namespace ArtnetTest
}  // namespace Lumetra
