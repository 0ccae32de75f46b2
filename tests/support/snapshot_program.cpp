#include "support/snapshot_program.h"

#include <fcntl.h>
#include <signal.h>
#include <stb/stb_image.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "support/test_support.h"

namespace LumetraTest {

using Clock = std::chrono::steady_clock;

SnapshotProgram::SnapshotProgram(const std::string& dir, int w, int h, int refresh)
    : snapshot(dir + "/snap.png"), width(w), height(h) {
    pid = startSilentProgram(dir, [&] {
        setenv("LUMETRA_DISPLAY", "headless", 1);
        setenv("LUMETRA_SCREEN", (std::to_string(w) + "x" + std::to_string(h)).c_str(), 1);
        setenv("LUMETRA_REFRESH", std::to_string(refresh).c_str(), 1);
        setenv("LUMETRA_SNAPSHOT", snapshot.c_str(), 1);
    });
}

bool SnapshotProgram::waitForEnd(double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        int status = 0;
        if (pid > 0 && waitpid(pid, &status, WNOHANG) == pid) {
            exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            pid = -1;
        }
        if (pid <= 0 || Clock::now() >= end) {
            return pid <= 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

SnapshotProgram::~SnapshotProgram() {
    stop();
}

double SnapshotProgram::stop() {
    if (pid <= 0) {
        return 0;
    }
    auto begin = Clock::now();
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    pid = -1;
    return std::chrono::duration<double>(Clock::now() - begin).count();
}

std::vector<uint8_t> SnapshotProgram::nextFrame() {
    struct stat before {};
    const bool had = stat(snapshot.c_str(), &before) == 0;
    kill(pid, SIGUSR1);
    const auto end = Clock::now() + std::chrono::seconds(3);
    while (Clock::now() < end) {
        struct stat now {};
        // The program renames a finished file over the old one: a new inode or time.
        if (stat(snapshot.c_str(), &now) == 0 && (!had || now.st_ino != before.st_ino ||
                                                  now.st_mtim.tv_nsec != before.st_mtim.tv_nsec)) {
            int w = 0, h = 0, n = 0;
            unsigned char* rgba = stbi_load(snapshot.c_str(), &w, &h, &n, 4);
            std::vector<uint8_t> frame;
            if (rgba != nullptr && w == width && h == height) {
                frame.assign(rgba, rgba + static_cast<size_t>(w) * h * 4);
            }
            stbi_image_free(rgba);
            return frame;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return {};
}

}  // namespace LumetraTest
