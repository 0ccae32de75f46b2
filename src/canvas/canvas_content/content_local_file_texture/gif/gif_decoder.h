#pragma once

#include <cstddef>
#include <cstdint>

#include "canvas/canvas_content/content_local_file_texture/GIFLoader.h"
#include "canvas/canvas_content/content_local_file_texture/gif/gif_frame_list.h"
#include "canvas/canvas_content/content_local_file_texture/gif/gif_frame_plan.h"
#include "canvas/canvas_content/content_local_file_texture/gif/gif_lzw_decoder.h"
#include "canvas/canvas_content/content_local_file_texture/gif/gif_records.h"

namespace Lumetra {

// Walks the blocks of a whole GIF file held in memory, either only to plan its frames or
// to turn it into full logical-screen RGBA frames. Both use the same walk, so a plan and
// a decoding of the same bytes never disagree about the block structure. Every frame
// starts as a copy of the one before (disposal methods are read but not applied); images
// without a positive delay draw into the same frame. The file buffer is only read.
class GifDecoder {
  public:
    GifDecoder(const unsigned char* data, size_t size);
    ~GifDecoder();
    GifDecoder(const GifDecoder&) = delete;
    GifDecoder& operator=(const GifDecoder&) = delete;

    // Walks every block without decoding pixel data; false when the structure is broken.
    bool plan(GifFramePlan* plan);
    // Decodes the file; false on any failure, also when the frames together would take
    // more than frameLimit bytes.
    bool decode(uint64_t frameLimit);

    int getWidth() const { return screen.width; }
    int getHeight() const { return screen.height; }
    // After a successful decode: hands the frames and the delays (inside `info`) over to the
    // caller, who frees them.
    unsigned char** releaseFrames(GifAnimationInfo* info);

    static bool isGifHeader(const unsigned char* testMe);

  private:
    bool walk();
    bool readScreen();
    bool startFirstFrame();
    bool readExtension();
    void readLoopExtension();
    bool readImage();
    bool readImageDescriptor(GifImageDescriptor* image);
    bool decodeImage(const GifImageDescriptor& image, const unsigned char* table, int entries,
                     int minCodeSize);
    bool skipSubBlocks(size_t* position) const;

    const unsigned char* data;
    size_t size;
    bool planOnly = false;
    size_t position = 0;
    GifScreenDescriptor screen = {};
    const unsigned char* globalTable = nullptr;  // points into the file buffer
    int globalEntries = 0;
    int frameCount = 0;
    uint64_t frameLimit = 0;
    GifFrameList* frames = nullptr;
    GifGraphicControlExtension control = {};
    bool controlPending = false;
    bool newFrameDue = false;
    bool walked = false;
    bool decoded = false;
    int isLoopImage = 0;
    int loopCount = 0;
    GifLzwDecoder* lzw = nullptr;
};

// Decodes the GIF held in `data`: the one decoding route of GIFLoader and the fuzzer.
// memoryLimit bounds what decoding holds, the `size` bytes of the file and every frame
// together. Returns the frames and fills the outputs, or null and writes none of them.
unsigned char** decodeGifFrames(const unsigned char* data, size_t size, uint64_t memoryLimit,
                                int* width, int* height, GifAnimationInfo* info);

}  // namespace Lumetra
