// Malformed files: every failure gives null and leaves the outputs as they were; damage
// the decoder can work around (indices outside the table, images beyond the screen, a
// missing or short end code after the last pixel) is drawn safely instead.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "canvas/canvas_content/content_local_file_texture/GIFLoader.h"
#include "gif/gif_builder.h"
#include "gif/gif_loaded.h"
#include "support/test_support.h"

using namespace LumetraTest;

namespace {

std::vector<uint8_t> literals(const std::vector<int>& indices, int minCodeSize = 2) {
    return packCodes(literalCodes(indices, minCodeSize));
}

// A valid 2x1 image with two pixels of index 1 (4-colour global table).
GifBuilder twoPixels(const std::vector<uint8_t>& data, int minCodeSize = 2) {
    GifBuilder gif;
    gif.screen(2, 1, 1).image(0, 0, 2, 1, -1, false, minCodeSize, data);
    return gif;
}

void expectRejected(const std::vector<uint8_t>& bytes) {
    TempWorkDir dir;
    GifBuilder().raw(bytes).write(dir.file("bad.gif"));
    int width = -7;
    int height = -9;
    int keep = 42;
    Lumetra::GifAnimationInfo info = {-1, -2, -3, &keep};
    Lumetra::GIFLoader loader;
    EXPECT_EQ(loader.loadAnimatedGif(dir.file("bad.gif").c_str(), &width, &height, &info), nullptr);
    EXPECT_EQ(width, -7);
    EXPECT_EQ(height, -9);
    EXPECT_EQ(info.numberOfImages, -1);
    EXPECT_EQ(info.isLoopImage, -2);
    EXPECT_EQ(info.loopCount, -3);
    EXPECT_EQ(info.delayArray, &keep);
}

LoadedGif load(const std::vector<uint8_t>& bytes) {
    TempWorkDir dir;
    GifBuilder().raw(bytes).write(dir.file("t.gif"));
    return loadGif(dir.file("t.gif"));
}

TEST(GifFailure, UnreadableShortOrForeignFilesAreRejected) {
    Lumetra::GIFLoader loader;
    int width = -7;
    int height = -9;
    Lumetra::GifAnimationInfo info = {-1, -2, -3, nullptr};
    EXPECT_EQ(loader.loadAnimatedGif("/nonexistent/x.gif", &width, &height, &info), nullptr);
    EXPECT_EQ(loader.loadAnimatedGif("/tmp", &width, &height, &info), nullptr);
    EXPECT_EQ(width, -7);
    const std::vector<uint8_t> good = twoPixels(literals({1, 1})).trailer().bytes();
    expectRejected(std::vector<uint8_t>(good.begin(), good.begin() + 13));
    std::vector<uint8_t> foreign = good;
    foreign[4] = '8';  // "GIF88a"
    expectRejected(foreign);
    ASSERT_TRUE(load(good).ok);
}

TEST(GifFailure, FileNoLargerThanItsGlobalTableSizeFieldIsRejected) {
    // Size field 7 announces 256 entries (768 bytes); checked even without the table flag.
    std::vector<uint8_t> bytes = GifBuilder().screen(2, 1, -1).bytes();
    bytes[10] = 0x07;
    bytes.insert(bytes.end(), 700, 0);
    expectRejected(GifBuilder().raw(bytes).trailer().bytes());
}

TEST(GifFailure, GraphicControlWithBlockSizeOtherThanFourIsRejected) {
    GifBuilder gif;
    gif.screen(2, 1, 1).graphicControl(5, -1, 5).image(0, 0, 2, 1, -1, false, 2, literals({1, 1}));
    expectRejected(gif.trailer().bytes());
}

TEST(GifFailure, UnknownBlockIntroducerIsRejected) {
    expectRejected(twoPixels(literals({1, 1})).raw({0x00}).trailer().bytes());
}

TEST(GifFailure, FileWithoutTrailerIsRejected) {
    expectRejected(twoPixels(literals({1, 1})).bytes());
}

TEST(GifFailure, EndCodeBeforeTheFirstPixelIsRejected) {
    expectRejected(twoPixels(packCodes({{4, 3}, {5, 3}})).trailer().bytes());
}

TEST(GifFailure, DataEndingBeforeTheLastPixelIsRejected) {
    expectRejected(twoPixels(packCodes(literalCodes({1}, 2, false))).trailer().bytes());
    expectRejected(twoPixels(literals({1})).trailer().bytes());
}

TEST(GifFailure, OnePixelMoreThanTheImageHoldsIsRejected) {
    expectRejected(twoPixels(literals({1, 1, 1})).trailer().bytes());
}

TEST(GifFailure, CompleteImageWithoutEndCodeOrWithAShortOneIsAccepted) {
    // No end code: the last byte is padded with zero bits.
    EXPECT_TRUE(load(twoPixels(packCodes(literalCodes({1, 1}, 2, false))).trailer().bytes()).ok);
    // A 1x1 image: clear (4), index 1, then the end code 5 (101b) cut to its low two bits,
    // which ends the data exactly at a byte boundary (as gifsicle does).
    GifBuilder shortEnd;
    shortEnd.screen(1, 1, 1).image(0, 0, 1, 1, -1, false, 2, packCodes({{4, 3}, {1, 3}, {1, 2}}));
    EXPECT_TRUE(load(shortEnd.trailer().bytes()).ok);
}

TEST(GifFailure, SubBlocksOrLocalTableRunningPastTheFileAreRejected) {
    std::vector<uint8_t> chain = twoPixels(literals({1, 1})).bytes();
    chain.back() = 200;  // the terminator becomes a block of 200 bytes that are not there
    chain.push_back(0x3B);
    expectRejected(chain);
    std::vector<uint8_t> extension = GifBuilder().screen(2, 1, 1).raw({0x21, 0xFE, 9, 1}).bytes();
    expectRejected(extension);
    GifBuilder local;
    local.screen(2, 1, 1).raw({0x2C, 0, 0, 0, 0, 2, 0, 1, 0, 0x87, 1, 2, 3});
    expectRejected(local.bytes());
}

TEST(GifFailure, ImageWithoutAnyColourTableIsRejected) {
    GifBuilder gif;
    gif.screen(2, 1, -1).image(0, 0, 2, 1, -1, false, 2, literals({1, 1}));
    expectRejected(gif.trailer().bytes());
}

TEST(GifFailure, MinimumCodeSizeOutsideTwoToEightIsRejected) {
    expectRejected(twoPixels(packCodes({{2, 2}, {1, 2}, {1, 2}, {3, 2}}), 1).trailer().bytes());
    expectRejected(twoPixels(literals({1, 1}, 9), 9).trailer().bytes());
    EXPECT_TRUE(load(twoPixels(literals({1, 1}, 8), 8).trailer().bytes()).ok);
}

TEST(GifFailure, CodeBeyondTheNextFreeEntryIsRejected) {
    // After clear and one literal the next free entry is 6; 7 names nothing.
    expectRejected(twoPixels(packCodes({{4, 3}, {1, 3}, {7, 3}, {5, 3}})).trailer().bytes());
    // Right after a clear code only single indices exist.
    expectRejected(twoPixels(packCodes({{4, 3}, {6, 3}, {5, 3}})).trailer().bytes());
}

TEST(GifFailure, IndicesOutsideTheColourTableAreOpaqueBlack) {
    // 2-entry table, background index 9, pixel index 3 (codes are 3 bits wide).
    GifBuilder gif;
    gif.screen(3, 1, 0, 9).image(0, 0, 2, 1, -1, false, 2, literals({3, 1}));
    const LoadedGif loaded = load(gif.trailer().bytes());
    ASSERT_TRUE(loaded.ok);
    const std::vector<uint8_t> black{0, 0, 0, 255};
    EXPECT_EQ(std::vector<uint8_t>(loaded.frames[0].begin(), loaded.frames[0].begin() + 4), black);
    EXPECT_EQ(std::vector<uint8_t>(loaded.frames[0].begin() + 8, loaded.frames[0].end()), black);
}

TEST(GifFailure, ImageReachingBeyondTheScreenIsClipped) {
    // A 3x3 image at (1,1) on a 2x2 screen: only its top-left pixel is inside.
    GifBuilder gif;
    gif.screen(2, 2, 1, 0).image(1, 1, 3, 3, -1, false, 2, literals({3, 2, 2, 2, 2, 2, 2, 2, 2}));
    gif.image(70, 70, 1, 1, -1, false, 2, literals({2}));
    const LoadedGif loaded = load(gif.trailer().bytes());
    ASSERT_TRUE(loaded.ok);
    uint8_t rgb[3];
    tableColour(3, rgb);
    const std::vector<uint8_t>& frame = loaded.frames[0];
    EXPECT_EQ(std::vector<uint8_t>(frame.begin() + 12, frame.end()),
              (std::vector<uint8_t>{rgb[0], rgb[1], rgb[2], 255}));
    tableColour(0, rgb);
    EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 4),
              (std::vector<uint8_t>{rgb[0], rgb[1], rgb[2], 255}));
}

TEST(GifFailure, ScreenNeedingMoreFrameMemoryThanTheLimitIsRejected) {
    // 65535 x 65535 pixels would need 16 GiB for one frame.
    GifBuilder gif;
    gif.screen(65535, 65535, 1).image(0, 0, 2, 1, -1, false, 2, literals({1, 1}));
    expectRejected(gif.trailer().bytes());
}

// GIFLoader holds the file and all frames together to the picture budget's decoding share,
// as the fixture does: half of LUMETRA_PICTURE_MEMORY, here 512 KB. A 300x300 frame takes
// 360000 bytes.
TEST(GifFailure, FileAndFramesBeyondThePictureBudgetAreRejected) {
    GifBuilder one;
    one.screen(300, 300, 1).image(0, 0, 1, 1, -1, false, 2, literals({1})).trailer();
    GifBuilder two;
    two.screen(300, 300, 1);
    for (int i = 0; i < 2; ++i) {
        two.graphicControl(10).image(0, 0, 1, 1, -1, false, 2, literals({1}));
    }
    two.trailer();
    // A tiny picture behind a 600 KB comment.
    std::vector<uint8_t> comment{0x21, 0xFE};
    for (int i = 0; i < 2400; ++i) {
        comment.push_back(255);
        comment.insert(comment.end(), 255, 'x');
    }
    comment.push_back(0);
    GifBuilder padded;
    padded.screen(1, 1, 1).raw(comment).image(0, 0, 1, 1, -1, false, 2, literals({1})).trailer();
    setenv("LUMETRA_PICTURE_MEMORY", "1", 1);
    EXPECT_TRUE(load(one.bytes()).ok);
    expectRejected(two.bytes());
    expectRejected(padded.bytes());
    unsetenv("LUMETRA_PICTURE_MEMORY");
    EXPECT_EQ(load(two.bytes()).frames.size(), 2u);
    EXPECT_TRUE(load(padded.bytes()).ok);
}

}  // namespace
