#include "canvas/canvas_content/content_local_file_texture/decoded_picture.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <stb/stb_image.h>

#include "canvas/canvas_content/content_local_file_texture/command_reply.h"
#include "canvas/canvas_content/content_local_file_texture/picture_limits.h"
#include "canvas/canvas_content/content_local_file_texture/picture_scaler.h"
#include "regular_file.h"

namespace Lumetra {

namespace {
const char kMediainfoQuery[] = "mediainfo --Inform=\"Video;info4lumetra|%Width%|%Height%|\" ";
const char kReplyMarker[] = "info4lumetra|";
}  // namespace

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

bool parseVideoSizeReply(const char* reply, int* size_x, int* size_y) {
    const size_t marker_length = std::strlen(kReplyMarker);
    if (std::strncmp(reply, kReplyMarker, marker_length) != 0) {
        return false;
    }
    const char* rest = reply + marker_length;
    char* end = nullptr;
    long width = std::strtol(rest, &end, 10);
    if (end == rest || *end == '\0') {
        return false;
    }
    rest = end + 1;  // the bar after the width
    long height = std::strtol(rest, &end, 10);
    if (end == rest || width < 1 || height < 1 || width > 65535 || height > 65535) {
        return false;
    }
    *size_x = static_cast<int>(width);
    *size_y = static_cast<int>(height);
    return true;
}

// An outside tool may hang (a clip on a dead network share, a broken install): it gets a
// time limit and is killed after it, and the clip's size counts as unknown.
bool getVideoSize(std::string& filename, int* size_x, int* size_y, bool* timed_out) {
    const std::string command = std::string(kMediainfoQuery) + filename;
    char reply[200] = {0};
    bool late = false;
    const bool answered =
        readCommandReply(command, kVideoSizeTimeoutMs, reply, sizeof(reply), &late);
    if (timed_out != nullptr) {
        *timed_out = late;
    }
    return answered && parseVideoSizeReply(reply, size_x, size_y);
}

}  // namespace Lumetra
