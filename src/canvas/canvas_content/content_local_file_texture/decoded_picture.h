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
    // The size the file claims, before any reduction.
    int claimed_x = 0;
    int claimed_y = 0;
    // Why the picture was made smaller ("the largest texture (2048x2048)"), or why it is
    // not shown at all; each empty when it does not apply.
    std::string reduced_for;
    std::string refused_for;

    DecodedPicture() = default;
    DecodedPicture(DecodedPicture&& other) noexcept;
    DecodedPicture& operator=(DecodedPicture&& other) noexcept;
    DecodedPicture(const DecodedPicture&) = delete;
    DecodedPicture& operator=(const DecodedPicture&) = delete;
    ~DecodedPicture();

    // Frees pixels that were not handed on to an upload.
    void release();
    // Bytes of decoded pixels held.
    uint64_t heldBytes() const;
    // Scales the still or every GIF frame to `width` x `height` and records why; refuses
    // the picture when memory runs out.
    bool scaleTo(int width, int height, const std::string& reason);
    // Drops the pixels and records why the picture is not shown.
    void refuse(const std::string& reason);
    // The one line that tells what happened to a reduced or refused picture; empty when
    // it is shown as the file has it.
    std::string notice() const;
};

// "./textures/007" for slot 7: the slot's file name without extension.
std::string slotBaseName(int slot);

// A file exists for a slot when it is a regular file that can be opened for reading.
bool fileExist(const std::string& filename);

}  // namespace Lumetra
