#pragma once

// The inside of a tunnel: a short queue of frames shared by the two ports it joins. It
// carries frames only while both ports are enabled. A clock tunnel carries the clock.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "platform/mesa/il/decoded_frame.h"

namespace Lumetra {
namespace Platform {
namespace Mesa {

class MediaClock;

class FrameLink {
  public:
    explicit FrameLink(size_t capacity) : capacity(capacity) {}

    void setEndEnabled(bool source_end, bool enabled);
    bool isOpen();

    // Queues the frame; false when the link stays closed or full for `timeout`.
    bool push(const FramePtr& frame, std::chrono::milliseconds timeout);
    // The oldest frame, or null when none arrives within `timeout`.
    FramePtr pop(std::chrono::milliseconds timeout);
    void clear();

    void setClock(std::shared_ptr<MediaClock> media_clock);
    std::shared_ptr<MediaClock> getClock();

  private:
    bool openLocked() const { return source_enabled && sink_enabled; }

    const size_t capacity;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<FramePtr> frames;
    bool source_enabled = false;
    bool sink_enabled = false;
    std::shared_ptr<MediaClock> clock;
};

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
