#include "canvas/canvas_content/content_local_file_texture/gif/gif_image_writer.h"

#include <cstring>

namespace Lumetra {

namespace {
// Interlaced rows come in four passes: every 8th row from 0, every 8th from 4, every 4th
// from 2, every 2nd from 1.
const size_t kPassStart[4] = {0, 4, 2, 1};
const size_t kPassStep[4] = {8, 8, 4, 2};
}  // namespace

GifImageWriter::GifImageWriter(unsigned char* frame, int screenWidth, int screenHeight,
                               const GifImageDescriptor& image, const uint8_t* palette)
    : frame(frame),
      screenWidth(screenWidth),
      screenHeight(screenHeight),
      left(image.leftPosition),
      top(image.topPosition),
      width(image.width),
      height(image.height),
      interlaced(image.interlaceFlag != 0),
      palette(palette) {
    visibleColumns = left >= this->screenWidth ? 0 : this->screenWidth - left;
    if (visibleColumns > width) {
        visibleColumns = width;
    }
}

void GifImageWriter::buildPalette(const unsigned char* table, int entries, int transparentIndex,
                                  uint8_t palette[256 * 4]) {
    for (int i = 0; i < 256; ++i) {
        uint8_t* entry = palette + 4 * i;
        if (table != nullptr && i < entries) {
            entry[0] = table[3 * i];
            entry[1] = table[3 * i + 1];
            entry[2] = table[3 * i + 2];
        } else {
            entry[0] = entry[1] = entry[2] = 0;
        }
        entry[3] = i == transparentIndex ? 0 : 255;
    }
}

void GifImageWriter::nextRow() {
    column = 0;
    if (!interlaced) {
        ++row;
        return;
    }
    row += kPassStep[pass];
    while (row >= height && pass < 3) {
        ++pass;
        row = kPassStart[pass];
    }
}

void GifImageWriter::write(const uint8_t* indices, size_t count) {
    while (count > 0 && width > 0) {
        size_t take = width - column;
        if (take > count) {
            take = count;
        }
        size_t screenRow = top + row;
        if (row < height && screenRow < screenHeight && column < visibleColumns) {
            size_t drawn = visibleColumns - column;
            if (drawn > take) {
                drawn = take;
            }
            unsigned char* target = frame + 4 * (screenRow * screenWidth + left + column);
            for (size_t i = 0; i < drawn; ++i) {
                memcpy(target + 4 * i, palette + 4 * indices[i], 4);
            }
        }
        indices += take;
        count -= take;
        column += take;
        if (column == width) {
            nextRow();
        }
    }
}

}  // namespace Lumetra
