#include "canvas/frame_snapshot.h"

#include <GLES/gl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace Lumetra {

namespace {

std::atomic<bool> snapshot_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void requestSnapshot(int) {
    snapshot_requested.store(true);
}

}  // namespace

FrameSnapshot::FrameSnapshot() {
    const char* target = std::getenv("LUMETRA_SNAPSHOT");
    if (target == nullptr || *target == '\0') {
        return;
    }
    path = target;
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = requestSnapshot;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGUSR1, &action, nullptr);
}

FrameSnapshot::~FrameSnapshot() {
    if (!path.empty()) {
        signal(SIGUSR1, SIG_IGN);  // a late request must not kill a program tearing down
    }
}

void FrameSnapshot::captureIfRequested(uint32_t width, uint32_t height) {
    if (path.empty() || !snapshot_requested.exchange(false)) {
        return;
    }
    std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
    readFrame(width, height, rgba.data());
    if (!writePng(path, width, height, rgba.data())) {
        std::fprintf(stderr, "lumetra: cannot write snapshot %s\n", path.c_str());
    }
}

void FrameSnapshot::readFrame(uint32_t width, uint32_t height, uint8_t* rgba) {
    const size_t row = static_cast<size_t>(width) * 4;
    std::vector<uint8_t> bottom_up(row * height);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, static_cast<GLsizei>(width), static_cast<GLsizei>(height), GL_RGBA,
                 GL_UNSIGNED_BYTE, bottom_up.data());
    for (uint32_t y = 0; y < height; ++y) {
        std::memcpy(rgba + y * row, bottom_up.data() + (height - 1 - y) * row, row);
    }
}

bool FrameSnapshot::writePng(const std::string& target, uint32_t width, uint32_t height,
                             const uint8_t* rgba) {
    const std::string temporary = target + ".tmp" + std::to_string(getpid());
    if (!stbi_write_png(temporary.c_str(), static_cast<int>(width), static_cast<int>(height), 4,
                        rgba, static_cast<int>(width * 4))) {
        std::remove(temporary.c_str());
        return false;
    }
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace Lumetra
