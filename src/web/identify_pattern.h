#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Lumetra {

// The picture identify shows over the output, to find and focus one projector in a rig:
// a grid of tenths, the edges, a centre cross, a circle, and `lines` of text in the middle
// (letters, digits and . : - / _; lower case shown as upper case, anything else as a
// space). RGBA, top row first, opaque.
std::vector<uint8_t> identifyPattern(int width, int height, const std::vector<std::string>& lines);

// What the pattern says of the fixture.
struct IdentifyFacts {
    std::string name;  // empty: the machine's host name
    int net = 0;
    int subnet = 0;
    int universe = 0;
    int dmx_start = 1;
    int canvases = 1;
};
// The pattern's lines: the name, the first IPv4 address of an interface other than
// loopback, the Art-Net address (the Net only when not 0) and the patch.
std::vector<std::string> identifyLines(const IdentifyFacts& facts);

}  // namespace Lumetra
