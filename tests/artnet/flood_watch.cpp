#include "artnet/flood_watch.h"

#include "artnet/artnet_test_support.h"

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

}  // namespace ArtnetTest
}  // namespace Lumetra
