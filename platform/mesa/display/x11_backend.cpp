// Desktop output: a borderless window over the whole X screen.

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "platform/mesa/display/backend.h"

namespace Lumetra {
namespace Platform {
namespace Mesa {

namespace {

Display* x_display = nullptr;
Window window = 0;

bool open() {
    x_display = XOpenDisplay(nullptr);
    if (x_display == nullptr) {
        return false;
    }
    // An X server without a usable GL driver is no screen for us: move on.
    EGLDisplay display = eglGetPlatformDisplay(EGL_PLATFORM_X11_KHR, x_display, nullptr);
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr)) {
        XCloseDisplay(x_display);
        x_display = nullptr;
        return false;
    }
    return true;
}

EGLDisplay eglDisplay() {
    return eglGetPlatformDisplay(EGL_PLATFORM_X11_KHR, x_display, nullptr);
}

void size(uint32_t* width, uint32_t* height) {
    int screen = DefaultScreen(x_display);
    *width = static_cast<uint32_t>(DisplayWidth(x_display, screen));
    *height = static_cast<uint32_t>(DisplayHeight(x_display, screen));
}

EGLSurface createSurface(EGLDisplay display, EGLConfig config, uint32_t width, uint32_t height) {
    int screen = DefaultScreen(x_display);
    XSetWindowAttributes attributes = {};
    attributes.override_redirect = True;  // no frame, no window manager placement
    attributes.background_pixel = BlackPixel(x_display, screen);
    window = XCreateWindow(x_display, RootWindow(x_display, screen), 0, 0, width, height, 0,
                           CopyFromParent, InputOutput, CopyFromParent,
                           CWOverrideRedirect | CWBackPixel, &attributes);
    XStoreName(x_display, window, "Lumetra");
    XMapRaised(x_display, window);
    XFlush(x_display);
    return eglCreatePlatformWindowSurface(display, config, &window, nullptr);
}

void afterSwap() {}

void close() {
    if (window != 0) {
        XDestroyWindow(x_display, window);
        window = 0;
    }
    if (x_display != nullptr) {
        XCloseDisplay(x_display);
        x_display = nullptr;
    }
}

}  // namespace

const DisplayBackend x11_backend = {
    "x11", open, eglDisplay, EGL_WINDOW_BIT, size, createSurface, afterSwap, close,
};

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
