#pragma once

// Raw H.264 clips made with ffmpeg at test time.

#include <string>
#include <vector>

namespace VideoTest {

struct Colour {
    const char* name;  // as ffmpeg knows it
    int r, g, b;
};

// A clip of solid colours shown in turn, `seconds_each` apiece, with a white band over the
// top quarter so that a picture upside down is seen at once. True on success.
bool makeColourClip(const std::string& path, const std::vector<Colour>& colours, int width,
                    int height, int fps, double seconds_each);
// Pads an elementary stream with a filler unit to the next multiple of `block` bytes.
bool padToMultiple(const std::string& path, size_t block);
size_t fileSize(const std::string& path);

}  // namespace VideoTest
