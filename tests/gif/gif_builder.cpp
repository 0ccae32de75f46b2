#include "gif/gif_builder.h"

#include <fstream>

namespace LumetraTest {

void tableColour(int index, uint8_t rgb[3]) {
    rgb[0] = static_cast<uint8_t>(index * 3 + 1);
    rgb[1] = static_cast<uint8_t>(index * 5 + 2);
    rgb[2] = static_cast<uint8_t>(index * 7 + 3);
}

void GifBuilder::put16(int value) {
    data.push_back(static_cast<uint8_t>(value & 0xFF));
    data.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
}

GifBuilder& GifBuilder::screen(int width, int height, int tableSizeField, int background,
                               const char* signature) {
    data.assign(signature, signature + 6);
    put16(width);
    put16(height);
    data.push_back(tableSizeField >= 0 ? static_cast<uint8_t>(0xF0 | tableSizeField) : 0x70);
    data.push_back(static_cast<uint8_t>(background));
    data.push_back(0);
    if (tableSizeField >= 0) {
        colorTable(2 << tableSizeField);
    }
    return *this;
}

GifBuilder& GifBuilder::colorTable(int entries) {
    for (int i = 0; i < entries; ++i) {
        uint8_t rgb[3];
        tableColour(i, rgb);
        data.insert(data.end(), rgb, rgb + 3);
    }
    return *this;
}

GifBuilder& GifBuilder::graphicControl(int delay, int transparentIndex, int blockSize) {
    data.push_back(0x21);
    data.push_back(0xF9);
    data.push_back(static_cast<uint8_t>(blockSize));
    data.push_back(transparentIndex >= 0 ? 1 : 0);
    put16(delay);
    data.push_back(static_cast<uint8_t>(transparentIndex >= 0 ? transparentIndex : 0));
    for (int i = 4; i < blockSize; ++i) {
        data.push_back(0);
    }
    data.push_back(0);
    return *this;
}

GifBuilder& GifBuilder::loop(int count) {
    const std::string id = "NETSCAPE2.0";
    data.push_back(0x21);
    data.push_back(0xFF);
    data.push_back(11);
    data.insert(data.end(), id.begin(), id.end());
    data.push_back(3);
    data.push_back(1);
    put16(count);
    data.push_back(0);
    return *this;
}

GifBuilder& GifBuilder::image(int left, int top, int width, int height, int localSizeField,
                              bool interlaced, int minCodeSize, const std::vector<uint8_t>& bytes) {
    data.push_back(0x2C);
    put16(left);
    put16(top);
    put16(width);
    put16(height);
    uint8_t packed = interlaced ? 0x40 : 0;
    if (localSizeField >= 0) {
        packed |= 0x80 | localSizeField;
    }
    data.push_back(packed);
    if (localSizeField >= 0) {
        colorTable(2 << localSizeField);
    }
    data.push_back(static_cast<uint8_t>(minCodeSize));
    for (size_t at = 0; at < bytes.size(); at += 255) {
        const size_t n = bytes.size() - at < 255 ? bytes.size() - at : 255;
        data.push_back(static_cast<uint8_t>(n));
        data.insert(data.end(), bytes.begin() + at, bytes.begin() + at + n);
    }
    data.push_back(0);
    return *this;
}

GifBuilder& GifBuilder::raw(const std::vector<uint8_t>& bytes) {
    data.insert(data.end(), bytes.begin(), bytes.end());
    return *this;
}

GifBuilder& GifBuilder::trailer() {
    data.push_back(0x3B);
    return *this;
}

void GifBuilder::write(const std::string& path) const {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

std::vector<uint8_t> packCodes(const std::vector<GifCode>& codes) {
    std::vector<uint8_t> out;
    uint32_t buffer = 0;
    int bits = 0;
    for (const GifCode& code : codes) {
        buffer |= static_cast<uint32_t>(code.first) << bits;
        bits += code.second;
        while (bits >= 8) {
            out.push_back(static_cast<uint8_t>(buffer & 0xFF));
            buffer >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0) {
        out.push_back(static_cast<uint8_t>(buffer & 0xFF));
    }
    return out;
}

std::vector<GifCode> literalCodes(const std::vector<int>& indices, int minCodeSize, bool withEnd) {
    const int clearCode = 1 << minCodeSize;
    int width = minCodeSize + 1;
    int nextFree = clearCode + 2;
    std::vector<GifCode> codes{{clearCode, width}};
    bool first = true;
    for (int index : indices) {
        if (nextFree >= 4094) {
            codes.push_back({clearCode, width});
            width = minCodeSize + 1;
            nextFree = clearCode + 2;
            first = true;
        }
        codes.push_back({index, width});
        if (!first) {
            ++nextFree;
            if (nextFree == (1 << width) && width < 12) {
                ++width;
            }
        }
        first = false;
    }
    if (withEnd) {
        codes.push_back({clearCode + 1, width});
    }
    return codes;
}

}  // namespace LumetraTest
