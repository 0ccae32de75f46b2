#pragma once

#include <cstdint>

#include "canvas/canvas_content/content_local_file_texture/decoded_picture.h"

namespace Lumetra {

// The memory all slots' pictures may keep, spent in slot order at upload: a picture
// that does not fit what is left is scaled down to fit, or refused when not even one
// pixel would; a clip that does not fit is played nowhere. One thread at a time: the render
// thread at start-up, the reloader for pictures changed later.
class PictureBudget {
  public:
    explicit PictureBudget(uint64_t total_bytes) : left(total_bytes) {}

    // Holds `picture` (decoded, not yet uploaded) to what is left.
    void fit(DecodedPicture& picture);
    // Takes what an uploaded picture keeps.
    void spend(uint64_t bytes) { left = bytes < left ? left - bytes : 0; }
    uint64_t bytesLeft() const { return left; }

  private:
    void fitPixels(DecodedPicture& picture, int frames, uint64_t bytes);

    uint64_t left;
};

}  // namespace Lumetra
