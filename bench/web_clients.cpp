// The render thread's frame time while browsers watch the web page: none, and ten clients
// each with the DMX/status event stream open and fetching the preview four times a
// second (as the page does). Also the preview's age when it is sent (read back to answer).
// The fixture's web server, preview and DMX copy are the real ones, in this process, over
// real HTTP on the loopback.

#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "canvas/canvas.h"
#include "canvas/frame_snapshot.h"
#include "canvas/renderer.h"
#include "dmx_frame_copy.h"
#include "platform/gl.h"
#include "bench_scene.h"
#include "support/http_client.h"
#include "web/preview_frames.h"
#include "web/web_server.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Scene {
    Scene() {
        work = LumetraBench::enterScratchDir();
        LumetraBench::drawOffscreenUnpaced("1280x720");
        renderer = std::make_unique<Lumetra::Renderer>();
        for (int i = 0; i < 4; ++i) {
            canvases.push_back(new Lumetra::Canvas("CONTENT_TEXTURE_256"));
            canvases.back()->setScalingX(2.0f + i);
            canvases.back()->setScalingY(-1.0f);
            canvases.back()->setSpeed(1.0f + i);
            canvases.back()->setAlpha(0.7f);
        }
        Lumetra::FrameSnapshot::setSink(&preview);
        port = LumetraTest::freeTcpPort();
        Lumetra::WebSettings settings;
        settings.port = port;
        Lumetra::WebServer::Fixture fixture;
        fixture.dmx = &dmx;
        fixture.fps = &fps;
        fixture.preview = &preview;
        fixture.config_path = work + "/config.txt";
        server = std::make_unique<Lumetra::WebServer>(settings, fixture);
        // A desk sending 40 frames a second.
        desk = std::thread([this] {
            unsigned char values[512] = {};
            while (!stopping) {
                ++values[0];
                dmx.publish(values, "Art-Net", nullptr);
                std::this_thread::sleep_for(std::chrono::milliseconds(25));
            }
        });
    }
    ~Scene() {
        stopping = true;
        desk.join();
        server.reset();
        Lumetra::FrameSnapshot::setSink(nullptr);
        for (auto* c : canvases)
            delete c;
        renderer.reset();
        std::system(("rm -rf " + work).c_str());
    }
    void frame() {
        for (auto* c : canvases)
            c->frameStep();
        renderer->drawCanvases(canvases);
    }
    std::string work;
    int port = 0;
    std::atomic<bool> stopping{false};
    std::atomic<float> fps{60.0f};
    Lumetra::DmxFrameCopy dmx;
    Lumetra::PreviewFrames preview;
    std::unique_ptr<Lumetra::Renderer> renderer;
    std::unique_ptr<Lumetra::WebServer> server;
    std::vector<Lumetra::Canvas*> canvases;
    std::thread desk;
};

Scene& scene() {
    static Scene s;
    return s;
}

// One browser: the event stream drained as it comes, the preview four times a second.
struct Client {
    Client(int port, std::atomic<bool>* stop, std::vector<long>* ages, std::mutex* lock)
        : thread([=] {
              const int events = LumetraTest::tcpConnect(port);
              const std::string get = "GET /api/events HTTP/1.1\r\nHost: x\r\n\r\n";
              send(events, get.data(), get.size(), MSG_NOSIGNAL);
              auto next = Clock::now();
              char buffer[65536];
              while (!stop->load()) {
                  pollfd p{events, POLLIN, 0};
                  if (poll(&p, 1, 10) > 0 && read(events, buffer, sizeof(buffer)) <= 0)
                      break;
                  if (Clock::now() >= next) {
                      next += std::chrono::milliseconds(250);
                      const LumetraTest::HttpReply reply =
                          LumetraTest::httpRequest(port, "GET", "/api/preview");
                      const std::string age = reply.header("X-Lumetra-Frame-Age-Ms");
                      if (!age.empty()) {
                          std::lock_guard<std::mutex> hold(*lock);
                          ages->push_back(std::atol(age.c_str()));
                      }
                  }
              }
              close(events);
          }) {}
    std::thread thread;
};

void BM_FrameWithWebClients(benchmark::State& state) {
    Scene& s = scene();
    std::atomic<bool> stop{false};
    std::vector<long> ages;
    std::mutex lock;
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < state.range(0); ++i)
        clients.push_back(std::make_unique<Client>(s.port, &stop, &ages, &lock));
    const unsigned captures_before = s.preview.captures();
    double longest = 0;
    for (auto _ : state) {
        const auto begin = Clock::now();
        s.frame();
        glFinish();
        longest = std::max(longest, std::chrono::duration<double>(Clock::now() - begin).count());
    }
    stop = true;
    for (auto& client : clients)
        client->thread.join();
    state.counters["longest_ms"] = longest * 1000.0;
    state.counters["read_backs"] = s.preview.captures() - captures_before;
    if (!ages.empty()) {
        long sum = 0;
        for (long age : ages)
            sum += age;
        state.counters["preview_age_mean_ms"] = static_cast<double>(sum) / ages.size();
        state.counters["preview_age_max_ms"] = *std::max_element(ages.begin(), ages.end());
        state.counters["previews"] = static_cast<double>(ages.size());
    }
}

// A fixed count: frames are unpaced, and a time-based count grows to minutes.
BENCHMARK(BM_FrameWithWebClients)->Arg(0)->Arg(10)->Unit(benchmark::kMillisecond)->Iterations(3000);

}  // namespace

BENCHMARK_MAIN();
