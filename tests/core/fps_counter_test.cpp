#include "canvas/fps_counter.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// A clock the test moves by hand, in microseconds.
long long fake_now_us = 0;
void fakeClock(struct timeval* now) {
    now->tv_sec = static_cast<time_t>(fake_now_us / 1000000);
    now->tv_usec = static_cast<suseconds_t>(fake_now_us % 1000000);
}

class FpsCounterTest : public ::testing::Test {
  protected:
    void SetUp() override { fake_now_us = 1000000LL * 1700000000LL + 999000; }
    void advance(long long us) { fake_now_us += us; }
};

TEST_F(FpsCounterTest, BeforeAnyTickTheRateIsInfinite) {
    Lumetra::FPS_Counter counter(fakeClock);
    float fps = counter.getFPS();
    EXPECT_TRUE(std::isinf(fps));
    EXPECT_GT(fps, 0.0f);
}

TEST_F(FpsCounterTest, OneTickCountsTenTimesTooHigh) {
    Lumetra::FPS_Counter counter(fakeClock);
    advance(20000);  // crosses a second boundary: negative microsecond difference
    counter.tick();
    EXPECT_NEAR(counter.getFPS(), 10.0f / 0.02f, 0.01f);
}

TEST_F(FpsCounterTest, SteadyFramesAverageOverTheLastTen) {
    Lumetra::FPS_Counter counter(fakeClock);
    for (int i = 0; i < 10; ++i) {
        advance(100000);
        counter.tick();
    }
    EXPECT_NEAR(counter.getFPS(), 10.0f, 0.001f);
    for (int i = 0; i < 25; ++i) {  // the ring forgets older frames
        advance(16667);
        counter.tick();
    }
    EXPECT_NEAR(counter.getFPS(), 60.0f, 0.01f);
}

}  // namespace
