// Picks the display backend: LUMETRA_DISPLAY=kms|x11|headless forces one; otherwise X11
// when DISPLAY is set and reachable, else a KMS screen, else the offscreen surface.
// Probing is quiet; a backend the user named that fails gets one line on stderr. Falling
// back to offscreen unasked leaves a note, for stderr and the console. In the first
// minutes after boot a KMS screen is waited for a while before that (LUMETRA_SCREEN_WAIT
// seconds): a service starts while the card's driver may still be loading.

#include <dlfcn.h>
#include <link.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <thread>

#include "platform/display.h"
#include "log/log.h"
#include "platform/mesa/display/backend.h"
#include "platform/mesa/mesa_display.h"

namespace Lumetra {
namespace Platform {

namespace {

const Mesa::DisplayBackend* backend = nullptr;
bool chosen = false;  // a failed choice is not made (and reported) twice
EGLDisplay egl_display = EGL_NO_DISPLAY;

char note[512] = "";

const Mesa::DisplayBackend* byName(const char* name) {
    for (const Mesa::DisplayBackend* b :
         {&Mesa::kms_backend, &Mesa::x11_backend, &Mesa::headless_backend}) {
        if (std::strcmp(name, b->name) == 0) {
            return b;
        }
    }
    return nullptr;
}

const Mesa::DisplayBackend* openNamed(const char* wanted) {
    const Mesa::DisplayBackend* named = byName(wanted);
    if (named == nullptr) {
        logLine(LogLevel::Error, "unknown LUMETRA_DISPLAY '%s' (kms, x11 or headless)", wanted);
        return nullptr;
    }
    if (named->open()) {
        return named;
    }
    if (named == &Mesa::kms_backend) {
        logLine(LogLevel::Error, "display backend 'kms' failed to open: %s", Mesa::kmsFailure());
    } else {
        logLine(LogLevel::Error, "display backend '%s' failed to open", named->name);
    }
    return nullptr;
}

// A service may start before the card's driver has made /dev/dri/cardN (seen with systemd
// on an emulated arm64 machine); a projector switched on with the rig takes seconds more.
constexpr double kBootSeconds = 90;
constexpr double kBootWaitSeconds = 30;
constexpr auto kScreenPoll = std::chrono::milliseconds(250);

double secondsSinceBoot() {
    double up = 0;
    FILE* file = std::fopen("/proc/uptime", "re");
    if (file != nullptr) {
        if (std::fscanf(file, "%lf", &up) != 1) {
            up = 0;
        }
        std::fclose(file);
    }
    return up;
}

double screenWaitSeconds() {
    const char* text = std::getenv("LUMETRA_SCREEN_WAIT");
    if (text != nullptr && *text != '\0') {
        char* end = nullptr;
        const double seconds = std::strtod(text, &end);
        if (*end == '\0' && seconds >= 0 && seconds <= 600) {
            return seconds;
        }
        logLine(LogLevel::Warning, "LUMETRA_SCREEN_WAIT '%s' is not 0 to 600 seconds", text);
    }
    const double up = secondsSinceBoot();
    return up > 0 && up < kBootSeconds ? kBootWaitSeconds : 0;
}

bool waitForKmsScreen(bool (*stop_requested)()) {
    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                         std::chrono::duration<double>(screenWaitSeconds()));
    while (std::chrono::steady_clock::now() < end &&
           (stop_requested == nullptr || !stop_requested())) {
        std::this_thread::sleep_for(kScreenPoll);
        if (Mesa::kms_backend.open()) {
            return true;
        }
    }
    return false;
}

const Mesa::DisplayBackend* chooseBackend(bool (*stop_requested)()) {
    const char* wanted = std::getenv("LUMETRA_DISPLAY");
    if (wanted != nullptr && *wanted != '\0') {
        return openNamed(wanted);
    }
    const char* x_display = std::getenv("DISPLAY");
    if (x_display != nullptr && *x_display != '\0' && Mesa::x11_backend.open()) {
        return &Mesa::x11_backend;
    }
    if (Mesa::kms_backend.open() || waitForKmsScreen(stop_requested)) {
        return &Mesa::kms_backend;
    }
    if (Mesa::headless_backend.open()) {
        // A black projector must not leave the user guessing.
        std::snprintf(note, sizeof(note),
                      "no screen found (no reachable X display; KMS: %s), drawing offscreen",
                      Mesa::kmsFailure());
        return &Mesa::headless_backend;
    }
    logLine(LogLevel::Error, "no display backend could be opened");
    return nullptr;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// eglTerminate unloads Mesa's driver, and what it still held at exit would then be reported
// as leaks from an unknown module, where no suppression can name it (ThreadSanitizer stops
// outright when a suppressed library goes away). Sanitizer builds keep
// the driver loaded so that reports stay attributable.
int pinDriver(struct dl_phdr_info* info, size_t, void*) {
    if (info->dlpi_name != nullptr && std::strstr(info->dlpi_name, "_dri.so") != nullptr) {
        dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    }
    return 0;
}
void pinDriversForLeakReports() {
    dl_iterate_phdr(pinDriver, nullptr);
}
#else
void pinDriversForLeakReports() {}
#endif

}  // namespace

const char* displayNote() {
    return note;
}

void hostInit(bool (*stop_requested)()) {
    if (!chosen) {
        note[0] = '\0';
        Mesa::chooseDrawing();
        backend = chooseBackend(stop_requested);
        chosen = true;
    }
}

EGLDisplay getDisplay() {
    egl_display = backend != nullptr ? backend->eglDisplay() : EGL_NO_DISPLAY;
    return egl_display;
}

EGLint surfaceType() {
    return backend != nullptr ? backend->surface_type : EGL_WINDOW_BIT;
}

int32_t getDisplaySize(uint16_t display_number, uint32_t* width, uint32_t* height) {
    if (backend == nullptr || display_number != 0) {
        return -1;
    }
    backend->size(width, height);
    return 0;
}

EGLSurface createFullscreenSurface(EGLDisplay display, EGLConfig config, uint32_t width,
                                   uint32_t height) {
    if (backend == nullptr) {
        return EGL_NO_SURFACE;
    }
    pinDriversForLeakReports();  // the driver is loaded by now: eglInitialize has run
    return backend->createSurface(display, config, width, height);
}

EGLBoolean swapBuffers(EGLDisplay display, EGLSurface surface) {
    EGLBoolean result = eglSwapBuffers(display, surface);
    if (backend != nullptr) {
        backend->afterSwap();
    }
    return result;
}

void hostDeinit() {
    if (backend != nullptr) {
        backend->close();
        backend = nullptr;
    }
    chosen = false;
    egl_display = EGL_NO_DISPLAY;
}

namespace Mesa {
EGLDisplay currentDisplay() {
    return egl_display;
}
}  // namespace Mesa

}  // namespace Platform
}  // namespace Lumetra
