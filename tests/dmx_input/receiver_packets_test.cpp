// Datagrams sent over loopback to a receiver bound in the test; the test runs the
// listener's cycles itself so that what one cycle takes in is exact.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "dmx_input/artnet_probe.h"
#include "dmx_input/artnet_test_support.h"

namespace Lumetra {
namespace {

using ArtnetTest::artDmx;
using ArtnetTest::artPoll;
using ArtnetTest::Bytes;

class ReceiverPackets : public ::testing::Test {
  protected:
    void start(unsigned int subnet = 0, unsigned int universe = 0) {
        ArtnetReceiverProbe::Settings settings;
        settings.subnet = subnet;
        settings.universe = universe;
        probe.reset();
        receiver.reset();
        receiver.reset(ArtnetReceiverProbe::create(settings));
        probe = std::make_unique<ArtnetReceiverProbe>(receiver.get());
    }
    void SetUp() override { start(); }
    // Sends the datagrams and runs one drain over them.
    bool drain(const std::vector<Bytes>& datagrams) {
        for (const Bytes& datagram : datagrams) {
            sender.send(datagram);
        }
        return probe->receive();
    }
    int slot(int i) { return probe->dmx512()[i]; }

    ArtnetTest::Sender sender;
    std::unique_ptr<ArtnetReceiver> receiver;
    std::unique_ptr<ArtnetReceiverProbe> probe;
};

TEST_F(ReceiverPackets, FrameStartsAllZero) {
    for (int i = 0; i < 512; ++i) {
        ASSERT_EQ(slot(i), 0) << "slot " << i;
    }
}

TEST_F(ReceiverPackets, FullFrameIsCopiedSlotZeroFirst) {
    Bytes data(512);
    for (int i = 0; i < 512; ++i) {
        data[i] = static_cast<unsigned char>(i * 7 + 1);
    }
    EXPECT_TRUE(drain({artDmx(data)}));
    for (int i = 0; i < 512; ++i) {
        ASSERT_EQ(slot(i), data[i]) << "slot " << i;
    }
}

TEST_F(ReceiverPackets, DatagramsOfNineBytesOrFewerAreIgnored) {
    Bytes nine = {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00};
    EXPECT_FALSE(drain({nine}));
    EXPECT_FALSE(drain({Bytes{}}));
    EXPECT_FALSE(drain({}));  // nothing queued at all
}

TEST_F(ReceiverPackets, IdMustEndInItsZeroByte) {
    Bytes packet = artDmx({9, 9});
    packet[7] = '!';
    EXPECT_FALSE(drain({packet}));
    EXPECT_EQ(slot(0), 0);
}

TEST_F(ReceiverPackets, OpCodeIsReadLowByteFirst) {
    Bytes swapped = artDmx({9, 9});
    swapped[8] = 0x50;
    swapped[9] = 0x00;
    EXPECT_FALSE(drain({swapped}));
    EXPECT_EQ(slot(0), 0);
    EXPECT_TRUE(drain({artDmx({9, 9})}));
    EXPECT_EQ(slot(0), 9);
}

TEST_F(ReceiverPackets, OtherOpCodesAndPollRepliesAreIgnored) {
    Bytes reply = artDmx({9, 9});
    reply[9] = 0x21;
    EXPECT_FALSE(drain({reply}));
    EXPECT_EQ(slot(0), 0);
}

TEST_F(ReceiverPackets, EighteenBytesAreIgnoredNineteenWithLengthTwoAccepted) {
    ASSERT_TRUE(drain({artDmx({5, 6, 7})}));
    EXPECT_FALSE(drain({artDmx(0, 2, {})}));  // header alone
    EXPECT_EQ(slot(0), 5);
    // The second declared slot is not carried: it reads as 0, not as the old 6.
    EXPECT_TRUE(drain({artDmx(0, 2, {42})}));
    EXPECT_EQ(slot(0), 42);
    EXPECT_EQ(slot(1), 0);
    EXPECT_EQ(slot(2), 7);
}

TEST_F(ReceiverPackets, LengthMustBeTwoTo512AndOddCountsAreAccepted) {
    Bytes data(600, 77);
    EXPECT_FALSE(drain({artDmx(0, 0, data)}));
    EXPECT_FALSE(drain({artDmx(0, 1, data)}));
    EXPECT_FALSE(drain({artDmx(0, 513, data)}));
    EXPECT_FALSE(drain({artDmx(0, 0xffff, data)}));
    EXPECT_EQ(slot(0), 0);
    EXPECT_TRUE(drain({artDmx(0, 3, {1, 2, 3, 4})}));
    EXPECT_EQ(slot(0), 1);
    EXPECT_EQ(slot(2), 3);
    EXPECT_EQ(slot(3), 0);
}

TEST_F(ReceiverPackets, LengthIsReadHighByteFirst) {
    Bytes data(300, 1);
    EXPECT_TRUE(drain({artDmx(0, 0x012c, data)}));  // 300 slots
    EXPECT_EQ(slot(299), 1);
    EXPECT_EQ(slot(300), 0);
}

TEST_F(ReceiverPackets, ShorterPacketKeepsTheSlotsBeyondIt) {
    ASSERT_TRUE(drain({artDmx(Bytes(512, 200))}));
    EXPECT_TRUE(drain({artDmx(Bytes(24, 3))}));
    EXPECT_EQ(slot(0), 3);
    EXPECT_EQ(slot(23), 3);
    EXPECT_EQ(slot(24), 200);
    EXPECT_EQ(slot(511), 200);
}

TEST_F(ReceiverPackets, DatagramLongerThanTheBufferIsStillAccepted) {
    Bytes packet = artDmx(Bytes(512, 9));
    packet.resize(1400, 0xEE);
    EXPECT_TRUE(drain({packet}));
    EXPECT_EQ(slot(511), 9);
}

// The whole 15-bit Port-Address: a node on Net 0 takes no frame meant for Net 127.
TEST_F(ReceiverPackets, SubUniAndNetMustMatch) {
    start(2, 1);
    EXPECT_TRUE(drain({artDmx(0x21, 2, {1, 1}, 0x00)}));
    EXPECT_FALSE(drain({artDmx(0x21, 2, {2, 2}, 0x7f)}));
    EXPECT_TRUE(drain({artDmx(0x21, 2, {2, 2}, 0x00)}));
    EXPECT_EQ(slot(0), 2);
    EXPECT_FALSE(drain({artDmx(0x12, 2, {3, 3})}));
    EXPECT_FALSE(drain({artDmx(0x20, 2, {3, 3})}));
    EXPECT_FALSE(drain({artDmx(0x11, 2, {3, 3})}));
    EXPECT_EQ(slot(0), 2);
}

// Foreign traffic must not hold our DMX back: the drain reads past it.
TEST_F(ReceiverPackets, IgnoredDatagramsDoNotEndTheDrain) {
    EXPECT_TRUE(drain({artDmx(0x01, 2, {1, 1}), Bytes(40, 0x55), artDmx({2, 2})}));
    EXPECT_EQ(slot(0), 2);
    EXPECT_FALSE(probe->receive());  // nothing left behind
}

// Room for bursts: as root the full 4 MiB asked for (the kernel doubles it for its own
// accounting), otherwise whatever net.core.rmem_max allows.
TEST_F(ReceiverPackets, SocketHasRoomForBursts) {
    std::printf("receive buffer granted: %d bytes\n", probe->receiveBuffer());
    if (getuid() == 0) {
        EXPECT_GE(probe->receiveBuffer(), 2 * (4 << 20));
    } else {
        // Without the privilege the kernel grants up to net.core.rmem_max, doubled.
        const long rmem_max = std::stol("0" + ArtnetTest::readFile("/proc/sys/net/core/rmem_max"));
        EXPECT_GE(probe->receiveBuffer(), 2 * std::min<long>(4 << 20, rmem_max));
    }
}

// A live receiver on one canvas whose listener cycles the test runs itself.
class ReceiverCycle : public ::testing::Test {
  protected:
    ReceiverCycle() {
        ArtnetReceiverProbe::Settings settings;
        settings.screen = screen.manager();
        settings.canvases_id = screen.groupId();
        receiver.reset(ArtnetReceiverProbe::create(settings));
        probe = std::make_unique<ArtnetReceiverProbe>(receiver.get());
    }
    ArtnetTest::HeadlessScreen screen{1};
    std::unique_ptr<ArtnetReceiver> receiver;
    std::unique_ptr<ArtnetReceiverProbe> probe;
};

// Three packets in one cycle are copied in order and the mapping runs once, on the last.
TEST_F(ReceiverCycle, PacketsQueuedInOneCycleAreMappedOnceAsTheLastLeftThem) {
    ArtnetTest::Sender sender;
    sender.send(artDmx(Bytes(20, 10)));
    sender.send(artDmx(Bytes(20, 20)));
    sender.send(artDmx(Bytes(2, 30)));  // leaves slots 2..19 as the second packet set them
    probe->cycle();
    Canvas* canvas = screen.canvases()[0];
    EXPECT_EQ(canvas->getContentData(), 30);
    EXPECT_FLOAT_EQ(canvas->getAlpha(), 30 / 255.0f);
    EXPECT_FLOAT_EQ(canvas->getR(), 20 / 255.0f);
    EXPECT_FALSE(probe->receive()) << "all three were taken in by the first cycle";
}

TEST_F(ReceiverCycle, PollEndsTheCycleAndTheDmxBehindItIsMappedOneCycleLater) {
    ArtnetTest::Sender sender;
    sender.send(artPoll(10));
    sender.send(artDmx({17, 255}));
    probe->cycle();
    Canvas* canvas = screen.canvases()[0];
    EXPECT_EQ(canvas->getContentData(), 0);
    EXPECT_FLOAT_EQ(canvas->getAlpha(), 1.0f);  // untouched since construction
    probe->cycle();
    EXPECT_EQ(canvas->getContentData(), 17);
    EXPECT_FLOAT_EQ(canvas->getAlpha(), 1.0f);  // 255 / 255
}

// However many polls come, the DMX behind them is mapped in the very next cycle: only the
// first answered poll after a full cycle ends a drain; the rest are answered within
// their budget and read past.
TEST_F(ReceiverCycle, ManyPollsDelayTheDmxBehindThemByOneCycleAtMost) {
    Canvas* canvas = screen.canvases()[0];
    ArtnetTest::Sender sender;
    sender.send(artDmx({1, 0}));
    for (int i = 0; i < 40; ++i) {
        sender.send(artPoll());
    }
    sender.send(artDmx({2, 0}));
    probe->cycle();
    EXPECT_EQ(canvas->getContentData(), 1) << "the DMX before the first poll is mapped";
    probe->cycle();
    EXPECT_EQ(canvas->getContentData(), 2);
    EXPECT_FALSE(probe->receive()) << "nothing left but our own replies";

    // After a full cycle a poll ends the cycle again (from another controller: this one
    // has used up its replies).
    ArtnetTest::Sender other("127.0.0.9");
    other.send(artPoll());
    other.send(artDmx({3, 0}));
    probe->cycle();
    EXPECT_EQ(canvas->getContentData(), 2);
    probe->cycle();
    EXPECT_EQ(canvas->getContentData(), 3);
}

}  // namespace
}  // namespace Lumetra
