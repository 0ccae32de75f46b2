#pragma once

#include <chrono>

namespace Lumetra {

// Starts a frame's work as late as the display's refresh allows, so that what the frame
// shows is as fresh as it can be when it goes out: a DMX frame arriving just after a
// frame began would otherwise wait a whole refresh longer. It learns the refresh period
// from the time between frames (a swap that waits for the display paces them) and the
// frame's work from its own measure, and keeps a margin; a frame that missed its refresh
// stops the waiting for a while. Without pacing (frames as fast as they draw) it never
// waits. Render thread only.
class FrameLatch {
  public:
    using Clock = std::chrono::steady_clock;

    // At a frame's entry, right after the previous frame's swap: when to begin its work.
    Clock::time_point wakeTime(Clock::time_point entry);
    // The frame's work from waking up to the swap.
    void workDone(Clock::duration work);

  private:
    static constexpr int INTERVALS = 15;

    bool has_entry = false;
    Clock::time_point last_entry{};
    Clock::duration intervals[INTERVALS] = {};  // between the last frames' entries
    int next_interval = 0;
    int known_intervals = 0;
    Clock::duration work_peak{};  // the longest recent work, decaying slowly
    Clock::duration waited{};     // before the last frame's work
    int hold_off = 0;             // frames left without waiting after a missed refresh
};

}  // namespace Lumetra
