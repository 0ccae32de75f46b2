// A flood of 100 000 datagrams a second mixing Art-Net and sACN (valid frames, other
// universes, garbage, alternate start codes, preview data and a new source identifier in
// every sixteenth datagram) against a live node while the render loop runs at a display's
// pace. LUMETRA_FLOOD_SECONDS sets the flood's length (default 3).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "artnet/artnet_test_support.h"
#include "artnet/flood_watch.h"
#include "artnet/sacn_test_support.h"
#include "artnet_receiver.h"

namespace Lumetra {
namespace {

using ArtnetTest::artDmx;
using ArtnetTest::Bytes;
using ArtnetTest::sacnData;
using ArtnetTest::SacnFields;
using Clock = std::chrono::steady_clock;

constexpr int UNIVERSE = 1;
constexpr int WINNER_CID = 77;
constexpr int WINNER_PRIORITY = 150;
constexpr int CANVASES = 4;

// Bytes queued on this machine's UDP port, from /proc/net/udp.
long queueBytes(const char* hex_port) {
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

// Picture and ring count stay put: the GL driver's caches grow with every new one it
// draws, which would hide what the node itself does with memory.
std::vector<uint8_t> floodFrame(unsigned long n) {
    std::vector<uint8_t> frame(20 * CANVASES);
    for (size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<uint8_t>(n * 31 + i * 7);
    }
    for (size_t i = 0; i < frame.size(); i += 20) {
        frame[i] = 0;
        frame[i + 7] = 8;
    }
    return frame;
}

SacnFields winner(const std::vector<uint8_t>& slots, int sequence) {
    SacnFields f;
    f.cid = ArtnetTest::cidNumber(WINNER_CID);
    f.priority = WINNER_PRIORITY;
    f.sequence = sequence & 0xff;
    f.universe = UNIVERSE;
    f.slots = slots;
    return f;
}

struct Datagram {
    Bytes bytes;
    int port;
};

// One datagram of the mix. Half are the winner's frames, numbered in sequence; the pool of
// 4096 holds 2048 of them, a whole number of sequence turns, so that it can be replayed.
Datagram floodDatagram(unsigned long n) {
    const std::vector<uint8_t> frame = floodFrame(n);
    SacnFields other;
    other.universe = UNIVERSE;
    other.slots = frame;
    switch (n % 16) {
        case 0:
            return {artDmx(0x01, 80, frame), 6454};  // Art-Net, another universe
        case 1:
            return {Bytes(n % 700, static_cast<unsigned char>(n)), 6454};  // garbage
        case 2:
            other.universe = UNIVERSE + 1;
            return {sacnData(other), 5568};
        case 3:
            return {Bytes(n % 700, static_cast<unsigned char>(n)), 5568};
        case 4: {
            Bytes cut = sacnData(other);
            cut.resize(cut.size() - 1 - n % 50);  // lengths no longer agree
            return {cut, 5568};
        }
        case 5:  // a new source identifier every time, below the winner's priority
            other.cid = ArtnetTest::cidNumber(1000 + static_cast<int>(n));
            other.priority = 50;
            return {sacnData(other), 5568};
        case 6:  // above the winner, but per-address priorities
            other.priority = 200;
            other.start_code = 0xdd;
            return {sacnData(other), 5568};
        case 7:  // above the winner, but preview data
            other.priority = 200;
            other.options = 0x80;
            return {sacnData(other), 5568};
        default:
            return {sacnData(winner(frame, static_cast<int>(n / 16 * 8 + n % 16 - 8))), 5568};
    }
}

std::vector<uint8_t> lastFrame() {
    std::vector<uint8_t> last(20 * CANVASES, 255);
    for (int i = 0; i < CANVASES; ++i) {
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

TEST(SacnFlood, RenderLoopKeepsItsPaceMemoryStaysFlatAndTheWinnersLastFrameShows) {
    const char* seconds_text = std::getenv("LUMETRA_FLOOD_SECONDS");
    const int seconds = seconds_text != nullptr ? std::atoi(seconds_text) : 3;
    setenv("LUMETRA_REFRESH", "60", 1);
    ArtnetTest::HeadlessScreen screen(CANVASES);
    auto receiver = std::make_unique<ArtnetReceiver>(screen.manager(), screen.groupId(), 0, 0, 1,
                                                     1.0f, -1, UNIVERSE);
    // Everything the sender needs is made up front, so that only the node could grow.
    std::vector<Datagram> pool;
    for (unsigned long n = 0; n < 4096; ++n) {
        pool.push_back(floodDatagram(n));
    }
    ArtnetTest::Sender sender;
    ArtnetTest::countFrames(screen.manager(), std::chrono::milliseconds(300));  // warm up
    const int base_frames = ArtnetTest::countFrames(screen.manager(), std::chrono::seconds(1));
    const int fds_before = ArtnetTest::openDescriptors();

    std::atomic<bool> flooding{true};
    std::atomic<unsigned long> sent{0};
    std::thread flood([&] {
        const auto start = Clock::now();
        const auto end = start + std::chrono::seconds(seconds);
        unsigned long n = 0;
        while (Clock::now() < end) {
            for (int i = 0; i < 1000; ++i, ++n) {
                const Datagram& d = pool[n % pool.size()];
                sender.send(d.bytes, "127.0.0.1", d.port);
            }
            std::this_thread::sleep_until(start + std::chrono::microseconds(n * 10));
        }
        sent = n;
        flooding = false;
    });
    const ArtnetTest::FloodWatch watch = ArtnetTest::watchRenderLoop(screen.manager(), flooding);
    const int flood_frames = watch.frames;
    const double flood_seconds = watch.seconds;
    flood.join();

    const auto drain_start = Clock::now();
    while ((queueBytes(":1936") > 0 || queueBytes(":15C0") > 0) &&
           Clock::now() - drain_start < std::chrono::seconds(30)) {
        ArtnetTest::countFrames(screen.manager(), std::chrono::milliseconds(50));
    }
    const double drain_seconds = std::chrono::duration<double>(Clock::now() - drain_start).count();
    // The winner goes on sending its last look, in sequence, as a desk does; a stray
    // source that outlived the flood cannot outrank it.
    const int last_sequence = static_cast<int>((sent.load() - 1) / 16 * 8 + 7);
    for (int i = 1; i <= 40; ++i) {
        sender.send(sacnData(winner(lastFrame(), last_sequence + i)), "127.0.0.1", 5568);
        ArtnetTest::countFrames(screen.manager(), std::chrono::milliseconds(10));
    }
    ArtnetTest::countFrames(screen.manager(), std::chrono::milliseconds(300));

    std::printf(
        "sACN flood: %lu datagrams in %.1f s (%.0f/s); render %d fps before, %.1f fps "
        "during; backlog drained in %.1f s; RSS %ld kB after 1 s, %ld kB at the end\n",
        sent.load(), flood_seconds, sent.load() / flood_seconds, base_frames,
        flood_frames / flood_seconds, drain_seconds, watch.rss_settled, watch.rss_after);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_GE(sent.load() / flood_seconds, 90000.0);
    EXPECT_GE(flood_frames / flood_seconds, 0.5 * base_frames);
#endif
    EXPECT_EQ(ArtnetTest::openDescriptors(), fds_before);
    if (seconds >= 2) {
        EXPECT_LT(watch.rss_after - watch.rss_settled, ArtnetTest::allowedFloodGrowthKb())
            << "kilobytes grown while flooded";
    }

    const float ratio = screen.manager()->getScreenRatio();
    auto canvases = screen.canvases();
    for (int i = 0; i < CANVASES; ++i) {
        Canvas* c = canvases[i];
        EXPECT_EQ(c->getContentData(), 200 + i);
        EXPECT_EQ(c->getAlpha(), 1.0f);
        EXPECT_EQ(c->getPositionX(), 0.0f);
        EXPECT_EQ(c->getScalingX(), 10.0f);
        EXPECT_EQ(c->getScalingY(), 10.0f / ratio);
        EXPECT_EQ(c->getNumber(), 63u);
        EXPECT_EQ(c->getR(), 1.0f);
        EXPECT_EQ(c->getRotation(), 0.0f);
        EXPECT_EQ(c->getShutterSet(), 0);
    }
    receiver.reset();
}

}  // namespace
}  // namespace Lumetra
