#pragma once

#include <cstdint>
#include <cstdio>

#include "canvas/canvas_content/content_local_file_texture/gif/gif_frame_plan.h"

namespace Lumetra {

// What loadAnimatedGif reports besides the frames. delayArray comes from malloc; the
// caller keeps it and frees it.
struct GifAnimationInfo {
    int numberOfImages;
    int isLoopImage;
    int loopCount;
    int* delayArray;  // hundredths of a second, one entry per frame
};

// Decodes a GIF 87a/89a file into full logical-screen RGBA frames. The file is read once;
// its frames are planned and decoded over that one buffer, and everything it takes while
// decoding (the file and all frames) is held to one memory limit.
class GIFLoader {
  public:
    GIFLoader();
    ~GIFLoader();
    GIFLoader(const GIFLoader&) = delete;
    GIFLoader& operator=(const GIFLoader&) = delete;

    // Returns numberOfImages frames of width*height*4 bytes (malloc'd, as is the array), or
    // null on any failure, in which case no output is written. Held to memoryLimit().
    unsigned char** loadAnimatedGif(const char* fileName, int* width, int* height,
                                    GifAnimationInfo* animationInfo);

    // The same route in two steps, for a caller that reserves a GIF's memory before it is
    // decoded. planAnimatedGif reads the open regular file whole, when it has at most
    // maxFileBytes, and plans its frames (false: unreadable, too large or no sound GIF);
    // decodePlannedGif then decodes those bytes, provided the file and all planned frames
    // fit memoryLimit and the file could really hold the screen it claims, and lets the
    // file go either way.
    bool planAnimatedGif(FILE* file, uint64_t maxFileBytes, GifFramePlan* plan);
    unsigned char** decodePlannedGif(uint64_t memoryLimit, int* width, int* height,
                                     GifAnimationInfo* animationInfo);
    // Lets the read file go without decoding it.
    void releaseFile();

    // What one GIF may take while it is decoded: the picture budget's share for decoding
    // (a quarter of the machine's memory, or half of LUMETRA_PICTURE_MEMORY).
    static uint64_t memoryLimit();

  private:
    // The whole file in a malloc'd buffer, or null when it cannot be opened or fully read,
    // or is larger than memoryLimit().
    unsigned char* readFileToBuffer(const char* fileName, long* fileSizeOutput);
    unsigned char* readOpenFile(FILE* file, uint64_t maxFileBytes, long* fileSizeOutput);
    bool planBuffer();

    unsigned char* fileBuffer = nullptr;
    long fileSize = 0;
    bool planned = false;
    GifFramePlan plan;
};

}  // namespace Lumetra
