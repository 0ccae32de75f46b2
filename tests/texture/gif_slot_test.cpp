// A GIF slot reads its file once: the frames planned (and paid for from the budget) before
// decoding are the frames decoded, even when the file is rewritten in between.

#include <gtest/gtest.h>

#include <vector>

#include "canvas/canvas_content/content_local_file_texture/slot_decoder.h"
#include "support/test_support.h"

namespace {

TEST(GifSlot, DecodesTheBytesItPlannedWhenTheFileIsRewrittenInBetween) {
    LumetraTest::TempWorkDir work;
    ASSERT_EQ(
        LumetraTest::runCommand("convert -delay 10 -size 4x2 xc:red xc:blue textures/001.gif"), 0);
    ASSERT_EQ(LumetraTest::runCommand("convert -size 9x9 xc:lime other.gif"), 0);
    Lumetra::SlotDecoder decoder(1, Lumetra::PictureLimits::forTotal(16384, 64 << 20));
    EXPECT_GT(decoder.decodeBytes(), 0u);
    // The same file, truncated and written again with another picture.
    LumetraTest::writeFile("textures/001.gif", LumetraTest::readFile("other.gif"));
    Lumetra::DecodedPicture picture = decoder.decode();
    ASSERT_NE(picture.gif_buffer, nullptr);
    EXPECT_EQ(picture.size_x, 4);
    EXPECT_EQ(picture.size_y, 2);
    ASSERT_EQ(picture.gif_info.numberOfImages, 2);
    const unsigned char* blue = picture.gif_buffer[1];
    EXPECT_EQ(std::vector<int>(blue, blue + 4), (std::vector<int>{0, 0, 255, 255}));
}

}  // namespace
