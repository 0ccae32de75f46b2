// How images, graphic controls and extensions turn into frames, on hand-made files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gif/gif_builder.h"
#include "gif/gif_loaded.h"
#include "support/test_support.h"

using namespace LumetraTest;

namespace {

std::vector<uint8_t> literals(const std::vector<int>& indices, int minCodeSize = 2) {
    return packCodes(literalCodes(indices, minCodeSize));
}

LoadedGif build(const GifBuilder& gif) {
    TempWorkDir dir;
    gif.write(dir.file("t.gif"));
    return loadGif(dir.file("t.gif"));
}

// RGBA of table entry `index` at the given alpha.
std::vector<uint8_t> colour(int index, uint8_t alpha = 255) {
    uint8_t rgb[3];
    tableColour(index, rgb);
    return {rgb[0], rgb[1], rgb[2], alpha};
}

std::vector<uint8_t> pixel(const LoadedGif& gif, size_t frame, int x, int y) {
    const uint8_t* p = gif.frames.at(frame).data() + 4 * (y * gif.width + x);
    return {p[0], p[1], p[2], p[3]};
}

TEST(GifRules, OneImageWithoutExtensionsGivesOneFrameWithoutDelayOrLoop) {
    const LoadedGif gif =
        build(GifBuilder()
                  .screen(4, 2, 1)
                  .image(0, 0, 4, 2, -1, false, 2, literals({0, 1, 2, 3, 3, 2, 1, 0}))
                  .trailer());
    ASSERT_TRUE(gif.ok);
    EXPECT_EQ(gif.width, 4);
    EXPECT_EQ(gif.height, 2);
    EXPECT_EQ(gif.delays, std::vector<int>{0});
    EXPECT_EQ(gif.isLoopImage, 0);
    EXPECT_EQ(gif.loopCount, 0);
    EXPECT_EQ(pixel(gif, 0, 1, 0), colour(1));
    EXPECT_EQ(pixel(gif, 0, 0, 1), colour(3));
    EXPECT_EQ(pixel(gif, 0, 3, 1), colour(0));
}

TEST(GifRules, EachImageWithAPositiveDelayClosesItsFrame) {
    GifBuilder gif;
    gif.screen(2, 1, 1).loop(0);
    for (int i = 0; i < 3; ++i) {
        gif.graphicControl(10).image(0, 0, 2, 1, -1, false, 2, literals({i, i}));
    }
    const LoadedGif three = build(gif.trailer());
    ASSERT_TRUE(three.ok);
    EXPECT_EQ(three.delays, (std::vector<int>{10, 10, 10}));
    EXPECT_EQ(three.isLoopImage, 1);
    EXPECT_EQ(three.loopCount, 0);
    EXPECT_EQ(pixel(three, 2, 1, 0), colour(2));
}

TEST(GifRules, ImagesWithoutDelayDrawIntoTheSameFrame) {
    const LoadedGif gif = build(GifBuilder()
                                    .screen(2, 1, 1)
                                    .loop(5)
                                    .image(0, 0, 1, 1, -1, false, 2, literals({1}))
                                    .graphicControl(5)
                                    .image(1, 0, 1, 1, -1, false, 2, literals({2}))
                                    .trailer());
    ASSERT_TRUE(gif.ok);
    EXPECT_EQ(gif.delays, std::vector<int>{5});
    EXPECT_EQ(gif.loopCount, 5);
    EXPECT_EQ(pixel(gif, 0, 0, 0), colour(1));
    EXPECT_EQ(pixel(gif, 0, 1, 0), colour(2));
}

TEST(GifRules, SubImageKeepsThePreviousFrameAroundIt) {
    // Frame 0 starts as the background colour; frame 1 starts as frame 0.
    const LoadedGif gif = build(GifBuilder()
                                    .screen(3, 2, 1, 2)
                                    .graphicControl(4)
                                    .image(1, 1, 1, 1, -1, false, 2, literals({3}))
                                    .graphicControl(4)
                                    .image(0, 0, 1, 1, -1, false, 2, literals({1}))
                                    .trailer());
    ASSERT_TRUE(gif.ok);
    ASSERT_EQ(gif.frames.size(), 2u);
    EXPECT_EQ(pixel(gif, 0, 0, 0), colour(2));
    EXPECT_EQ(pixel(gif, 0, 1, 1), colour(3));
    EXPECT_EQ(pixel(gif, 1, 0, 0), colour(1));
    EXPECT_EQ(pixel(gif, 1, 1, 1), colour(3));
    EXPECT_EQ(pixel(gif, 1, 2, 1), colour(2));
}

TEST(GifRules, WithoutGlobalTableTheScreenStartsTransparentBlack) {
    const LoadedGif gif = build(
        GifBuilder().screen(2, 1, -1).image(1, 0, 1, 1, 1, false, 2, literals({1})).trailer());
    ASSERT_TRUE(gif.ok);
    EXPECT_EQ(pixel(gif, 0, 0, 0), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(pixel(gif, 0, 1, 0), colour(1));
}

TEST(GifRules, TransparentPixelTakesItsTableColourWithAlphaZero) {
    const LoadedGif gif = build(GifBuilder()
                                    .screen(2, 1, 1)
                                    .graphicControl(3)
                                    .image(0, 0, 2, 1, -1, false, 2, literals({1, 1}))
                                    .graphicControl(3, 2)
                                    .image(0, 0, 2, 1, -1, false, 2, literals({2, 3}))
                                    .trailer());
    ASSERT_TRUE(gif.ok);
    ASSERT_EQ(gif.frames.size(), 2u);
    EXPECT_EQ(pixel(gif, 1, 0, 0), colour(2, 0));
    EXPECT_EQ(pixel(gif, 1, 1, 0), colour(3));
}

TEST(GifRules, GraphicControlAppliesToTheNextImageOnly) {
    const LoadedGif gif = build(GifBuilder()
                                    .screen(2, 1, 1)
                                    .graphicControl(0, 1)
                                    .image(0, 0, 1, 1, -1, false, 2, literals({1}))
                                    .image(1, 0, 1, 1, -1, false, 2, literals({1}))
                                    .trailer());
    ASSERT_TRUE(gif.ok);
    EXPECT_EQ(pixel(gif, 0, 0, 0), colour(1, 0));
    EXPECT_EQ(pixel(gif, 0, 1, 0), colour(1));
}

TEST(GifRules, DelayBeforeTheTrailerStaysWithTheLastFrame) {
    const LoadedGif gif = build(GifBuilder()
                                    .screen(1, 1, 1)
                                    .graphicControl(7)
                                    .image(0, 0, 1, 1, -1, false, 2, literals({1}))
                                    .graphicControl(9)
                                    .image(0, 0, 1, 1, -1, false, 2, literals({2}))
                                    .trailer());
    ASSERT_TRUE(gif.ok);
    EXPECT_EQ(gif.delays, (std::vector<int>{7, 9}));
}

TEST(GifRules, CodeThatIsBeingDefinedRepeatsThePreviousString) {
    // Clear, 1, then 6 (the next free entry: "1" + "1"), end: three pixels of index 1.
    const std::vector<uint8_t> data = packCodes({{4, 3}, {1, 3}, {6, 3}, {5, 3}});
    const LoadedGif gif =
        build(GifBuilder().screen(3, 1, 1).image(0, 0, 3, 1, -1, false, 2, data).trailer());
    ASSERT_TRUE(gif.ok);
    for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(pixel(gif, 0, x, 0), colour(1));
    }
}

TEST(GifRules, CommentPlainTextAndUnknownExtensionsAreSkipped) {
    const LoadedGif gif = build(GifBuilder()
                                    .screen(1, 1, 1)
                                    .raw({0x21, 0xFE, 3, 'a', 'b', 'c', 0})
                                    .raw({0x21, 0x01, 2, 9, 9, 1, 7, 0})
                                    .raw({0x21, 0x77, 0})
                                    .image(0, 0, 1, 1, -1, false, 2, literals({3}))
                                    .trailer());
    ASSERT_TRUE(gif.ok);
    EXPECT_EQ(pixel(gif, 0, 0, 0), colour(3));
}

}  // namespace
