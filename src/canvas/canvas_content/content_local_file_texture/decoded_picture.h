#pragma once

#include <cstdint>
#include <string>

#include "canvas/canvas_content/content_local_file_texture/GIFLoader.h"

namespace Lumetra {

enum TEXTURE_TYPE : int32_t { TEX_NONE = 0, TEX_PNG = 1, TEX_GIF = 2, TEX_VIDEO = 3 };

// What a slot's file holds once it is decoded, before anything touches GL. Decoding needs
// no GL context, so it can run on worker threads; uploading happens on the render thread.
struct DecodedPicture {
    TEXTURE_TYPE texture_type = TEX_NONE;
    int size_x = 0;
    int size_y = 0;
    std::string filename;                  // the file that decided the type
    unsigned char* png_buffer = nullptr;   // stb_image pixels, RGBA
    unsigned char** gif_buffer = nullptr;  // the decoder's frames
    GifAnimationInfo gif_info = {0, 0, 0, nullptr};
    bool video_size_known = false;

    DecodedPicture() = default;
    DecodedPicture(DecodedPicture&& other) noexcept;
    DecodedPicture& operator=(DecodedPicture&& other) noexcept;
    DecodedPicture(const DecodedPicture&) = delete;
    DecodedPicture& operator=(const DecodedPicture&) = delete;
    ~DecodedPicture();

    // Frees pixels that were not handed on to an upload.
    void release();
};

// "./textures/007" for slot 7: the slot's file name without extension.
std::string slotBaseName(int slot);

// Probes NNN.png, NNN.gif, NNN.h264 in this order and decodes the first that exists.
DecodedPicture decodeSlot(int slot);

bool fileExist(const std::string& filename);

// Asks `mediainfo` for a clip's size; false (sizes untouched) when it cannot tell.
bool getVideoSize(std::string& filename, int* size_x, int* size_y);

// Parses a mediainfo reply "info4lumetra|W|H|..."; false unless both are at least 1.
bool parseVideoSizeReply(const char* reply, int* size_x, int* size_y);

}  // namespace Lumetra
