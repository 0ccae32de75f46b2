#pragma once

#include <cstdint>

namespace Lumetra {

// Plain records unpacked from a GIF file's descriptors and extensions.

struct RGB {
    uint8_t r;
    uint8_t g;
    uint8_t b;
};

struct GifScreenDescriptor {
    int width;
    int height;
    uint8_t packedFields;
    uint8_t globalColorTableFlag;
    uint8_t colorResolution;
    uint8_t sortFlag;
    uint8_t globalColorTableSize;
    uint8_t backgroundColorIndex;
    uint8_t pixelAspectRatio;
};

struct GifImageDescriptor {
    int leftPosition;
    int topPosition;
    int width;
    int height;
    uint8_t packedFields;
    uint8_t localColorTableFlag;
    uint8_t interlaceFlag;
    uint8_t sortFlag;
    uint8_t localColorTableSize;
};

struct GifGraphicControlExtension {
    uint8_t disposalMethod;
    uint8_t userInputFlag;
    uint8_t transparencyFlag;
    int delayTime;  // hundredths of a second
    uint8_t transparentColorIndex;
};

}  // namespace Lumetra
