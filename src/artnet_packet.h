#pragma once

#include <cstdint>
#include <string>

namespace Lumetra {

constexpr int ARTNET_PORT = 6454;
constexpr int ARTNET_DMX_SLOTS = 512;
// Our replies have always been 386 bytes: the standard's fields, then zeros. Controllers
// take a reply at least as long as the fields they read, and those that know this node
// have only ever seen this length, so it stays.
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

// What an ArtPollReply says about this node.
struct ArtPollReplyInfo {
    uint32_t ip = 0;            // host byte order; also the BindIp
    unsigned char mac[6] = {};  // of the interface whose address `ip` is
    int subnet = 0;             // the universe we take DMX for
    int universe = 0;
    bool dmx_arriving = false;
    unsigned int replies = 0;  // replies sent before this one, counted in the NodeReport
    std::string host;          // host name, for a LongName that tells fixtures apart
};

// Fills `out` (ARTNET_POLL_REPLY_SIZE bytes) with our ArtPollReply: a node with one
// DMX512 output port on the configured universe. Bytes the reply does not use are 0.
void buildArtPollReply(const ArtPollReplyInfo& info, unsigned char* out);

}  // namespace Lumetra
