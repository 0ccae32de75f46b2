#include "artnet_packet.h"

#include <cstring>

namespace Lumetra {

namespace {

const unsigned char ARTNET_ID[8] = {'A', 'r', 't', '-', 'N', 'e', 't', 0};
constexpr int OP_POLL = 0x2000;
constexpr int OP_POLL_REPLY = 0x2100;
constexpr int OP_DMX = 0x5000;
constexpr int DMX_HEADER_SIZE = 18;

ArtnetPacketKind copyDmxSlots(const unsigned char* data, int len, int subnet, int universe,
                              unsigned char* dmx512) {
    if (len <= DMX_HEADER_SIZE) {
        return ARTNET_IGNORED;
    }
    int sub_uni = data[14];
    if ((sub_uni >> 4) != subnet || (sub_uni & 0x0f) != universe) {
        return ARTNET_IGNORED;
    }
    int length = data[16] * 256 + data[17];
    if (length < 2 || length > ARTNET_DMX_SLOTS) {
        return ARTNET_IGNORED;
    }
    // A Length longer than the datagram is honoured: the missing slots read as 0.
    int carried = len - DMX_HEADER_SIZE;
    if (carried > length) {
        carried = length;
    }
    std::memcpy(dmx512, data + DMX_HEADER_SIZE, static_cast<size_t>(carried));
    std::memset(dmx512 + carried, 0, static_cast<size_t>(length - carried));
    return ARTNET_DMX;
}

}  // namespace

ArtnetPacketKind examineArtnetPacket(const unsigned char* data, int len, int subnet, int universe,
                                     unsigned char* dmx512) {
    if (len <= 9) {
        return ARTNET_IGNORED;
    }
    if (std::memcmp(data, ARTNET_ID, sizeof(ARTNET_ID)) != 0) {
        return ARTNET_IGNORED;
    }
    int opcode = data[9] * 256 + data[8];
    if (opcode == OP_POLL) {
        return ARTNET_POLL;
    }
    if (opcode == OP_DMX) {
        return copyDmxSlots(data, len, subnet, universe, dmx512);
    }
    return ARTNET_IGNORED;
}

void buildArtPollReply(uint32_t ip, unsigned char* out) {
    std::memset(out, 0, ARTNET_POLL_REPLY_SIZE);
    std::memcpy(out, ARTNET_ID, sizeof(ARTNET_ID));
    out[8] = OP_POLL_REPLY & 0xff;
    out[9] = OP_POLL_REPLY >> 8;
    out[10] = static_cast<unsigned char>(ip >> 24);
    out[11] = static_cast<unsigned char>(ip >> 16);
    out[12] = static_cast<unsigned char>(ip >> 8);
    out[13] = static_cast<unsigned char>(ip);
    out[14] = ARTNET_PORT & 0xff;
    out[15] = ARTNET_PORT >> 8;
    const char short_name[] = "VORMEL";
    std::memcpy(out + 26, short_name, sizeof(short_name) - 1);
}

}  // namespace Lumetra
