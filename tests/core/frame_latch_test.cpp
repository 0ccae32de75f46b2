// When the render loop begins a frame's work, for frames paced by a display or not.
#include <gtest/gtest.h>

#include <chrono>

#include "canvas/frame_latch.h"

namespace {

using Lumetra::FrameLatch;
using std::chrono::microseconds;

TEST(FrameLatch, WaitsUntilJustBeforeTheRefreshOnlyWhileFramesMakeIt) {
    FrameLatch latch;
    FrameLatch::Clock::time_point t{};
    const microseconds period(16667), work(1000);
    // A paced display: entries one refresh apart, whatever the wait before the work.
    microseconds waited(0);
    for (int frame = 0; frame < 40; ++frame) {
        waited = std::chrono::duration_cast<microseconds>(latch.wakeTime(t) - t);
        latch.workDone(work);
        t += period;
    }
    EXPECT_EQ(waited, period - work * 5 / 4 - microseconds(1000));
    // A refresh missed after waiting: no waiting for a while.
    t += period;
    EXPECT_EQ(latch.wakeTime(t), t);
    for (int frame = 0; frame < 100; ++frame) {
        t += period;
        EXPECT_EQ(latch.wakeTime(t), t);
        latch.workDone(work);
    }

    // Frames as fast as they draw: never a wait.
    FrameLatch unpaced;
    for (int frame = 0; frame < 40; ++frame) {
        EXPECT_EQ(unpaced.wakeTime(t), t);
        unpaced.workDone(microseconds(2000));
        t += microseconds(2000);
    }
}

}  // namespace
