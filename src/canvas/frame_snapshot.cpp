#include "canvas/frame_snapshot.h"

#include "platform/gl.h"
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "canvas/snapshot_writer.h"

namespace Lumetra {

namespace {

std::atomic<bool> snapshot_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
std::atomic<FrameSink*> frame_sink{nullptr};

void requestSnapshot(int) {
    snapshot_requested.store(true);
}

}  // namespace

FrameSnapshot::FrameSnapshot() {
    if (!listen()) {
        return;
    }
    path = std::getenv("LUMETRA_SNAPSHOT");
    file_writer = std::make_unique<SnapshotWriter>(path);
}

bool FrameSnapshot::listen() {
    const char* target = std::getenv("LUMETRA_SNAPSHOT");
    if (target == nullptr || *target == '\0') {
        return false;
    }
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = requestSnapshot;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGUSR1, &action, nullptr);
    return true;
}

bool FrameSnapshot::pending() {
    return snapshot_requested.load();
}

FrameSnapshot::~FrameSnapshot() {
    if (!path.empty()) {
        signal(SIGUSR1, SIG_IGN);  // a late request must not kill a program tearing down
    }
}

// While a frame is being written the request stays set: it is taken by the first frame
// after the write, however many arrived meanwhile.
void FrameSnapshot::setSink(FrameSink* sink) {
    frame_sink.store(sink);
}

void FrameSnapshot::captureIfRequested(uint32_t width, uint32_t height) {
    FrameSink* sink = frame_sink.load(std::memory_order_acquire);
    if (sink != nullptr) {
        if (uint8_t* bottom_up = sink->frameWanted(width, height)) {
            glPixelStorei(GL_PACK_ALIGNMENT, 1);
            glReadPixels(0, 0, static_cast<GLsizei>(width), static_cast<GLsizei>(height), GL_RGBA,
                         GL_UNSIGNED_BYTE, bottom_up);
            sink->frameFilled();
        }
    }
    if (!file_writer || file_writer->busy() || !snapshot_requested.exchange(false)) {
        return;
    }
    uint8_t* bottom_up = file_writer->frameBuffer(width, height);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, static_cast<GLsizei>(width), static_cast<GLsizei>(height), GL_RGBA,
                 GL_UNSIGNED_BYTE, bottom_up);
    file_writer->submit();
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

}  // namespace Lumetra
