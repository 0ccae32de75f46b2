// Start-up time of the 256 picture slots: decoding on worker threads while the render
// thread uploads, against the same work on the render thread alone. Sets: 256 PNGs of
// 1920x1080, and 16 large animated GIFs. BM_DecodeAheadGifSlots shows what the workers
// hold decoded but not yet uploaded, unbounded (as before the budget) and within budgets.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <stb/stb_image_write.h>

#include "canvas/canvas_content/content_local_file_texture/slot_loader.h"
#include "canvas/renderer.h"

namespace {

std::string makeDir(const char* name) {
    std::string dir = std::string("/tmp/lumetra-bench-") + name;
    std::system(("rm -rf " + dir + " && mkdir -p " + dir + "/textures").c_str());
    return dir;
}

// One picture with real structure (gradients and noise), copied to every slot.
const std::string& pngSet() {
    static std::string dir;
    if (dir.empty()) {
        dir = makeDir("png");
        const int w = 1920, h = 1080;
        std::vector<unsigned char> px(static_cast<size_t>(w) * h * 4);
        unsigned int seed = 1;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                unsigned char* p = &px[(static_cast<size_t>(y) * w + x) * 4];
                seed = seed * 1103515245u + 12345u;
                p[0] = static_cast<unsigned char>(x * 255 / w);
                p[1] = static_cast<unsigned char>(y * 255 / h);
                p[2] = static_cast<unsigned char>((seed >> 16) & 0x3f);
                p[3] = 255;
            }
        }
        const std::string first = dir + "/textures/000.png";
        stbi_write_png(first.c_str(), w, h, 4, px.data(), w * 4);
        for (int i = 1; i < 256; ++i) {
            char name[64];
            std::snprintf(name, sizeof(name), "/textures/%03d.png", i);
            std::system(("cp " + first + " " + dir + name).c_str());
        }
    }
    return dir;
}

const std::string& gifSet() {
    static std::string dir;
    if (dir.empty()) {
        dir = makeDir("gif");
        const std::string first = dir + "/textures/000.gif";
        // A finite source: palettegen reads its whole input before the first frame.
        std::system(("ffmpeg -nostdin -loglevel error -y -f lavfi -i "
                     "testsrc2=size=800x600:rate=10:duration=3 -vf "
                     "'noise=alls=20:allf=t,split[a][b];[a]palettegen[p];[b][p]paletteuse' " +
                     first)
                        .c_str());
        for (int i = 1; i < 16; ++i) {
            char name[64];
            std::snprintf(name, sizeof(name), "/textures/%03d.gif", i);
            std::system(("cp " + first + " " + dir + name).c_str());
        }
    }
    return dir;
}

void loadSlots(benchmark::State& state, const std::string& dir) {
    const int workers = static_cast<int>(state.range(0));
    setenv("LUMETRA_DISPLAY", "headless", 1);
    setenv("LUMETRA_SCREEN", "64x36", 1);
    setenv("LUMETRA_LOAD_THREADS", std::to_string(workers).c_str(), 1);
    if (chdir(dir.c_str()) != 0)
        std::abort();
    for (auto _ : state) {
        {
            Lumetra::Renderer renderer;  // builds the registry, which loads every slot
            glFinish();
            state.PauseTiming();  // tear-down is not start-up
        }
        state.ResumeTiming();
    }
    state.counters["workers"] = workers;
}

void BM_LoadPngSlots(benchmark::State& state) {
    loadSlots(state, pngSet());
}
void BM_LoadGifSlots(benchmark::State& state) {
    loadSlots(state, gifSet());
}

// Decoding only, no GL: every slot is dropped as soon as it is taken, like an upload that
// costs nothing, so the workers run ahead as far as they may. Argument: the in-flight
// budget in MB, 0 for none. Run it alone to read the process's peak memory.
void BM_DecodeAheadGifSlots(benchmark::State& state) {
    const uint64_t budget = static_cast<uint64_t>(state.range(0)) << 20;
    Lumetra::PictureLimits limits =
        Lumetra::PictureLimits::forTotal(16384, budget == 0 ? (1ull << 50) : 2 * budget);
    if (chdir(gifSet().c_str()) != 0)
        std::abort();
    uint64_t peak = 0;
    for (auto _ : state) {
        Lumetra::SlotLoader loader(256, Lumetra::SlotLoader::defaultWorkers(), limits);
        for (int slot = 0; slot < 256; ++slot) {
            Lumetra::DecodedPicture picture = loader.take(slot);
            // An upload of a 57 MB GIF takes a while; the workers go on meanwhile.
            if (picture.gif_buffer != nullptr)
                usleep(500000);
            picture.release();
            loader.uploaded(slot);
        }
        peak = loader.peakInFlight();
    }
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_in_flight_MB"] = static_cast<double>(peak >> 20);
    state.counters["max_rss_MB"] = static_cast<double>(usage.ru_maxrss >> 10);
}
BENCHMARK(BM_DecodeAheadGifSlots)
    ->Arg(0)
    ->Arg(256)
    ->Arg(128)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// 0 workers: everything on the render thread, as a plain sequential loader would.
const int kCores = static_cast<int>(std::thread::hardware_concurrency());
BENCHMARK(BM_LoadPngSlots)->Arg(0)->Arg(kCores)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_LoadGifSlots)->Arg(0)->Arg(kCores)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
