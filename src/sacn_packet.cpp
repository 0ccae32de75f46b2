#include "sacn_packet.h"

#include <cstring>

namespace Lumetra {

namespace {

// Offsets of the fields of a data packet; each layer starts with a flags-and-length pair
// that counts from its own first byte to the end of the datagram.
constexpr int ROOT_PDU = 16;
constexpr int ROOT_VECTOR = 18;
constexpr int CID = 22;
constexpr int FRAMING_PDU = 38;
constexpr int FRAMING_VECTOR = 40;
constexpr int PRIORITY = 108;
constexpr int SYNC_ADDRESS = 109;
constexpr int SEQUENCE = 111;
constexpr int OPTIONS = 112;
constexpr int UNIVERSE = 113;
constexpr int DMP_PDU = 115;
constexpr int DMP_VECTOR = 117;
constexpr int ADDRESS_DATA_TYPE = 118;
constexpr int FIRST_ADDRESS = 119;
constexpr int ADDRESS_INCREMENT = 121;
constexpr int VALUE_COUNT = 123;
constexpr int START_CODE = 125;
constexpr int MIN_PACKET_SIZE = 126;  // the start code alone

// Preamble size 0x0010, post-amble size 0, then the ACN packet identifier.
const uint8_t ROOT_PREAMBLE[ROOT_PDU] = {0x00, 0x10, 0x00, 0x00, 'A', 'S', 'C', '-',
                                         'E',  '1',  '.',  '1',  '7', 0,   0,   0};
constexpr uint32_t VECTOR_ROOT_E131_DATA = 0x00000004;
constexpr uint32_t VECTOR_ROOT_E131_EXTENDED = 0x00000008;
constexpr uint32_t VECTOR_E131_EXTENDED_SYNCHRONIZATION = 0x00000001;
constexpr int SYNC_PACKET_SIZE = 49;
constexpr int SYNC_PACKET_ADDRESS = 45;
constexpr uint32_t VECTOR_E131_DATA_PACKET = 0x00000002;
constexpr uint8_t VECTOR_DMP_SET_PROPERTY = 0x02;
constexpr uint8_t DMP_ADDRESS_DATA_TYPE = 0xa1;
constexpr int PDU_FLAGS = 0x7;
constexpr uint8_t OPTION_PREVIEW = 0x80;
constexpr uint8_t OPTION_TERMINATED = 0x40;
constexpr uint8_t OPTION_FORCE_SYNCHRONIZATION = 0x20;
constexpr uint8_t NULL_START_CODE = 0;

int read16(const uint8_t* p) {
    return (p[0] << 8) | p[1];
}

uint32_t read32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

// A layer's flags must be 0x7 and its length must reach exactly to the datagram's end.
bool pduFits(const uint8_t* data, int len, int offset) {
    int field = read16(data + offset);
    return (field >> 12) == PDU_FLAGS && (field & 0x0fff) == len - offset;
}

bool rootLayerValid(const uint8_t* data, int len, uint32_t vector = VECTOR_ROOT_E131_DATA) {
    return std::memcmp(data, ROOT_PREAMBLE, sizeof(ROOT_PREAMBLE)) == 0 &&
           pduFits(data, len, ROOT_PDU) && read32(data + ROOT_VECTOR) == vector;
}

bool framingLayerValid(const uint8_t* data, int len, int universe) {
    return pduFits(data, len, FRAMING_PDU) &&
           read32(data + FRAMING_VECTOR) == VECTOR_E131_DATA_PACKET &&
           data[PRIORITY] <= SACN_MAX_PRIORITY && read16(data + UNIVERSE) == universe;
}

bool dmpLayerValid(const uint8_t* data, int len) {
    int count = read16(data + VALUE_COUNT);
    return pduFits(data, len, DMP_PDU) && data[DMP_VECTOR] == VECTOR_DMP_SET_PROPERTY &&
           data[ADDRESS_DATA_TYPE] == DMP_ADDRESS_DATA_TYPE && read16(data + FIRST_ADDRESS) == 0 &&
           read16(data + ADDRESS_INCREMENT) == 1 && count >= 1 && count <= SACN_MAX_SLOTS + 1 &&
           count == len - START_CODE;
}

}  // namespace

SacnPacketKind examineSacnPacket(const uint8_t* data, int len, int universe,
                                 SacnDataPacket* packet) {
    if (len < MIN_PACKET_SIZE || len > SACN_MAX_PACKET_SIZE) {
        return SACN_IGNORED;
    }
    // Sync and discovery packets carry another root vector and end here.
    if (!rootLayerValid(data, len) || !framingLayerValid(data, len, universe) ||
        !dmpLayerValid(data, len)) {
        return SACN_IGNORED;
    }
    const uint8_t options = data[OPTIONS];
    // Preview data is for visualisers, not live output; per-address priority and other
    // alternate start codes are not ours to interpret.
    if ((options & OPTION_PREVIEW) != 0 || data[START_CODE] != NULL_START_CODE) {
        return SACN_IGNORED;
    }
    std::memcpy(packet->cid, data + CID, SACN_CID_SIZE);
    packet->priority = data[PRIORITY];
    packet->sequence = data[SEQUENCE];
    packet->slot_count = len - START_CODE - 1;
    packet->slots = data + START_CODE + 1;
    packet->sync_address = read16(data + SYNC_ADDRESS);
    packet->force_sync = (options & OPTION_FORCE_SYNCHRONIZATION) != 0;
    return (options & OPTION_TERMINATED) != 0 ? SACN_TERMINATED : SACN_DMX;
}

bool examineSacnSync(const uint8_t* data, int len, int* sync_address) {
    // Later revisions may append to the packet; the layers' lengths must still agree.
    if (len < SYNC_PACKET_SIZE || len > SACN_MAX_PACKET_SIZE ||
        !rootLayerValid(data, len, VECTOR_ROOT_E131_EXTENDED) || !pduFits(data, len, FRAMING_PDU) ||
        read32(data + FRAMING_VECTOR) != VECTOR_E131_EXTENDED_SYNCHRONIZATION) {
        return false;
    }
    const int address = read16(data + SYNC_PACKET_ADDRESS);
    if (address < SACN_MIN_UNIVERSE || address > SACN_MAX_UNIVERSE) {
        return false;
    }
    *sync_address = address;
    return true;
}

uint32_t sacnMulticastGroup(int universe) {
    return (239u << 24) | (255u << 16) | (static_cast<uint32_t>(universe) & 0xffffu);
}

}  // namespace Lumetra
