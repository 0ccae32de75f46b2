// A long show: the built program drives 25 canvases in spinning rings of up to 63 copies
// with every DMX cycle different, over real Art-Net, and its resident memory is watched;
// in the "web" run, ten browsers come and go on its web page all the while.
// Run inside a private network namespace (the Art-Net port must be free).
//   LUMETRA_SOAK_SECONDS  length of each run after the warm-up (default 600)
//   LUMETRA_SOAK_WARMUP   warm-up seconds (default 30)
//   LUMETRA_SOAK_SCREEN   WIDTHxHEIGHT of the output (default 1920x1080)
// Counters are in MB; "growth" is the highest resident size after the warm-up minus the
// size at its end.

#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "dmx_input/artnet_test_support.h"
#include "soak/soak_show.h"
#include "support/http_client.h"

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

// Browsers that come and go as a page is opened and closed: each visit holds the event
// stream open for one to six seconds, fetching the preview four times a second and the
// status once a second as the page does, then leaves for up to a second.
class Visitors {
  public:
    Visitors(int port, int count) {
        for (int i = 0; i < count; ++i) {
            threads.emplace_back([this, port, i] { visit(port, static_cast<unsigned>(i)); });
        }
    }
    ~Visitors() {
        stop = true;
        for (std::thread& t : threads) {
            t.join();
        }
    }
    long visits() const { return count.load(); }

  private:
    void visit(int port, unsigned seed) {
        std::mt19937 random(seed);
        while (!stop) {
            const auto leave = std::chrono::steady_clock::now() +
                               std::chrono::milliseconds(1000 + random() % 5000);
            const int events = LumetraTest::tcpConnect(port);
            const std::string get = "GET /api/events HTTP/1.1\r\nHost: x\r\n\r\n";
            send(events, get.data(), get.size(), MSG_NOSIGNAL);
            char buffer[65536];
            auto next = std::chrono::steady_clock::now();
            int previews = 0;
            while (!stop && std::chrono::steady_clock::now() < leave) {
                pollfd p{events, POLLIN, 0};
                if (poll(&p, 1, 10) > 0 && read(events, buffer, sizeof(buffer)) <= 0) {
                    break;
                }
                if (std::chrono::steady_clock::now() < next) {
                    continue;
                }
                next += std::chrono::milliseconds(250);
                LumetraTest::httpRequest(port, "GET", "/api/preview");
                if (previews++ % 4 == 0) {
                    LumetraTest::httpRequest(port, "GET", "/api/status");
                }
            }
            close(events);
            ++count;
            std::this_thread::sleep_for(std::chrono::milliseconds(random() % 1000));
        }
    }

    std::atomic<bool> stop{false};
    std::atomic<long> count{0};
    std::vector<std::thread> threads;
};

void soak(benchmark::State& state, SoakProgram::Display display, int browsers) {
    int width = 0, height = 0;
    screenSize(&width, &height);
    for (auto _ : state) {
        Lumetra::ArtnetTest::ScratchDir dir;
        const int port = LumetraTest::freeTcpPort();
        SoakProgram program(dir.path(), display, width, height, kCanvases,
                            "WEB_PORT=" + std::to_string(port) + "\n");
        if (!program.waitUntilListening(120.0)) {
            state.SkipWithError("the program did not start listening");
            return;
        }
        std::unique_ptr<Visitors> visitors;
        if (browsers > 0) {
            visitors = std::make_unique<Visitors>(port, browsers);
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
        if (visitors) {
            state.counters["web_visits"] = static_cast<double>(visitors->visits());
        }
    }
}

BENCHMARK_CAPTURE(soak, offscreen, SoakProgram::Display::Offscreen, 0)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(soak, offscreen_web, SoakProgram::Display::Offscreen, 10)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(soak, x11, SoakProgram::Display::X11, 0)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
