#include "canvas/canvas_content/content_local_file_texture/slot_decoder.h"

#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <utility>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_FAILURE_USERMSG
#include <stb/stb_image.h>

#include "canvas/canvas_content/content_local_file_texture/picture_scaler.h"
#include "platform/clip_playback.h"
#include "regular_file.h"

namespace Lumetra {

namespace {

std::string sizeText(int width, int height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

std::string largestTexture(int max_texture) {
    return "the largest texture (" + sizeText(max_texture, max_texture) + ")";
}

}  // namespace

SlotDecoder::SlotDecoder(int slot, const PictureLimits& l)
    : SlotDecoder(SlotFiles::scan(kTextureDir).slot(slot), l) {}

SlotDecoder::SlotDecoder(const SlotFiles::Slot& slot_file, const PictureLimits& l) : limits(l) {
    if (slot_file.path.empty()) {
        return;  // TEX_NONE: no file for the slot
    }
    file = openRegularFile(slot_file.path);
    if (file == nullptr) {
        return;  // gone since the directory was read: like no file
    }
    picture.filename = slot_file.path;
    picture.texture_type = slot_file.type;
    struct stat info;
    file_bytes = fstat(fileno(file), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
    if (picture.texture_type == TEX_PNG) {
        probeStill();
    } else if (picture.texture_type == TEX_GIF) {
        probeGif();
    }
}

SlotDecoder::~SlotDecoder() {
    if (file != nullptr) {
        std::fclose(file);
    }
}

// Refuses the picture when decoding it would take more than may be decoded at once.
void SlotDecoder::requireMemory(const std::string& what, uint64_t bytes) {
    if (bytes > limits.in_flight_bytes) {
        picture.refuse("decoding its " + what + " needs " + memoryText(bytes) + ", more than the " +
                       memoryText(limits.in_flight_bytes) + " allowed");
        return;
    }
    decode_bytes = bytes;
}

void SlotDecoder::probeStill() {
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_file(file, &width, &height, &channels)) {
        return;  // does not decode: shown as nothing, like a missing file
    }
    picture.claimed_x = width;
    picture.claimed_y = height;
    if (!sizeIsPlausible(width, height, file_bytes)) {
        picture.refuse("it claims " + sizeText(width, height) + " pixels, far more than its " +
                       std::to_string(file_bytes) + " bytes can hold");
        return;
    }
    // stb_image holds the file's own pixels (floats for Radiance) besides the RGBA result,
    // and a PNG's inflated rows too.
    const uint64_t pixels = rgbaBytes(width, height) / 4;
    const bool hdr = stbi_is_hdr_from_file(file) != 0;
    requireMemory(sizeText(width, height) + " pixels", hdr ? pixels * (4 + 16) : pixels * 4 * 3);
}

// The GIF is read whole here, once: its frames are planned over the bytes read, and
// decodeGif decodes those same bytes.
void SlotDecoder::probeGif() {
    if (file_bytes > limits.in_flight_bytes) {
        picture.refuse("decoding it needs its whole " + memoryText(file_bytes) +
                       " file, more than the " + memoryText(limits.in_flight_bytes) + " allowed");
        return;
    }
    if (!gif_loader.planAnimatedGif(file, limits.in_flight_bytes, &gif_plan)) {
        return;  // unreadable or no sound GIF: shown as nothing
    }
    picture.claimed_x = gif_plan.width;
    picture.claimed_y = gif_plan.height;
    if (!sizeIsPlausible(gif_plan.width, gif_plan.height, file_bytes)) {
        picture.refuse("it claims a screen of " + sizeText(gif_plan.width, gif_plan.height) +
                       " pixels, far more than its " + std::to_string(file_bytes) +
                       " bytes can hold");
        gif_loader.releaseFile();
        return;
    }
    // The whole file, every frame, and one scaled frame when the screen is too large.
    GifFramePlan with_scaled = gif_plan;
    ++with_scaled.frames;
    requireMemory(
        std::to_string(gif_plan.frames) + " frames of " + sizeText(gif_plan.width, gif_plan.height),
        with_scaled.decodeBytes(file_bytes));
    if (decode_bytes == 0) {
        gif_loader.releaseFile();
    }
}

DecodedPicture SlotDecoder::decode() {
    if (file != nullptr && picture.refused_for.empty()) {
        if (picture.texture_type == TEX_PNG && decode_bytes > 0) {
            decodeStill();
        } else if (picture.texture_type == TEX_GIF && decode_bytes > 0) {
            decodeGif();
        } else if (picture.texture_type == TEX_VIDEO) {
            decodeVideo();
        }
    }
    if (file != nullptr) {
        std::fclose(file);
        file = nullptr;
    }
    return std::move(picture);
}

void SlotDecoder::decodeStill() {
    int n = 0;
    std::rewind(file);
    picture.png_buffer = stbi_load_from_file(file, &picture.size_x, &picture.size_y, &n, 4);
    if (picture.png_buffer == nullptr) {
        picture.size_x = 0;
        picture.size_y = 0;
        return;
    }
    picture.claimed_x = picture.size_x;
    picture.claimed_y = picture.size_y;
    fitTexture(1);
}

void SlotDecoder::decodeGif() {
    // Held to what was reserved for it.
    picture.gif_buffer = gif_loader.decodePlannedGif(decode_bytes, &picture.size_x, &picture.size_y,
                                                     &picture.gif_info);
    if (picture.gif_buffer == nullptr) {
        return;
    }
    fitTexture(picture.gif_info.numberOfImages);
}

// Scales every frame down when the picture is larger than the GL can take.
void SlotDecoder::fitTexture(int frames) {
    int width = 0, height = 0;
    if (!fitPictureSize(picture.size_x, picture.size_y, frames, limits.max_texture, UINT64_MAX,
                        &width, &height)) {
        picture.refuse("it has no pixels to show");
        return;
    }
    if (width == picture.size_x && height == picture.size_y) {
        return;
    }
    picture.scaleTo(width, height, largestTexture(limits.max_texture));
}

void SlotDecoder::decodeVideo() {
    int width = 0, height = 0;
    std::string why_not;
    if (!Platform::clipPictureSize(picture.filename, &width, &height, &why_not)) {
        picture.refused_for = why_not;
        return;
    }
    picture.claimed_x = width;
    picture.claimed_y = height;
    // Beyond the GL's limit the texture cannot be made: like a clip of unknown size.
    if (width > limits.max_texture || height > limits.max_texture) {
        picture.refused_for = "its size " + sizeText(width, height) + " is beyond " +
                              largestTexture(limits.max_texture);
        return;
    }
    if (!sizeIsPlausible(width, height, file_bytes)) {
        picture.refused_for = "it claims " + sizeText(width, height) +
                              " pixels, far more than its " + std::to_string(file_bytes) +
                              " bytes can hold";
        return;
    }
    picture.size_x = width;
    picture.size_y = height;
    picture.video_size_known = true;
}

DecodedPicture decodeSlot(int slot, const PictureLimits& limits) {
    SlotDecoder decoder(slot, limits);
    return decoder.decode();
}

}  // namespace Lumetra
