#pragma once

namespace Lumetra {

// What loadAnimatedGif reports besides the frames. delayArray comes from malloc; the
// caller keeps it and frees it.
struct GifAnimationInfo {
    int numberOfImages;
    int isLoopImage;
    int loopCount;
    int* delayArray;  // hundredths of a second, one entry per frame
};

// Decodes a GIF 87a/89a file into full logical-screen RGBA frames.
class GIFLoader {
  public:
    GIFLoader();
    // Returns numberOfImages frames of width*height*4 bytes (malloc'd, as is the array), or
    // null on any failure, in which case no output is written.
    unsigned char** loadAnimatedGif(const char* fileName, int* width, int* height,
                                    GifAnimationInfo* animationInfo);

  private:
    // The whole file in a malloc'd buffer, or null when it cannot be opened or fully read.
    unsigned char* readFileToBuffer(const char* fileName, long* fileSizeOutput);
};

}  // namespace Lumetra
