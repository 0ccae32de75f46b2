#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace LumetraSend {

using Slots = std::array<uint8_t, 512>;

// An ArtDmx packet (Art-Net 4, OpCode 0x5000) carrying all 512 slots to the port address
// net / subnet / universe.
std::vector<uint8_t> artDmxPacket(int net, int subnet, int universe, uint8_t sequence,
                                  const Slots& slots);

// An E1.31 (sACN) data packet: root, framing and DMP layers, start code 0 and 512 slots,
// for `universe` (1..63999) from the source `cid` at `priority`.
std::vector<uint8_t> sacnDataPacket(int universe, const std::array<uint8_t, 16>& cid,
                                    const std::string& source_name, int priority, uint8_t sequence,
                                    const Slots& slots);

}  // namespace LumetraSend
