#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace Lumetra {
namespace ArtnetTest {

using Cid = std::array<uint8_t, 16>;

// The fields of an E1.31 data packet that tests vary; everything else is as a desk sends.
struct SacnFields {
    Cid cid = {0x5a, 0x11, 0x2e, 0x90, 0x41, 0x0c, 0x4d, 0x8a,
               0x9b, 0x3f, 0x27, 0x64, 0xe1, 0x05, 0xc8, 0x7d};
    int priority = 100;
    int sequence = 0;
    int options = 0;
    int universe = 1;
    int start_code = 0;
    std::vector<uint8_t> slots;
};

// A well-formed data packet with the given fields; all lengths agree with its size.
std::vector<uint8_t> sacnData(const SacnFields& fields);
// A CID of its own for every `n` from 0 to 65535.
Cid cidNumber(int n);
// A universe synchronization packet and a universe discovery packet listing `universe`.
std::vector<uint8_t> sacnSync(int sync_universe);
std::vector<uint8_t> sacnDiscovery(int universe);

// The kernel stamps datagrams on arrival only a moment after the first socket asked for
// it; until then a stamp is the time of the read. Keeps a socket asking and waits (with a
// generous deadline) until stamps are arrival times. False when they never became so.
bool waitForArrivalStamps();

}  // namespace ArtnetTest
}  // namespace Lumetra
