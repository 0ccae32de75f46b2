// The real program driven by a desk-like stream (44 Hz) while polls or junk pour in: every
// picture change must show, and soon. The latencies and the rates reached are printed.
// A change shows after at most one listener cycle (50 ms) and a frame; the deadline leaves
// room for a loaded machine and a sanitizer build, while a change held back for a cycle too
// many, for a second or for good still fails.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "dmx_input/artnet_test_support.h"
#include "dmx_input/one_canvas_fixture.h"
#include "dmx_input/desk_traffic.h"
#include "dmx_input/sacn_test_support.h"
#include "support/snapshot_program.h"
#include "support/test_support.h"

namespace Lumetra {
namespace {

using ArtnetTest::Background;
using ArtnetTest::Bytes;
using ArtnetTest::Clock;
using ArtnetTest::Desk;

constexpr int WIDTH = 64;
constexpr int HEIGHT = 36;
constexpr int CHANGES = 8;
const auto DEADLINE = std::chrono::milliseconds(400);

// Datagrams the kernel dropped at a UDP port (hex, as in /proc/net/udp) for want of room.
long udpDrops(const std::string& hex_port) {
    std::ifstream table("/proc/net/udp");
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string word, local;
        fields >> word >> local;
        if (local.size() > 5 && local.substr(local.size() - 5) == ":" + hex_port) {
            long drops = -1;
            while (fields >> word) {
                drops = std::strtol(word.c_str(), nullptr, 10);  // the last column
            }
            return drops;
        }
    }
    return -1;
}

const char ARTNET_HEX[] = "1936";
const char SACN_HEX[] = "15C0";

// Column of the centre of the bright pixels; -1 when nothing is lit.
double litCentre(const std::vector<uint8_t>& rgba) {
    int left = WIDTH, right = -1;
    for (int y = 0; y < HEIGHT; ++y) {
        for (int x = 0; x < WIDTH; ++x) {
            if (rgba[4 * (y * WIDTH + x)] > 128) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    return right < 0 ? -1 : (left + right + 1) / 2.0;
}

// The desk's frames as sACN, numbered in sequence, on the universe the fixture takes by
// default for Art-Net's universe 3 (16 x subnet + universe + 1).
ArtnetTest::FrameEncoder sacnFrames() {
    auto sequence = std::make_shared<int>(0);
    return [sequence](const Bytes& slots) {
        ArtnetTest::SacnFields f;
        f.universe = 4;
        f.sequence = (*sequence)++ & 0xff;
        f.slots = slots;
        return ArtnetTest::sacnData(f);
    };
}

// Slots of universe 3 from address 5: one white square, left (x 16) or right (x 48).
Bytes frameAt(bool right) {
    Bytes slots(24, 0);
    unsigned char* c = slots.data() + 4;
    c[1] = 255;               // alpha
    c[2] = right ? 192 : 64;  // position
    c[3] = 128;
    c[4] = 26;  // 2 of the view's 20 units wide
    c[10] = c[11] = c[12] = 255;
    c[15] = c[16] = 127;  // no spin
    return slots;
}

class DeskLatency : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!ArtnetTest::artnetPortFree()) {
            GTEST_SKIP() << "UDP 6454 is taken";
        }
        program = ArtnetTest::startOneCanvasFixture(dir, {std::vector<uint8_t>(16 * 16 * 4, 255)},
                                                    WIDTH, HEIGHT, 60);
        ASSERT_NE(program, nullptr);
    }
    void TearDown() override { program.reset(); }

    // Moves the square from side to side CHANGES times; each change must show. Returns
    // the milliseconds from the desk's first send of a change to the first frame with it.
    std::vector<double> moveBackAndForth(Background& background, bool sacn = false) {
        std::unique_ptr<Desk> desk =
            sacn ? std::make_unique<Desk>(sacnFrames(), ArtnetTest::SACN_PORT, frameAt(false))
                 : std::make_unique<Desk>(0x03, frameAt(false));
        std::vector<double> latencies;
        bool right = false;
        // The first look settles the start: the square on the left.
        waitForSide(false, Clock::now() + std::chrono::seconds(5));
        for (int i = 0; i < CHANGES; ++i) {
            right = !right;
            const Clock::time_point sent = desk->change(frameAt(right));
            const Clock::time_point seen = waitForSide(right, sent + DEADLINE);
            if (seen == Clock::time_point{}) {
                ADD_FAILURE() << "change " << i << " did not show within " << DEADLINE.count()
                              << " ms";
                continue;
            }
            latencies.push_back(std::chrono::duration<double, std::milli>(seen - sent).count());
        }
        std::sort(latencies.begin(), latencies.end());
        std::printf("latency ms:");
        for (double l : latencies) {
            std::printf(" %.0f", l);
        }
        std::printf("; background %lu datagrams, %.0f/s reached\n", background.sent(),
                    background.rate());
        return latencies;
    }

    // Time of the first frame showing the square on that side; zero when none did in time.
    Clock::time_point waitForSide(bool right, Clock::time_point deadline) {
        while (Clock::now() < deadline) {
            std::vector<uint8_t> frame = program->nextFrame();
            const Clock::time_point at = Clock::now();
            if (frame.empty()) {
                continue;
            }
            const double centre = litCentre(frame);
            if (centre >= 0 && (centre > WIDTH / 2.0) == right) {
                return at;
            }
        }
        return {};
    }

    ArtnetTest::ScratchDir dir;
    std::unique_ptr<LumetraTest::SnapshotProgram> program;
};

TEST_F(DeskLatency, PollsFromSeveralControllersDoNotHoldTheDeskBack) {
    Background polls(Background::polls(), 200, 8);
    EXPECT_EQ(moveBackAndForth(polls).size(), static_cast<size_t>(CHANGES));
}

// Under a flood the node must keep its queue from overflowing: once full, the kernel
// drops the desk's DMX with the junk. A node that reads only once per cycle loses nine
// in ten; one starved of CPU by a loaded machine may lose some.
void expectFewDrops(const char* hex_port, long drops_before, const Background& flood) {
    const long dropped = udpDrops(hex_port) - drops_before;
    std::printf("kernel dropped %ld of %lu flood datagrams\n", dropped, flood.sent());
    EXPECT_LE(dropped, static_cast<long>(flood.sent() / 2));
}

TEST_F(DeskLatency, FloodOfJunkOfAnySizeDoesNotHoldTheDeskBack) {
    const long drops = udpDrops(ARTNET_HEX);
    Background junk(Background::junk(65000), 80000);
    EXPECT_EQ(moveBackAndForth(junk).size(), static_cast<size_t>(CHANGES));
    expectFewDrops(ARTNET_HEX, drops, junk);
}

TEST_F(DeskLatency, FloodOfSmallJunkDoesNotHoldTheDeskBack) {
    const long drops = udpDrops(ARTNET_HEX);
    Background junk(Background::junk(20), 80000);
    EXPECT_EQ(moveBackAndForth(junk).size(), static_cast<size_t>(CHANGES));
    expectFewDrops(ARTNET_HEX, drops, junk);
}

// The same for a desk sending sACN while junk floods the sACN port: that socket too must
// be read while the listener waits between cycles.
TEST_F(DeskLatency, FloodOfJunkOnTheSacnPortDoesNotHoldAnSacnDeskBack) {
    const long drops = udpDrops(SACN_HEX);
    Background junk(Background::junk(65000), 80000, 1, ArtnetTest::SACN_PORT);
    EXPECT_EQ(moveBackAndForth(junk, true).size(), static_cast<size_t>(CHANGES));
    expectFewDrops(SACN_HEX, drops, junk);
}

}  // namespace
}  // namespace Lumetra
