#include "canvas/canvas_content/content_local_file_texture/gif_clock.h"

#include <atomic>

namespace Lumetra {

namespace {
std::atomic<bool> by_time{false};
}  // namespace

void setGifClockByTime(bool on) {
    by_time.store(on);
}

bool gifClockByTime() {
    return by_time.load(std::memory_order_relaxed);
}

}  // namespace Lumetra
