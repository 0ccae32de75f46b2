#include "canvas/canvas_content/content_local_file_texture/picture_limits.h"

#include "platform/gl.h"
#include <unistd.h>

#include <cstdlib>

namespace Lumetra {

namespace {
// Decoded bytes one byte of file may stand for; twice the best real compression.
const uint64_t kMaxExpansion = 1ull << 17;
// When the machine's memory is unknown: a small Pi.
const uint64_t kFallbackMemory = 512ull << 20;
const uint64_t kMegabyte = 1ull << 20;
}  // namespace

uint64_t PictureLimits::machineMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0) {
        return 0;
    }
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size);
}

int PictureLimits::queryMaxTexture() {
    GLint size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
    // OpenGL ES guarantees at least 64; a GL that reports less is taken at that.
    return size < 64 ? 64 : static_cast<int>(size);
}

PictureLimits PictureLimits::forTotal(int max_texture, uint64_t total_bytes) {
    PictureLimits limits;
    limits.max_texture = max_texture;
    limits.total_bytes = total_bytes;
    limits.in_flight_bytes = total_bytes / 2;
    return limits;
}

PictureLimits PictureLimits::forMachine(int max_texture) {
    const char* text = std::getenv("LUMETRA_PICTURE_MEMORY");
    if (text != nullptr && *text != '\0') {
        char* end = nullptr;
        const unsigned long long megabytes = std::strtoull(text, &end, 10);
        if (end != text && *end == '\0' && megabytes > 0 && megabytes < (1ull << 40)) {
            return forTotal(max_texture, megabytes * kMegabyte);
        }
    }
    uint64_t memory = machineMemory();
    if (memory == 0) {
        memory = kFallbackMemory;
    }
    return forTotal(max_texture, memory / 2);
}

std::string memoryText(uint64_t bytes) {
    if (bytes >= 10 * kMegabyte) {
        return std::to_string((bytes + kMegabyte - 1) / kMegabyte) + " MB";
    }
    return std::to_string((bytes + 1023) / 1024) + " KB";
}

bool sizeIsPlausible(int width, int height, uint64_t file_bytes) {
    const uint64_t claimed = rgbaBytes(width, height);
    return file_bytes >= claimed / kMaxExpansion;
}

}  // namespace Lumetra
