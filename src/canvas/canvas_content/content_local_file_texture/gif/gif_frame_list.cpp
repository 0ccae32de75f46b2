#include "canvas/canvas_content/content_local_file_texture/gif/gif_frame_list.h"

#include <cstdlib>
#include <cstring>

namespace Lumetra {

GifFrameList::GifFrameList(uint64_t frameBytes, uint64_t outputLimit)
    : frameBytes(frameBytes), outputLimit(outputLimit) {}

GifFrameList::~GifFrameList() {
    if (frames != nullptr) {
        for (int i = 0; i < count; ++i) {
            free(frames[i]);
        }
    }
    free(frames);
    free(delays);
}

bool GifFrameList::reserveOneMore() {
    // The limit keeps a small file from claiming more memory than the machine has: every
    // frame is a full screen, so a few bytes per image can ask for gigabytes.
    if (static_cast<uint64_t>(count + 1) * frameBytes > outputLimit || count == 0x3fffffff) {
        return false;
    }
    if (count < capacity) {
        return true;
    }
    int newCapacity = capacity == 0 ? 4 : capacity * 2;
    void* grownFrames = realloc(frames, sizeof(unsigned char*) * newCapacity);
    if (grownFrames == nullptr) {
        return false;
    }
    frames = static_cast<unsigned char**>(grownFrames);
    void* grownDelays = realloc(delays, sizeof(int) * newCapacity);
    if (grownDelays == nullptr) {
        return false;
    }
    delays = static_cast<int*>(grownDelays);
    capacity = newCapacity;
    return true;
}

bool GifFrameList::startFirstFrame(const uint8_t pixel[4]) {
    if (count != 0 || !reserveOneMore()) {
        return false;
    }
    // A screen of zero pixels still gets a real (one byte) buffer, so that null always
    // means failure.
    unsigned char* frame = static_cast<unsigned char*>(malloc(frameBytes > 0 ? frameBytes : 1));
    if (frame == nullptr) {
        return false;
    }
    const size_t pixels = frameBytes / 4;
    if (pixel[0] == pixel[1] && pixel[1] == pixel[2] && pixel[2] == pixel[3]) {
        memset(frame, pixel[0], frameBytes);
    } else {
        for (size_t i = 0; i < pixels; ++i) {
            memcpy(frame + 4 * i, pixel, 4);
        }
    }
    frames[0] = frame;
    delays[0] = 0;
    count = 1;
    return true;
}

bool GifFrameList::addFrame(bool copyCurrent) {
    if (count == 0 || !reserveOneMore()) {
        return false;
    }
    unsigned char* frame = static_cast<unsigned char*>(malloc(frameBytes > 0 ? frameBytes : 1));
    if (frame == nullptr) {
        return false;
    }
    if (copyCurrent) {
        memcpy(frame, frames[count - 1], frameBytes);
    }
    frames[count] = frame;
    delays[count] = 0;
    ++count;
    return true;
}

unsigned char** GifFrameList::releaseFrames() {
    unsigned char** released = frames;
    frames = nullptr;
    count = 0;
    capacity = 0;
    return released;
}

int* GifFrameList::releaseDelays() {
    int* released = delays;
    delays = nullptr;
    return released;
}

}  // namespace Lumetra
