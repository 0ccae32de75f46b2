#include "canvas/canvas_content/content_local_file_texture/decoded_picture.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_FAILURE_USERMSG
#include <stb/stb_image.h>

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
    FILE* file = std::fopen(filename.c_str(), "r");
    if (file == nullptr) {
        return false;
    }
    std::fclose(file);
    return true;
}

namespace {

void decodeStill(DecodedPicture& picture) {
    int n = 0;
    picture.texture_type = TEX_PNG;
    picture.png_buffer =
        stbi_load(picture.filename.c_str(), &picture.size_x, &picture.size_y, &n, 4);
    if (picture.png_buffer == nullptr) {
        picture.size_x = 0;
        picture.size_y = 0;
    }
}

void decodeGif(DecodedPicture& picture) {
    GIFLoader loader;
    picture.texture_type = TEX_GIF;
    picture.gif_buffer = loader.loadAnimatedGif(picture.filename.c_str(), &picture.size_x,
                                                &picture.size_y, &picture.gif_info);
}

}  // namespace

DecodedPicture decodeSlot(int slot) {
    DecodedPicture picture;
    const std::string base = slotBaseName(slot);
    if (fileExist(base + ".png")) {
        picture.filename = base + ".png";
        decodeStill(picture);
    } else if (fileExist(base + ".gif")) {
        picture.filename = base + ".gif";
        decodeGif(picture);
    } else if (fileExist(base + ".h264")) {
        picture.filename = base + ".h264";
        picture.texture_type = TEX_VIDEO;
        picture.video_size_known = getVideoSize(picture.filename, &picture.size_x, &picture.size_y);
    }
    return picture;
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

bool getVideoSize(std::string& filename, int* size_x, int* size_y) {
    const std::string command = std::string(kMediainfoQuery) + filename;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return false;
    }
    char reply[200] = {0};
    if (std::fgets(reply, sizeof(reply), pipe) == nullptr) {
        reply[0] = '\0';
    }
    pclose(pipe);
    return parseVideoSizeReply(reply, size_x, size_y);
}

}  // namespace Lumetra
