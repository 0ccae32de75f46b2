#include "dmx_input/flood_watch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "dmx_input/artnet_test_support.h"

namespace Lumetra {
namespace ArtnetTest {

using Clock = std::chrono::steady_clock;

int countFrames(CanvasManager* screen, std::chrono::milliseconds span) {
    int frames = 0;
    const auto end = Clock::now() + span;
    while (Clock::now() < end) {
        screen->renderFrame();
        ++frames;
    }
    return frames;
}

FloodWatch watchRenderLoop(CanvasManager* screen, const std::atomic<bool>& flooding) {
    FloodWatch watch;
    const auto start = Clock::now();
    while (flooding) {
        watch.frames += countFrames(screen, std::chrono::milliseconds(100));
        if (watch.rss_settled < 0 && Clock::now() - start > std::chrono::seconds(1)) {
            watch.rss_settled = residentKilobytes();
        }
    }
    watch.rss_after = residentKilobytes();
    watch.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return watch;
}

long allowedFloodGrowthKb() {
#if defined(__SANITIZE_ADDRESS__)
    return 32 * 1024;
#else
    return 4 * 1024;
#endif
}

long udpQueueBytes(const char* hex_port) {
    std::ifstream table("/proc/net/udp");
    std::string line;
    std::getline(table, line);
    long total = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues;
        fields >> slot >> local >> remote >> state >> queues;
        if (local.size() > 5 && local.substr(local.size() - 5) == hex_port) {
            total += std::strtol(queues.substr(queues.find(':') + 1).c_str(), nullptr, 16);
        }
    }
    return total;
}

int floodSeconds() {
    const char* text = std::getenv("LUMETRA_FLOOD_SECONDS");
    return text != nullptr ? std::atoi(text) : 3;
}

std::vector<uint8_t> floodFrame(unsigned long n, int canvases) {
    std::vector<uint8_t> frame(20 * static_cast<size_t>(canvases));
    for (size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<uint8_t>(n * 31 + i * 7);
    }
    for (size_t i = 0; i < frame.size(); i += 20) {
        frame[i] = 0;
        frame[i + 7] = 8;
    }
    return frame;
}

FloodRun runFlood(CanvasManager* screen, int seconds,
                  const std::function<void(unsigned long)>& send,
                  const std::vector<const char*>& hex_ports) {
    FloodRun run;
    countFrames(screen, std::chrono::milliseconds(300));  // warm up
    run.base_frames = countFrames(screen, std::chrono::seconds(1));
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        const auto start = Clock::now();
        const auto end = start + std::chrono::seconds(seconds);
        unsigned long n = 0;
        while (Clock::now() < end) {
            for (int i = 0; i < 1000; ++i, ++n) {
                send(n);
            }
            std::this_thread::sleep_until(start + std::chrono::microseconds(n * 10));
        }
        run.sent = n;
        flooding = false;
    });
    run.watch = watchRenderLoop(screen, flooding);
    flood.join();
    // The backlog the kernel kept is drained at the node's own pace.
    const auto drain_start = Clock::now();
    auto queued = [&] {
        long bytes = 0;
        for (const char* port : hex_ports) {
            bytes += udpQueueBytes(port);
        }
        return bytes;
    };
    while (queued() > 0 && Clock::now() - drain_start < std::chrono::seconds(30)) {
        countFrames(screen, std::chrono::milliseconds(50));
    }
    run.drain_seconds = std::chrono::duration<double>(Clock::now() - drain_start).count();
    return run;
}

void expectNodeHeldUp(const char* name, const FloodRun& run, int seconds, int fds_before) {
    const double flood_seconds = run.watch.seconds;
    std::printf(
        "%s: %lu datagrams in %.1f s (%.0f/s); render %d fps before, %.1f fps during; backlog "
        "drained in %.1f s; RSS %ld kB after 1 s, %ld kB at the end\n",
        name, run.sent, flood_seconds, run.sent / flood_seconds, run.base_frames,
        run.watch.frames / flood_seconds, run.drain_seconds, run.watch.rss_settled,
        run.watch.rss_after);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // Loose on purpose: the machine is shared; a stalled render loop would be far below.
    EXPECT_GE(run.watch.frames / flood_seconds, 0.5 * run.base_frames);
#endif
    EXPECT_EQ(openDescriptors(), fds_before);
    if (seconds >= 2) {
        EXPECT_LT(run.watch.rss_after - run.watch.rss_settled, allowedFloodGrowthKb())
            << "kilobytes grown while flooded";
    }
}

std::vector<uint8_t> lastLook(int canvases) {
    std::vector<uint8_t> last(20 * static_cast<size_t>(canvases), 255);
    for (int i = 0; i < canvases; ++i) {
        last[20 * i] = static_cast<uint8_t>(200 + i);
        last[20 * i + 2] = 128;
        last[20 * i + 3] = 128;
        last[20 * i + 6] = 0;
        last[20 * i + 8] = 0;
        last[20 * i + 14] = 0;
        last[20 * i + 15] = 127;
        last[20 * i + 16] = 127;
    }
    return last;
}

void expectLastLook(CanvasManager* screen, const std::vector<Canvas*>& canvases) {
    const float ratio = screen->getScreenRatio();
    for (size_t i = 0; i < canvases.size(); ++i) {
        Canvas* c = canvases[i];
        EXPECT_EQ(c->getContentData(), 200 + static_cast<int>(i));
        EXPECT_EQ(c->getAlpha(), 1.0f);
        EXPECT_EQ(c->getPositionX(), 0.0f);
        EXPECT_EQ(c->getPositionY(), 0.0f);
        EXPECT_EQ(c->getScalingX(), 10.0f);
        EXPECT_EQ(c->getScalingY(), 10.0f / ratio);
        EXPECT_EQ(c->getNumber(), 63u);
        EXPECT_EQ(c->getZoom(), 10.0f);
        EXPECT_EQ(c->getR(), 1.0f);
        EXPECT_EQ(c->getRotation(), 0.0f);
        EXPECT_EQ(c->getRotationAll(), 0.0f);
        EXPECT_EQ(c->getShutterSet(), 0);
    }
}

}  // namespace ArtnetTest
}  // namespace Lumetra
