#pragma once

#include <cstdio>

namespace Lumetra {

// What decoding a GIF will make, learned without decoding: the logical screen and the
// number of frames, so that its memory is known before any is taken.
struct GifFramePlan {
    int width = 0;
    int height = 0;
    int frames = 0;
};

// Walks the blocks of the GIF in `file` from its start, skipping all pixel data, and
// counts frames by the decoder's rule (an image after one with a positive delay starts a
// new frame). False when the file is no GIF or its block structure is broken; the
// decoder rejects such a file too. Reads only a few bytes per block.
bool planGifFrames(FILE* file, GifFramePlan* plan);

}  // namespace Lumetra
