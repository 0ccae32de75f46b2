#include "canvas/canvas_content/content_local_file_texture/decoded_picture.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <stb/stb_image.h>

#include "canvas/canvas_content/content_local_file_texture/picture_limits.h"
#include "canvas/canvas_content/content_local_file_texture/picture_scaler.h"
#include "regular_file.h"

namespace Lumetra {

DecodedPicture::DecodedPicture(DecodedPicture&& other) noexcept {
    *this = std::move(other);
}

DecodedPicture& DecodedPicture::operator=(DecodedPicture&& other) noexcept {
    if (this != &other) {
        release();
        texture_type = other.texture_type;
        size_x = other.size_x;
        size_y = other.size_y;
        filename = std::move(other.filename);
        png_buffer = other.png_buffer;
        gif_buffer = other.gif_buffer;
        gif_info = other.gif_info;
        video_size_known = other.video_size_known;
        claimed_x = other.claimed_x;
        claimed_y = other.claimed_y;
        reduced_for = std::move(other.reduced_for);
        refused_for = std::move(other.refused_for);
        other.png_buffer = nullptr;
        other.gif_buffer = nullptr;
        other.gif_info = {0, 0, 0, nullptr};
    }
    return *this;
}

DecodedPicture::~DecodedPicture() {
    release();
}

void DecodedPicture::release() {
    if (png_buffer != nullptr) {
        stbi_image_free(png_buffer);
        png_buffer = nullptr;
    }
    if (gif_buffer != nullptr) {
        for (int i = 0; i < gif_info.numberOfImages; ++i) {
            std::free(gif_buffer[i]);
        }
        std::free(gif_buffer);
        gif_buffer = nullptr;
    }
    std::free(gif_info.delayArray);
    gif_info = {0, 0, 0, nullptr};
}

uint64_t DecodedPicture::heldBytes() const {
    if (png_buffer != nullptr) {
        return rgbaBytes(size_x, size_y);
    }
    if (gif_buffer != nullptr) {
        return rgbaBytes(size_x, size_y) * static_cast<uint64_t>(gif_info.numberOfImages);
    }
    return 0;
}

bool DecodedPicture::scaleTo(int width, int height, const std::string& reason) {
    const int frames = gif_buffer != nullptr ? gif_info.numberOfImages : 1;
    unsigned char** targets = gif_buffer != nullptr ? gif_buffer : &png_buffer;
    for (int i = 0; i < frames; ++i) {
        unsigned char* scaled = scaleRgba(targets[i], size_x, size_y, width, height);
        if (scaled == nullptr) {
            refuse("memory ran out while reducing it");
            return false;
        }
        std::free(targets[i]);
        targets[i] = scaled;
    }
    size_x = width;
    size_y = height;
    reduced_for = reduced_for.empty() ? reason : reduced_for + " and " + reason;
    return true;
}

void DecodedPicture::refuse(const std::string& reason) {
    release();
    refused_for = reason;
}

std::string DecodedPicture::notice() const {
    if (!refused_for.empty()) {
        const char* what = texture_type == TEX_VIDEO ? "not played" : "not shown";
        return filename + ": " + what + ": " + refused_for;
    }
    if (!reduced_for.empty()) {
        return filename + ": " + std::to_string(claimed_x) + "x" + std::to_string(claimed_y) +
               " reduced to " + std::to_string(size_x) + "x" + std::to_string(size_y) + " to fit " +
               reduced_for;
    }
    return "";
}

std::string slotBaseName(int slot) {
    std::string name = "./textures/";
    if (slot <= 99) {
        name += "0";
    }
    if (slot <= 9) {
        name += "0";
    }
    return name + std::to_string(slot);
}

bool fileExist(const std::string& filename) {
    return isReadableRegularFile(filename);
}

}  // namespace Lumetra
