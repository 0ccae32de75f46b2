#pragma once

// The display as the renderer needs it: a GL ES capable EGL display and one surface
// covering the whole screen. One implementation per platform folder.

#include <EGL/egl.h>

#include <cstdint>

namespace Lumetra {
namespace Platform {

// A line for the user about the screen in use, such as that none was found and the
// picture goes offscreen; empty when there is nothing to say. Valid after hostInit.
const char* displayNote();

// Called before any EGL call: host interface start-up on the Pi, backend choice on Mesa.
// Calls after the first do nothing until hostDeinit. A choice that waits for a screen
// (early in boot) gives up as soon as `stop_requested` says so.
void hostInit(bool (*stop_requested)() = nullptr);

// The EGL display of the screen; EGL_NO_DISPLAY when there is none.
EGLDisplay getDisplay();

// EGL_SURFACE_TYPE bit that the screen's surface needs (a window, or a pbuffer offscreen).
EGLint surfaceType();

// Size of display `display_number` in pixels; a negative result means failure.
int32_t getDisplaySize(uint16_t display_number, uint32_t* width, uint32_t* height);

// An opaque surface laid over the whole screen; EGL_NO_SURFACE on failure.
EGLSurface createFullscreenSurface(EGLDisplay display, EGLConfig config, uint32_t width,
                                   uint32_t height);

// Shows the frame. Offscreen surfaces pace themselves here like a display would.
EGLBoolean swapBuffers(EGLDisplay display, EGLSurface surface);

// Called once after EGL has been terminated.
void hostDeinit();

}  // namespace Platform
}  // namespace Lumetra
