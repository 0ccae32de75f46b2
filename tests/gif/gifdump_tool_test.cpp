// The lumetra-gifdump tool prints what the decoder makes of a file and can dump the frames.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gif/gif_builder.h"
#include "gif/gif_loaded.h"
#include "support/test_support.h"

using namespace LumetraTest;

namespace {

std::string gifdump() {
    return builtProgram("tools/lumetra-gifdump");
}

TEST(GifDumpTool, PrintsFramesScreenLoopAndDelaysAndWritesRawFrames) {
    TempWorkDir dir;
    GifBuilder gif;
    gif.screen(4, 2, 1).loop(0);
    for (int i = 0; i < 2; ++i) {
        gif.graphicControl(10).image(0, 0, 4, 2, -1, false, 2,
                                     packCodes(literalCodes({i, 1, 2, 3, 3, 2, 1, i}, 2)));
    }
    gif.trailer().write(dir.file("a.gif"));
    EXPECT_EQ(commandOutput(gifdump() + " a.gif raw.bin"),
              "OK frames=2 w=4 h=2 loop=1 count=0 delays=10,10\n");
    const std::string raw = readFile(dir.file("raw.bin"));
    const LoadedGif loaded = loadGif(dir.file("a.gif"));
    ASSERT_EQ(raw.size(), 2u * 4 * 2 * 4);
    std::vector<uint8_t> expected = loaded.frames[0];
    expected.insert(expected.end(), loaded.frames[1].begin(), loaded.frames[1].end());
    EXPECT_EQ(std::vector<uint8_t>(raw.begin(), raw.end()), expected);
}

TEST(GifDumpTool, PrintsFailAndExitsWithOneForABadFile) {
    TempWorkDir dir;
    writeFile(dir.file("bad.gif"), "GIF89a but not really a picture");
    EXPECT_EQ(commandOutput(gifdump() + " bad.gif"), "FAIL\n");
    EXPECT_EQ(runCommand(gifdump() + " bad.gif > /dev/null"), 1);
}

}  // namespace
