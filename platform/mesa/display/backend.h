#pragma once

// One Mesa display backend: how to reach EGL, how big the screen is, how to make the
// full-screen surface and what to do after each swap.

#include <EGL/egl.h>

#include <cstdint>

namespace Lumetra {
namespace Platform {
namespace Mesa {

struct DisplayBackend {
    const char* name;
    // Quietly tries to open the backend; false when it is not usable here.
    bool (*open)();
    EGLDisplay (*eglDisplay)();
    EGLint surface_type;
    void (*size)(uint32_t* width, uint32_t* height);
    EGLSurface (*createSurface)(EGLDisplay display, EGLConfig config, uint32_t width,
                                uint32_t height);
    void (*afterSwap)();
    void (*close)();
};

extern const DisplayBackend x11_backend;
extern const DisplayBackend headless_backend;
extern const DisplayBackend kms_backend;

// Why kms_backend's last open() failed: the device and the reason.
const char* kmsFailure();

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
