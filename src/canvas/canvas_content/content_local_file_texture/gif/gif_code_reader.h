#pragma once

#include <cstdint>

namespace Lumetra {

// Reads LZW codes, least significant bit first, from a chain of GIF data sub-blocks (a
// length byte n, then n data bytes, repeated, ended by a zero length byte). The chain must
// have been checked to end inside its buffer; reading stops at the zero length byte.
class GifCodeReader {
  public:
    explicit GifCodeReader(const unsigned char* blocks) : next(blocks) {}

    // Stores the next code of `width` bits; false when fewer bits than that remain.
    bool read(int width, int& code) {
        if (bits < width) {
            refill();
            if (bits < width) {
                return false;
            }
        }
        code = static_cast<int>(buffer & ((1u << width) - 1));
        buffer >>= width;
        bits -= width;
        return true;
    }

    // True when all that is left is fewer than 8 zero bits: the padding of the last byte.
    bool onlyPaddingLeft() {
        refill();
        return ended && bits < 8 && buffer == 0;
    }

  private:
    void refill() {
        while (bits <= 56) {
            if (blockLeft == 0) {
                if (ended || *next == 0) {
                    ended = true;
                    return;
                }
                blockLeft = *next++;
            }
            buffer |= static_cast<uint64_t>(*next++) << bits;
            bits += 8;
            --blockLeft;
        }
    }

    const unsigned char* next;
    uint64_t buffer = 0;
    int bits = 0;
    int blockLeft = 0;
    bool ended = false;
};

}  // namespace Lumetra
