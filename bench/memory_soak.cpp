// A long show: the built program drives 25 canvases in spinning rings of up to 63 copies
// with every DMX cycle different, over real Art-Net, and its resident memory is watched.
// Run inside a private network namespace (the Art-Net port must be free).
//   LUMETRA_SOAK_SECONDS  length of each run after the warm-up (default 600)
//   LUMETRA_SOAK_WARMUP   warm-up seconds (default 30)
//   LUMETRA_SOAK_SCREEN   WIDTHxHEIGHT of the output (default 1920x1080)
// Counters are in MB; "growth" is the highest resident size after the warm-up minus the
// size at its end.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "dmx_input/artnet_test_support.h"
#include "soak/soak_show.h"

namespace {

using LumetraTest::SoakProgram;

const int kCanvases = 25;

double setting(const char* name, double fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::atof(text) : fallback;
}

void screenSize(int* width, int* height) {
    *width = 1920;
    *height = 1080;
    const char* text = std::getenv("LUMETRA_SOAK_SCREEN");
    if (text != nullptr && std::sscanf(text, "%dx%d", width, height) != 2) {
        *width = 1920;
        *height = 1080;
    }
}

void soak(benchmark::State& state, SoakProgram::Display display) {
    int width = 0, height = 0;
    screenSize(&width, &height);
    for (auto _ : state) {
        Lumetra::ArtnetTest::ScratchDir dir;
        SoakProgram program(dir.path(), display, width, height, kCanvases);
        if (!program.waitUntilListening(120.0)) {
            state.SkipWithError("the program did not start listening");
            return;
        }
        LumetraTest::ChangingDesk desk(kCanvases);
        LumetraTest::SoakFigures f =
            LumetraTest::playShow(program, desk, setting("LUMETRA_SOAK_WARMUP", 30),
                                  setting("LUMETRA_SOAK_SECONDS", 600));
        if (!f.survived) {
            state.SkipWithError("the program ended during the show");
            return;
        }
        const double mb = 1024.0;
        state.counters["start_MB"] = f.start_kb / mb;
        state.counters["warm_MB"] = f.warm_kb / mb;
        state.counters["peak_MB"] = f.peak_kb / mb;
        state.counters["end_MB"] = f.end_kb / mb;
        state.counters["growth_MB"] = (f.peak_kb - f.warm_kb) / mb;
        state.counters["dmx_cycles"] = static_cast<double>(f.cycles);
    }
}

BENCHMARK_CAPTURE(soak, offscreen, SoakProgram::Display::Offscreen)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(soak, x11, SoakProgram::Display::X11)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
