// The reply budget on its own, with time given by the test.
#include <gtest/gtest.h>

#include "artnet_poll_limiter.h"

namespace Lumetra {
namespace {

using Clock = ArtnetPollLimiter::Clock;
using std::chrono::milliseconds;

int allowed(ArtnetPollLimiter& limiter, uint32_t ip, int polls, Clock::time_point at) {
    int yes = 0;
    for (int i = 0; i < polls; ++i) {
        yes += limiter.allow(ip, at);
    }
    return yes;
}

TEST(PollLimiter, OneSenderGetsFourInARowThenTwoASecond) {
    ArtnetPollLimiter limiter;
    const Clock::time_point t0 = Clock::now();
    EXPECT_EQ(allowed(limiter, 1, 50, t0), 4);
    EXPECT_EQ(allowed(limiter, 1, 50, t0 + milliseconds(500)), 1);
    EXPECT_EQ(allowed(limiter, 1, 50, t0 + milliseconds(1500)), 2);
    EXPECT_EQ(allowed(limiter, 1, 50, t0 + milliseconds(60000)), 4) << "the burst is capped";
    EXPECT_EQ(allowed(limiter, 2, 1, t0 + milliseconds(60000)), 1) << "others keep theirs";
}

TEST(PollLimiter, AllSendersTogetherGetTenInARowThenFiveASecond) {
    ArtnetPollLimiter limiter;
    const Clock::time_point t0 = Clock::now();
    int yes = 0;
    for (uint32_t ip = 1; ip <= 100; ++ip) {
        yes += limiter.allow(ip, t0);
    }
    EXPECT_EQ(yes, 10);
    yes = 0;
    for (uint32_t ip = 101; ip <= 200; ++ip) {
        yes += limiter.allow(ip, t0 + milliseconds(1000));
    }
    EXPECT_EQ(yes, 5);
}

// Forged source addresses churn the fixed table; the total budget still holds.
TEST(PollLimiter, StreamOfNewSendersStaysWithinTheTotal) {
    ArtnetPollLimiter limiter;
    const Clock::time_point t0 = Clock::now();
    int yes = 0;
    for (uint32_t n = 0; n < 100000; ++n) {
        yes += limiter.allow(0x0a000000 + n, t0 + milliseconds(n / 10));  // 10 s
    }
    EXPECT_LE(yes, 10 + 5 * 10);
    EXPECT_GE(yes, 5 * 10);
}

}  // namespace
}  // namespace Lumetra
