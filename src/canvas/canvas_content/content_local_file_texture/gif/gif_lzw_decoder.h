#pragma once

#include <cstddef>
#include <cstdint>

namespace Lumetra {

class GifImageWriter;

// The variable-width LZW decoder of GIF image data. Its string table stores each entry as
// its prefix code plus one byte, so adding an entry costs no allocation and no copy; strings
// are written backwards into a small buffer that is handed to the image writer in chunks.
class GifLzwDecoder {
  public:
    GifLzwDecoder() = default;
    GifLzwDecoder(const GifLzwDecoder&) = delete;
    GifLzwDecoder& operator=(const GifLzwDecoder&) = delete;

    // Decodes the sub-block chain at `blocks` (checked to end inside its buffer) into exactly
    // pixelCount indices. minCodeSize must be 2 to 8. Returns false on malformed data.
    bool decode(const unsigned char* blocks, int minCodeSize, uint64_t pixelCount,
                GifImageWriter& writer);

  private:
    static const int kMaxCodes = 4096;
    static const size_t kChunkSize = 32768;

    void initTable(int clearCode);

    uint16_t prefix[kMaxCodes];
    uint16_t length[kMaxCodes];
    uint8_t suffix[kMaxCodes];
    uint8_t first[kMaxCodes];
    uint8_t chunk[kChunkSize];
};

}  // namespace Lumetra
