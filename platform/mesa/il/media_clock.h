#pragma once

// Media time against the wall clock. It starts with the first frame that asks for its due
// time, as a clock waiting for its start time does, and restarts after a stall so that a
// late pipeline does not rush through the frames it missed.

#include <chrono>
#include <cstdint>
#include <mutex>

namespace Lumetra {
namespace Platform {
namespace Mesa {

class MediaClock {
  public:
    using Clock = std::chrono::steady_clock;

    // Wall time at which media time `media_us` is due.
    Clock::time_point dueTime(int64_t media_us);
    // Makes media time `media_us` due now.
    void restartAt(int64_t media_us);

  private:
    std::mutex mutex;
    bool started = false;
    Clock::time_point origin;
};

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
