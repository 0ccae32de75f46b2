// Which sACN source drives the frame, on a clock the test moves: priority, newest packet,
// silence, stream termination, the sequence rule and the table's fixed size.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "dmx_input/sacn_test_support.h"
#include "sacn_source_table.h"

namespace Lumetra {
namespace {

using ArtnetTest::cidNumber;
using std::chrono::milliseconds;

class SacnSources : public ::testing::Test {
  protected:
    // Source n sends `value` in its first `count` slots.
    int send(int n, int priority, uint8_t value, int count = 4, SacnPacketKind kind = SACN_DMX) {
        int& seq = sequence[n];
        return sendWithSequence(n, priority, value, static_cast<uint8_t>(++seq), count, kind);
    }
    int sendWithSequence(int n, int priority, uint8_t value, uint8_t seq, int count = 4,
                         SacnPacketKind kind = SACN_DMX) {
        std::vector<uint8_t> slots(static_cast<size_t>(count), value);
        SacnDataPacket packet{};
        ArtnetTest::Cid cid = cidNumber(n);
        std::copy(cid.begin(), cid.end(), packet.cid);
        packet.priority = priority;
        packet.sequence = seq;
        packet.slot_count = count;
        packet.slots = slots.data();
        return table.take(kind, packet, frame);
    }
    int terminate(int n, int priority) { return send(n, priority, 0xee, 4, SACN_TERMINATED); }
    void advance(int ms) { now += milliseconds(ms); }

    std::chrono::steady_clock::time_point now{};
    SacnSourceTable table{[this] { return now; }};
    uint8_t frame[512] = {};
    int sequence[4096] = {};
};

TEST_F(SacnSources, HighestPriorityWinsWhateverTheOrder) {
    EXPECT_TRUE(send(1, 100, 11));
    EXPECT_TRUE(send(2, 150, 22));
    EXPECT_EQ(frame[0], 22);
    EXPECT_FALSE(send(1, 100, 12)) << "the lower source writes nothing";
    EXPECT_EQ(frame[0], 22);
    EXPECT_EQ(send(2, 150, 23), 4) << "slots written";
    EXPECT_EQ(frame[3], 23);
    EXPECT_EQ(frame[4], 0);
    EXPECT_EQ(table.sourceCount(), 2);
}

TEST_F(SacnSources, AtEqualPriorityTheNewestPacketWins) {
    send(1, 100, 11);
    send(2, 100, 22);
    EXPECT_EQ(frame[0], 22);
    EXPECT_TRUE(send(1, 100, 13));
    EXPECT_EQ(frame[0], 13);
}

TEST_F(SacnSources, SilentWinnerIsDroppedAfterTwoAndAHalfSecondsAndTheNextTakesOver) {
    send(1, 50, 11, 8);
    send(2, 150, 22, 4);
    for (int t = 0; t < 2400; t += 100) {
        advance(100);
        send(1, 50, 12, 8);
        EXPECT_FALSE(table.expire(frame));
    }
    EXPECT_EQ(frame[0], 22);
    advance(100);  // 2.5 s since source 2 was last heard
    EXPECT_EQ(table.expire(frame), 8);
    EXPECT_EQ(table.sourceCount(), 1);
    EXPECT_EQ(frame[0], 12) << "the remaining source's own slots, without waiting for it";
    EXPECT_EQ(frame[7], 12);
}

TEST_F(SacnSources, LastSourceGoingLeavesTheFrameAsItWas) {
    send(1, 100, 33, 6);
    advance(2499);
    EXPECT_FALSE(table.expire(frame));
    EXPECT_EQ(table.sourceCount(), 1);
    advance(1);
    EXPECT_FALSE(table.expire(frame)) << "nothing to write";
    EXPECT_EQ(table.sourceCount(), 0);
    EXPECT_EQ(frame[5], 33);
}

TEST_F(SacnSources, StreamTerminationDropsTheSourceAtOnceAndIgnoresItsData) {
    send(1, 100, 11);
    send(2, 200, 22);
    EXPECT_TRUE(terminate(2, 200));
    EXPECT_EQ(frame[0], 11) << "the other source takes over, the terminating data is unused";
    EXPECT_EQ(table.sourceCount(), 1);
    EXPECT_FALSE(terminate(1, 100));
    EXPECT_EQ(table.sourceCount(), 0);
    EXPECT_EQ(frame[0], 11);
    EXPECT_FALSE(terminate(3, 100)) << "an unknown source terminating changes nothing";
    EXPECT_EQ(table.sourceCount(), 0);
}

TEST_F(SacnSources, LateAndRepeatedPacketsAreDiscardedBySequence) {
    EXPECT_TRUE(sendWithSequence(1, 100, 10, 100));
    EXPECT_FALSE(sendWithSequence(1, 100, 11, 100)) << "repeat";
    EXPECT_FALSE(sendWithSequence(1, 100, 12, 81)) << "19 behind";
    EXPECT_EQ(frame[0], 10);
    EXPECT_TRUE(sendWithSequence(1, 100, 13, 80)) << "20 behind: a restarted source";
    EXPECT_TRUE(sendWithSequence(1, 100, 14, 200)) << "any jump forward";
    EXPECT_EQ(table.outOfOrder(), 2u);
}

TEST_F(SacnSources, SequenceWrapsAroundAtTwoHundredFiftySix) {
    EXPECT_TRUE(sendWithSequence(1, 100, 10, 250));
    EXPECT_TRUE(sendWithSequence(1, 100, 11, 3));
    EXPECT_FALSE(sendWithSequence(1, 100, 12, 252)) << "behind across the wrap";
    EXPECT_EQ(frame[0], 11);
}

TEST_F(SacnSources, SequenceIsKeptPerSource) {
    EXPECT_TRUE(sendWithSequence(1, 100, 10, 50));
    EXPECT_TRUE(sendWithSequence(2, 100, 20, 49));
    EXPECT_EQ(frame[0], 20);
}

TEST_F(SacnSources, SlotsBeyondAShortPacketKeepTheirValues) {
    send(1, 100, 11, 10);
    send(1, 100, 12, 3);
    EXPECT_EQ(frame[2], 12);
    EXPECT_EQ(frame[3], 11);
}

TEST_F(SacnSources, WinnerLoweringItsPriorityHandsOver) {
    send(1, 100, 11);
    send(2, 150, 22);
    EXPECT_TRUE(send(2, 50, 23));
    EXPECT_EQ(frame[0], 11);
}

TEST_F(SacnSources, FloodOfNewIdentifiersCannotGrowTheTableOrUnseatTheWinner) {
    send(0, 150, 77);
    for (int n = 1; n < 4000; ++n) {
        send(n, 100, 1);
    }
    EXPECT_EQ(table.sourceCount(), SacnSourceTable::MAX_SOURCES);
    EXPECT_GT(table.refusedSources(), 3900u);
    EXPECT_TRUE(send(0, 150, 78));
    EXPECT_EQ(frame[0], 78);
    // The flood stops; its sources time out while the winner keeps sending.
    for (int t = 0; t < 30; ++t) {
        advance(100);
        send(0, 150, 79);
        table.expire(frame);
    }
    EXPECT_EQ(table.sourceCount(), 1);
    EXPECT_TRUE(send(4001, 200, 90)) << "room for a new source again";
}

// A desk above everything else wins even when the table is full; one at the lowest tracked
// priority or below is refused. Newcomers that keep outbidding each other only ever
// replace entries, so the table stays at its size.
TEST_F(SacnSources, FullTableGivesAHigherPriorityNewcomerTheLowestEntry) {
    for (int n = 1; n <= 40; ++n) {
        send(n, 100, 1);
    }
    EXPECT_EQ(table.refusedSources(), 40u - SacnSourceTable::MAX_SOURCES);
    EXPECT_FALSE(send(100, 100, 5)) << "equal to the lowest: refused";
    EXPECT_FALSE(send(100, 90, 5));
    EXPECT_EQ(frame[0], 1);
    EXPECT_EQ(send(101, 150, 150), 4) << "the desk takes the canvas with its first packet";
    EXPECT_EQ(frame[0], 150);
    EXPECT_EQ(table.sourceCount(), SacnSourceTable::MAX_SOURCES);
    for (int n = 200; n < 3200; ++n) {
        send(n, 100 + n / 100, 3);
    }
    EXPECT_EQ(table.sourceCount(), SacnSourceTable::MAX_SOURCES);
    EXPECT_EQ(frame[0], 150) << "the desk is never the lowest entry";
    EXPECT_TRUE(send(101, 150, 151));
    EXPECT_EQ(frame[0], 151);
}

}  // namespace
}  // namespace Lumetra
