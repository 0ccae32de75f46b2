// Counts heap allocations in the KMS swap path: brings up the KMS screen through the
// platform interface as the renderer does, draws frames, and counts the calls to malloc and
// its kin made while Platform::swapBuffers runs (eglSwapBuffers, then the page flip and its
// wait). Prints "swap allocations: N in F frames".

#include <EGL/egl.h>
#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/display.h"
#include "platform/drawing.h"
#include "platform/gl.h"

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void* __libc_memalign(size_t, size_t);

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
void note() {
    if (counting.load(std::memory_order_relaxed)) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
}
}  // namespace

// Every library in the process allocates through these.
extern "C" void* malloc(size_t n) {
    note();
    return __libc_malloc(n);
}
extern "C" void* calloc(size_t a, size_t b) {
    note();
    return __libc_calloc(a, b);
}
extern "C" void* realloc(void* p, size_t n) {
    note();
    return __libc_realloc(p, n);
}
extern "C" void* memalign(size_t a, size_t n) {
    note();
    return __libc_memalign(a, n);
}
extern "C" int posix_memalign(void** p, size_t a, size_t n) {
    note();
    *p = __libc_memalign(a, n);
    return *p != nullptr ? 0 : 12;
}
extern "C" void* aligned_alloc(size_t a, size_t n) {
    note();
    return __libc_memalign(a, n);
}

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::atoi(argv[1]) : 100;
    using namespace Lumetra::Platform;
    hostInit();
    EGLDisplay display = getDisplay();
    EGLint n = 0;
    EGLConfig config = nullptr;
    // clang-format off
    const EGLint attributes[] = {
        EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_ALPHA_SIZE, 8,
        EGL_DEPTH_SIZE, 16,
        EGL_SURFACE_TYPE, surfaceType(),
        EGL_RENDERABLE_TYPE, renderableType(),
        EGL_NONE};
    // clang-format on
    uint32_t width = 0, height = 0;
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr) ||
        !eglChooseConfig(display, attributes, &config, 1, &n) || n < 1 ||
        getDisplaySize(0, &width, &height) < 0) {
        std::fprintf(stderr, "kms_swap_count: no KMS screen\n");
        return 1;
    }
    EGLContext context = createContext(display, config);
    EGLSurface surface = createFullscreenSurface(display, config, width, height);
    if (context == EGL_NO_CONTEXT || surface == EGL_NO_SURFACE ||
        !eglMakeCurrent(display, surface, surface, context)) {
        std::fprintf(stderr, "kms_swap_count: no context\n");
        return 1;
    }
    // The first frames make the framebuffers, once per buffer: not counted.
    for (int i = 0; i < frames + 10; ++i) {
        glClearColor((i % 2) * 1.0f, 0.0f, 0.5f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glFinish();
        counting.store(i >= 10);
        swapBuffers(display, surface);
        counting.store(false);
    }
    std::printf("swap allocations: %ld in %d frames\n", allocations.load(), frames);
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroySurface(display, surface);
    eglDestroyContext(display, context);
    eglTerminate(display);
    hostDeinit();
    return 0;
}
