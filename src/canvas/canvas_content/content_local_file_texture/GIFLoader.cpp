#include "canvas/canvas_content/content_local_file_texture/GIFLoader.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "canvas/canvas_content/content_local_file_texture/gif/gif_decoder.h"
#include "regular_file.h"

namespace Lumetra {

namespace {
// All frames of one file together may take at most this much memory. Each frame is a full
// screen, so a small file can ask for far more than any fixture has; such a file fails
// instead of exhausting the machine while it starts.
const uint64_t kOutputLimit = 1ull << 30;
}  // namespace

GIFLoader::GIFLoader() {}

unsigned char* GIFLoader::readFileToBuffer(const char* fileName, long* fileSizeOutput) {
    // Only regular files have a size to read; a FIFO, directory or device is rejected,
    // without waiting for a FIFO's writer.
    FILE* file = openRegularFile(fileName);
    if (file == nullptr) {
        return nullptr;
    }
    struct stat info;
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0 ||
        static_cast<uint64_t>(info.st_size) > SIZE_MAX / 2) {
        fclose(file);
        return nullptr;
    }
    const size_t fileSize = static_cast<size_t>(info.st_size);
    unsigned char* buffer = static_cast<unsigned char*>(malloc(fileSize));
    if (buffer != nullptr && fread(buffer, 1, fileSize, file) != fileSize) {
        free(buffer);
        buffer = nullptr;
    }
    fclose(file);
    if (buffer != nullptr) {
        *fileSizeOutput = static_cast<long>(fileSize);
    }
    return buffer;
}

unsigned char** GIFLoader::loadAnimatedGif(const char* fileName, int* width, int* height,
                                           GifAnimationInfo* animationInfo) {
    if (fileName == nullptr) {
        return nullptr;
    }
    long fileSize = 0;
    unsigned char* fileBuffer = readFileToBuffer(fileName, &fileSize);
    if (fileBuffer == nullptr) {
        return nullptr;
    }
    GifDecoder decoder(fileBuffer, static_cast<size_t>(fileSize), kOutputLimit);
    const bool decoded = decoder.decode();
    // The frames do not point into the file, so it can go before they are handed out.
    free(fileBuffer);
    if (!decoded) {
        return nullptr;
    }
    *width = decoder.getWidth();
    *height = decoder.getHeight();
    return decoder.releaseFrames(animationInfo);
}

}  // namespace Lumetra
