// Several fixtures on one desk: the full Port-Address and ArtSync, over loopback to a
// receiver whose listener cycles the test runs itself, and the hold's own clock rules.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "dmx_input/artnet_probe.h"
#include "dmx_input/artnet_test_support.h"
#include "dmx_input/sacn_test_support.h"
#include "dmx_sync_hold.h"

namespace Lumetra {
namespace {

using ArtnetTest::artDmx;
using ArtnetTest::artSync;
using ArtnetTest::Bytes;

class RigSync : public ::testing::Test {
  protected:
    void start(int net, int subnet, int universe, int sacn_universe = 0) {
        probe.reset();
        receiver.reset();
        ArtnetReceiverProbe::Settings settings;
        settings.screen = screen.manager();
        settings.canvases_id = screen.groupId();
        settings.subnet = static_cast<unsigned>(subnet);
        settings.universe = static_cast<unsigned>(universe);
        settings.identity.net = net;
        settings.sacn_universe = sacn_universe;
        settings.identity.sacn_follows = true;
        settings.identity.config_path = scratch.file("config.txt");
        receiver.reset(ArtnetReceiverProbe::create(settings));
        probe = std::make_unique<ArtnetReceiverProbe>(receiver.get());
    }
    void SetUp() override { start(0, 0, 0); }
    // Picture `picture` on canvas 0, from the desk's address unless told otherwise.
    void cue(int picture, int net = 0, int sub_uni = 0) {
        desk.send(artDmx(sub_uni, 2, {static_cast<unsigned char>(picture), 255}, net));
    }
    // One listener cycle; the picture canvas 0 shows afterwards.
    int shown() {
        probe->cycle();
        return screen.canvases()[0]->getContentData();
    }

    ArtnetTest::ScratchDir scratch;
    ArtnetTest::HeadlessScreen screen{1};
    ArtnetTest::Sender desk{"127.0.0.1"};
    std::unique_ptr<ArtnetReceiver> receiver;
    std::unique_ptr<ArtnetReceiverProbe> probe;
};

// Port-Address 256 (Net 1) is not universe 0 of Net 0, and the reverse.
TEST_F(RigSync, ArtDmxOfAnotherNetIsIgnored) {
    cue(7);
    EXPECT_EQ(shown(), 7);
    cue(9, 1);
    EXPECT_EQ(shown(), 7) << "a Net-1 frame reached a Net-0 fixture";
    start(1, 2, 3);
    cue(11, 1, 0x23);
    EXPECT_EQ(shown(), 11);
    cue(12, 0, 0x23);
    cue(13, 2, 0x23);
    EXPECT_EQ(shown(), 11);
}

TEST_F(RigSync, AfterAnArtSyncEachFrameWaitsForTheNextSync) {
    cue(1);
    EXPECT_EQ(shown(), 1) << "before any sync, frames apply at once";
    desk.send(artSync());
    EXPECT_EQ(shown(), 1);
    cue(2);
    EXPECT_EQ(shown(), 1) << "shown before its sync";
    ArtnetTest::Sender other("127.0.0.7");
    other.send(artSync());
    EXPECT_EQ(shown(), 1) << "released by another controller's sync";
    cue(3);  // only the newest frame is shown at the sync
    desk.send(artSync());
    EXPECT_EQ(shown(), 3);
    // A frame and its sync drained in one cycle are shown in that cycle.
    cue(4);
    desk.send(artSync());
    EXPECT_EQ(shown(), 4);
    cue(5);
    EXPECT_EQ(shown(), 4);
}

// A desk re-patches the fixture to Net 1, subnet 2, universe 3: ArtDmx follows at once,
// and so does sACN, which without SACN_UNIVERSE= is the Port-Address + 1 (291 + 1).
TEST_F(RigSync, ArtAddressMovesArtnetAndTheFollowingSacnUniverse) {
    start(0, 0, 0, 1);
    Bytes patch = ArtnetTest::artAddress();
    patch[12] = 0x81;
    patch[104] = 0x82;
    patch[100] = 0x83;
    desk.send(patch);
    shown();
    cue(21, 1, 0x23);
    EXPECT_EQ(shown(), 21);
    cue(22);
    EXPECT_EQ(shown(), 21) << "the old address still drives the fixture";
    ArtnetTest::SacnFields sacn;
    sacn.universe = 292;
    sacn.sequence = 1;
    sacn.slots = {23, 255};
    desk.send(ArtnetTest::sacnData(sacn), "127.0.0.1", 5568);
    EXPECT_EQ(shown(), 23);
    EXPECT_NE(ArtnetTest::readFile(scratch.file("config.txt")).find("NET=1"), std::string::npos);
}

// A desk that stops sending ArtSync: after 4 s the held frame shows and frames apply at
// once again.
TEST_F(RigSync, FourSecondsWithoutArtSyncReturnToImmediate) {
    cue(1);
    desk.send(artSync());
    cue(6);
    EXPECT_EQ(shown(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    EXPECT_EQ(shown(), 1) << "released before 4 s";
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(shown(), 6);
    cue(7);
    EXPECT_EQ(shown(), 7);
}

// The hold's clock rules, with time points the test chooses.
TEST(DmxSyncHoldRules, FourSecondsWithoutSyncReturnToImmediateWithTheHeldFrameFirst) {
    DmxSyncHold hold;
    unsigned char live[512] = {};
    const auto t0 = DmxSyncHold::Clock::time_point() + std::chrono::hours(1);
    const uint32_t desk = 0x0a000001;
    EXPECT_FALSE(hold.sync(desk, live, t0)) << "a sync before any frame is nobody's";
    EXPECT_EQ(hold.frameFor(live, t0), live);
    EXPECT_TRUE(hold.offered(desk));
    EXPECT_FALSE(hold.sync(desk, live, t0));
    unsigned char* held = hold.frameFor(live, t0);
    ASSERT_NE(held, live);
    held[0] = 42;
    EXPECT_FALSE(hold.offered(desk));
    EXPECT_FALSE(hold.expire(live, t0 + std::chrono::milliseconds(3999)));
    EXPECT_EQ(live[0], 0);
    EXPECT_TRUE(hold.expire(live, t0 + std::chrono::seconds(4)));
    EXPECT_EQ(live[0], 42) << "the held frame is applied when the syncs stop";
    EXPECT_EQ(hold.frameFor(live, t0 + std::chrono::seconds(5)), live);
    EXPECT_TRUE(hold.offered(desk));
}

}  // namespace
}  // namespace Lumetra
