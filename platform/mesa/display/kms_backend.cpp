// The screen of a DRM/KMS card, as on Raspberry Pi OS Lite or any Linux console: GBM
// buffers drawn by EGL and shown full screen on one connector. LUMETRA_DRM_DEVICE,
// LUMETRA_CONNECTOR and LUMETRA_MODE choose the card, the output and its mode.
// LUMETRA_KMS_STATS=1 writes the frame and page-flip counts to stderr at the end;
// LUMETRA_KMS_FLIP_TIMEOUT_MS (1..60000, default 1000) is how long a frame waits for its flip.

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <gbm.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/mesa/display/backend.h"
#include "log/log.h"
#include "platform/mesa/display/kms_output.h"
#include "platform/mesa/display/kms_scanout.h"

namespace Lumetra {
namespace Platform {
namespace Mesa {

namespace {

KmsOutput output;
gbm_device* gbm = nullptr;
gbm_surface* buffers = nullptr;
KmsScanout* scanout = nullptr;
EGLDisplay display = EGL_NO_DISPLAY;
std::string failure_text;

std::string fromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

void closeAll() {
    delete scanout;
    scanout = nullptr;
    if (buffers != nullptr) {
        gbm_surface_destroy(buffers);
        buffers = nullptr;
    }
    if (gbm != nullptr) {
        gbm_device_destroy(gbm);
        gbm = nullptr;
    }
    output.close();
    display = EGL_NO_DISPLAY;
}

bool refuse(const std::string& why) {
    failure_text = output.device() + ": " + why;
    if (display != EGL_NO_DISPLAY) {
        eglTerminate(display);
    }
    closeAll();
    return false;
}

bool open() {
    const std::string mode = fromEnvironment("LUMETRA_MODE");
    if (!output.open(fromEnvironment("LUMETRA_DRM_DEVICE"), fromEnvironment("LUMETRA_CONNECTOR"),
                     mode.c_str())) {
        failure_text = output.failure();
        return false;
    }
    gbm = gbm_create_device(output.fd());
    if (gbm == nullptr) {
        return refuse("GBM cannot use this card");
    }
    display = eglGetPlatformDisplay(EGL_PLATFORM_GBM_KHR, gbm, nullptr);
    if (display == EGL_NO_DISPLAY) {
        return refuse("EGL has no GBM platform");
    }
    // Initialised here so that a driver that refuses the card moves the choice on; the
    // renderer's own eglInitialize then finds it ready.
    if (!eglInitialize(display, nullptr, nullptr)) {
        display = EGL_NO_DISPLAY;
        return refuse("EGL cannot draw on this card (no Mesa driver for it?)");
    }
    return true;
}

EGLDisplay eglDisplay() {
    return display;
}

void size(uint32_t* width, uint32_t* height) {
    *width = output.mode()->hdisplay;
    *height = output.mode()->vdisplay;
}

EGLSurface createSurface(EGLDisplay d, EGLConfig config, uint32_t width, uint32_t height) {
    // The surface's buffers must have the pixel format of the config the renderer chose.
    EGLint format = GBM_FORMAT_XRGB8888;
    eglGetConfigAttrib(d, config, EGL_NATIVE_VISUAL_ID, &format);
    buffers = gbm_surface_create(gbm, width, height, static_cast<uint32_t>(format),
                                 GBM_BO_USE_SCANOUT | GBM_BO_USE_RENDERING);
    if (buffers == nullptr) {
        logLine(LogLevel::Error, "kms: %s: GBM cannot make %ux%u scan-out buffers",
                output.device().c_str(), width, height);
        return EGL_NO_SURFACE;
    }
    const long timeout =
        std::strtol(fromEnvironment("LUMETRA_KMS_FLIP_TIMEOUT_MS").c_str(), nullptr, 10);
    scanout = new KmsScanout(&output, buffers,
                             timeout >= 1 && timeout <= 60000 ? static_cast<int>(timeout) : 1000);
    return eglCreatePlatformWindowSurface(d, config, buffers, nullptr);
}

void afterSwap() {
    if (scanout != nullptr) {
        scanout->present();
    }
}

void close() {
    if (scanout != nullptr && fromEnvironment("LUMETRA_KMS_STATS") == "1") {
        const KmsScanoutStats& s = scanout->stats();
        logLine(LogLevel::Info,
                "kms: %lu frames shown, %lu page flips, %lu refused, %lu late, "
                "%lu dropped, %lu mode sets",
                s.frames, s.flips, s.failures, s.late_flips, s.dropped, s.mode_sets);
    }
    closeAll();
}

}  // namespace

const char* kmsFailure() {
    return failure_text.c_str();
}

const DisplayBackend kms_backend = {
    "kms", open, eglDisplay, EGL_WINDOW_BIT, size, createSurface, afterSwap, close,
};

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
