// Feeds arbitrary datagrams to the E1.31 packet check and the source table, and verifies
// what they did: only a well-formed data packet of our universe is taken, its slots lie
// inside the datagram, and the table writes the frame only from it. Synchronization
// packets are taken only well formed and for a universe other than 0.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "sacn_packet.h"
#include "sacn_source_table.h"

namespace {

constexpr size_t RECEIVE_BUFFER = 1024;  // a longer datagram is cut by the socket read
constexpr uint8_t UNTOUCHED = 0xA5;

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::chrono::steady_clock::time_point fake_now;

void examineAs(const uint8_t* data, int len, int universe) {
    Lumetra::SacnDataPacket packet;
    std::memset(&packet, UNTOUCHED, sizeof(packet));
    Lumetra::SacnPacketKind kind = Lumetra::examineSacnPacket(data, len, universe, &packet);
    if (kind == Lumetra::SACN_IGNORED) {
        return;
    }
    check(len >= 126 && len <= Lumetra::SACN_MAX_PACKET_SIZE);
    check(((data[113] << 8) | data[114]) == universe);
    check(data[125] == 0 && (data[112] & 0x80) == 0);
    check(packet.priority >= 0 && packet.priority <= Lumetra::SACN_MAX_PRIORITY);
    check(packet.slot_count == len - 126 && packet.slots == data + 126);
    check(std::memcmp(packet.cid, data + 22, 16) == 0);
    check(packet.sync_address == ((data[109] << 8) | data[110]));
    check(packet.force_sync == ((data[112] & 0x20) != 0));

    // The table takes the packet once; the same sequence number again is a repeat.
    Lumetra::SacnSourceTable table([] { return fake_now; });
    uint8_t frame[Lumetra::SACN_MAX_SLOTS];
    std::memset(frame, UNTOUCHED, sizeof(frame));
    const bool is_data = kind == Lumetra::SACN_DMX;
    check(table.take(kind, packet, frame) == (is_data ? packet.slot_count : 0));
    for (int i = 0; i < Lumetra::SACN_MAX_SLOTS; ++i) {
        check(frame[i] == (is_data && i < packet.slot_count ? packet.slots[i] : UNTOUCHED));
    }
    check(table.take(kind, packet, frame) == 0 && table.outOfOrder() == (is_data ? 1u : 0u));
    fake_now += std::chrono::seconds(3);
    check(table.expire(frame) == 0 && table.sourceCount() == 0);
}

}  // namespace

void examineSync(const uint8_t* data, int len) {
    int address = -1;
    if (!Lumetra::examineSacnSync(data, len, &address)) {
        check(address == -1);
        return;
    }
    check(len >= 49 && len <= Lumetra::SACN_MAX_PACKET_SIZE);
    check(address == ((data[45] << 8) | data[46]));
    check(address >= Lumetra::SACN_MIN_UNIVERSE && address <= Lumetra::SACN_MAX_UNIVERSE);
    check(data[21] == 0x08 && data[43] == 0x01);
    Lumetra::SacnDataPacket packet;
    check(Lumetra::examineSacnPacket(data, len, address, &packet) == Lumetra::SACN_IGNORED);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int len = static_cast<int>(size < RECEIVE_BUFFER ? size : RECEIVE_BUFFER);
    examineAs(data, len, 1);
    examineSync(data, len);
    if (len > 114) {
        // Also as a node of the packet's own universe, so the deeper layers are reached.
        int universe = (data[113] << 8) | data[114];
        if (universe != 1) {
            examineAs(data, len, universe);
        }
    }
    return 0;
}
