#pragma once

#include <cstddef>
#include <cstdint>

#include "canvas/canvas_content/content_local_file_texture/gif/gif_records.h"

namespace Lumetra {

// Puts the colour indices of one image, in the order the LZW stream delivers them, onto a
// full-screen RGBA frame: each index becomes the 4 bytes of its entry in a 256-entry
// lookup table. Rows of an interlaced image go to their interlace positions. Parts of the
// image rectangle outside the screen are decoded but not drawn (clipped).
class GifImageWriter {
  public:
    // palette: 256 entries of 4 bytes (R, G, B, A), see buildPalette.
    GifImageWriter(unsigned char* frame, int screenWidth, int screenHeight,
                   const GifImageDescriptor& image, const uint8_t* palette);

    // Entries past `entries` (an index outside the table, or no table at all) are opaque
    // black, which keeps every index safe to look up. The transparent index, if any, gets
    // its table colour with alpha 0.
    // table: `entries` colours of 3 bytes (R, G, B) as stored in the file, or null.
    static void buildPalette(const unsigned char* table, int entries, int transparentIndex,
                             uint8_t palette[256 * 4]);

    // Takes the next `count` indices; the caller never passes more than the image holds.
    void write(const uint8_t* indices, size_t count);

  private:
    void nextRow();

    unsigned char* frame;
    size_t screenWidth;
    size_t screenHeight;
    size_t left;
    size_t top;
    size_t width;
    size_t height;
    size_t visibleColumns;
    bool interlaced;
    const uint8_t* palette;
    size_t row = 0;
    size_t column = 0;
    int pass = 0;
};

}  // namespace Lumetra
