// sACN datagrams sent over loopback to a receiver whose listener cycles the test runs
// itself: they reach the canvases in the same cycle as Art-Net, one mapping per cycle.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include "dmx_input/artnet_probe.h"
#include "dmx_input/artnet_test_support.h"
#include "dmx_input/sacn_test_support.h"
#include "sacn_input.h"

namespace Lumetra {
namespace {

using ArtnetTest::Bytes;
using ArtnetTest::sacnData;
using ArtnetTest::SacnFields;

class SacnReceiver : public ::testing::Test {
  protected:
    void SetUp() override { build(1); }
    void build(int sacn_universe) {
        receiver.reset();
        ArtnetReceiverProbe::Settings settings;
        settings.screen = screen.manager();
        settings.canvases_id = screen.groupId();
        settings.sacn_universe = sacn_universe;
        receiver.reset(ArtnetReceiverProbe::create(settings));
        probe = std::make_unique<ArtnetReceiverProbe>(receiver.get());
    }
    void sendSacn(int picture, int start_code = 0, int sequence = -1) {
        fields.start_code = start_code;
        fields.sequence = sequence >= 0 ? sequence : ++next_sequence;
        fields.slots = {static_cast<uint8_t>(picture), 255};
        sender.send(sacnData(fields), "127.0.0.1", 5568);
    }
    void sendArtnet(int picture) { sender.send(ArtnetTest::artDmx({uint8_t(picture), 255})); }
    // Runs one listener cycle; the picture canvas 0 shows afterwards, or -1 when the cycle
    // did not map.
    int cycle() {
        canvas()->setContentData(-1);
        probe->cycle();
        return canvas()->getContentData();
    }
    Canvas* canvas() { return screen.canvases()[0]; }

    ArtnetTest::HeadlessScreen screen{1};
    ArtnetTest::Sender sender;
    std::unique_ptr<ArtnetReceiver> receiver;
    std::unique_ptr<ArtnetReceiverProbe> probe;
    SacnFields fields;
    int next_sequence = 0;
};

TEST_F(SacnReceiver, UnicastDataDrivesTheCanvasesOncePerCycle) {
    ASSERT_NE(probe->sacn(), nullptr);
    ASSERT_TRUE(probe->sacn()->isOpen());
    sendSacn(7);
    sendSacn(8);
    sendSacn(9);
    EXPECT_EQ(cycle(), 9) << "the last of three, one mapping";
    EXPECT_EQ(canvas()->getAlpha(), 1.0f);
    EXPECT_EQ(cycle(), -1) << "nothing new, no mapping";
}

TEST_F(SacnReceiver, AlternateStartCodesPreviewAndForeignDatagramsChangeNothing) {
    sendSacn(5);
    EXPECT_EQ(cycle(), 5);
    sendSacn(40, 0xdd);
    sendSacn(41, 0x17);
    fields.options = 0x80;
    sendSacn(42);
    fields.options = 0;
    fields.universe = 2;
    sendSacn(43);
    fields.universe = 1;
    sender.send(ArtnetTest::sacnSync(1), "127.0.0.1", 5568);
    sender.send(ArtnetTest::sacnDiscovery(1), "127.0.0.1", 5568);
    sender.send(Bytes(700, 0x41), "127.0.0.1", 5568);
    EXPECT_EQ(cycle(), -1);
    EXPECT_EQ(probe->dmx512()[0], 5);
    sendSacn(6);
    EXPECT_EQ(cycle(), 6) << "the drain read past all of them";
}

TEST_F(SacnReceiver, LateSequenceNumbersAreDiscarded) {
    sendSacn(5, 0, 50);
    sendSacn(6, 0, 45);
    EXPECT_EQ(cycle(), 5);
    sendSacn(7, 0, 51);
    EXPECT_EQ(cycle(), 7);
}

TEST_F(SacnReceiver, LaterArrivalWinsBetweenArtnetAndSacnInOneCycle) {
    sendArtnet(30);
    sendSacn(31);
    EXPECT_EQ(cycle(), 31) << "the first meeting: sACN, drained last, wins";
    ASSERT_TRUE(ArtnetTest::waitForArrivalStamps());
    sendSacn(10);
    sendArtnet(20);
    EXPECT_EQ(cycle(), 20);
    sendArtnet(21);
    sendSacn(11);
    EXPECT_EQ(cycle(), 11);
    sendArtnet(22);
    EXPECT_EQ(cycle(), 22);
    sendSacn(12);
    EXPECT_EQ(cycle(), 12);
}

// Forty sources at priority 100 fill the table; a desk at 150 takes the canvas in the
// cycle that reads its first packet.
TEST_F(SacnReceiver, HigherPriorityDeskWinsOverAFullTableWithinOneCycle) {
    for (int n = 0; n < 40; ++n) {
        fields.cid = ArtnetTest::cidNumber(n);
        sendSacn(10);
    }
    EXPECT_EQ(cycle(), 10);
    fields.cid = ArtnetTest::cidNumber(999);
    fields.priority = 150;
    sendSacn(77);
    EXPECT_EQ(cycle(), 77);
    EXPECT_EQ(probe->sacn()->sources().sourceCount(), SacnSourceTable::MAX_SOURCES);
}

// Data naming a sync universe waits for that universe's sync packet; syncs for other
// universes or for 0 release nothing.
TEST_F(SacnReceiver, SynchronizedDataWaitsForItsSyncPacket) {
    sendSacn(5);
    EXPECT_EQ(cycle(), 5);
    fields.sync_address = 9;
    sendSacn(6);
    EXPECT_EQ(cycle(), -1) << "shown before its sync";
    sender.send(ArtnetTest::sacnSync(8), "127.0.0.1", 5568);
    sender.send(ArtnetTest::sacnSync(0), "127.0.0.1", 5568);
    EXPECT_EQ(cycle(), -1);
    sendSacn(7);
    sender.send(ArtnetTest::sacnSync(9), "127.0.0.1", 5568);
    EXPECT_EQ(cycle(), 7);
    fields.sync_address = 0;  // the desk stops synchronizing: at once again
    sendSacn(10);
    EXPECT_EQ(cycle(), 10);
}

TEST_F(SacnReceiver, UniverseZeroLeavesSacnOff) {
    build(0);
    EXPECT_EQ(probe->sacn(), nullptr);
    sendSacn(5);
    EXPECT_EQ(cycle(), -1);
}

TEST_F(SacnReceiver, TakenPortLeavesArtnetRunningWithoutSacn) {
    receiver.reset();
    int holder = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(5568);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    testing::internal::CaptureStderr();
    build(1);
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("sACN: bind(): cannot bind port 5568"), std::string::npos) << said;
    EXPECT_FALSE(probe->sacn()->isOpen());
    sendArtnet(3);
    EXPECT_EQ(cycle(), 3);
    close(holder);
}

}  // namespace
}  // namespace Lumetra
