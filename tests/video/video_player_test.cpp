// The video player on Mesa: real clips made by ffmpeg, decoded with FFmpeg into real GL
// textures of an offscreen renderer and drawn back pixel by pixel.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "video/video_fixture.h"

namespace VideoTest {
namespace {

// Colours seen, one entry per change, while sampling the texture for `seconds`.
std::vector<const Colour*> watch(GLuint texture, double seconds,
                                 const std::function<const Colour*(GLuint, bool*)>& sample,
                                 bool* always_upright) {
    std::vector<const Colour*> seen;
    *always_upright = true;
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        bool upright = false;
        const Colour* c = sample(texture, &upright);
        if (c) {
            *always_upright = *always_upright && upright;
            if (seen.empty() || seen.back() != c) {
                seen.push_back(c);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    return seen;
}

// True when every change goes to the next colour of the clip, wrapping round at its end.
bool inClipOrder(const std::vector<const Colour*>& seen, const std::vector<const Colour*>& clip) {
    for (size_t i = 1; i < seen.size(); i++) {
        size_t at = 0;
        while (at < clip.size() && clip[at] != seen[i - 1]) {
            at++;
        }
        if (at == clip.size() || clip[(at + 1) % clip.size()] != seen[i]) {
            return false;
        }
    }
    return true;
}

class PlayerTest : public VideoPlayerTest {
  protected:
    std::vector<const Colour*> watchTexture(GLuint texture, double seconds, bool* upright) {
        return watch(
            texture, seconds, [this](GLuint t, bool* u) { return shownColour(t, u); }, upright);
    }
};

TEST_F(PlayerTest, ShowsTheClipUprightInOrderAndLoopsAtTheTexturesOwnSize) {
    std::string clip = clipPath("rgb.h264");
    ASSERT_TRUE(makeColourClip(clip, {kRed, kGreen, kBlue}, 64, 36, 10, 0.4));
    GLuint texture = makeVideoTexture(40, 20);  // not the clip's size: scaled to fit
    ASSERT_EQ(start(clip, texture), 1);

    bool upright = false;
    std::vector<const Colour*> seen = watchTexture(texture, 3.5, &upright);
    EXPECT_TRUE(upright);
    ASSERT_GE(seen.size(), 4u) << "the clip should have played through and looped";
    EXPECT_EQ(seen.front(), &kRed) << "no picture may be lost while the output is set up";
    EXPECT_TRUE(inClipOrder(seen, {&kRed, &kGreen, &kBlue}));
    glDeleteTextures(1, &texture);
}

TEST_F(PlayerTest, ShortClipLoopsAtItsOwnPaceWithoutAGap) {
    std::string clip = clipPath("short.h264");
    ASSERT_TRUE(makeColourClip(clip, {kRed, kBlue}, 64, 36, 10, 0.3));
    GLuint texture = makeVideoTexture(64, 36);
    start(clip, texture);
    ASSERT_TRUE(waitFor([&] { return shownColour(texture) != nullptr; }, 10));

    // 0.3 s a colour: 3 s hold about ten changes; a stall at the loop point or a pace set
    // by the render loop would show far fewer or far more.
    bool upright = false;
    std::vector<const Colour*> seen = watchTexture(texture, 3.0, &upright);
    EXPECT_GE(seen.size(), 8u);
    EXPECT_LE(seen.size(), 12u);
    EXPECT_TRUE(inClipOrder(seen, {&kRed, &kBlue}));
    glDeleteTextures(1, &texture);
}

TEST_F(PlayerTest, ClipOfExactMultipleOfTheReadSizeKeepsLooping) {
    std::string clip = clipPath("blocks.h264");
    ASSERT_TRUE(makeColourClip(clip, {kGreen, kRed}, 64, 36, 10, 0.3));
    ASSERT_TRUE(padToMultiple(clip, 2 * 81920));
    ASSERT_EQ(fileSize(clip), 2u * 81920u);
    GLuint texture = makeVideoTexture(64, 36);
    start(clip, texture);

    bool upright = false;
    std::vector<const Colour*> seen = watchTexture(texture, 2.5, &upright);
    EXPECT_GE(seen.size(), 3u) << "the clip should loop";
    EXPECT_TRUE(inClipOrder(seen, {&kGreen, &kRed}));
    glDeleteTextures(1, &texture);
}

TEST_F(PlayerTest, EmptyOrNoiseClipShowsNothingEndsAndStopReturnsAtOnce) {
    std::string empty = clipPath("empty.h264");
    std::string noise = clipPath("noise.h264");
    LumetraTest::writeFile(empty, "");
    ASSERT_EQ(LumetraTest::runCommand("head -c 300000 /dev/urandom > " + noise), 0);
    GLuint textures[2] = {makeVideoTexture(64, 36), makeVideoTexture(64, 36)};
    ASSERT_EQ(start(empty, textures[0]), 1);
    ASSERT_EQ(start(noise, textures[1]), 2);
    ASSERT_TRUE(waitFor(
        [&] {
            return newPlaybacks().size() == 2 && newPlaybacks()[0]->ended &&
                   newPlaybacks()[1]->ended;
        },
        15));
    const auto playbacks = newPlaybacks();
    EXPECT_LT(timedStop(1), 0.1);
    EXPECT_LT(timedStop(2), 0.1);
    for (const auto& playback : playbacks) {
        EXPECT_EQ(playback->shown.load(), 0u);
    }
    glDeleteTextures(2, textures);
}

TEST_F(PlayerTest, ClipEmptiedWhilePlayingKeepsAPictureAndStopsPromptly) {
    std::string clip = clipPath("cut.mp4");
    ASSERT_TRUE(
        makeColourClip(clip, {kGreen, kBlue}, 64, 36, 10, 0.3, "-c:v libx264 -pix_fmt yuv420p"));
    GLuint texture = makeVideoTexture(64, 36);
    int id = start(clip, texture);
    ASSERT_TRUE(waitFor([&] { return shownColour(texture) != nullptr; }, 10));
    LumetraTest::writeFile(clip, "");  // as an editor saving over it would, half way
    // What FFmpeg still holds may play on; the picture never goes.
    for (int i = 0; i < 20; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_NE(shownColour(texture), nullptr);
    }
    EXPECT_LT(timedStop(id), 0.05);
    glDeleteTextures(1, &texture);
}

TEST_F(PlayerTest, ClipWithBrokenTimestampsStillPlaysAtASaneRate) {
    // A hundred seconds between pictures by the stamps, which the player must not believe.
    std::string clip = clipPath("slow.mkv");
    ASSERT_TRUE(makeColourClip(clip, {kRed, kGreen, kBlue}, 64, 36, 10, 0.3,
                               "-c:v libx264 -pix_fmt yuv420p -bf 0 -bsf:v setts=ts=N*10000/TB"));
    GLuint texture = makeVideoTexture(64, 36);
    start(clip, texture);
    bool upright = false;
    std::vector<const Colour*> seen = watchTexture(texture, 3.0, &upright);
    EXPECT_GE(seen.size(), 3u);
    EXPECT_TRUE(inClipOrder(seen, {&kRed, &kGreen, &kBlue}));
    glDeleteTextures(1, &texture);
}

TEST_F(PlayerTest, StopIsPromptWhileAClipPlays) {
    std::string clip = clipPath("long.h264");
    ASSERT_TRUE(makeColourClip(clip, {kBlue, kGreen}, 64, 36, 25, 6));
    GLuint texture = makeVideoTexture(64, 36);
    int id = start(clip, texture);
    ASSERT_TRUE(waitFor([&] { return shownColour(texture) == &kBlue; }, 10));
    EXPECT_LT(timedStop(id), 0.05) << "the render thread calls it";
    glDeleteTextures(1, &texture);
}

TEST_F(PlayerTest, StoppingIdsOutsideOneToThreeOrUnstartedPlayersDoesNothing) {
    player->stopPlayer(0);
    player->stopPlayer(4);
    player->stopPlayer(-1);
    player->stopPlayer(2);  // never started: nothing to join
    player->sendStopSignal();
    EXPECT_TRUE(newPlaybacks().empty());
}

TEST_F(PlayerTest, ThreePlayersAtMostClaimedLowestFirstFreedByStopAndOtherIdsAreIgnored) {
    std::vector<std::string> clips;
    std::vector<GLuint> textures;
    const Colour* colours[] = {&kRed, &kGreen, &kBlue, &kRed};
    for (int i = 0; i < 4; i++) {
        clips.push_back(clipPath("clip" + std::to_string(i) + ".h264"));
        ASSERT_TRUE(makeColourClip(clips[i], {*colours[i]}, 64, 36, 10, 1.0));
        textures.push_back(makeVideoTexture(64, 36));
    }
    EXPECT_EQ(start(clips[0], textures[0]), 1);
    EXPECT_EQ(start(clips[1], textures[1]), 2);
    EXPECT_EQ(start(clips[2], textures[2]), 3);
    EXPECT_EQ(start(clips[3], textures[3]), 0);

    player->stopPlayer(0);
    player->stopPlayer(4);
    // All three play side by side while the loop draws, each into its own texture.
    for (int i = 0; i < 3; i++) {
        EXPECT_TRUE(waitFor([&] { return shownColour(textures[i]) == colours[i]; }, 10))
            << "player " << i + 1;
    }
    EXPECT_EQ(newPlaybacks().size(), 3u) << "the fourth clip must start no playback";

    // A stopped player is free again, for the clip that replaces it.
    player->stopPlayer(2);
    EXPECT_EQ(start(clips[3], textures[3]), 2);
    EXPECT_TRUE(waitFor([&] { return shownColour(textures[3]) == &kRed; }, 10));

    auto begin = std::chrono::steady_clock::now();
    player->sendStopSignal();
    player->sendStopSignal();
    for (int id = 1; id <= 3; id++) {
        player->stopPlayer(id);
    }
    started.clear();
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count(), 2.0);
    glDeleteTextures(4, textures.data());
}

}  // namespace
}  // namespace VideoTest
