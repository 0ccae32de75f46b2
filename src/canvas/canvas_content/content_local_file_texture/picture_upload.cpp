#include "canvas/canvas_content/content_local_file_texture/picture_upload.h"

#include <utility>

#include "canvas/canvas_content/content_local_file_texture/texture.h"
#include "canvas/canvas_content/content_local_file_texture/texture_pool.h"

namespace Lumetra {

namespace {
// About a quarter of a megabyte per call: small enough to stop near the deadline.
const int kBandBytes = 256 * 1024;
}  // namespace

PictureUpload::PictureUpload(int slot, DecodedPicture&& p, uint64_t held)
    : slot_id(slot), picture(std::move(p)), held_bytes(held) {}

PictureUpload::~PictureUpload() {
    if (!names.empty()) {
        glDeleteTextures(static_cast<GLsizei>(names.size()), names.data());
    }
}

int PictureUpload::frames() const {
    return picture.gif_buffer != nullptr ? picture.gif_info.numberOfImages : 1;
}

unsigned char* PictureUpload::framePixels(int frame) const {
    return picture.gif_buffer != nullptr ? picture.gif_buffer[frame] : picture.png_buffer;
}

// Makes the texture of the next frame, without pixels yet; false when the GL refuses it.
bool PictureUpload::beginFrame(TexturePool* pool) {
    row = 0;
    const GLuint kept = picture.gif_buffer == nullptr && pool != nullptr
                            ? pool->take(picture.size_x, picture.size_y)
                            : 0;
    if (kept != 0) {
        names.push_back(kept);  // filters set when it was made
        return true;
    }
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
    }
    GLuint name = 0;
    glGenTextures(1, &name);
    names.push_back(name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, picture.size_x, picture.size_y, 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, nullptr);
    return glGetError() == GL_NO_ERROR;
}

bool PictureUpload::step(Clock::time_point deadline, TexturePool* pool) {
    const int width = picture.size_x;
    const int height = picture.size_y;
    const int band = width > 0 && width * 4 < kBandBytes ? kBandBytes / (width * 4) : 1;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    do {
        if (refused || picture.heldBytes() == 0) {
            return true;
        }
        if (names.empty() || row >= height) {
            if (static_cast<int>(names.size()) == frames()) {
                return true;
            }
            if (!beginFrame(pool)) {
                refused = true;
                return true;
            }
            if (Clock::now() >= deadline) {
                return false;  // making a large texture can take the frame's share alone
            }
        }
        const int rows = height - row < band ? height - row : band;
        glBindTexture(GL_TEXTURE_2D, names.back());
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, row, width, rows, GL_RGBA, GL_UNSIGNED_BYTE,
                        framePixels(static_cast<int>(names.size()) - 1) +
                            static_cast<size_t>(row) * static_cast<size_t>(width) * 4);
        row += rows;
    } while (Clock::now() < deadline);
    return static_cast<int>(names.size()) == frames() && row >= height;
}

Texture* PictureUpload::finish(VideoPlayer* player, GLfloat* texCoords, GLfloat* texCoordsVid) {
    if (refused || picture.heldBytes() == 0) {
        if (refused) {
            picture.refuse("the GL refused its " + std::to_string(picture.size_x) + "x" +
                           std::to_string(picture.size_y) + " texture");
        }
        return new Texture(slot_id, player, texCoords, texCoordsVid, std::move(picture));
    }
    std::vector<GLuint> filled;
    filled.swap(names);
    return new Texture(slot_id, player, texCoords, texCoordsVid, std::move(picture), filled);
}

}  // namespace Lumetra
