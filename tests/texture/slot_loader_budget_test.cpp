// The picture workers decode ahead of the upload, but the pixels they hold at once stay
// within the in-flight budget, whatever the number of workers; no slot is starved.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "canvas/canvas_content/content_local_file_texture/slot_loader.h"
#include "support/test_support.h"

namespace {

TEST(SlotLoaderBudget, DecodedButNotUploadedPixelsStayWithinTheBudget) {
    alarm(120);  // a deadlock ends the test
    LumetraTest::TempWorkDir work;
    // 40 stills of 200x200: 160000 bytes each once decoded, 480000 while decoding.
    std::vector<uint8_t> px(200 * 200 * 4, 128);
    for (int slot = 0; slot < 40; ++slot) {
        char name[32];
        std::snprintf(name, sizeof(name), "textures/%03d.png", slot);
        LumetraTest::writePng(name, 200, 200, px);
    }
    for (uint64_t budget : {500000ull, 1000000ull}) {
        Lumetra::PictureLimits limits = Lumetra::PictureLimits::forTotal(16384, 2 * budget);
        Lumetra::SlotLoader loader(256, 6, limits);
        for (int slot = 0; slot < 256; ++slot) {
            Lumetra::DecodedPicture picture = loader.take(slot);
            EXPECT_EQ(picture.png_buffer != nullptr, slot < 40) << slot;
            picture.release();
            loader.uploaded(slot);
        }
        // Unbounded, the 14 slots ahead would hold over 6 MB at times.
        EXPECT_LE(loader.peakInFlight(), budget);
        EXPECT_GE(loader.peakInFlight(), 480000u);
    }
    alarm(0);
}

}  // namespace
