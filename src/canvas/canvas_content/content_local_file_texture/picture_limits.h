#pragma once

#include <cstdint>
#include <string>

namespace Lumetra {

// What the pictures of all slots may take. A file can claim any size in a few bytes, so
// every picture is held to the largest texture the GL takes and to memory budgets tied
// to the machine, before it is decoded.
struct PictureLimits {
    // Largest width and height the GL accepts (GL_MAX_TEXTURE_SIZE).
    int max_texture = 0;
    // Bytes all slots' pictures together may keep (stills, GIF frames, clip textures).
    uint64_t total_bytes = 0;
    // Bytes decoded but not yet uploaded, all picture workers together; also the most
    // that decoding one picture may take.
    uint64_t in_flight_bytes = 0;

    // Budgets from the machine's memory: half of it for all pictures, a quarter for
    // decoding ahead. LUMETRA_PICTURE_MEMORY (megabytes) sets the total instead.
    static PictureLimits forMachine(int max_texture);
    static PictureLimits forTotal(int max_texture, uint64_t total_bytes);
    // The GL's limit, asked on the thread whose context is current.
    static int queryMaxTexture();
    // Physical memory in bytes; 0 when the system cannot tell.
    static uint64_t machineMemory();
};

// One frame of `width` x `height` RGBA pixels, in bytes.
inline uint64_t rgbaBytes(int width, int height) {
    return static_cast<uint64_t>(width > 0 ? width : 0) *
           static_cast<uint64_t>(height > 0 ? height : 0) * 4;
}

// "12 MB", or "340 KB" below 10 MB, rounded up.
std::string memoryText(uint64_t bytes);

// True when a file of `file_bytes` could really hold one frame of the claimed size. No
// supported format packs more than about 40000 RGBA bytes into one byte of file (1-bit
// PNG at deflate's best is about 33000), so a claim far beyond that is a forged header.
bool sizeIsPlausible(int width, int height, uint64_t file_bytes);

}  // namespace Lumetra
