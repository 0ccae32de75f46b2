#include "platform/mesa/il/frame_link.h"

namespace Lumetra {
namespace Platform {
namespace Mesa {

void FrameLink::setEndEnabled(bool source_end, bool enabled) {
    std::lock_guard<std::mutex> lock(mutex);
    (source_end ? source_enabled : sink_enabled) = enabled;
    if (!openLocked()) {
        frames.clear();
    }
    changed.notify_all();
}

bool FrameLink::isOpen() {
    std::lock_guard<std::mutex> lock(mutex);
    return openLocked();
}

bool FrameLink::push(const FramePtr& frame, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, timeout, [this] { return openLocked() && frames.size() < capacity; });
    if (!openLocked() || frames.size() >= capacity) {
        return false;
    }
    frames.push_back(frame);
    changed.notify_all();
    return true;
}

FramePtr FrameLink::pop(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, timeout, [this] { return openLocked() && !frames.empty(); });
    if (!openLocked() || frames.empty()) {
        return nullptr;
    }
    FramePtr frame = frames.front();
    frames.pop_front();
    changed.notify_all();
    return frame;
}

void FrameLink::clear() {
    std::lock_guard<std::mutex> lock(mutex);
    frames.clear();
    changed.notify_all();
}

void FrameLink::setClock(std::shared_ptr<MediaClock> media_clock) {
    std::lock_guard<std::mutex> lock(mutex);
    clock = std::move(media_clock);
}

std::shared_ptr<MediaClock> FrameLink::getClock() {
    std::lock_guard<std::mutex> lock(mutex);
    return clock;
}

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
