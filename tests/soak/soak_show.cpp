#include "soak/soak_show.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "dmx_input/artnet_test_support.h"
#include "support/test_support.h"

namespace LumetraTest {

namespace {

using Clock = std::chrono::steady_clock;

const int kChannelsPerCanvas = 20;
const int kPictures = 4;

void writePictures(const std::string& dir) {
    const std::string textures = dir + "/textures";
    mkdir(textures.c_str(), 0755);
    const int side = 32;
    for (int i = 0; i < kPictures; ++i) {
        std::vector<uint8_t> rgba(side * side * 4, 255);
        for (int p = 0; p < side * side; ++p) {
            rgba[4 * p + i % 3] = static_cast<uint8_t>(p % 256);  // not flat: real sampling
        }
        writePng(textures + "/00" + std::to_string(i) + ".png", side, side, rgba);
    }
}

int waitStatus(pid_t child) {
    int status = 0;
    if (waitpid(child, &status, 0) != child) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

ChangingDesk::ChangingDesk(int n, unsigned seed) : canvases(n), random(seed) {}

std::vector<unsigned char> ChangingDesk::next() {
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<unsigned char> slots(static_cast<size_t>(canvases) * kChannelsPerCanvas, 0);
    for (int c = 0; c < canvases; ++c) {
        unsigned char* ch = slots.data() + c * kChannelsPerCanvas;
        ch[0] = static_cast<unsigned char>(byte(random) % kPictures);
        ch[1] = static_cast<unsigned char>(128 + byte(random) / 2);  // always visible
        ch[2] = static_cast<unsigned char>(96 + byte(random) / 4);
        ch[3] = static_cast<unsigned char>(96 + byte(random) / 4);
        ch[4] = static_cast<unsigned char>(8 + byte(random) / 8);
        ch[7] = static_cast<unsigned char>(4 + byte(random) % 252);  // 1 .. 63 copies
        ch[9] = static_cast<unsigned char>(20 + byte(random) / 3);
        ch[10] = static_cast<unsigned char>(byte(random));
        ch[11] = static_cast<unsigned char>(byte(random));
        ch[12] = static_cast<unsigned char>(byte(random));
        ch[15] = static_cast<unsigned char>(byte(random));  // own spin
        ch[16] = static_cast<unsigned char>(byte(random));  // ring spin
    }
    return Lumetra::ArtnetTest::artDmx(0, static_cast<int>(slots.size()), slots);
}

SoakProgram::SoakProgram(const std::string& d, Display display, int width, int height, int canvases,
                         const std::string& extra_config)
    : dir(d) {
    writePictures(dir);
    writeFile(dir + "/config.txt", "SUBNET=0\nUNIVERSE=0\nANZAHL=" + std::to_string(canvases) +
                                       "\nDMX_START=1\nGPIO_LED=-1\n" + extra_config);
    if (display == Display::X11 && !startXvfb(width, height)) {
        return;
    }
    const std::string screen = std::to_string(width) + "x" + std::to_string(height);
    pid = startSilentProgram(dir, [&] {
        if (display == Display::X11) {
            setenv("LUMETRA_DISPLAY", "x11", 1);
            setenv("DISPLAY", x_display.c_str(), 1);
        } else {
            setenv("LUMETRA_DISPLAY", "headless", 1);
            setenv("LUMETRA_SCREEN", screen.c_str(), 1);
        }
        unsetenv("LUMETRA_SNAPSHOT");  // a read-back would end the driver's batch by itself
        // AddressSanitizer's quarantine keeps freed memory resident; without it the
        // sanitizer build's resident size tracks the program's own.
        const char* asan = std::getenv("ASAN_OPTIONS");
        std::string options = std::string(asan != nullptr ? asan : "") + ":quarantine_size_mb=0";
        setenv("ASAN_OPTIONS", options.c_str(), 1);
    });
}

// Xvfb picks a free display number itself and writes it to the pipe when it is ready.
bool SoakProgram::startXvfb(int width, int height) {
    int fds[2];
    if (pipe(fds) != 0) {
        return false;
    }
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    xvfb = fork();
    if (xvfb == 0) {
        close(fds[0]);
        int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 1);
        dup2(quiet, 2);
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
               "-nolisten", "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    struct pollfd ready = {fds[0], POLLIN, 0};
    char c = 0;
    while (poll(&ready, 1, 30000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') {
        number += c;
    }
    close(fds[0]);
    if (number.empty()) {
        return false;
    }
    x_display = ":" + number;
    return true;
}

SoakProgram::~SoakProgram() {
    stop();
    if (xvfb > 0) {
        kill(xvfb, SIGTERM);
        waitStatus(xvfb);
    }
}

bool SoakProgram::waitUntilListening(double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (running() && Clock::now() < end) {
        if (!Lumetra::ArtnetTest::artnetPortFree()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool SoakProgram::running() {
    if (pid <= 0) {
        return false;
    }
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == 0) {
        return true;
    }
    exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    pid = -1;
    return false;
}

long SoakProgram::residentKilobytes() const {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (pid > 0 && std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

int SoakProgram::stop() {
    if (pid > 0) {
        kill(pid, SIGTERM);
        exit_status = waitStatus(pid);
        pid = -1;
    }
    return exit_status;
}

std::string SoakProgram::log() const {
    return readFile(dir + "/program.log");
}

void PrintTo(SoakProgram::Display display, std::ostream* out) {
    *out << (display == SoakProgram::Display::X11 ? "X11" : "Offscreen");
}

SoakFigures playShow(SoakProgram& program, ChangingDesk& desk, double warmup, double measure) {
    Lumetra::ArtnetTest::Sender sender;
    SoakFigures figures;
    const auto start = Clock::now();
    const auto warm =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(warmup));
    const auto end =
        warm + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(measure));
    const auto cycle = std::chrono::milliseconds(25);
    auto next_look = start;
    for (auto now = start; now < end && program.running(); now = Clock::now()) {
        sender.send(desk.next());
        ++figures.cycles;
        if (now >= next_look) {
            const long kb = program.residentKilobytes();
            if (figures.start_kb < 0) {
                figures.start_kb = kb;
            }
            if (now < warm) {
                figures.warm_kb = kb;
            } else {
                figures.peak_kb = std::max(figures.peak_kb, kb);
                figures.end_kb = kb;
            }
            next_look += std::chrono::milliseconds(250);
        }
        std::this_thread::sleep_until(now + cycle);
    }
    figures.survived = program.running();
    return figures;
}

}  // namespace LumetraTest
