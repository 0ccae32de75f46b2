// Frames at 1920x1080 while snapshots are asked for: the render loop should pay for the
// read-back only, whatever the PNG encoding and the disk cost. Compares frames with no
// request, with a request every frame (merged while one is written) and two a second.

#include <benchmark/benchmark.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/gl.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "canvas/canvas.h"
#include "canvas/renderer.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include "bench_scene.h"

namespace {

using Clock = std::chrono::steady_clock;

// A noisy picture over the whole screen and a few more on top: a frame that does not
// compress to nothing.
struct Scene {
    Scene() {
        work = LumetraBench::enterScratchDir();
        std::vector<unsigned char> noise(256 * 256 * 4);
        std::mt19937 random(7);
        for (auto& b : noise)
            b = static_cast<unsigned char>(random());
        stbi_write_png((work + "/textures/000.png").c_str(), 256, 256, 4, noise.data(), 256 * 4);
        snapshot = work + "/snap.png";
        LumetraBench::drawOffscreenUnpaced("1920x1080");
        setenv("LUMETRA_SNAPSHOT", snapshot.c_str(), 1);
        renderer = std::make_unique<Lumetra::Renderer>();
        for (int i = 0; i < 4; ++i) {
            canvases.push_back(new Lumetra::Canvas("CONTENT_TEXTURE_256"));
            canvases.back()->setScalingX(i == 0 ? 10.0f : 2.0f);
            canvases.back()->setScalingY(i == 0 ? 6.0f : -1.0f);
            canvases.back()->setSpeed(1.0f + i);
            canvases.back()->setAlpha(i == 0 ? 1.0f : 0.5f);
        }
    }
    ~Scene() {
        for (auto* c : canvases)
            delete c;
        renderer.reset();
        std::system(("rm -rf " + work).c_str());
    }
    // Draws one frame; true when a new snapshot file appeared since the last call.
    bool frame() {
        for (auto* c : canvases)
            c->frameStep();
        renderer->drawCanvases(canvases);
        struct stat now {};
        const bool changed =
            stat(snapshot.c_str(), &now) == 0 &&
            (now.st_ino != last.st_ino || now.st_mtim.tv_nsec != last.st_mtim.tv_nsec);
        last = now;
        return changed;
    }
    std::string work;
    std::string snapshot;
    struct stat last {};
    std::unique_ptr<Lumetra::Renderer> renderer;
    std::vector<Lumetra::Canvas*> canvases;
};

Scene& scene() {
    static Scene s;
    return s;
}

// `per_second` requests a second; 0 asks on every frame.
void run(benchmark::State& state, double per_second) {
    Scene& s = scene();
    double longest = 0;
    long snapshots = 0;
    auto next_request = Clock::now();
    for (auto _ : state) {
        auto begin = Clock::now();
        if (per_second == 0 || begin >= next_request) {
            raise(SIGUSR1);
            next_request = begin + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(1.0 / per_second));
        }
        snapshots += s.frame() ? 1 : 0;
        glFinish();
        longest = std::max(longest, std::chrono::duration<double>(Clock::now() - begin).count());
    }
    state.counters["longest_ms"] = longest * 1000.0;
    state.counters["snapshots"] = static_cast<double>(snapshots);
}

void BM_FrameNoSnapshot(benchmark::State& state) {
    Scene& s = scene();
    double longest = 0;
    for (auto _ : state) {
        auto begin = Clock::now();
        s.frame();
        glFinish();
        longest = std::max(longest, std::chrono::duration<double>(Clock::now() - begin).count());
    }
    state.counters["longest_ms"] = longest * 1000.0;
}

void BM_FrameSnapshotTwiceASecond(benchmark::State& state) {
    run(state, 2.0);
}

void BM_FrameSnapshotEveryFrame(benchmark::State& state) {
    run(state, 0.0);
}

BENCHMARK(BM_FrameNoSnapshot)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_FrameSnapshotTwiceASecond)->Unit(benchmark::kMillisecond)->MinTime(5.0);
BENCHMARK(BM_FrameSnapshotEveryFrame)->Unit(benchmark::kMillisecond)->MinTime(5.0);

}  // namespace

BENCHMARK_MAIN();
