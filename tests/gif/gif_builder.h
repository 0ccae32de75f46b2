#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace LumetraTest {

// An LZW code with the bit width it is written at.
using GifCode = std::pair<int, int>;

// Writes GIF files byte by byte, so that tests can make exactly the malformed or unusual
// files they need.
class GifBuilder {
  public:
    // Header and logical screen; tableSizeField < 0 means no global table (size field 0).
    GifBuilder& screen(int width, int height, int tableSizeField, int background = 0,
                       const char* signature = "GIF89a");
    // `entries` colours; colour i is (i * 3 + 1, i * 5 + 2, i * 7 + 3) modulo 256.
    GifBuilder& colorTable(int entries);
    GifBuilder& graphicControl(int delay, int transparentIndex = -1, int blockSize = 4);
    GifBuilder& loop(int count);
    // Image descriptor, optional local table (localSizeField >= 0), code size and data
    // sub-blocks holding `data`.
    GifBuilder& image(int left, int top, int width, int height, int localSizeField, bool interlaced,
                      int minCodeSize, const std::vector<uint8_t>& data);
    GifBuilder& raw(const std::vector<uint8_t>& bytes);
    GifBuilder& trailer();

    const std::vector<uint8_t>& bytes() const { return data; }
    void write(const std::string& path) const;

  private:
    void put16(int value);
    std::vector<uint8_t> data;
};

// Packs codes least significant bit first.
std::vector<uint8_t> packCodes(const std::vector<GifCode>& codes);
// A clear code, then every index as a literal code, at the widths a decoder expects, and
// the end code when withEnd.
std::vector<GifCode> literalCodes(const std::vector<int>& indices, int minCodeSize,
                                  bool withEnd = true);
// The expected colour of table entry i as colorTable writes it.
void tableColour(int index, uint8_t rgb[3]);

}  // namespace LumetraTest
