#include "lumetra-send/dmx_packets.h"

#include <algorithm>

namespace LumetraSend {

namespace {

void put16(std::vector<uint8_t>& p, size_t at, unsigned value) {
    p[at] = static_cast<uint8_t>(value >> 8);
    p[at + 1] = static_cast<uint8_t>(value & 0xff);
}

// A PDU's flags-and-length word: flags 0x7, length from `at` to the end of the packet.
void putFlagsAndLength(std::vector<uint8_t>& p, size_t at) {
    put16(p, at, 0x7000u | static_cast<unsigned>(p.size() - at));
}

}  // namespace

std::vector<uint8_t> artDmxPacket(int net, int subnet, int universe, uint8_t sequence,
                                  const Slots& slots) {
    std::vector<uint8_t> p = {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x50, 0, 14};
    p.push_back(sequence);
    p.push_back(0);  // physical input port
    p.push_back(static_cast<uint8_t>(((subnet & 0x0f) << 4) | (universe & 0x0f)));
    p.push_back(static_cast<uint8_t>(net & 0x7f));
    p.push_back(static_cast<uint8_t>(slots.size() >> 8));
    p.push_back(static_cast<uint8_t>(slots.size() & 0xff));
    p.insert(p.end(), slots.begin(), slots.end());
    return p;
}

std::vector<uint8_t> sacnDataPacket(int universe, const std::array<uint8_t, 16>& cid,
                                    const std::string& source_name, int priority, uint8_t sequence,
                                    const Slots& slots) {
    std::vector<uint8_t> p(126 + slots.size(), 0);
    // Root layer
    put16(p, 0, 0x0010);  // preamble size; postamble size stays 0
    const char acn_id[12] = {'A', 'S', 'C', '-', 'E', '1', '.', '1', '7', 0, 0, 0};
    std::copy(acn_id, acn_id + 12, p.begin() + 4);
    putFlagsAndLength(p, 16);
    p[21] = 0x04;  // VECTOR_ROOT_E131_DATA
    std::copy(cid.begin(), cid.end(), p.begin() + 22);
    // Framing layer
    putFlagsAndLength(p, 38);
    p[43] = 0x02;  // VECTOR_E131_DATA_PACKET
    const size_t name_length = std::min<size_t>(source_name.size(), 63);
    std::copy(source_name.begin(), source_name.begin() + name_length, p.begin() + 44);
    p[108] = static_cast<uint8_t>(priority);
    p[111] = sequence;  // sync address (109..110) and options (112) stay 0
    put16(p, 113, static_cast<unsigned>(universe));
    // DMP layer
    putFlagsAndLength(p, 115);
    p[117] = 0x02;     // VECTOR_DMP_SET_PROPERTY
    p[118] = 0xa1;     // address and data type
    put16(p, 121, 1);  // address increment; first address (119..120) stays 0
    put16(p, 123, static_cast<unsigned>(slots.size() + 1));
    // start code (125) stays 0
    std::copy(slots.begin(), slots.end(), p.begin() + 126);
    return p;
}

}  // namespace LumetraSend
