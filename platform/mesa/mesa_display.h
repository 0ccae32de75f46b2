#pragma once

// What the Mesa platform's other parts need to know about the display in use.

#include <EGL/egl.h>

namespace Lumetra {
namespace Platform {
namespace Mesa {

// The EGL display handed to the renderer, or EGL_NO_DISPLAY before that.
EGLDisplay currentDisplay();

// Reads LUMETRA_GLES: which GL ES version the renderer draws with from here on.
void chooseDrawing();

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
