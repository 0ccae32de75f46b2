// The E1.31 packet check on datagrams given as bytes: what it takes from a well-formed data
// packet, and that any one malformed field makes it ignore the whole datagram.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "dmx_input/sacn_test_support.h"
#include "sacn_packet.h"

namespace Lumetra {
namespace {

using ArtnetTest::sacnData;
using ArtnetTest::SacnFields;
using Bytes = std::vector<uint8_t>;

// A data packet as a desk sends it for universe 1, carrying the start code and 3 slots.
const uint8_t REFERENCE[] = {
    // Root layer
    0x00, 0x10,                                                     // preamble size
    0x00, 0x00,                                                     // post-amble size
    'A', 'S', 'C', '-', 'E', '1', '.', '1', '7', 0x00, 0x00, 0x00,  // ACN packet identifier
    0x70, 0x71,                                                     // flags 0x7, length 113
    0x00, 0x00, 0x00, 0x04,                                         // VECTOR_ROOT_E131_DATA
    0xc0, 0xff, 0xee, 0x00, 0x11, 0x22, 0x33, 0x44,                 // CID
    0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc,                 //
    // Framing layer
    0x70, 0x5b,                                              // flags 0x7, length 91
    0x00, 0x00, 0x00, 0x02,                                  // VECTOR_E131_DATA_PACKET
    'D', 'e', 's', 'k', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // source name, 64 bytes
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,          //
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,          //
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,          //
    150,                                                     // priority
    0x00, 0x00,                                              // synchronization address: none
    42,                                                      // sequence number
    0x00,                                                    // options: no preview, not terminated
    0x00, 0x01,                                              // universe 1
    // DMP layer
    0x70, 0x0e,  // flags 0x7, length 14
    0x02,        // VECTOR_DMP_SET_PROPERTY
    0xa1,        // address type and data type
    0x00, 0x00,  // first property address
    0x00, 0x01,  // address increment
    0x00, 0x04,  // property value count: start code and 3 slots
    0x00,        // start code 0
    10, 20, 30,  // slots 1 to 3
};

SacnPacketKind examine(const Bytes& p, int universe = 1) {
    SacnDataPacket packet{};
    return examineSacnPacket(p.data(), static_cast<int>(p.size()), universe, &packet);
}

Bytes reference() {
    return Bytes(REFERENCE, REFERENCE + sizeof(REFERENCE));
}

TEST(SacnPacket, ReferencePacketGivesItsSourcePrioritySequenceAndSlots) {
    SacnDataPacket packet{};
    ASSERT_EQ(examineSacnPacket(REFERENCE, sizeof(REFERENCE), 1, &packet), SACN_DMX);
    EXPECT_EQ(packet.cid[0], 0xc0);
    EXPECT_EQ(packet.cid[15], 0xcc);
    EXPECT_EQ(packet.priority, 150);
    EXPECT_EQ(packet.sequence, 42);
    ASSERT_EQ(packet.slot_count, 3);
    EXPECT_EQ(packet.slots, REFERENCE + 126);
    EXPECT_EQ(packet.slots[2], 30);
}

TEST(SacnPacket, FullAndStartCodeOnlyPacketsAreTaken) {
    SacnFields f;
    f.slots.assign(512, 0x7f);
    SacnDataPacket packet{};
    Bytes full = sacnData(f);
    ASSERT_EQ(full.size(), 638u);
    EXPECT_EQ(examineSacnPacket(full.data(), 638, 1, &packet), SACN_DMX);
    EXPECT_EQ(packet.slot_count, 512);
    f.slots.clear();
    Bytes empty = sacnData(f);
    EXPECT_EQ(examineSacnPacket(empty.data(), static_cast<int>(empty.size()), 1, &packet),
              SACN_DMX);
    EXPECT_EQ(packet.slot_count, 0);
}

TEST(SacnPacket, AnyMalformedFieldMakesTheDatagramIgnored) {
    struct Change {
        const char* what;
        size_t at;
        uint8_t value;
    };
    const Change changes[] = {
        {"preamble size", 1, 0x11},
        {"post-amble size", 3, 0x01},
        {"ACN identifier", 8, 'X'},
        {"ACN identifier padding", 15, 0x01},
        {"root flags", 16, 0x60},
        {"root length", 17, 0x6c},
        {"root vector (extended)", 21, 0x08},
        {"framing flags", 38, 0xf0},
        {"framing length", 39, 0x58},
        {"framing vector", 43, 0x01},
        {"priority above 200", 108, 201},
        {"universe", 114, 0x02},
        {"DMP flags", 115, 0x30},
        {"DMP length", 116, 0x0d},
        {"DMP vector", 117, 0x01},
        {"address and data type", 118, 0xa2},
        {"first property address", 120, 0x01},
        {"address increment", 122, 0x02},
        {"value count", 124, 0x03},
        {"value count zero", 124, 0x00},
    };
    for (const Change& c : changes) {
        Bytes p = reference();
        p[c.at] = c.value;
        EXPECT_EQ(examine(p), SACN_IGNORED) << c.what;
    }
}

TEST(SacnPacket, LengthsMustAgreeWithTheDatagramSize) {
    Bytes longer = reference();
    longer.push_back(40);  // one byte more than every layer declares
    EXPECT_EQ(examine(longer), SACN_IGNORED);
    Bytes cut = reference();
    cut.pop_back();
    EXPECT_EQ(examine(cut), SACN_IGNORED);
    // Consistent lengths but a value count above 513.
    SacnFields f;
    f.slots.assign(513, 1);
    EXPECT_EQ(examine(sacnData(f)), SACN_IGNORED);
    EXPECT_EQ(examine(Bytes(REFERENCE, REFERENCE + 125)), SACN_IGNORED);
    EXPECT_EQ(examine(Bytes()), SACN_IGNORED);
}

TEST(SacnPacket, AlternateStartCodesAndPreviewDataAreIgnored) {
    SacnFields f;
    f.slots = {1, 2, 3};
    for (int code : {0xdd, 0x17, 0xcc, 0x01}) {
        f.start_code = code;
        EXPECT_EQ(examine(sacnData(f)), SACN_IGNORED) << "start code " << code;
    }
    f.start_code = 0;
    f.options = 0x80;
    EXPECT_EQ(examine(sacnData(f)), SACN_IGNORED) << "preview";
    f.options = 0xc0;
    EXPECT_EQ(examine(sacnData(f)), SACN_IGNORED) << "preview that terminates";
}

TEST(SacnPacket, TerminatedBitIsReportedAndOtherOptionBitsDoNotMatter) {
    SacnFields f;
    f.slots = {9};
    f.options = 0x40;
    EXPECT_EQ(examine(sacnData(f)), SACN_TERMINATED);
    f.options = 0x20 | 0x1f;  // force synchronization and the reserved bits
    EXPECT_EQ(examine(sacnData(f)), SACN_DMX);
}

TEST(SacnPacket, PriorityRangeAndUniverseMatch) {
    SacnFields f;
    f.slots = {9};
    for (int priority : {0, 100, 200}) {
        f.priority = priority;
        EXPECT_EQ(examine(sacnData(f)), SACN_DMX) << priority;
    }
    f.universe = 63999;
    EXPECT_EQ(examine(sacnData(f), 63999), SACN_DMX);
    EXPECT_EQ(examine(sacnData(f), 1), SACN_IGNORED);
    f.universe = 257;  // differs from 1 only in the high byte
    EXPECT_EQ(examine(sacnData(f), 1), SACN_IGNORED);
}

TEST(SacnPacket, SyncAndDiscoveryPacketsAreIgnored) {
    EXPECT_EQ(examine(ArtnetTest::sacnSync(1)), SACN_IGNORED);
    EXPECT_EQ(examine(ArtnetTest::sacnDiscovery(1)), SACN_IGNORED);
    EXPECT_EQ(examine(ArtnetTest::sacnDiscovery(1), 64214), SACN_IGNORED);
}

TEST(SacnPacket, MulticastGroupHoldsTheUniverseInItsLowTwoBytes) {
    EXPECT_EQ(sacnMulticastGroup(1), 0xefff0001u);
    EXPECT_EQ(sacnMulticastGroup(256), 0xefff0100u);
    EXPECT_EQ(sacnMulticastGroup(63999), 0xeffff9ffu);
}

}  // namespace
}  // namespace Lumetra
