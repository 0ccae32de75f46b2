// Clips on the FFmpeg player.
//
// BM_DecodeAgainstFfmpeg: the player's decoder (demux + decode, no pacing, no output) over a
// 10 s 1080p30 H.264 clip, process CPU per frame, against `ffmpeg -benchmark -threads N -i
// CLIP -f null -` on the same clip (Arg: N; 0 is FFmpeg's own choice, as the player uses).
//
// BM_ThreeClipsWhileRendering: three such clips playing through the picture slots while 25
// canvases render offscreen at 1920x1080 and a 60 Hz pace: pictures decoded, shown and
// dropped per second per clip, shown per decoded, render frames per second, and the render
// thread's CPU per new clip picture (its CPU per frame with the canvases on the clips, less
// the same with them on stills, over the clip pictures that became new per frame).
//
// Both count the process's heap allocations (FFmpeg's and the render loop's included) per
// picture in the steady state.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "canvas/canvas.h"
#include "canvas/renderer.h"
#include "platform/mesa/video/clip_decoder.h"
#include "platform/mesa/video/clip_stats.h"

// Every heap allocation of the process counted, FFmpeg's included: glibc's allocator is
// reached under its internal names.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {
std::atomic<uint64_t> heap_allocations{0};
}  // namespace

extern "C" {
void* malloc(size_t size) {
    heap_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    heap_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size) {
    heap_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(pointer, size);
}
int posix_memalign(void** pointer, size_t alignment, size_t size) {
    heap_allocations.fetch_add(1, std::memory_order_relaxed);
    *pointer = __libc_memalign(alignment, size);
    return *pointer || size == 0 ? 0 : ENOMEM;
}
void* aligned_alloc(size_t alignment, size_t size) {
    heap_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(alignment, size);
}
}

namespace {

using Lumetra::Platform::Mesa::ClipDecoder;
using Lumetra::Platform::Mesa::ClipStats;

const int kClips = 3;
const int kCanvases = 25;
const int kClipFrames = 300;

std::string run(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char line[512];
        while (fgets(line, sizeof(line), pipe)) {
            out += line;
        }
        pclose(pipe);
    }
    return out;
}

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

// A 10 s 1080p30 H.264 clip, made once per process.
const std::string& clipFile() {
    static std::string path;
    if (path.empty()) {
        char dir[] = "/tmp/lumetra-video-bench-XXXXXX";
        path = std::string(mkdtemp(dir)) + "/clip.mp4";
        run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=s=1920x1080:r=30:d=10 -c:v libx264 "
            "-preset veryfast -pix_fmt yuv420p " +
            path);
    }
    return path;
}

// CPU seconds (user + system, all threads) ffmpeg needs per frame to decode the clip.
double ffmpegCpuPerFrame(const std::string& clip, int threads) {
    std::string out = run("ffmpeg -nostdin -hide_banner -benchmark -threads " +
                          std::to_string(threads) + " -i " + clip + " -f null - 2>&1");
    size_t user = out.find("utime=");
    size_t system = out.find("stime=");
    if (user == std::string::npos || system == std::string::npos) {
        return 0;
    }
    return (std::atof(out.c_str() + user + 6) + std::atof(out.c_str() + system + 6)) / kClipFrames;
}

void BM_DecodeAgainstFfmpeg(benchmark::State& state) {
    const int threads = static_cast<int>(state.range(0));
    const std::string& clip = clipFile();
    double cpu = 0;
    uint64_t frames = 0;
    uint64_t steady_frames = 0;
    uint64_t steady_allocations = 0;
    for (auto _ : state) {
        ClipDecoder decoder;
        if (!decoder.open(clip, std::chrono::milliseconds(10000), threads)) {
            state.SkipWithError("the clip does not open");
            return;
        }
        const double before = processCpuSeconds();
        int64_t gap = 0;
        uint64_t allocations_before = heap_allocations;
        for (int i = 0; i < kClipFrames && decoder.next(&gap); ++i) {
            frames++;
            if (i == 30) {  // the decoder's pools are full by now
                allocations_before = heap_allocations;
                steady_frames -= 31;
            }
        }
        steady_frames += kClipFrames;
        steady_allocations += heap_allocations - allocations_before;
        cpu += processCpuSeconds() - before;
    }
    const double ffmpeg = ffmpegCpuPerFrame(clip, threads);
    state.counters["player_ms_per_frame"] = 1000.0 * cpu / frames;
    state.counters["ffmpeg_ms_per_frame"] = 1000.0 * ffmpeg;
    state.counters["player_over_ffmpeg"] = ffmpeg > 0 ? cpu / frames / ffmpeg : 0;
    state.counters["heap_allocations_per_frame"] = double(steady_allocations) / steady_frames;
}

BENCHMARK(BM_DecodeAgainstFfmpeg)
    ->Arg(1)
    ->Arg(2)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

struct Scene {
    Scene() {
        char dir[] = "/tmp/lumetra-video-scene-XXXXXX";
        work = mkdtemp(dir);
        run("mkdir -p " + work + "/textures");
        for (int i = 0; i < kClips; ++i) {
            run("cp " + clipFile() + " " + work + "/textures/00" + std::to_string(i) + ".h264");
            // Stills of the same size, for the render thread's cost without clips.
            run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=s=1920x1080 -frames:v 1 " + work +
                "/textures/01" + std::to_string(i) + ".png");
        }
        if (chdir(work.c_str()) != 0) {
            std::abort();
        }
        setenv("LUMETRA_DISPLAY", "headless", 1);
        setenv("LUMETRA_SCREEN", "1920x1080", 1);
        setenv("LUMETRA_REFRESH", "60", 1);
        renderer = std::make_unique<Lumetra::Renderer>();
        for (int i = 0; i < kCanvases; ++i) {
            canvases.push_back(new Lumetra::Canvas("CONTENT_TEXTURE_256"));
            canvases.back()->setPositionX(-8.0f + 4.0f * (i % 5));
            canvases.back()->setPositionY(-4.0f + 2.0f * (i / 5));
            canvases.back()->setScalingX(0.18f);
            canvases.back()->setScalingY(0.18f);
        }
        show(0);
    }
    ~Scene() {
        for (auto* c : canvases) {
            delete c;
        }
        renderer.reset();
        run("rm -rf " + work);
    }
    // Canvas i shows slot first + i % 3: the clips (0) or the stills (10).
    void show(int first) {
        for (int i = 0; i < kCanvases; ++i) {
            canvases[i]->setContentData(first + i % kClips);
        }
    }
    // Render thread CPU seconds per frame over `frames` frames.
    double renderCpuPerFrame(int frames) {
        const double before = threadCpuSeconds();
        for (int i = 0; i < frames; ++i) {
            renderer->drawCanvases(canvases);
        }
        return (threadCpuSeconds() - before) / frames;
    }
    std::string work;
    std::unique_ptr<Lumetra::Renderer> renderer;
    std::vector<Lumetra::Canvas*> canvases;
};

void BM_ThreeClipsWhileRendering(benchmark::State& state) {
    const auto earlier = ClipStats::all();
    Scene scene;
    auto clips = ClipStats::since(earlier.empty() ? 0 : earlier.back()->number);
    // Let the players reach their pace; then the render thread's cost on stills.
    scene.renderCpuPerFrame(120);
    scene.show(10);
    const double still_cpu = scene.renderCpuPerFrame(300);
    scene.show(0);

    std::vector<uint64_t> decoded(clips.size()), shown(clips.size()), dropped(clips.size());
    for (size_t i = 0; i < clips.size(); ++i) {
        decoded[i] = clips[i]->decoded;
        shown[i] = clips[i]->shown;
        dropped[i] = clips[i]->dropped;
    }
    const uint64_t allocations_before = heap_allocations;
    const auto begin = std::chrono::steady_clock::now();
    const double cpu_before = threadCpuSeconds();
    for (auto _ : state) {
        scene.renderer->drawCanvases(scene.canvases);
    }
    const double clip_cpu = (threadCpuSeconds() - cpu_before) / state.iterations();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();

    state.counters["render_fps"] = state.iterations() / seconds;
    uint64_t all_decoded = 0, all_shown = 0;
    for (size_t i = 0; i < clips.size(); ++i) {
        const std::string name = "clip" + std::to_string(i + 1);
        const uint64_t d = clips[i]->decoded - decoded[i];
        const uint64_t s = clips[i]->shown - shown[i];
        state.counters[name + "_decoded_fps"] = d / seconds;
        state.counters[name + "_shown_fps"] = s / seconds;
        state.counters[name + "_dropped_fps"] = (clips[i]->dropped - dropped[i]) / seconds;
        all_decoded += d;
        all_shown += s;
    }
    state.counters["heap_allocations_per_shown_picture"] =
        all_shown ? double(heap_allocations - allocations_before) / all_shown : 0;
    state.counters["shown_per_decoded"] = all_decoded ? double(all_shown) / all_decoded : 0;
    state.counters["render_ms_stills"] = 1000.0 * still_cpu;
    state.counters["render_ms_clips"] = 1000.0 * clip_cpu;
    const double new_pictures_per_frame = double(all_shown) / state.iterations();
    state.counters["render_us_per_new_clip_picture"] =
        new_pictures_per_frame > 0 ? 1e6 * (clip_cpu - still_cpu) / new_pictures_per_frame : 0;
}

BENCHMARK(BM_ThreeClipsWhileRendering)->Unit(benchmark::kMillisecond)->Iterations(600);

}  // namespace

BENCHMARK_MAIN();
