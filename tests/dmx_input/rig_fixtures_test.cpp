// Two real fixtures, each in a network namespace of its own, and one desk that sends each
// cue with ArtSync: neither shows a cue before its sync, both show it after.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dmx_input/artnet_test_support.h"
#include "dmx_input/netns_support.h"
#include "support/snapshot_program.h"
#include "support/test_support.h"

namespace Lumetra {
namespace {

using ArtnetTest::InNetns;
using ArtnetTest::NetnsPair;
using Clock = std::chrono::steady_clock;

constexpr int WIDTH = 32;
constexpr int HEIGHT = 18;

// The red channel at the centre of the next frame: 255 for picture 1 (red), 0 for
// picture 2 (blue), -1 without a snapshot.
int centreRed(LumetraTest::SnapshotProgram& program) {
    const std::vector<uint8_t> frame = program.nextFrame();
    return frame.empty() ? -1 : frame[4 * ((HEIGHT / 2) * WIDTH + WIDTH / 2)];
}

ArtnetTest::Bytes cue(int picture) {
    ArtnetTest::Bytes canvas(20, 0);
    canvas[0] = static_cast<unsigned char>(picture);
    canvas[1] = 255;
    canvas[2] = canvas[3] = 128;
    canvas[4] = 255;
    canvas[10] = canvas[11] = canvas[12] = 255;
    canvas[15] = canvas[16] = 127;
    return ArtnetTest::artDmx(0, 20, canvas);
}

TEST(RigFixtures, ArtSyncFromOneDeskAppliesEachCueOnBothAtTheSync) {
    if (!NetnsPair::available()) {
        GTEST_SKIP() << NetnsPair::unavailableReason();
    }
    NetnsPair pair;
    LumetraTest::TempWorkDir dirs[2];
    std::unique_ptr<LumetraTest::SnapshotProgram> fixtures[2];
    const std::string namespaces[2] = {pair.ctl, pair.node};
    for (int i = 0; i < 2; ++i) {
        LumetraTest::writePng(dirs[i].file("textures/001.png"), 1, 1, {255, 0, 0, 255});
        LumetraTest::writePng(dirs[i].file("textures/002.png"), 1, 1, {0, 0, 255, 255});
        // One fixture of each personality: with 32 channels frames reach the render thread
        // as they arrive, and the hold must sit in front of that hand-over too. The cue's
        // 20 channels mean the same in both; the fine, crossfade and glide slots stay 0.
        LumetraTest::writeFile(
            dirs[i].file("config.txt"),
            i == 0 ? "DMX_START=1\nANZAHL=1\n" : "DMX_START=1\nANZAHL=1\nCHANNELS=32\n");
        InNetns in(namespaces[i]);
        fixtures[i] =
            std::make_unique<LumetraTest::SnapshotProgram>(dirs[i].path(), WIDTH, HEIGHT, 60);
        const auto up = Clock::now() + std::chrono::seconds(20);
        while (!LumetraTest::artnetPortTaken() && Clock::now() < up) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    // The desk sits beside fixture 0 and reaches fixture 1 over the veth pair.
    InNetns in_desk(pair.ctl);
    ArtnetTest::Sender desk;
    auto sendToBoth = [&](const ArtnetTest::Bytes& datagram) {
        desk.send(datagram, "127.0.0.1");
        desk.send(datagram, NetnsPair::NODE_IP);
    };
    auto both = [&](int red) {
        return centreRed(*fixtures[0]) == red && centreRed(*fixtures[1]) == red;
    };
    // Cue 1, applied at once: no sync has come yet.
    const auto end = Clock::now() + std::chrono::seconds(20);
    while (!both(255) && Clock::now() < end) {
        sendToBoth(cue(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(both(255)) << "cue 1 never showed on both";
    for (int round = 0; round < 3; ++round) {
        const int next = round % 2 == 0 ? 2 : 1;
        sendToBoth(ArtnetTest::artSync());
        sendToBoth(cue(next));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // six listener cycles
        const int held = next == 2 ? 255 : 0;
        EXPECT_TRUE(both(held)) << "round " << round << ": a cue showed before its sync";
        sendToBoth(ArtnetTest::artSync());
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        EXPECT_TRUE(both(255 - held)) << "round " << round << ": the sync did not apply it";
    }
    for (auto& fixture : fixtures) {
        fixture->stop();
    }
}

}  // namespace
}  // namespace Lumetra
