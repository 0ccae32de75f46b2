#pragma once

#include <cstdint>

namespace Lumetra {

constexpr int ARTNET_PORT = 6454;
constexpr int ARTNET_DMX_SLOTS = 512;
constexpr int ARTNET_POLL_REPLY_SIZE = 386;

enum ArtnetPacketKind {
    ARTNET_IGNORED,  // not Art-Net, too short, another OpCode, universe or bad Length
    ARTNET_POLL,     // OpPoll: the caller answers it
    ARTNET_DMX,      // OpDmx of our universe: its slots are now in the frame
};

// Examines one datagram of `len` bytes. An ArtDmx packet of the given subnet and universe
// has its declared slots copied into `dmx512`; slots it declares but does not carry become
// 0, slots beyond its Length keep their values. Reads only the `len` bytes of `data`.
ArtnetPacketKind examineArtnetPacket(const unsigned char* data, int len, int subnet, int universe,
                                     unsigned char* dmx512);

// Fills `out` (ARTNET_POLL_REPLY_SIZE bytes) with our ArtPollReply for the node address
// `ip`, given in host byte order.
void buildArtPollReply(uint32_t ip, unsigned char* out);

}  // namespace Lumetra
