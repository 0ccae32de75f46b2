#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "canvas/canvas_content/content_local_file_texture/decoded_picture.h"
#include "canvas/canvas_content/content_local_file_texture/GIFLoader.h"
#include "canvas/canvas_content/content_local_file_texture/picture_limits.h"
#include "canvas/canvas_content/content_local_file_texture/slot_files.h"

namespace Lumetra {

// Decodes one slot's file in two steps, so that the memory a picture needs is known, and
// can be waited for, before any of it is taken: the constructor opens the file that decides
// the slot (SlotFiles) and reads only its header; decode() then decodes it within the
// limits. Needs no GL context.
class SlotDecoder {
  public:
    SlotDecoder(const SlotFiles::Slot& file, const PictureLimits& limits);
    // Looks the slot's file up in ./textures/ first.
    SlotDecoder(int slot, const PictureLimits& limits);
    ~SlotDecoder();

    SlotDecoder(const SlotDecoder&) = delete;
    SlotDecoder& operator=(const SlotDecoder&) = delete;

    // Bytes decoding will hold at its peak; 0 when nothing will be decoded.
    uint64_t decodeBytes() const { return decode_bytes; }
    // Decodes (once) and hands the picture over.
    DecodedPicture decode();

  private:
    void probeStill();
    void probeGif();
    void requireMemory(const std::string& what, uint64_t bytes);
    void decodeStill();
    void decodeGif();
    void decodeVideo();
    void fitTexture(int frames);

    PictureLimits limits;
    DecodedPicture picture;
    FILE* file = nullptr;
    uint64_t file_bytes = 0;
    uint64_t decode_bytes = 0;
    GIFLoader gif_loader;  // holds a GIF's file from its plan to its decoding
    GifFramePlan gif_plan;
};

// Both steps at once.
DecodedPicture decodeSlot(int slot, const PictureLimits& limits);

}  // namespace Lumetra
