// The 32-channel personality's render-thread side, on plain canvases (no drawing):
// smoothness of a desk's 16-bit move under glide 1 against the 20-channel personality's
// 50 ms listener cycle, and the cost of mapping and gliding 16 canvases per frame.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "canvas/canvas.h"
#include "dmx_frame_mapper.h"

namespace {

using Lumetra::Canvas;
using Lumetra::DmxFrame;
using Lumetra::DmxFrameMapper;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr double WIDTH_PX = 1920.0;
constexpr double MOVE_SECONDS = 8.0;  // the desk moves x from 0 to 65535 in this time
constexpr double DESK_HZ = 30.0;
constexpr double JITTER_S = 0.005;
constexpr double REFRESH_HZ = 60.0;

// The desk's 16-bit position at time t, and where it puts the picture's centre in pixels
// (m = 1: x from -10 to +10 view units across the width).
double deskValue(double t) {
    return std::clamp(t / MOVE_SECONDS, 0.0, 1.0) * 65535.0;
}
double pixels(double view_x) {
    return (view_x + 10.0) / 20.0 * WIDTH_PX;
}
double idealPixels(double t) {
    return pixels((deskValue(t) / 256.0 - 128.0) * 20.0 / 256.0);
}

struct Track {
    std::vector<double> times;  // frame times, s
    std::vector<double> drawn;  // picture centre per frame, px
};

// A desk frame: the fader's value at the desk's 30 Hz tick, arriving up to 5 ms early or
// late (seeded: every run the same).
struct DeskFrame {
    double tick;
    double arrival;
};

std::vector<DeskFrame> deskTimes() {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> jitter(-JITTER_S, JITTER_S);
    std::vector<DeskFrame> times;
    for (int i = 0; i * (1.0 / DESK_HZ) < MOVE_SECONDS + 0.5; ++i) {
        const double tick = i / DESK_HZ;
        times.push_back({tick, tick + (i > 0 ? jitter(random) : 0.0)});
    }
    return times;
}

// The 32-channel personality: the newest desk frame is mapped at each frame's start.
Track thirtyTwo(const std::vector<DeskFrame>& desk) {
    Canvas canvas("CONTENT_TEXTURE_256");
    DmxFrameMapper mapper({&canvas}, 1, 1.0f, 16.0f / 9.0f);
    const Clock::time_point zero = Clock::now();
    auto at = [zero](double s) {
        return zero + std::chrono::duration_cast<Clock::duration>(Seconds(s));
    };
    DmxFrame frame;
    frame.slots[29] = 1;  // glide: follow the desk
    Track track;
    size_t next = 0;
    for (double t = 0; t < MOVE_SECONDS; t += 1.0 / REFRESH_HZ) {
        bool fresh = false;
        while (next < desk.size() && desk[next].arrival <= t) {
            const int v = static_cast<int>(deskValue(desk[next].tick));
            frame.slots[2] = static_cast<unsigned char>(v >> 8);
            frame.slots[21] = static_cast<unsigned char>(v & 255);
            frame.arrival = at(desk[next].arrival);
            fresh = true;
            ++next;
        }
        mapper.frameStart(fresh ? &frame : nullptr, at(t));
        track.times.push_back(t);
        track.drawn.push_back(pixels(canvas.getPositionX()));
    }
    return track;
}

// The 20-channel personality: every 50 ms the listener maps the coarse byte of the newest
// desk frame; frames draw whatever was mapped last.
Track twenty(const std::vector<DeskFrame>& desk) {
    Track track;
    double mapped = pixels(-10.0);
    double next_cycle = 0.013;  // any phase
    size_t next = 0;
    int coarse = 0;
    for (double t = 0; t < MOVE_SECONDS; t += 1.0 / REFRESH_HZ) {
        while (next_cycle <= t) {
            while (next < desk.size() && desk[next].arrival <= next_cycle) {
                coarse = static_cast<int>(deskValue(desk[next].tick)) >> 8;
                ++next;
            }
            mapped = pixels((coarse - 128) * 20.0 / 256.0);
            next_cycle += 0.050;
        }
        track.times.push_back(t);
        track.drawn.push_back(mapped);
    }
    return track;
}

// Worst and mean distance (px) from the ideal path delayed by the lag that fits best, and
// the share of frames that repeat the previous frame's position, during the move.
void report(benchmark::State& state, const Track& track) {
    double best_max = 1e9, best_mean = 0, best_lag = 0;
    for (double lag = 0; lag <= 0.150; lag += 0.0005) {
        double worst = 0, sum = 0;
        int n = 0;
        for (size_t i = 0; i < track.times.size(); ++i) {
            const double t = track.times[i];
            if (t < 0.5 || t > MOVE_SECONDS - 0.5) {
                continue;  // the start and the end of the move
            }
            const double d = std::fabs(track.drawn[i] - idealPixels(t - lag));
            worst = std::max(worst, d);
            sum += d;
            ++n;
        }
        if (worst < best_max) {
            best_max = worst;
            best_mean = sum / n;
            best_lag = lag;
        }
    }
    int repeated = 0, frames = 0;
    for (size_t i = 1; i < track.times.size(); ++i) {
        if (track.times[i] < 0.5 || track.times[i] > MOVE_SECONDS - 0.5) {
            continue;
        }
        ++frames;
        repeated += track.drawn[i] == track.drawn[i - 1];
    }
    state.counters["max_dev_px"] = best_max;
    state.counters["mean_dev_px"] = best_mean;
    state.counters["lag_ms"] = best_lag * 1000;
    state.counters["repeated_pct"] = 100.0 * repeated / frames;
}

void BM_Smoothness(benchmark::State& state) {
    const std::vector<DeskFrame> desk = deskTimes();
    Track track;
    for (auto _ : state) {
        track = state.range(0) == 32 ? thirtyTwo(desk) : twenty(desk);
    }
    report(state, track);
}
BENCHMARK(BM_Smoothness)->ArgName("channels")->Arg(20)->Arg(32)->Iterations(1);

// 16 canvases (the most from address 1), every field changing: a new frame mapped at every
// drawn frame (the worst case, range 1) or only gliding between frames (range 0).
void BM_MapAndGlide16Canvases(benchmark::State& state) {
    std::vector<std::unique_ptr<Canvas>> owned;
    std::vector<Canvas*> canvases;
    for (int i = 0; i < 16; ++i) {
        owned.push_back(std::make_unique<Canvas>("CONTENT_TEXTURE_256"));
        canvases.push_back(owned.back().get());
    }
    DmxFrameMapper mapper(canvases, 1, 1.0f, 16.0f / 9.0f);
    DmxFrame frames[2];
    for (int f = 0; f < 2; ++f) {
        for (int i = 0; i < 512; ++i) {
            frames[f].slots[i] = static_cast<unsigned char>(i * 13 + f * 101);
        }
        for (int c = 0; c < 16; ++c) {
            frames[f].slots[32 * c + 29] = 50;  // glide 500 ms
            frames[f].slots[32 * c + 28] = 0;
        }
    }
    Clock::time_point now = Clock::now();
    const Clock::duration frame_time = std::chrono::microseconds(16667);
    frames[0].arrival = frames[1].arrival = now;
    mapper.frameStart(&frames[0], now);
    int i = 0;
    for (auto _ : state) {
        now += frame_time;
        ++i;
        const bool fresh = state.range(0) == 1 || i % 30 == 0;
        mapper.frameStart(fresh ? &frames[i & 1] : nullptr, now);
        benchmark::DoNotOptimize(canvases[15]->getPositionX());
    }
}
BENCHMARK(BM_MapAndGlide16Canvases)->ArgName("new_frame_each")->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
