#include "canvas/canvas.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

namespace {

using Lumetra::Canvas;

TEST(Canvas, NewCanvasShowsItemZeroPlainAtTheCentre) {
    Canvas c("CONTENT_TEXTURE_256");
    EXPECT_EQ(c.getContentType(), "CONTENT_TEXTURE_256");
    EXPECT_EQ(c.getContentData(), 0);
    EXPECT_EQ(c.getPositionX(), 0.0f);
    EXPECT_EQ(c.getPositionY(), 0.0f);
    EXPECT_EQ(c.getScalingX(), 1.0f);
    EXPECT_EQ(c.getScalingY(), 1.0f);
    EXPECT_EQ(c.getRotation(), 0.0f);
    EXPECT_EQ(c.getNumber(), 0u);
    EXPECT_EQ(c.getZoom(), 0.0f);
    EXPECT_EQ(c.getRotationAll(), 0.0f);
    EXPECT_EQ(c.getR() + c.getG() + c.getB() + c.getAlpha(), 4.0f);
    EXPECT_EQ(c.getShutterState(), 0);
    EXPECT_EQ(c.getShutterSet(), 0);
}

TEST(Canvas, SettersStoreAnyValueUnchanged) {
    Canvas c("X");
    c.setAlpha(2.0f);
    c.setScalingY(-1.0f);
    c.setRotation(-358.59375f);
    c.setNumber(1000u);
    EXPECT_EQ(c.getAlpha(), 2.0f);
    EXPECT_EQ(c.getScalingY(), -1.0f);
    EXPECT_EQ(c.getRotation(), -358.59375f);
    EXPECT_EQ(c.getNumber(), 1000u);
}

TEST(Canvas, SpinWrapsIntoZeroTo360) {
    Canvas c("X");
    c.setRotation(359.0f);
    c.setSpeed(1.0f);
    c.setSpeedAll(-1.0f);
    c.frameStep();
    EXPECT_EQ(c.getRotation(), 0.0f);
    EXPECT_EQ(c.getRotationAll(), 359.0f);
    EXPECT_EQ(c.correctAngleRange(360.0f), 0.0f);
    EXPECT_EQ(c.correctAngleRange(-358.59375f), 1.40625f);
    EXPECT_EQ(c.correctAngleRange(1080.5f), 0.5f);
}

TEST(Canvas, HugeAndNonFiniteAnglesDoNotHang) {
    Canvas c("X");
    EXPECT_EQ(c.correctAngleRange(3.6e9f), std::fmod(3.6e9f, 360.0f));
    float wrapped = c.correctAngleRange(-1e30f);
    EXPECT_GE(wrapped, 0.0f);
    EXPECT_LT(wrapped, 360.0f);
    EXPECT_TRUE(std::isinf(c.correctAngleRange(std::numeric_limits<float>::infinity())));
    EXPECT_TRUE(std::isnan(c.correctAngleRange(std::nanf(""))));
}

// Which of the first `frames` frames a fresh canvas with this strobe setting is drawn on.
std::vector<bool> strobePattern(int shutter_set, int frames) {
    Canvas c("X");
    c.setShutterSet(shutter_set);
    std::vector<bool> drawn;
    for (int i = 0; i < frames; ++i) {
        c.frameStep();
        drawn.push_back(c.getShutterState() == 0);
    }
    return drawn;
}

TEST(Canvas, FastestStrobeAlternatesTwoFramePhases) {
    std::vector<bool> expected = {true, false, false, true, true, false, false, true};
    EXPECT_EQ(strobePattern(255, 8), expected);
}

TEST(Canvas, SlowestStrobeHas65FramePhasesTheFirstOneShorter) {
    std::vector<bool> drawn = strobePattern(1, 64 + 65 + 1);
    for (int i = 0; i < 64; ++i)
        EXPECT_TRUE(drawn[i]) << i;
    for (int i = 64; i < 64 + 65; ++i)
        EXPECT_FALSE(drawn[i]) << i;
    EXPECT_TRUE(drawn[64 + 65]);
}

TEST(Canvas, StrobeOffFreezesThePhaseAndOnAgainContinuesIt) {
    Canvas c("X");
    c.setShutterSet(255);
    c.frameStep();
    c.frameStep();  // closed, shutter_time 0
    c.setShutterSet(0);
    for (int i = 0; i < 5; ++i)
        c.frameStep();
    EXPECT_NE(c.getShutterState(), 0);  // frozen closed, yet the renderer ignores it
    c.setShutterSet(255);
    c.frameStep();  // second closed frame of the phase
    EXPECT_NE(c.getShutterState(), 0);
    c.frameStep();
    EXPECT_EQ(c.getShutterState(), 0);
}

// The render loop steps and reads while the listener writes; run under TSan this pins down
// that every shared field is well defined. A desk's angle must never be lost to a spin step
// that read the angle before it was set.
TEST(Canvas, ConcurrentDeskWritesAndFrameStepsAreWellDefined) {
    Canvas c("X");
    c.setSpeed(1.0f);
    std::atomic<bool> done{false};
    std::thread desk([&] {
        for (int i = 0; i < 20000; ++i) {
            c.setPositionX(static_cast<float>(i));
            c.setRotation(-90.0f);
            c.setShutterSet(i % 256);
            c.setNumber(static_cast<unsigned>(i % 64));
        }
        done = true;
    });
    int torn = 0;  // values the desk never wrote
    while (!done) {
        c.frameStep();
        const float x = c.getPositionX();
        torn += x < 0.0f || x > 19999.0f || x != static_cast<float>(static_cast<int>(x));
        torn += c.getNumber() >= 64;
    }
    desk.join();
    EXPECT_EQ(c.getPositionX(), 19999.0f);
    EXPECT_EQ(torn, 0);
    c.setRotation(-90.0f);  // set, then stepped by speed 1 and wrapped
    c.frameStep();
    EXPECT_EQ(c.getRotation(), 271.0f);
}

}  // namespace
