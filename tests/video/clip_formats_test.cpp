// Clips as people have them: every container, the codecs this ffmpeg writes, and alpha,
// played by the real player into real textures.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "video/video_fixture.h"

namespace VideoTest {
namespace {

struct Format {
    const char* file;
    const char* encoding;
};

// Names the case by its file, not by the bytes of two pointers that change with every build.
void PrintTo(const Format& format, std::ostream* out) {
    *out << format.file;
}

class ClipFormatTest : public VideoPlayerTest, public ::testing::WithParamInterface<Format> {};

// Upright, and later looks show the clip's later colours, round and round.
TEST_P(ClipFormatTest, PlaysUprightInOrderAndLoops) {
    const Format format = GetParam();
    const std::string clip = clipPath(format.file);
    ASSERT_TRUE(makeColourClip(clip, {kRed, kGreen, kBlue}, 64, 64, 10, 0.3, format.encoding));
    GLuint texture = makeVideoTexture(64, 64);
    ASSERT_EQ(start(clip, texture), 1);
    ASSERT_TRUE(waitFor([&] { return shownColour(texture) != nullptr; }, 15));
    std::vector<const Colour*> seen;
    bool upright = true;
    for (int i = 0; i < 150 && seen.size() < 5; ++i) {
        bool up = false;
        const Colour* c = shownColour(texture, &up);
        if (c && (seen.empty() || seen.back() != c)) {
            seen.push_back(c);
            upright = upright && up;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(upright);
    ASSERT_EQ(seen.size(), 5u) << "should go round the three colours and on";
    for (size_t i = 1; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i], seen[i - 1] == &kRed     ? &kGreen
                           : seen[i - 1] == &kGreen ? &kBlue
                                                    : &kRed);
    }
    glDeleteTextures(1, &texture);
}

INSTANTIATE_TEST_SUITE_P(
    Containers, ClipFormatTest,
    ::testing::Values(Format{"h264.mp4", "-c:v libx264 -pix_fmt yuv420p"},
                      Format{"hevc.mov", "-c:v libx265 -pix_fmt yuv420p -x265-params log-level=0"},
                      Format{"vp9.mkv", "-c:v libvpx-vp9 -deadline realtime -cpu-used 8"},
                      Format{"av1.webm", "-c:v libaom-av1 -cpu-used 8 -usage realtime"},
                      Format{"mpeg4.avi", "-c:v mpeg4 -q:v 3"},
                      Format{"prores.mov", "-c:v prores_ks -profile:v 0"}),
    [](const ::testing::TestParamInfo<Format>& info) {
        std::string name = info.param.file;
        name[name.find('.')] = '_';
        return name;
    });

// The same under X11: the player's own context on the window's display. In a child
// process, as a process cannot go back to offscreen drawing once it had an X display.
class X11ClipTest : public VideoPlayerTest {
  protected:
    void SetUp() override {}
    void TearDown() override {}
    void useDisplay() override {
        xvfb = std::make_unique<LumetraTest::XvfbDisplay>(kScreenWidth, kScreenHeight);
    }
    // 0 when the clip shows upright and moves on; else which check failed.
    int play() {
        VideoPlayerTest::SetUp();
        const std::string clip = clipPath("x11.mp4");
        if (!xvfb->running() || !makeColourClip(clip, {kRed, kGreen, kBlue}, 64, 64, 10, 0.3,
                                                "-c:v libx264 -pix_fmt yuv420p")) {
            xvfb.reset();
            return 2;
        }
        GLuint texture = makeVideoTexture(64, 64);
        if (start(clip, texture) != 1 ||
            !waitFor([&] { return shownColour(texture) != nullptr; }, 15)) {
            xvfb.reset();
            return 3;
        }
        bool upright = false;
        const Colour* first = shownColour(texture, &upright);
        const bool moved = waitFor([&] { return shownColour(texture) != first; }, 5);
        glDeleteTextures(1, &texture);
        VideoPlayerTest::TearDown();
        xvfb.reset();
        return !upright ? 4 : !moved ? 5 : 0;
    }
    std::unique_ptr<LumetraTest::XvfbDisplay> xvfb;
};

TEST_F(X11ClipTest, PlaysUprightInOrderInAnXWindow) {
    EXPECT_EXIT(std::_Exit(play()), ::testing::ExitedWithCode(0), "")
        << "2: no Xvfb or clip, 3: nothing shown, 4: upside down, 5: never moved on";
}

class AlphaClipTest : public VideoPlayerTest, public ::testing::WithParamInterface<Format> {};

// Half transparent red blended over black: half red, not full red.
TEST_P(AlphaClipTest, KeepsItsAlpha) {
    const std::string clip = clipPath(GetParam().file);
    ASSERT_TRUE(makeColourClip(clip, {kRed}, 64, 64, 10, 1.0, GetParam().encoding, 0.5));
    GLuint texture = makeVideoTexture(64, 64);
    ASSERT_EQ(start(clip, texture), 1);
    LumetraTest::Frame::Pixel body{};
    EXPECT_TRUE(waitFor(
        [&] {
            body = drawTexture(texture, true).at(kScreenWidth / 2, kScreenHeight * 5 / 8);
            return body.r > 60;
        },
        15));
    EXPECT_TRUE(LumetraTest::near(body, 128, 0, 0, 25)) << body.r << "," << body.g << "," << body.b;
    glDeleteTextures(1, &texture);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, AlphaClipTest,
    ::testing::Values(Format{"alpha.webm", "-c:v libvpx-vp9 -pix_fmt yuva420p -deadline realtime"},
                      Format{"prores4444.mov", "-c:v prores_ks -profile:v 4 -pix_fmt yuva444p10le"},
                      Format{"png.mov", "-c:v png -pix_fmt rgba"},
                      Format{"qtrle.mov", "-c:v qtrle -pix_fmt argb"}),
    [](const ::testing::TestParamInfo<Format>& info) {
        std::string name = info.param.file;
        name[name.find('.')] = '_';
        return name;
    });

}  // namespace
}  // namespace VideoTest
