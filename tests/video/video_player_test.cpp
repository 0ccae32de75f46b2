// The video player with the Mesa IL layer: real clips made by ffmpeg, decoded into real GL
// textures of an offscreen renderer and drawn back pixel by pixel.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "video/video_fixture.h"

namespace VideoTest {
namespace {

using Lumetra::Platform::Mesa::InputBufferRecord;

const uint32_t kStartTime = 0x2;
const uint32_t kTimeUnknown = 0x100;
const uint32_t kEndOfStream = 0x1;

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

TEST_F(PlayerTest, ShortClipIsSentWholeWithStartTimeFirstAndTimeUnknownAfter) {
    std::string clip = clipPath("short.h264");
    ASSERT_TRUE(makeColourClip(clip, {kRed, kBlue}, 64, 36, 10, 0.3));
    size_t size = fileSize(clip);
    ASSERT_LT(size, 81920u);
    GLuint texture = makeVideoTexture(64, 36);
    int id = start(clip, texture);
    ASSERT_TRUE(waitFor(
        [&] { return !newDecoders().empty() && newDecoders()[0]->getInputCount() >= 3; }, 10));
    ASSERT_TRUE(waitFor([&] { return shownColour(texture) != nullptr; }, 10));
    player->stopPlayer(id);

    std::vector<InputBufferRecord> inputs = newDecoders()[0]->getInputs();
    ASSERT_GE(inputs.size(), 3u);
    EXPECT_EQ(inputs[0].flags, kStartTime);
    EXPECT_EQ(inputs[0].filled_length, size);
    for (size_t i = 1; i < inputs.size(); i++) {
        bool last = i + 1 == inputs.size();
        if (last && inputs[i].flags & kEndOfStream) {
            EXPECT_EQ(inputs[i].flags, kTimeUnknown | kEndOfStream);
            EXPECT_EQ(inputs[i].filled_length, 0u);
        } else {
            EXPECT_EQ(inputs[i].flags, kTimeUnknown) << "buffer " << i;
            EXPECT_EQ(inputs[i].filled_length, size) << "buffer " << i;
        }
    }
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
    std::vector<InputBufferRecord> inputs = newDecoders().at(0)->getInputs();
    ASSERT_GE(inputs.size(), 4u);
    for (const InputBufferRecord& input : inputs) {
        EXPECT_EQ(input.filled_length, 81920u) << "a read at the end must rewind, not end";
        EXPECT_EQ(input.flags & kEndOfStream, 0u);
    }
    glDeleteTextures(1, &texture);
}

TEST_F(PlayerTest, EmptyClipEndsAfterTheFormatWaitWithEndOfStreamAndStopReturnsAtOnce) {
    std::string clip = clipPath("empty.h264");
    LumetraTest::writeFile(clip, "");
    GLuint texture = makeVideoTexture(64, 36);
    int id = start(clip, texture);
    ASSERT_EQ(id, 1);
    ASSERT_TRUE(waitFor(
        [&] { return !newDecoders().empty() && newDecoders()[0]->getInputCount() == 1; }, 15));
    std::vector<InputBufferRecord> inputs = newDecoders()[0]->getInputs();
    EXPECT_EQ(inputs[0].flags, kTimeUnknown | kEndOfStream);
    EXPECT_EQ(inputs[0].filled_length, 0u);
    EXPECT_LT(timedStop(id), 1.0);
    EXPECT_EQ(newRenderers().at(0)->getFramesWritten(), 0u);
    glDeleteTextures(1, &texture);
}

TEST_F(PlayerTest, StopBeforeTheFormatIsKnownTearsDownWithoutOutput) {
    std::string clip = clipPath("noise.h264");
    ASSERT_EQ(LumetraTest::runCommand("head -c 300000 /dev/urandom > " + clip), 0);
    GLuint texture = makeVideoTexture(64, 36);
    int id = start(clip, texture);
    ASSERT_TRUE(waitFor(
        [&] { return !newDecoders().empty() && newDecoders()[0]->getInputCount() >= 2; }, 10));
    EXPECT_LT(timedStop(id), 1.5);
    EXPECT_EQ(newRenderers().at(0)->getFramesWritten(), 0u);
    glDeleteTextures(1, &texture);
}

TEST_F(PlayerTest, StopIsPromptWhileTheDecoderHoldsEveryInputBuffer) {
    // Every buffer holds the whole clip: twenty buffers are minutes of pictures.
    std::string clip = clipPath("long.h264");
    ASSERT_TRUE(makeColourClip(clip, {kBlue, kGreen}, 64, 36, 25, 6));
    GLuint texture = makeVideoTexture(64, 36);
    int id = start(clip, texture);
    ASSERT_TRUE(waitFor([&] { return shownColour(texture) == &kBlue; }, 10));
    EXPECT_LT(timedStop(id), 1.5);
    glDeleteTextures(1, &texture);
}

TEST_F(PlayerTest, StoppingIdsOutsideOneToThreeOrUnstartedPlayersDoesNothing) {
    player->stopPlayer(0);
    player->stopPlayer(4);
    player->stopPlayer(-1);
    player->stopPlayer(2);  // never started: nothing to join
    player->sendStopSignal();
    EXPECT_TRUE(newDecoders().empty());
}

TEST_F(PlayerTest, ThreePlayersAtMostClaimedLowestFirstAndOtherIdsAreIgnored) {
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
    EXPECT_EQ(newDecoders().size(), 3u) << "the fourth clip must start no decoder";

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
