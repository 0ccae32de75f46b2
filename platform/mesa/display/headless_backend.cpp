// Offscreen output for headless nodes and tests: Mesa's surfaceless platform with a
// pbuffer of LUMETRA_SCREEN=WIDTHxHEIGHT (default 1920x1080). Swaps are paced at
// LUMETRA_REFRESH frames per second (default 60) as a display's vertical sync would be, so
// the render loop does not spin; 0 leaves them unpaced (benchmarks).
//
// eglSwapBuffers has no effect on a pbuffer: it neither flushes nor waits. Nothing ended
// the driver's batch or made the loop wait for the rasterizer, so llvmpipe kept binning
// frames into ever more queued scenes, each holding every draw's vertices, state and bin
// commands in 64 KB blocks (about 20 MB/s with rings at 1920x1080). So each swap here
// hands the frame to the driver and, like a double-buffered display, lets at most one
// frame be in flight.

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GLES/gl.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/mesa/display/backend.h"

#include "log/log.h"

namespace Lumetra {
namespace Platform {
namespace Mesa {

namespace {

const uint32_t kDefaultWidth = 1920;
const uint32_t kDefaultHeight = 1080;
const long kDefaultRefresh = 60;
const unsigned long kMaxSide = 16384;

EGLDisplay display = EGL_NO_DISPLAY;
EGLSync frame_in_flight = EGL_NO_SYNC;
long frame_ns = 1000000000L / kDefaultRefresh;
struct timespec next_frame;

bool parseScreen(const char* text, uint32_t* width, uint32_t* height) {
    char* end = nullptr;
    unsigned long w = std::strtoul(text, &end, 10);
    if (end == text || (*end != 'x' && *end != 'X')) {
        return false;
    }
    const char* rest = end + 1;
    unsigned long h = std::strtoul(rest, &end, 10);
    if (end == rest || *end != '\0' || w == 0 || h == 0 || w > kMaxSide || h > kMaxSide) {
        return false;
    }
    *width = static_cast<uint32_t>(w);
    *height = static_cast<uint32_t>(h);
    return true;
}

long refreshRate() {
    const char* text = std::getenv("LUMETRA_REFRESH");
    if (text == nullptr || *text == '\0') {
        return kDefaultRefresh;
    }
    char* end = nullptr;
    long rate = std::strtol(text, &end, 10);
    if (*end != '\0' || rate < 0 || rate > 1000) {
        logLine(LogLevel::Warning, "LUMETRA_REFRESH '%s' is not 0..1000, using %ld", text,
                kDefaultRefresh);
        return kDefaultRefresh;
    }
    return rate;
}

bool open() {
    display = eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    // A driver that cannot start here is this backend failing, not a later crash.
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr)) {
        display = EGL_NO_DISPLAY;
        return false;
    }
    const long rate = refreshRate();
    frame_ns = rate > 0 ? 1000000000L / rate : 0;
    clock_gettime(CLOCK_MONOTONIC, &next_frame);
    return true;
}

EGLDisplay eglDisplay() {
    return display;
}

void size(uint32_t* width, uint32_t* height) {
    *width = kDefaultWidth;
    *height = kDefaultHeight;
    const char* text = std::getenv("LUMETRA_SCREEN");
    if (text != nullptr && *text != '\0' && !parseScreen(text, width, height)) {
        logLine(LogLevel::Warning, "LUMETRA_SCREEN '%s' is not WIDTHxHEIGHT, using %ux%u", text,
                kDefaultWidth, kDefaultHeight);
    }
}

EGLSurface createSurface(EGLDisplay d, EGLConfig config, uint32_t width, uint32_t height) {
    const EGLint attributes[] = {EGL_WIDTH, static_cast<EGLint>(width), EGL_HEIGHT,
                                 static_cast<EGLint>(height), EGL_NONE};
    return eglCreatePbufferSurface(d, config, attributes);
}

void addNanoseconds(struct timespec* t, long ns) {
    t->tv_nsec += ns;
    while (t->tv_nsec >= 1000000000L) {
        t->tv_nsec -= 1000000000L;
        t->tv_sec += 1;
    }
}

bool before(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// Ends the frame just drawn and waits until the one before it is done. Without fences the
// frame is finished outright.
void finishFrame() {
    glFlush();
    EGLSync previous = frame_in_flight;
    frame_in_flight = eglCreateSync(display, EGL_SYNC_FENCE, nullptr);
    if (frame_in_flight == EGL_NO_SYNC) {
        glFinish();
    }
    if (previous != EGL_NO_SYNC) {
        eglClientWaitSync(display, previous, EGL_SYNC_FLUSH_COMMANDS_BIT, EGL_FOREVER);
        eglDestroySync(display, previous);
    }
}

// Finishes the frame, then waits for the next frame slot; a loop that fell behind starts a
// fresh schedule instead of racing to catch up.
void afterSwap() {
    finishFrame();
    if (frame_ns == 0) {
        return;
    }
    addNanoseconds(&next_frame, frame_ns);
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (before(next_frame, now)) {
        next_frame = now;
        return;
    }
    // Only a signal is worth another try; any other error would come back at once and spin.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next_frame, nullptr) == EINTR) {
    }
}

void close() {
    frame_in_flight = EGL_NO_SYNC;  // eglTerminate has released it
    display = EGL_NO_DISPLAY;
}

}  // namespace

const DisplayBackend headless_backend = {
    "headless", open, eglDisplay, EGL_PBUFFER_BIT, size, createSurface, afterSwap, close,
};

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
