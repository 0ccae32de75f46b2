#include "canvas/canvas_content/content_local_file_texture/picture_budget.h"

#include <climits>
#include <string>

#include "canvas/canvas_content/content_local_file_texture/picture_limits.h"
#include "canvas/canvas_content/content_local_file_texture/picture_scaler.h"

namespace Lumetra {

namespace {
std::string memoryLeft(uint64_t bytes) {
    return "the picture memory left (" + memoryText(bytes) + ")";
}
}  // namespace

void PictureBudget::fit(DecodedPicture& picture) {
    const uint64_t frame = rgbaBytes(picture.size_x, picture.size_y);
    if (picture.texture_type == TEX_VIDEO && picture.video_size_known && frame > left) {
        picture.video_size_known = false;  // shown like a clip of unknown size
        picture.refused_for = "its " + std::to_string(picture.size_x) + "x" +
                              std::to_string(picture.size_y) + " texture is larger than " +
                              memoryLeft(left);
    } else if (picture.png_buffer != nullptr && frame > left) {
        fitPixels(picture, 1, frame);
    } else if (picture.gif_buffer != nullptr &&
               frame * static_cast<uint64_t>(picture.gif_info.numberOfImages) > left) {
        fitPixels(picture, picture.gif_info.numberOfImages, frame);
    }
}

void PictureBudget::fitPixels(DecodedPicture& picture, int frames, uint64_t frame) {
    int width = 0, height = 0;
    if (!fitPictureSize(picture.size_x, picture.size_y, frames, INT_MAX, left, &width, &height)) {
        picture.refuse("its " + std::to_string(frame * frames >> 20) + " MB do not fit " +
                       memoryLeft(left));
        return;
    }
    picture.scaleTo(width, height, memoryLeft(left));
}

}  // namespace Lumetra
