#pragma once

#include <cstddef>
#include <cstdint>

namespace Lumetra {

// The growing list of full-screen RGBA frames of one GIF, with one delay per frame. All
// buffers come from malloc because the caller releases them with free. Whatever has not
// been released when the list is destroyed is freed with it.
class GifFrameList {
  public:
    // frameBytes: size of one frame; outputLimit: the most bytes all frames together may take.
    GifFrameList(uint64_t frameBytes, uint64_t outputLimit);
    ~GifFrameList();
    GifFrameList(const GifFrameList&) = delete;
    GifFrameList& operator=(const GifFrameList&) = delete;

    // Creates frame 0 with every pixel set to the 4 bytes of `pixel`.
    bool startFirstFrame(const uint8_t pixel[4]);
    // Appends a frame, which becomes the current one: a copy of the current frame, or
    // uninitialised when the caller is about to set every pixel.
    bool addFrame(bool copyCurrent);

    unsigned char* current() const { return frames[count - 1]; }
    void setCurrentDelay(int delay) { delays[count - 1] = delay; }
    int getCount() const { return count; }
    const int* getDelays() const { return delays; }

    // Hands the frame array and the delay array to the caller; the list is empty afterwards.
    unsigned char** releaseFrames();
    int* releaseDelays();

  private:
    bool reserveOneMore();

    uint64_t frameBytes;
    uint64_t outputLimit;
    unsigned char** frames = nullptr;
    int* delays = nullptr;
    int count = 0;
    int capacity = 0;
};

}  // namespace Lumetra
