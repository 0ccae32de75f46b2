// Cost of one frame: 25 canvases of 63 ring copies each at 1920x1080 offscreen, through the
// renderer, against a bare loop making the same GL draws with no canvas logic: one shader
// and the same uniforms on OpenGL ES 2, the fixed-function calls on ES 1.x. LUMETRA_GLES=1
// runs the ES 1.x pair where the build and driver have it. Also counts heap allocations per
// frame: the program's own (operator new) in the draw path, and everything the process
// allocates (malloc, the GL driver's included) per frame.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "canvas/canvas.h"
#include "canvas/canvas_content/content_manager.h"
#include "canvas/matrix_stack.h"
#include "canvas/renderer.h"
#include "platform/display.h"
#include "platform/gl.h"
#if defined(LUMETRA_HAVE_GLES1)
#include <GLES/gl.h>
#endif

static std::atomic<long> allocations{0};
static std::atomic<long> mallocs{0};

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void* __libc_memalign(size_t, size_t);

// Every library in the process allocates through these.
extern "C" void* malloc(size_t n) {
    mallocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(n);
}
extern "C" void* calloc(size_t a, size_t b) {
    mallocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(a, b);
}
extern "C" void* realloc(void* p, size_t n) {
    mallocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, n);
}
extern "C" void* memalign(size_t a, size_t n) {
    mallocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(a, n);
}
extern "C" int posix_memalign(void** p, size_t a, size_t n) {
    mallocs.fetch_add(1, std::memory_order_relaxed);
    *p = __libc_memalign(a, n);
    return *p != nullptr ? 0 : 12;
}
extern "C" void* aligned_alloc(size_t a, size_t n) {
    mallocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(a, n);
}

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
    long in_draw = 0;
    const long mallocs_before = mallocs.load();
    for (auto _ : state) {
        const long before = allocations.load();
        s.renderer->drawCanvases(s.canvases);
        in_draw += allocations.load() - before;
        glFinish();
    }
    const double frames = static_cast<double>(state.iterations());
    state.counters["allocs_per_frame"] = static_cast<double>(in_draw) / frames;
    state.counters["process_mallocs_per_frame"] =
        static_cast<double>(mallocs.load() - mallocs_before) / frames;
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

// One small texture per canvas, bound per canvas as the renderer binds each picture.
const GLuint* bareTextures() {
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
    return textures;
}

GLuint compile(GLenum type, const char* source) {
    GLuint shader = glCreateShader(type);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    return shader;
}

// The least an ES 2 program can do for the same picture: one shader, the transform and
// colour uniforms, client-side vertex and texture-coordinate arrays, every matrix computed
// before the loop.
void BM_BareGles2Frame(benchmark::State& state) {
    Scene& s = scene();
    (void)s;
    static const GLfloat quad[12] = {-0.5f, -0.5f, 0, 0.5f, -0.5f, 0,
                                     -0.5f, 0.5f,  0, 0.5f, 0.5f,  0};
    static const GLfloat tex[8] = {0, 1, 1, 1, 0, 0, 1, 0};
    const GLuint* textures = bareTextures();
    GLint previous = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &previous);
    GLuint program = glCreateProgram();
    glAttachShader(program, compile(GL_VERTEX_SHADER,
                                    "attribute vec4 position; attribute vec2 texcoord;"
                                    "uniform mat4 transform; varying vec2 uv;"
                                    "void main() { uv = texcoord; gl_Position = transform * "
                                    "position; }"));
    glAttachShader(program, compile(GL_FRAGMENT_SHADER,
                                    "precision highp float; uniform sampler2D picture;"
                                    "uniform vec4 colour; varying vec2 uv;"
                                    "void main() { gl_FragColor = texture2D(picture, uv) * "
                                    "colour; }"));
    glBindAttribLocation(program, 0, "position");
    glBindAttribLocation(program, 1, "texcoord");
    glLinkProgram(program);
    glUseProgram(program);
    const GLint transform = glGetUniformLocation(program, "transform");
    const GLint colour = glGetUniformLocation(program, "colour");
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 0, quad);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 0, tex);
    std::vector<float> matrices(static_cast<size_t>(kCanvases) * kCopies * 16);
    float ortho[16];
    Lumetra::MatrixStack::ortho(-10, 10, -10.0f * 1080 / 1920, 10.0f * 1080 / 1920, -1, 1, ortho);
    for (int i = 0; i < kCanvases; ++i) {
        for (unsigned j = 0; j < kCopies; ++j) {
            const float a = static_cast<float>(i * 11) + j * 360.0f / kCopies;
            Lumetra::MatrixStack m;
            m.load(ortho);
            m.rotateZ(a);
            m.translate(-3.0f, 0, 0);
            m.rotateZ(-a);
            m.rotateZ(static_cast<float>(i * 7));
            std::memcpy(&matrices[(static_cast<size_t>(i) * kCopies + j) * 16], m.top(),
                        16 * sizeof(float));
        }
    }
    const long mallocs_before = mallocs.load();
    for (auto _ : state) {
        glClear(GL_COLOR_BUFFER_BIT);
        for (int i = 0; i < kCanvases; ++i) {
            glBindTexture(GL_TEXTURE_2D, textures[i]);
            glUniform4f(colour, 1.0f, 1.0f, 1.0f, 0.5f);  // white at half opacity
            for (int j = static_cast<int>(kCopies) - 1; j >= 0; --j) {
                glUniformMatrix4fv(transform, 1, GL_FALSE,
                                   &matrices[(static_cast<size_t>(i) * kCopies + j) * 16]);
                glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
            }
        }
        Lumetra::Platform::swapBuffers(eglGetCurrentDisplay(), eglGetCurrentSurface(EGL_DRAW));
        glFinish();
    }
    state.counters["process_mallocs_per_frame"] =
        static_cast<double>(mallocs.load() - mallocs_before) /
        static_cast<double>(state.iterations());
    glUseProgram(static_cast<GLuint>(previous));
    glDeleteProgram(program);
}

#if defined(LUMETRA_HAVE_GLES1)
// The same fixed-function calls with every value precomputed: what drawing costs on ES 1.x
// without our logic. The renderer loads its matrices instead of building them in the GL.
void BM_BareGles1Frame(benchmark::State& state) {
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
    glGetPointerv(GL_VERTEX_ARRAY_POINTER, &renderer_vertices);
    glVertexPointer(3, GL_FLOAT, 0, quad);
    glEnableClientState(GL_COLOR_ARRAY);
    glColorPointer(4, GL_FLOAT, 0, color);
    // The renderer leaves its last transform loaded over an identity projection.
    float ortho[16];
    Lumetra::MatrixStack::ortho(-10, 10, -10.0f * 1080 / 1920, 10.0f * 1080 / 1920, -1, 1, ortho);
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(ortho);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTexCoordPointer(2, GL_FLOAT, 0, tex);
    // One small texture per canvas, bound per canvas as the renderer binds each picture.
    const GLuint* textures = bareTextures();
    const long mallocs_before = mallocs.load();
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
    state.counters["process_mallocs_per_frame"] =
        static_cast<double>(mallocs.load() - mallocs_before) /
        static_cast<double>(state.iterations());
    glVertexPointer(3, GL_FLOAT, 0, renderer_vertices);
    glDisableClientState(GL_COLOR_ARRAY);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
}
#endif

}  // namespace

// The pair for the GL ES version the renderer draws with. Timed by the clock: the GL's own
// threads do most of a frame's work, so the main thread's CPU time would run thousands of
// 100 ms frames.
int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const char* version = std::getenv("LUMETRA_GLES");
    const bool es1 = version != nullptr && std::strcmp(version, "1") == 0;
    if (es1) {
#if defined(LUMETRA_HAVE_GLES1)
        benchmark::RegisterBenchmark("BM_BareGles1Frame", BM_BareGles1Frame)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(2.0);
#endif
    } else {
        benchmark::RegisterBenchmark("BM_BareGles2Frame", BM_BareGles2Frame)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(2.0);
    }
    const std::string suffix = es1 ? "/gles1" : "/gles2";
    benchmark::RegisterBenchmark(("BM_RendererFrame" + suffix).c_str(), BM_RendererFrame)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(2.0);
    benchmark::RegisterBenchmark(("BM_RendererTransparentFrame" + suffix).c_str(),
                                 BM_RendererTransparentFrame)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(2.0);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
