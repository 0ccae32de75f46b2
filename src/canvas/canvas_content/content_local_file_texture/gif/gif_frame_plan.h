#pragma once

#include <cstddef>
#include <cstdint>

namespace Lumetra {

// What decoding a GIF will make, learned without decoding: the logical screen and the
// number of frames, so that its memory is known before any is taken.
struct GifFramePlan {
    int width = 0;
    int height = 0;
    int frames = 0;

    // Bytes decoding holds at its peak: the file itself and every frame.
    uint64_t decodeBytes(size_t fileBytes) const;
};

// Walks the blocks of the GIF held in `data` with the decoder's own block walk, skipping
// all pixel data, so that it counts frames exactly as decoding makes them. False when the
// bytes are no GIF or their block structure is broken; only damage inside the pixel data
// is left for decoding to find.
bool planGifFrames(const unsigned char* data, size_t size, GifFramePlan* plan);

}  // namespace Lumetra
