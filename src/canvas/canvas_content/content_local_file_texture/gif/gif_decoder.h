#pragma once

#include <cstddef>
#include <cstdint>

#include "canvas/canvas_content/content_local_file_texture/GIFLoader.h"
#include "canvas/canvas_content/content_local_file_texture/gif/gif_frame_list.h"
#include "canvas/canvas_content/content_local_file_texture/gif/gif_lzw_decoder.h"
#include "canvas/canvas_content/content_local_file_texture/gif/gif_records.h"

namespace Lumetra {

// Turns the bytes of a whole GIF file into full logical-screen RGBA frames. Every frame
// starts as a copy of the one before (disposal methods are read but not applied); images
// without a positive delay draw into the same frame. The file buffer is only read.
class GifDecoder {
  public:
    // outputLimit: the most bytes all frames together may take; a file that needs more fails.
    GifDecoder(const unsigned char* data, size_t size, uint64_t outputLimit);
    ~GifDecoder();
    GifDecoder(const GifDecoder&) = delete;
    GifDecoder& operator=(const GifDecoder&) = delete;

    // Decodes the file; false on any failure.
    bool decode();

    int getWidth() const { return screen.width; }
    int getHeight() const { return screen.height; }
    // After a successful decode: hands the frames and the delays (inside `info`) over to the
    // caller, who frees them.
    unsigned char** releaseFrames(GifAnimationInfo* info);

    static bool isGifHeader(const unsigned char* testMe);

  private:
    bool readScreen();
    bool readExtension();
    void readLoopExtension();
    bool readImage();
    bool readImageDescriptor(GifImageDescriptor* image);
    bool skipSubBlocks(size_t* position) const;

    const unsigned char* data;
    size_t size;
    size_t position = 0;
    uint64_t outputLimit;
    GifScreenDescriptor screen = {};
    const unsigned char* globalTable = nullptr;  // points into the file buffer
    int globalEntries = 0;
    GifFrameList* frames = nullptr;
    GifGraphicControlExtension control = {};
    bool controlPending = false;
    bool newFrameDue = false;
    bool decoded = false;
    int isLoopImage = 0;
    int loopCount = 0;
    GifLzwDecoder* lzw = nullptr;
};

}  // namespace Lumetra
