// Cost of one frame: 25 canvases of 63 ring copies each at 1920x1080 offscreen, through the
// renderer, against a bare loop making the same GL draws with no canvas logic. Also counts
// heap allocations per frame.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "canvas/canvas.h"
#include "canvas/canvas_content/content_manager.h"
#include "canvas/renderer.h"
#include "platform/display.h"

static std::atomic<long> allocations{0};

// Counting replacements of the global allocator; new and delete both go to malloc/free.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

const int kCanvases = 25;
const unsigned kCopies = 63;

struct Scene {
    Scene() {
        char dir[] = "/tmp/lumetra-bench-XXXXXX";
        work = mkdtemp(dir);
        std::system(("mkdir -p " + work + "/textures").c_str());
        if (chdir(work.c_str()) != 0)
            std::abort();
        setenv("LUMETRA_DISPLAY", "headless", 1);
        setenv("LUMETRA_SCREEN", "1920x1080", 1);
        setenv("LUMETRA_REFRESH", "0", 1);  // unpaced: measure the work, not the display
        renderer = std::make_unique<Lumetra::Renderer>();
        renderer->setZoom(2);
        for (int i = 0; i < kCanvases; ++i) {
            canvases.push_back(new Lumetra::Canvas("CONTENT_TEXTURE_256"));
            Lumetra::Canvas* c = canvases.back();
            c->setContentData(i);
            c->setNumber(kCopies);
            c->setZoom(3.0f);
            c->setScalingX(0.5f);
            c->setScalingY(i % 2 == 0 ? 0.5f : -1.0f);
            c->setRotation(static_cast<float>(i * 7));
            c->setRotationAll(static_cast<float>(i * 11));
            c->setAlpha(0.5f);
        }
    }
    ~Scene() {
        for (auto* c : canvases)
            delete c;
        renderer.reset();
        std::system(("rm -rf " + work).c_str());
    }
    std::string work;
    std::unique_ptr<Lumetra::Renderer> renderer;
    std::vector<Lumetra::Canvas*> canvases;
};

Scene& scene() {
    static Scene s;
    return s;
}

void BM_RendererFrame(benchmark::State& state) {
    Scene& s = scene();
    long before = allocations.load();
    for (auto _ : state) {
        s.renderer->drawCanvases(s.canvases);
        glFinish();
    }
    state.counters["allocs_per_frame"] =
        static_cast<double>(allocations.load() - before) / static_cast<double>(state.iterations());
}

// The same scene fully transparent: nothing can show, so nothing should be drawn.
void BM_RendererTransparentFrame(benchmark::State& state) {
    Scene& s = scene();
    for (auto* c : s.canvases)
        c->setAlpha(0.0f);
    for (auto _ : state) {
        s.renderer->drawCanvases(s.canvases);
        glFinish();
    }
    state.counters["quads_per_frame"] = s.renderer->quadsDrawn();
    for (auto* c : s.canvases)
        c->setAlpha(0.5f);
}

// The same GL calls with every value precomputed: what drawing costs without our logic.
void BM_BareGlFrame(benchmark::State& state) {
    Scene& s = scene();
    (void)s;
    static GLfloat quad[12] = {-0.5f, -0.5f, 0, 0.5f, -0.5f, 0, -0.5f, 0.5f, 0, 0.5f, 0.5f, 0};
    static GLfloat color[16];
    for (int i = 0; i < 16; ++i) {
        color[i] = i % 4 == 3 ? 0.5f : 1.0f;  // white at half opacity, as the scene's canvases
    }
    static const GLfloat tex[8] = {0, 1, 1, 1, 0, 0, 1, 0};
    // The renderer's arrays stay bound for its life: restore them afterwards.
    void* renderer_vertices = nullptr;
    void* renderer_colors = nullptr;
    glGetPointerv(GL_VERTEX_ARRAY_POINTER, &renderer_vertices);
    glGetPointerv(GL_COLOR_ARRAY_POINTER, &renderer_colors);
    glVertexPointer(3, GL_FLOAT, 0, quad);
    glColorPointer(4, GL_FLOAT, 0, color);
    glTexCoordPointer(2, GL_FLOAT, 0, tex);
    // One small texture per canvas, bound per canvas as the renderer binds each picture.
    static GLuint textures[kCanvases];
    static bool made = false;
    if (!made) {
        glGenTextures(kCanvases, textures);
        const unsigned char pixel[4] = {255, 0, 0, 0};  // as the empty slots' pictures
        for (GLuint t : textures) {
            glBindTexture(GL_TEXTURE_2D, t);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
        }
        made = true;
    }
    for (auto _ : state) {
        glClear(GL_COLOR_BUFFER_BIT);
        for (int i = 0; i < kCanvases; ++i) {
            glTexCoordPointer(2, GL_FLOAT, 0, tex);
            glBindTexture(GL_TEXTURE_2D, textures[i]);
            glPushMatrix();
            for (int j = static_cast<int>(kCopies) - 1; j >= 0; --j) {
                const float a = static_cast<float>(i * 11) + j * 360.0f / kCopies;
                glPushMatrix();
                glTranslatef(0, 0, 0);
                glRotatef(a, 0, 0, 1);
                glTranslatef(-3.0f, 0, 0);
                glRotatef(-a, 0, 0, 1);
                glRotatef(static_cast<float>(i * 7), 0, 0, 1);
                glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
                glPopMatrix();
            }
            glPopMatrix();
        }
        Lumetra::Platform::swapBuffers(eglGetCurrentDisplay(), eglGetCurrentSurface(EGL_DRAW));
        glFinish();
    }
    glVertexPointer(3, GL_FLOAT, 0, renderer_vertices);
    glColorPointer(4, GL_FLOAT, 0, renderer_colors);
}

BENCHMARK(BM_BareGlFrame)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_RendererFrame)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_RendererTransparentFrame)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
