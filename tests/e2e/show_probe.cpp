#include "e2e/show_probe.h"

#include <arpa/inet.h>
#include <signal.h>
#include <stb/stb_image.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "support/fixture_process.h"
#include "support/test_support.h"

namespace ShowProbe {

double cpuSeconds(pid_t pid) {
    std::string stat = LumetraTest::readFile("/proc/" + std::to_string(pid) + "/stat");
    size_t end_of_name = stat.rfind(')');
    if (end_of_name == std::string::npos) {
        return -1;
    }
    std::istringstream fields(stat.substr(end_of_name + 2));
    std::string field;
    double ticks = 0;
    // Fields 14 and 15 of the line (utime, stime); the name was the second.
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i >= 14) {
            ticks += std::stod(field);
        }
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double cpuShare(pid_t pid, double seconds) {
    const double start_cpu = cpuSeconds(pid);
    const double start = LumetraTest::monotonicSeconds();
    usleep(static_cast<useconds_t>(seconds * 1e6));
    return (cpuSeconds(pid) - start_cpu) / (LumetraTest::monotonicSeconds() - start);
}

void showPictureOne() {
    std::vector<uint8_t> channels(20, 0);
    channels[0] = 1;    // picture 1
    channels[1] = 255;  // opacity
    channels[2] = 128;  // centre
    channels[3] = 128;
    channels[4] = 51;
    channels[10] = 255;  // white
    channels[11] = 255;
    channels[12] = 255;
    channels[15] = 127;  // no spin
    channels[16] = 127;
    LumetraTest::sendArtDmx(0, 1, channels);
}

long centrePixel(pid_t pid, const std::string& path) {
    unlink(path.c_str());
    kill(pid, SIGUSR1);
    const double end = LumetraTest::monotonicSeconds() + 5.0;
    while (LumetraTest::monotonicSeconds() < end) {
        struct stat info {};
        if (stat(path.c_str(), &info) == 0) {
            int w = 0, h = 0, n = 0;
            unsigned char* rgba = stbi_load(path.c_str(), &w, &h, &n, 4);
            long pixel = -1;
            if (rgba != nullptr) {
                const unsigned char* p = rgba + 4 * ((h / 2) * w + w / 2);
                pixel = (static_cast<long>(p[0]) << 16) | (p[1] << 8) | p[2];
            }
            stbi_image_free(rgba);
            return pixel;
        }
        usleep(10000);
    }
    return -1;
}

// An orphan that has ended may wait a while for its new parent to reap it.
namespace {
bool ended(pid_t pid) {
    if (kill(pid, 0) != 0) {
        return true;
    }
    std::string stat = LumetraTest::readFile("/proc/" + std::to_string(pid) + "/stat");
    size_t end_of_name = stat.rfind(')');
    return end_of_name != std::string::npos && end_of_name + 2 < stat.size() &&
           stat[end_of_name + 2] == 'Z';
}

}  // namespace

bool waitGone(pid_t pid, double seconds) {
    const double end = LumetraTest::monotonicSeconds() + seconds;
    do {
        if (ended(pid)) {
            return true;
        }
        usleep(5000);
    } while (LumetraTest::monotonicSeconds() < end);
    return false;
}

FakeGpio::FakeGpio(const std::string& dir) : root(dir) {
    mkdir(root.c_str(), 0755);
    mkdir((root + "/gpio17").c_str(), 0755);
    LumetraTest::writeFile(root + "/export", "");
    LumetraTest::writeFile(root + "/unexport", "");
    LumetraTest::writeFile(root + "/gpio17/direction", "in");
    LumetraTest::writeFile(root + "/gpio17/value", "");
}

std::string FakeGpio::value() const {
    return LumetraTest::readFile(root + "/gpio17/value");
}

std::string FakeGpio::unexported() const {
    return LumetraTest::readFile(root + "/unexport");
}

}  // namespace ShowProbe
