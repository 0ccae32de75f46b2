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
    ARTNET_SYNC,     // OpSync: a desk's cue to show the frames sent before it
    ARTNET_ADDRESS,  // OpAddress: a desk renames or re-patches the node
};

constexpr int ARTNET_MAX_NET = 127;
constexpr int ARTNET_SHORT_NAME_SIZE = 18;  // with its closing zero byte
constexpr int ARTNET_LONG_NAME_SIZE = 64;

// Examines one datagram of `len` bytes. An ArtDmx packet of the given Net, subnet and
// universe (its 15-bit Port-Address) has its declared slots copied into `dmx512`; slots it
// declares but does not carry become 0, slots beyond its Length keep their values. Reads
// only the `len` bytes of `data`.
ArtnetPacketKind examineArtnetPacket(const unsigned char* data, int len, int net, int subnet,
                                     int universe, unsigned char* dmx512);
// The same for a node on Net 0.
inline ArtnetPacketKind examineArtnetPacket(const unsigned char* data, int len, int subnet,
                                            int universe, unsigned char* dmx512) {
    return examineArtnetPacket(data, len, 0, subnet, universe, dmx512);
}

// What an ArtAddress asks of the node. Fields the desk left unchanged are -1 (numbers) or
// empty (names); the names are cut at their first zero byte and their field's size.
struct ArtAddressRequest {
    int net = -1;  // 0..127
    int subnet = -1;
    int universe = -1;
    bool subnet_reset = false;  // back to the value the node started with
    bool universe_reset = false;
    std::string short_name;
    std::string long_name;
    int command = 0;  // AcNone
};

constexpr int ARTNET_COMMAND_LED_NORMAL = 0x02;
constexpr int ARTNET_COMMAND_LED_MUTE = 0x03;
constexpr int ARTNET_COMMAND_LED_LOCATE = 0x04;

// Reads an ArtAddress packet (OpAddress, 107 bytes or more); false for anything else.
bool readArtAddress(const unsigned char* data, int len, ArtAddressRequest* out);

// What an ArtPollReply says about this node.
struct ArtPollReplyInfo {
    uint32_t ip = 0;            // host byte order; also the BindIp
    unsigned char mac[6] = {};  // of the interface whose address `ip` is
    int net = 0;                // the Port-Address we take DMX for
    int subnet = 0;
    int universe = 0;
    std::string short_name;  // empty: the default names
    std::string long_name;
    bool locating = false;  // the desk asked the node to show where it is
    bool dmx_arriving = false;
    unsigned int replies = 0;  // replies sent before this one, counted in the NodeReport
    std::string host;          // host name, for a LongName that tells fixtures apart
};

// Fills `out` (ARTNET_POLL_REPLY_SIZE bytes) with our ArtPollReply: a node with one
// DMX512 output port on the configured universe. Bytes the reply does not use are 0.
void buildArtPollReply(const ArtPollReplyInfo& info, unsigned char* out);

}  // namespace Lumetra
