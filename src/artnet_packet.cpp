#include "artnet_packet.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace Lumetra {

namespace {

const unsigned char ARTNET_ID[8] = {'A', 'r', 't', '-', 'N', 'e', 't', 0};
constexpr int OP_POLL = 0x2000;
constexpr int OP_POLL_REPLY = 0x2100;
constexpr int OP_DMX = 0x5000;
constexpr int OP_SYNC = 0x5200;
constexpr int OP_ADDRESS = 0x6000;
constexpr int ADDRESS_SIZE = 107;
constexpr int SYNC_SIZE = 14;
constexpr int DMX_HEADER_SIZE = 18;
constexpr int RC_POWER_OK = 0x0001;
constexpr unsigned char STATUS1_ADDRESS_BY_FRONT_PANEL = 0x10;
constexpr unsigned char STATUS1_INDICATORS_LOCATE = 0x40;
constexpr unsigned char STATUS2_PORT_ADDRESS_15_BIT = 0x08;
// ArtAddress: a switch value with bit 7 set is programmed, 0x7f leaves it, 0 resets it.
constexpr int PROGRAM = 0x80;
constexpr int NO_CHANGE = 0x7f;
constexpr unsigned char PORT_OUTPUT_DMX512 = 0x80;
constexpr unsigned char GOOD_OUTPUT_DATA = 0x80;
constexpr unsigned char GOOD_OUTPUT_B_RDM_DISABLED = 0x80;
constexpr unsigned char STYLE_NODE = 0x00;

void putAddress(uint32_t ip, unsigned char* out) {
    out[0] = static_cast<unsigned char>(ip >> 24);
    out[1] = static_cast<unsigned char>(ip >> 16);
    out[2] = static_cast<unsigned char>(ip >> 8);
    out[3] = static_cast<unsigned char>(ip);
}

// Copies at most size - 1 characters, so the field always ends in a zero byte.
void putText(unsigned char* field, size_t size, const char* text) {
    const size_t len = std::min(std::strlen(text), size - 1);
    std::memcpy(field, text, len);
}

ArtnetPacketKind copyDmxSlots(const unsigned char* data, int len, int net, int subnet, int universe,
                              unsigned char* dmx512) {
    if (len <= DMX_HEADER_SIZE) {
        return ARTNET_IGNORED;
    }
    int sub_uni = data[14];
    // Net is bits 14-8 of the Port-Address; its top bit is not part of it.
    if ((sub_uni >> 4) != subnet || (sub_uni & 0x0f) != universe || (data[15] & 0x7f) != net) {
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

// A name field: up to its first zero byte, never past its end.
std::string nameField(const unsigned char* field, size_t size) {
    size_t n = 0;
    while (n < size && field[n] != 0) {
        ++n;
    }
    return std::string(reinterpret_cast<const char*>(field), n);
}

void readSwitch(int value, int mask, int* out, bool* reset) {
    if ((value & PROGRAM) != 0) {
        *out = value & mask;
    } else if (value == 0) {
        *reset = true;
    }
}

}  // namespace

bool readArtAddress(const unsigned char* data, int len, ArtAddressRequest* out) {
    if (len < ADDRESS_SIZE || std::memcmp(data, ARTNET_ID, sizeof(ARTNET_ID)) != 0 ||
        data[9] * 256 + data[8] != OP_ADDRESS) {
        return false;
    }
    *out = ArtAddressRequest();
    // Art-Net 3 desks send NetSwitch 0 meaning "leave it": only a programmed value counts
    // there, while 0x7f and 0 are both read as no change.
    if (data[12] != NO_CHANGE && (data[12] & PROGRAM) != 0) {
        out->net = data[12] & ARTNET_MAX_NET;
    }
    out->short_name = nameField(data + 14, ARTNET_SHORT_NAME_SIZE);
    out->long_name = nameField(data + 32, ARTNET_LONG_NAME_SIZE);
    if (out->short_name.size() >= ARTNET_SHORT_NAME_SIZE) {
        out->short_name.resize(ARTNET_SHORT_NAME_SIZE - 1);
    }
    if (out->long_name.size() >= ARTNET_LONG_NAME_SIZE) {
        out->long_name.resize(ARTNET_LONG_NAME_SIZE - 1);
    }
    readSwitch(data[100], 0x0f, &out->universe, &out->universe_reset);  // SwOut[0]
    readSwitch(data[104], 0x0f, &out->subnet, &out->subnet_reset);      // SubSwitch
    out->command = data[106];
    return true;
}

ArtnetPacketKind examineArtnetPacket(const unsigned char* data, int len, int net, int subnet,
                                     int universe, unsigned char* dmx512) {
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
        return copyDmxSlots(data, len, net, subnet, universe, dmx512);
    }
    if (opcode == OP_SYNC && len >= SYNC_SIZE) {
        return ARTNET_SYNC;
    }
    if (opcode == OP_ADDRESS && len >= ADDRESS_SIZE) {
        return ARTNET_ADDRESS;
    }
    return ARTNET_IGNORED;
}

void buildArtPollReply(const ArtPollReplyInfo& info, unsigned char* out) {
    std::memset(out, 0, ARTNET_POLL_REPLY_SIZE);
    std::memcpy(out, ARTNET_ID, sizeof(ARTNET_ID));
    out[8] = OP_POLL_REPLY & 0xff;
    out[9] = OP_POLL_REPLY >> 8;
    putAddress(info.ip, out + 10);
    out[14] = ARTNET_PORT & 0xff;
    out[15] = ARTNET_PORT >> 8;
    out[18] = static_cast<unsigned char>(info.net & ARTNET_MAX_NET);  // NetSwitch
    out[19] = static_cast<unsigned char>(info.subnet & 0x0f);         // SubSwitch
    // Port-Address set in config.txt (or by a desk, which stores it there).
    out[23] = STATUS1_ADDRESS_BY_FRONT_PANEL | (info.locating ? STATUS1_INDICATORS_LOCATE : 0);
    const std::string short_name = info.short_name.empty() ? "VORMEL" : info.short_name;
    putText(out + 26, ARTNET_SHORT_NAME_SIZE, short_name.c_str());
    const std::string long_name = info.long_name.empty() ? "Lumetra " + info.host : info.long_name;
    putText(out + 44, ARTNET_LONG_NAME_SIZE, long_name.c_str());
    char report[64];
    std::snprintf(report, sizeof(report), "#%04x [%04u] %s", RC_POWER_OK, info.replies % 10000,
                  info.dmx_arriving ? "DMX arriving" : "No DMX");
    putText(out + 108, 64, report);                       // NodeReport
    out[173] = 1;                                         // NumPorts, low byte
    out[174] = PORT_OUTPUT_DMX512;                        // PortTypes[0]
    out[182] = info.dmx_arriving ? GOOD_OUTPUT_DATA : 0;  // GoodOutput[0]
    // SwOut[0]: OLA compares the whole byte, so the subnet goes in the high nibble too.
    out[190] = static_cast<unsigned char>((info.subnet << 4) | (info.universe & 0x0f));
    out[200] = STYLE_NODE;
    std::memcpy(out + 201, info.mac, sizeof(info.mac));
    putAddress(info.ip, out + 207);  // BindIp
    out[211] = 1;                    // BindIndex: the root device
    out[212] = STATUS2_PORT_ADDRESS_15_BIT;
    out[213] = GOOD_OUTPUT_B_RDM_DISABLED;
}

}  // namespace Lumetra
