#pragma once

#include <cstdint>

namespace Lumetra {

// The largest size with the picture's proportions whose sides are at most `max_side`
// and whose `frames` frames together take at most `max_bytes`. False when not even one
// pixel fits. A picture that already fits keeps its size.
bool fitPictureSize(int width, int height, int frames, int max_side, uint64_t max_bytes,
                    int* fitted_width, int* fitted_height);

// A new malloc'd RGBA picture of `to_width` x `to_height`, each pixel the average of the
// source pixels it covers; null when memory runs out.
unsigned char* scaleRgba(const unsigned char* pixels, int width, int height, int to_width,
                         int to_height);

}  // namespace Lumetra
