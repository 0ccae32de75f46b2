#pragma once

#include <string>

#include "gif/gif_loaded.h"

namespace LumetraTest {

// A GIF as giflib reads it, put together into full-screen RGBA frames by the fixture's
// rules (frame 0 = background, each frame a copy of the previous one, an image with a
// positive delay closes its frame, transparent pixels keep their colour with alpha 0).
// This is the independent reading the decoder is compared against.
using ReferenceGif = LoadedGif;

ReferenceGif readWithGiflib(const std::string& path);

}  // namespace LumetraTest
