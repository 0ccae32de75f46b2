#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace LumetraTest {

// A GIF as giflib reads it, put together into full-screen RGBA frames by the fixture's
// rules (frame 0 = background, each frame a copy of the previous one, an image with a
// positive delay closes its frame, transparent pixels keep their colour with alpha 0).
// This is the independent reading the decoder is compared against.
struct ReferenceGif {
    bool ok = false;
    int width = 0;
    int height = 0;
    int isLoopImage = 0;
    int loopCount = 0;
    std::vector<int> delays;
    std::vector<std::vector<uint8_t>> frames;
};

ReferenceGif readWithGiflib(const std::string& path);

}  // namespace LumetraTest
