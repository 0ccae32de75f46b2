#pragma once

// The GL calls every GL ES version shares (textures, clearing, viewport, read-back), for the
// code above the platform. Drawing itself goes through platform/drawing.h.

#if defined(LUMETRA_GL_HEADER_ES1)
#include <GLES/gl.h>
#else
#include <GLES2/gl2.h>
#endif
