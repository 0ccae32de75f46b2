#pragma once

// Clips made with ffmpeg at test time: raw H.264, or any container and codec it writes.

#include <string>
#include <vector>

namespace VideoTest {

struct Colour {
    const char* name;  // as ffmpeg knows it
    int r, g, b;
};

// A clip of solid colours shown in turn, `seconds_each` apiece, with a white band over the
// top quarter so that a picture upside down is seen at once. `encoding` is ffmpeg's output
// options (codec, pixel format; the container follows the file name), raw H.264 when
// empty; below 1, `alpha` makes every pixel that transparent. True on success.
bool makeColourClip(const std::string& path, const std::vector<Colour>& colours, int width,
                    int height, int fps, double seconds_each, const std::string& encoding = "",
                    double alpha = 1.0);
// Pads an elementary stream with a filler unit to the next multiple of `block` bytes.
bool padToMultiple(const std::string& path, size_t block);
size_t fileSize(const std::string& path);

}  // namespace VideoTest
