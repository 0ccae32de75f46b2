// The Raspberry Pi's legacy firmware display: the VideoCore host interface and one
// full-screen, fully opaque dispmanx element on layer 0 of display 0, under the Pi's EGL.

#include <EGL/egl.h>

#include "bcm_host.h"
#include "platform/display.h"

namespace Lumetra {
namespace Platform {

namespace {
// EGL keeps a pointer to the native window for the surface's lifetime.
EGL_DISPMANX_WINDOW_T nativewindow;
bool host_started = false;
}  // namespace

// The firmware display always exists: nothing to say about finding it.
const char* displayNote() {
    return "";
}

void hostInit(bool (*)()) {
    if (!host_started) {
        bcm_host_init();
        host_started = true;
    }
}

EGLDisplay getDisplay() {
    return eglGetDisplay(EGL_DEFAULT_DISPLAY);
}

EGLint surfaceType() {
    return EGL_WINDOW_BIT;
}

int32_t getDisplaySize(uint16_t display_number, uint32_t* width, uint32_t* height) {
    return graphics_get_display_size(display_number, width, height);
}

EGLSurface createFullscreenSurface(EGLDisplay display, EGLConfig config, uint32_t width,
                                   uint32_t height) {
    VC_RECT_T dst_rect;
    VC_RECT_T src_rect;
    dst_rect.x = 0;
    dst_rect.y = 0;
    dst_rect.width = static_cast<int32_t>(width);
    dst_rect.height = static_cast<int32_t>(height);
    src_rect.x = 0;
    src_rect.y = 0;
    src_rect.width = static_cast<int32_t>(width << 16);  // 16.16 fixed point
    src_rect.height = static_cast<int32_t>(height << 16);

    DISPMANX_DISPLAY_HANDLE_T dispman_display = vc_dispmanx_display_open(0);
    DISPMANX_UPDATE_HANDLE_T dispman_update = vc_dispmanx_update_start(0);

    // Opaque whatever the GL alpha channel holds.
    VC_DISPMANX_ALPHA_T alpha = {DISPMANX_FLAGS_ALPHA_FIXED_ALL_PIXELS, 255, 0};
    DISPMANX_ELEMENT_HANDLE_T dispman_element = vc_dispmanx_element_add(
        dispman_update, dispman_display, 0 /*layer*/, &dst_rect, 0 /*src*/, &src_rect,
        DISPMANX_PROTECTION_NONE, &alpha, nullptr /*clamp*/, DISPMANX_NO_ROTATE);

    nativewindow.element = dispman_element;
    nativewindow.width = static_cast<int>(width);
    nativewindow.height = static_cast<int>(height);
    vc_dispmanx_update_submit_sync(dispman_update);

    return eglCreateWindowSurface(display, config,
                                  reinterpret_cast<EGLNativeWindowType>(&nativewindow), nullptr);
}

EGLBoolean swapBuffers(EGLDisplay display, EGLSurface surface) {
    return eglSwapBuffers(display, surface);
}

// The element stays and the display stays open, as the firmware expects of a program that
// leaves the screen black behind it.
void hostDeinit() {}

}  // namespace Platform
}  // namespace Lumetra
