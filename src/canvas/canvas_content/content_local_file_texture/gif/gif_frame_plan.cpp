#include "canvas/canvas_content/content_local_file_texture/gif/gif_frame_plan.h"

#include "canvas/canvas_content/content_local_file_texture/gif/gif_decoder.h"

namespace Lumetra {

uint64_t GifFramePlan::decodeBytes(size_t fileBytes) const {
    const uint64_t frame = static_cast<uint64_t>(width > 0 ? width : 0) *
                           static_cast<uint64_t>(height > 0 ? height : 0) * 4;
    const uint64_t count = static_cast<uint64_t>(frames > 0 ? frames : 0);
    // Saturates: a forged plan must never wrap around to something that looks small.
    if (count > 0 && frame > (UINT64_MAX - fileBytes) / count) {
        return UINT64_MAX;
    }
    return static_cast<uint64_t>(fileBytes) + frame * count;
}

bool planGifFrames(const unsigned char* data, size_t size, GifFramePlan* plan) {
    GifDecoder walker(data, size);
    return walker.plan(plan);
}

}  // namespace Lumetra
