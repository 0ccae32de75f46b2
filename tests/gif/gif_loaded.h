#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace LumetraTest {

// A decoded GIF, copied out into plain containers: what GIFLoader returned for one file
// (its buffers are freed again), or the reference reading it is compared against.
struct LoadedGif {
    bool ok = false;
    int width = 0;
    int height = 0;
    int isLoopImage = 0;
    int loopCount = 0;
    std::vector<int> delays;
    std::vector<std::vector<uint8_t>> frames;
};

LoadedGif loadGif(const std::string& path);

}  // namespace LumetraTest
