#include "canvas/frame_latch.h"

#include <algorithm>

namespace Lumetra {

namespace {

// Room for a late wake-up and the swap itself.
constexpr std::chrono::microseconds MARGIN(1000);
// Two seconds at 60 Hz without waiting after a missed refresh.
constexpr int HOLD_OFF_FRAMES = 120;

}  // namespace

FrameLatch::Clock::time_point FrameLatch::wakeTime(Clock::time_point entry) {
    if (!has_entry) {
        has_entry = true;
        last_entry = entry;
        return entry;
    }
    const Clock::duration interval = entry - last_entry;
    last_entry = entry;
    // The refresh period is the median of the recent intervals: a first frame that was
    // not paced, or a missed refresh now and then, does not move it.
    intervals[next_interval] = interval;
    next_interval = (next_interval + 1) % INTERVALS;
    if (known_intervals < INTERVALS) {
        ++known_intervals;
    }
    Clock::duration sorted[INTERVALS];
    std::copy(intervals, intervals + known_intervals, sorted);
    std::nth_element(sorted, sorted + known_intervals / 2, sorted + known_intervals);
    const Clock::duration period = sorted[known_intervals / 2];
    // A frame that waited and still missed its refresh: waiting costs frames here.
    if (waited > Clock::duration::zero() && interval > period * 3 / 2) {
        hold_off = HOLD_OFF_FRAMES;
    }
    if (hold_off > 0 || known_intervals < INTERVALS) {
        hold_off -= hold_off > 0 ? 1 : 0;
        waited = Clock::duration::zero();
        return entry;
    }
    waited = std::max(Clock::duration::zero(), period - work_peak * 5 / 4 - MARGIN);
    return entry + waited;
}

void FrameLatch::workDone(Clock::duration work) {
    work_peak = std::max(work, work_peak - work_peak / 64);
}

}  // namespace Lumetra
