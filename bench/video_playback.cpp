// Three 1280x720 clips at 30 frames a second playing through the picture slots while the
// render loop draws them offscreen at a 60 Hz pace: decoded and shown frames per second per
// clip, render frames per second, and decoder CPU time per frame against ffmpeg decoding
// the same clip single-threaded to null.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "canvas/canvas.h"
#include "canvas/renderer.h"
#include "platform/mesa/il/video_trace.h"

namespace {

using Lumetra::Platform::Mesa::VideoTrace;

const int kClips = 3;

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

// CPU seconds ffmpeg needs per frame to decode the clip on one thread.
double ffmpegCpuPerFrame(const std::string& clip, int frames) {
    std::string out =
        run("ffmpeg -hide_banner -benchmark -threads 1 -i " + clip + " -f null - 2>&1");
    size_t at = out.find("utime=");
    return at == std::string::npos ? 0 : std::atof(out.c_str() + at + 6) / frames;
}

struct Scene {
    Scene() {
        char dir[] = "/tmp/lumetra-video-bench-XXXXXX";
        work = mkdtemp(dir);
        run("mkdir -p " + work + "/textures");
        clip = work + "/textures/000.h264";
        run("ffmpeg -v error -y -f lavfi -i testsrc2=s=1280x720:r=30:d=10 -c:v libx264 "
            "-preset veryfast -pix_fmt yuv420p -f h264 " +
            clip);
        for (int i = 1; i < kClips; ++i) {
            run("cp " + clip + " " + work + "/textures/00" + std::to_string(i) + ".h264");
        }
        ffmpeg_cpu_per_frame = ffmpegCpuPerFrame(clip, 300);
        if (chdir(work.c_str()) != 0) {
            std::abort();
        }
        setenv("LUMETRA_DISPLAY", "headless", 1);
        setenv("LUMETRA_SCREEN", "1280x720", 1);
        setenv("LUMETRA_REFRESH", "60", 1);
        renderer = std::make_unique<Lumetra::Renderer>();
        for (int i = 0; i < kClips; ++i) {
            canvases.push_back(new Lumetra::Canvas("CONTENT_TEXTURE_256"));
            canvases.back()->setContentData(i);
            canvases.back()->setPositionX(-6.0f + 6.0f * i);
            canvases.back()->setScalingX(0.3f);
            canvases.back()->setScalingY(0.3f);
        }
    }
    ~Scene() {
        for (auto* c : canvases) {
            delete c;
        }
        renderer.reset();
        run("rm -rf " + work);
    }
    std::string work;
    std::string clip;
    double ffmpeg_cpu_per_frame = 0;
    std::unique_ptr<Lumetra::Renderer> renderer;
    std::vector<Lumetra::Canvas*> canvases;
};

void BM_ThreeClipsWhileRendering(benchmark::State& state) {
    Scene scene;
    auto decoders = VideoTrace::decoders();
    auto renderers = VideoTrace::renderers();
    // Let the players reach their pace before measuring.
    for (int i = 0; i < 120; ++i) {
        scene.renderer->drawCanvases(scene.canvases);
    }
    std::vector<uint64_t> decoded_before, shown_before;
    std::vector<int64_t> cpu_before;
    for (size_t i = 0; i < decoders.size(); ++i) {
        decoded_before.push_back(decoders[i]->getFramesDecoded());
        cpu_before.push_back(decoders[i]->getDecodeCpuNs());
    }
    for (auto& r : renderers) {
        shown_before.push_back(r->getFramesWritten());
    }
    auto begin = std::chrono::steady_clock::now();
    for (auto _ : state) {
        scene.renderer->drawCanvases(scene.canvases);
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();

    state.counters["render_fps"] = state.iterations() / seconds;
    double cpu = 0;
    uint64_t decoded = 0;
    for (size_t i = 0; i < decoders.size(); ++i) {
        uint64_t frames = decoders[i]->getFramesDecoded() - decoded_before[i];
        state.counters["clip" + std::to_string(i + 1) + "_decoded_fps"] = frames / seconds;
        decoded += frames;
        cpu += (decoders[i]->getDecodeCpuNs() - cpu_before[i]) / 1e9;
    }
    for (size_t i = 0; i < renderers.size(); ++i) {
        state.counters["clip" + std::to_string(i + 1) + "_shown_fps"] =
            (renderers[i]->getFramesWritten() - shown_before[i]) / seconds;
    }
    state.counters["decode_ms_per_frame"] = decoded ? 1000.0 * cpu / decoded : 0;
    state.counters["ffmpeg_ms_per_frame"] = 1000.0 * scene.ffmpeg_cpu_per_frame;
}

BENCHMARK(BM_ThreeClipsWhileRendering)->Unit(benchmark::kMillisecond)->Iterations(600);

}  // namespace

BENCHMARK_MAIN();
