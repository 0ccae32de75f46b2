#pragma once

#include <cstdint>

namespace Lumetra {

constexpr int SACN_PORT = 5568;
constexpr int SACN_CID_SIZE = 16;
constexpr int SACN_MIN_UNIVERSE = 1;
constexpr int SACN_MAX_UNIVERSE = 63999;
constexpr int SACN_MAX_PRIORITY = 200;
constexpr int SACN_MAX_SLOTS = 512;
// A data packet carrying the start code and all 512 slots.
constexpr int SACN_MAX_PACKET_SIZE = 638;

enum SacnPacketKind {
    SACN_IGNORED,     // not a well-formed data packet for us: foreign, malformed, another
                      // universe, preview data, an alternate start code, sync or discovery
    SACN_DMX,         // start code 0 data for our universe
    SACN_TERMINATED,  // the source ends its stream of our universe; its data is not used
};

// What a data packet of our universe says. `slots` points into the examined datagram.
struct SacnDataPacket {
    uint8_t cid[SACN_CID_SIZE];
    int priority;
    uint8_t sequence;
    int slot_count;  // DMX slots after the start code, 0 to 512
    const uint8_t* slots;
    int sync_address;  // 0: apply at once; else hold until a sync packet for this universe
    bool force_sync;   // when the syncs stop: apply at once (true) or hold the last look
};

// Examines one datagram of `len` bytes as an E1.31 data packet for `universe`. Only a
// packet whose every layer is well formed and whose lengths agree with `len` is taken;
// for SACN_DMX and SACN_TERMINATED `packet` is filled, otherwise left alone. Reads only
// the `len` bytes of `data`.
SacnPacketKind examineSacnPacket(const uint8_t* data, int len, int universe,
                                 SacnDataPacket* packet);

// Examines one datagram as an E1.31 synchronization packet. True, with the universe it
// synchronizes in `sync_address`, only for a well-formed one whose address is not 0 (which
// the standard reserves). Reads only the `len` bytes of `data`.
bool examineSacnSync(const uint8_t* data, int len, int* sync_address);

// The multicast group 239.255.hi.lo a universe is sent to, in host byte order.
uint32_t sacnMulticastGroup(int universe);

}  // namespace Lumetra
