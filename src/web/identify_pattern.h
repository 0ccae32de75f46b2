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

}  // namespace Lumetra
