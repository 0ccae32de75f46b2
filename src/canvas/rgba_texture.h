#pragma once

#include "platform/gl.h"

namespace Lumetra {

// Fills texture `name` with RGBA pixels (rows as given), sampled nearest and clamped to the
// edge. False when the GL refused it (too large, out of memory): it then has no defined
// level 0 and would draw as a solid block.
bool uploadRgbaTexture(GLuint name, int width, int height, const void* pixels);

}  // namespace Lumetra
