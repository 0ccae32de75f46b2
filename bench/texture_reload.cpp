// Frames while pictures change under the running renderer: four canvases show slots 0..3
// on a paced offscreen display (60 Hz) while another thread renames a new file into one of
// those slots, in turn, every 50 ms (20 files a second) or every 500 ms. Reports the longest
// frame, the frames longer than two refresh periods, the render thread's CPU time per frame,
// and how long a replaced picture took to reach the screen (each slot flips between a red
// and a blue picture; a flip counts when the screen shows what was last put there).
// Pictures of 1920x1080 (JPEG) and 3840x2160 (PNG, uploaded over several frames); 0:
// nothing changes.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <stb/stb_image_write.h>

#include "canvas/canvas.h"
#include "canvas/renderer.h"

namespace {

using Clock = std::chrono::steady_clock;

const int kScreenW = 640;
const int kScreenH = 360;
const int kSlots = 4;
const int kRefresh = 60;

double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

double threadCpuMs() {
    struct timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// A picture with texture (so it compresses like a photo), mostly red or mostly blue.
void writePicture(const std::string& path, int w, int h, bool red) {
    std::vector<unsigned char> px(static_cast<size_t>(w) * h * 3);
    unsigned int seed = red ? 7 : 11;
    for (size_t i = 0; i < px.size(); i += 3) {
        seed = seed * 1103515245u + 12345u;
        const unsigned char noise = static_cast<unsigned char>((seed >> 16) & 0x3f);
        px[i + 0] = red ? 190 + noise / 2 : noise;
        px[i + 1] = static_cast<unsigned char>((i / 3 % w) * 255 / w) / 4;
        px[i + 2] = red ? noise : 190 + noise / 2;
    }
    if (path.find(".jpg") != std::string::npos) {
        stbi_write_jpg(path.c_str(), w, h, 3, px.data(), 90);
    } else {
        stbi_write_png(path.c_str(), w, h, 3, px.data(), w * 3);
    }
}

void BM_FramesWhilePicturesChange(benchmark::State& state) {
    const int height = static_cast<int>(state.range(0));
    const auto change_every = std::chrono::milliseconds(state.range(1));
    const int width = height * 16 / 9;
    const std::string ext = height > 1080 ? ".png" : ".jpg";
    char dir[] = "/tmp/lumetra-bench-reload-XXXXXX";
    const std::string work = mkdtemp(dir);
    std::system(("mkdir -p " + work + "/textures " + work + "/pool").c_str());
    if (chdir(work.c_str()) != 0) {
        std::abort();
    }
    const std::string pool[2] = {"pool/red" + ext, "pool/blue" + ext};
    writePicture(pool[0], std::max(width, 16), std::max(height, 9), true);
    writePicture(pool[1], std::max(width, 16), std::max(height, 9), false);
    for (int s = 0; s < kSlots; ++s) {
        std::system(("cp " + pool[0] + " textures/00" + std::to_string(s) + ext).c_str());
    }
    setenv("LUMETRA_DISPLAY", "headless", 1);
    setenv("LUMETRA_SCREEN", (std::to_string(kScreenW) + "x" + std::to_string(kScreenH)).c_str(),
           1);
    setenv("LUMETRA_REFRESH", std::to_string(kRefresh).c_str(), 1);
    auto renderer = std::make_unique<Lumetra::Renderer>();
    std::vector<std::unique_ptr<Lumetra::Canvas>> canvases;
    std::vector<Lumetra::Canvas*> list;
    for (int s = 0; s < kSlots; ++s) {
        canvases.push_back(std::make_unique<Lumetra::Canvas>("CONTENT_TEXTURE_256"));
        canvases.back()->setContentData(s);
        canvases.back()->setPositionX(-7.5f + 5.0f * s);
        canvases.back()->setScalingX(2.0f);
        list.push_back(canvases.back().get());
    }

    // What the replacer last put into each slot, and when: red (true) or blue.
    std::mutex lock;
    bool wanted[kSlots] = {true, true, true, true};
    Clock::time_point changed_at[kSlots];
    bool seen_red[kSlots] = {true, true, true, true};
    std::atomic<bool> stop{false};
    std::thread replacer([&] {
        if (height == 0) {
            return;
        }
        int n = 0;
        while (!stop.load()) {
            const int slot = n % kSlots;
            const bool red = (n / kSlots) % 2 == 1;
            const std::string name = "textures/00" + std::to_string(slot) + ext;
            std::system(("cp " + pool[red ? 0 : 1] + " " + name + ".part").c_str());
            {
                std::lock_guard<std::mutex> guard(lock);
                std::rename((name + ".part").c_str(), name.c_str());
                wanted[slot] = red;
                changed_at[slot] = Clock::now();
            }
            ++n;
            std::this_thread::sleep_for(change_every);
        }
    });

    std::vector<double> frames, frame_cpu, latencies;
    for (auto _ : state) {
        const Clock::time_point end = Clock::now() + std::chrono::seconds(4);
        Clock::time_point last = Clock::now();
        while (Clock::now() < end) {
            const double cpu_before = threadCpuMs();
            renderer->drawCanvases(list);
            frames.push_back(msSince(last));
            frame_cpu.push_back(threadCpuMs() - cpu_before);
            last = Clock::now();
            for (int s = 0; s < kSlots; ++s) {
                unsigned char p[4];
                const int x = static_cast<int>((-7.5f + 5.0f * s + 10.0f) / 20.0f * kScreenW);
                glReadPixels(x, kScreenH / 2, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
                const bool red = p[0] > p[2];
                std::lock_guard<std::mutex> guard(lock);
                if (red != seen_red[s] && red == wanted[s]) {
                    latencies.push_back(
                        std::chrono::duration<double, std::milli>(Clock::now() - changed_at[s])
                            .count());
                }
                seen_red[s] = red;
            }
        }
    }
    stop = true;
    replacer.join();
    renderer.reset();
    if (chdir("/tmp") != 0) {
        std::abort();
    }
    std::system(("rm -rf " + work).c_str());

    const double period = 1000.0 / kRefresh;
    // The first frame waits for the display's pace to begin and draws every picture for the
    // first time.
    frames.erase(frames.begin());
    frame_cpu.erase(frame_cpu.begin());
    state.counters["frames"] = static_cast<double>(frames.size());
    state.counters["max_frame_ms"] = *std::max_element(frames.begin(), frames.end());
    state.counters["over_2_periods"] = static_cast<double>(
        std::count_if(frames.begin(), frames.end(), [&](double f) { return f > 2 * period; }));
    // The render thread's own work per frame, whatever else the machine runs.
    double cpu_sum = 0;
    for (double c : frame_cpu) {
        cpu_sum += c;
    }
    state.counters["render_cpu_ms_mean"] = cpu_sum / static_cast<double>(frame_cpu.size());
    state.counters["render_cpu_ms_max"] = *std::max_element(frame_cpu.begin(), frame_cpu.end());
    state.counters["render_cpu_over_half_period"] = static_cast<double>(std::count_if(
        frame_cpu.begin(), frame_cpu.end(), [&](double c) { return c > period / 2; }));
    state.counters["pictures_shown"] = static_cast<double>(latencies.size());
    if (!latencies.empty()) {
        std::sort(latencies.begin(), latencies.end());
        state.counters["latency_median_ms"] = latencies[latencies.size() / 2];
        state.counters["latency_max_ms"] = latencies.back();
    }
}

BENCHMARK(BM_FramesWhilePicturesChange)
    ->Args({0, 50})
    ->Args({1080, 50})
    ->Args({1080, 500})
    ->Args({2160, 50})
    ->Args({2160, 500})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
