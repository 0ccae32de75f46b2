#include "canvas/canvas_content/content_local_file_texture/GIFLoader.h"

#include <sys/stat.h>

#include <cstdlib>

#include "canvas/canvas_content/content_local_file_texture/gif/gif_decoder.h"
#include "canvas/canvas_content/content_local_file_texture/picture_limits.h"
#include "regular_file.h"

namespace Lumetra {

GIFLoader::GIFLoader() {}

GIFLoader::~GIFLoader() {
    releaseFile();
}

uint64_t GIFLoader::memoryLimit() {
    return PictureLimits::forMachine(0).in_flight_bytes;
}

void GIFLoader::releaseFile() {
    free(fileBuffer);
    fileBuffer = nullptr;
    fileSize = 0;
    planned = false;
}

unsigned char* GIFLoader::readFileToBuffer(const char* fileName, long* fileSizeOutput) {
    // Only regular files have a size to read; a FIFO, directory or device is rejected,
    // without waiting for a FIFO's writer.
    FILE* file = openRegularFile(fileName);
    if (file == nullptr) {
        return nullptr;
    }
    unsigned char* buffer = readOpenFile(file, memoryLimit(), fileSizeOutput);
    fclose(file);
    return buffer;
}

unsigned char* GIFLoader::readOpenFile(FILE* file, uint64_t maxFileBytes, long* fileSizeOutput) {
    // A file larger than everything decoding may hold could never be decoded: it is not read.
    struct stat info;
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0 ||
        static_cast<uint64_t>(info.st_size) > maxFileBytes ||
        static_cast<uint64_t>(info.st_size) > SIZE_MAX / 2 || fseek(file, 0, SEEK_SET) != 0) {
        return nullptr;
    }
    const size_t size = static_cast<size_t>(info.st_size);
    unsigned char* buffer = static_cast<unsigned char*>(malloc(size));
    if (buffer != nullptr && fread(buffer, 1, size, file) != size) {
        free(buffer);
        buffer = nullptr;
    }
    if (buffer != nullptr) {
        *fileSizeOutput = static_cast<long>(size);
    }
    return buffer;
}

bool GIFLoader::planBuffer() {
    planned =
        fileBuffer != nullptr && planGifFrames(fileBuffer, static_cast<size_t>(fileSize), &plan);
    if (!planned) {
        releaseFile();
    }
    return planned;
}

bool GIFLoader::planAnimatedGif(FILE* file, uint64_t maxFileBytes, GifFramePlan* out) {
    releaseFile();
    if (file == nullptr) {
        return false;
    }
    fileBuffer = readOpenFile(file, maxFileBytes, &fileSize);
    if (!planBuffer()) {
        return false;
    }
    *out = plan;
    return true;
}

unsigned char** GIFLoader::decodePlannedGif(uint64_t limit, int* width, int* height,
                                            GifAnimationInfo* animationInfo) {
    unsigned char** frames = nullptr;
    const size_t size = static_cast<size_t>(fileSize);
    // Refused before a single frame is taken when the plan does not fit, or claims a screen
    // the file cannot really hold (a forged header).
    if (planned && plan.decodeBytes(size) <= limit &&
        sizeIsPlausible(plan.width, plan.height, size)) {
        frames = decodeGifFrames(fileBuffer, size, limit, width, height, animationInfo);
    }
    // The frames do not point into the file, so it can go before they are handed out.
    releaseFile();
    return frames;
}

unsigned char** GIFLoader::loadAnimatedGif(const char* fileName, int* width, int* height,
                                           GifAnimationInfo* animationInfo) {
    releaseFile();
    if (fileName == nullptr) {
        return nullptr;
    }
    fileBuffer = readFileToBuffer(fileName, &fileSize);
    if (!planBuffer()) {
        return nullptr;
    }
    return decodePlannedGif(memoryLimit(), width, height, animationInfo);
}

}  // namespace Lumetra
