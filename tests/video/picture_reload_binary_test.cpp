// The real program offscreen, its canvas on slot 1 by Art-Net DMX, while the files of slot 1
// change under it: a named JPEG replaced, a GIF taking over when the JPEG goes, a clip with
// the exact name taking over from the GIF. Each change is in the snapshots within a second.
// With RELOAD=0 the files read at the start stay.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "support/snapshot_program.h"
#include "support/test_support.h"
#include "video/clip_maker.h"

namespace VideoTest {
namespace {

using Clock = std::chrono::steady_clock;

const int kWidth = 64;
const int kHeight = 36;

// Slot 1 over the whole screen, full light, no spin, at address 1 of universe 0.
const std::vector<uint8_t> kCanvas = {1,   255, 128, 128, 255, 0,   0,   0, 0, 0,
                                      255, 255, 255, 0,   0,   127, 127, 0, 0, 0};

struct Rgb {
    int r = -1, g = -1, b = -1;
    bool near(int R, int G, int B) const {
        return std::abs(r - R) < 40 && std::abs(g - G) < 40 && std::abs(b - B) < 40;
    }
};

class PictureReloadBinary : public ::testing::Test {
  protected:
    void startProgram(const std::string& config) {
        LumetraTest::writeFile(work.file("config.txt"), config);
        ASSERT_FALSE(LumetraTest::artnetPortTaken());
        program.reset(new LumetraTest::SnapshotProgram(work.path(), kWidth, kHeight, 60));
        // Snapshots are asked for by SIGUSR1, which ends a program not yet listening for it.
        const Clock::time_point end = Clock::now() + std::chrono::seconds(20);
        while (!LumetraTest::artnetPortTaken() && Clock::now() < end) {
            usleep(20000);
        }
        ASSERT_TRUE(LumetraTest::artnetPortTaken()) << log();
    }

    Rgb centre() {
        LumetraTest::sendArtDmx(0, 1, kCanvas);
        const std::vector<uint8_t> frame = program->nextFrame();
        Rgb c;
        if (!frame.empty()) {
            const uint8_t* p = frame.data() + 4 * ((kHeight / 2) * kWidth + kWidth / 2);
            c = {p[0], p[1], p[2]};
        }
        return c;
    }

    // Seconds until the centre satisfies `shows`, or -1 after `limit` seconds.
    double secondsUntil(const std::function<bool(const Rgb&)>& shows, double limit) {
        const Clock::time_point begin = Clock::now();
        for (;;) {
            const bool shown = shows(centre());
            const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
            if (shown) {
                return seconds;
            }
            if (seconds > limit) {
                return -1;
            }
            usleep(10000);
        }
    }

    std::string log() { return LumetraTest::readFile(work.file("program.log")); }

    LumetraTest::TempWorkDir work;
    std::unique_ptr<LumetraTest::SnapshotProgram> program;
};

TEST_F(PictureReloadBinary, StillGifAndClipTakeOverTheShownSlotWithinASecond) {
    using LumetraTest::solidRgba;
    LumetraTest::writeStill(work.file("textures/001_photo.jpg"), 16, 16,
                            solidRgba(16, 16, 255, 0, 0));
    ASSERT_NO_FATAL_FAILURE(startProgram("UNIVERSE=0\nANZAHL=1\nDMX_START=1\n"));
    ASSERT_GE(secondsUntil([](const Rgb& c) { return c.near(255, 0, 0); }, 20), 0) << log();

    LumetraTest::writeStill(work.file("textures/001_photo.jpg"), 16, 16,
                            solidRgba(16, 16, 0, 0, 255));
    const double still = secondsUntil([](const Rgb& c) { return c.near(0, 0, 255); }, 5);
    EXPECT_GE(still, 0);
    EXPECT_LT(still, 1.0);

    // The GIF is passed over while the JPEG is there (jpg before gif), and shows once it goes.
    ASSERT_EQ(LumetraTest::runCommand(
                  "convert -delay 10 -size 4x4 xc:lime xc:white gif:" + work.file("t") + " && mv " +
                  work.file("t") + " " + work.file("textures/001_anim.gif")),
              0);
    ASSERT_EQ(unlink(work.file("textures/001_photo.jpg").c_str()), 0);
    const double gif =
        secondsUntil([](const Rgb& c) { return c.near(0, 255, 0) || c.near(255, 255, 255); }, 5);
    EXPECT_GE(gif, 0);
    EXPECT_LT(gif, 1.0);

    // The exact name wins over the GIF; the clip (red, then blue) plays in its place.
    ASSERT_TRUE(makeColourClip(work.file("clip.h264"), {{"red", 255, 0, 0}, {"blue", 0, 0, 255}},
                               kWidth, kHeight, 10, 0.5));
    ASSERT_EQ(std::rename(work.file("clip.h264").c_str(), work.file("textures/001.h264").c_str()),
              0);
    const double clip =
        secondsUntil([](const Rgb& c) { return c.near(255, 0, 0) || c.near(0, 0, 255); }, 5);
    EXPECT_GE(clip, 0);
    EXPECT_LT(clip, 1.0);
    std::printf("picture on screen after: still %.3f s, GIF %.3f s, clip %.3f s\n", still, gif,
                clip);

    EXPECT_LT(program->stop(), 3.0);
    EXPECT_EQ(program->exitStatus(), 0);
    EXPECT_NE(log().find("./textures/001_anim.gif: not used: slot 1 shows ./textures/001.h264"),
              std::string::npos)
        << log();
}

TEST_F(PictureReloadBinary, ReloadOffKeepsThePicturesOfTheStart) {
    using LumetraTest::solidRgba;
    LumetraTest::writeStill(work.file("textures/001.png"), 4, 4, solidRgba(4, 4, 255, 0, 0));
    ASSERT_NO_FATAL_FAILURE(startProgram("UNIVERSE=0\nANZAHL=1\nDMX_START=1\nRELOAD=0\n"));
    ASSERT_GE(secondsUntil([](const Rgb& c) { return c.near(255, 0, 0); }, 20), 0) << log();
    LumetraTest::writeStill(work.file("textures/001.png"), 4, 4, solidRgba(4, 4, 0, 0, 255));
    EXPECT_EQ(secondsUntil([](const Rgb& c) { return !c.near(255, 0, 0); }, 1.5), -1);
}

}  // namespace
}  // namespace VideoTest
