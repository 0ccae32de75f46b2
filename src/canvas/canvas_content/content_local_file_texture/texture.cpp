#include "canvas/canvas_content/content_local_file_texture/texture.h"

#include <climits>
#include <cstdlib>
#include <utility>

#include "canvas/canvas_content/content_local_file_texture/gif_clock.h"
#include "canvas/canvas_content/content_local_file_texture/load_progress.h"
#include "canvas/canvas_content/content_local_file_texture/picture_limits.h"
#include "canvas/canvas_content/content_local_file_texture/slot_decoder.h"
#include "canvas/canvas_content/content_local_file_texture/video_player.h"
#include "canvas/rgba_texture.h"
#include "platform/drawing.h"

namespace Lumetra {

namespace {

std::string refusedByGl(int width, int height) {
    return "the GL refused its " + std::to_string(width) + "x" + std::to_string(height) +
           " texture";
}

}  // namespace

Texture::Texture(int t_id, VideoPlayer* p, GLfloat* tc, GLfloat* tcv, DecodedPicture&& decoded)
    : texCoords_ptr(tc), texCoordsVid_ptr(tcv), texture_id(t_id), player(p) {
    upload(decoded);
}

Texture::Texture(int t_id, VideoPlayer* p, GLfloat* tc, GLfloat* tcv, DecodedPicture&& decoded,
                 const std::vector<GLuint>& filled)
    : texCoords_ptr(tc), texCoordsVid_ptr(tcv), texture_id(t_id), player(p) {
    size_x = decoded.size_x;
    size_y = decoded.size_y;
    if (decoded.gif_buffer != nullptr) {
        texture_type = TEX_GIF;
        takeGifTimes(decoded);
        gif_tex = new GLuint[gif_info.numberOfImages];
        for (int j = 0; j < gif_info.numberOfImages; ++j) {
            gif_tex[j] = filled[static_cast<size_t>(j)];
        }
    } else {
        texture_type = TEX_PNG;
        png_tex = filled[0];
    }
    decoded.release();
    const std::string notice = decoded.notice();
    if (!notice.empty()) {
        reportLoadNotice(notice);
    }
}

Texture::~Texture() {
    switch (texture_type) {
        case TEX_NONE:
            glDeleteTextures(1, &none_tex);
            break;
        case TEX_PNG:
            glDeleteTextures(1, &png_tex);
            break;
        case TEX_GIF:
            glDeleteTextures(gif_info.numberOfImages, gif_tex);
            delete[] gif_tex;
            break;
        case TEX_VIDEO:
            player->stopPlayer(player_id);
            glDeleteTextures(1, &video_tex);
            break;
    }
    std::free(gif_info.delayArray);
}

GLuint Texture::takeStillTexture() {
    if (texture_type != TEX_PNG) {
        return 0;
    }
    const GLuint name = png_tex;
    png_tex = 0;  // deleting name 0 does nothing
    return name;
}

uint64_t Texture::keptBytes() const {
    switch (texture_type) {
        case TEX_PNG:
        case TEX_VIDEO:
            return rgbaBytes(size_x, size_y);
        case TEX_GIF:
            return rgbaBytes(size_x, size_y) * static_cast<uint64_t>(gif_info.numberOfImages);
        case TEX_NONE:
            break;
    }
    return 4;
}

void Texture::upload(DecodedPicture& decoded) {
    switch (decoded.texture_type) {
        case TEX_PNG:
            uploadStill(decoded);
            break;
        case TEX_GIF:
            uploadGif(decoded);
            break;
        case TEX_VIDEO:
            startVideo(decoded);
            break;
        case TEX_NONE:
            makeErrorTexture(255, 0, 0, 0);  // no file: invisible
            break;
    }
    decoded.release();
    const std::string notice = decoded.notice();
    if (!notice.empty()) {
        reportLoadNotice(notice);
    }
}

// A file that does not decode shows nothing, like a missing one.
void Texture::uploadStill(DecodedPicture& decoded) {
    if (decoded.png_buffer == nullptr) {
        makeErrorTexture(255, 0, 0, 0);
        return;
    }
    texture_type = TEX_PNG;
    size_x = decoded.size_x;
    size_y = decoded.size_y;
    png_buffer = decoded.png_buffer;
    glGenTextures(1, &png_tex);
    const bool uploaded = uploadRgbaTexture(png_tex, size_x, size_y, png_buffer);
    png_buffer = nullptr;  // freed by decoded.release()
    if (!uploaded) {
        glDeleteTextures(1, &png_tex);
        png_tex = 0;
        decoded.refuse(refusedByGl(size_x, size_y));
        makeErrorTexture(255, 0, 0, 0);
    }
}

void Texture::uploadGif(DecodedPicture& decoded) {
    if (decoded.gif_buffer == nullptr || decoded.gif_info.numberOfImages < 1) {
        makeErrorTexture(255, 0, 0, 0);
        return;
    }
    texture_type = TEX_GIF;
    size_x = decoded.size_x;
    size_y = decoded.size_y;
    takeGifTimes(decoded);
    gif_buffer = decoded.gif_buffer;
    gif_tex = new GLuint[gif_info.numberOfImages];
    glGenTextures(gif_info.numberOfImages, gif_tex);
    bool uploaded = true;
    for (int j = 0; j < gif_info.numberOfImages; ++j) {
        uploaded = uploaded && uploadRgbaTexture(gif_tex[j], size_x, size_y, gif_buffer[j]);
        std::free(gif_buffer[j]);
        gif_buffer[j] = nullptr;
    }
    std::free(gif_buffer);
    gif_buffer = nullptr;
    decoded.gif_buffer = nullptr;
    if (!uploaded) {
        glDeleteTextures(gif_info.numberOfImages, gif_tex);
        delete[] gif_tex;
        gif_tex = nullptr;
        std::free(gif_info.delayArray);
        gif_info = {0, 0, 0, nullptr};
        decoded.refuse(refusedByGl(size_x, size_y));
        makeErrorTexture(255, 0, 0, 0);
    }
}

// The slot keeps the delays, turned into end times: entry k is when frame k stops showing.
void Texture::takeGifTimes(DecodedPicture& decoded) {
    gif_info = decoded.gif_info;
    decoded.gif_info.delayArray = nullptr;
    gif_time = 0;
    for (int k = 1; k < gif_info.numberOfImages; ++k) {
        long sum = static_cast<long>(gif_info.delayArray[k]) + gif_info.delayArray[k - 1];
        gif_info.delayArray[k] = sum > INT_MAX ? INT_MAX : static_cast<int>(sum);
    }
}

void Texture::startVideo(DecodedPicture& decoded) {
    texture_type = TEX_VIDEO;
    if (!decoded.video_size_known) {
        makeErrorTexture(255, 255, 0, 63);  // size unknown: faint yellow
        return;
    }
    size_x = decoded.size_x;
    size_y = decoded.size_y;
    glGenTextures(1, &video_tex);
    // Earlier errors are not this allocation's (bounded: a lost context may never clear).
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
    }
    glBindTexture(GL_TEXTURE_2D, video_tex);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, size_x, size_y, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    if (glGetError() != GL_NO_ERROR) {
        // No texture, no EGL image: like a clip whose size cannot be learned.
        glDeleteTextures(1, &video_tex);
        video_tex = 0;
        decoded.refused_for = refusedByGl(size_x, size_y);
        makeErrorTexture(255, 255, 0, 63);
        return;
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    player_id = player->startFreePlayer(decoded.filename, &video_tex);
    if (player_id < 1) {
        glDeleteTextures(1, &video_tex);
        video_tex = 0;
        makeErrorTexture(255, 0, 0, 63);  // all players taken: faint red
    }
}

void Texture::makeErrorTexture(unsigned char r, unsigned char g, unsigned char b, unsigned char a) {
    texture_type = TEX_NONE;
    unsigned char* pixel = static_cast<unsigned char*>(std::malloc(4));
    pixel[0] = r;
    pixel[1] = g;
    pixel[2] = b;
    pixel[3] = a;
    size_x = 1;
    size_y = 1;
    glGenTextures(1, &none_tex);
    uploadRgbaTexture(none_tex, 1, 1, pixel);
    std::free(pixel);
}

void Texture::setTexture() {
    Platform::setTexCoords(texCoords_ptr);
    switch (texture_type) {
        case TEX_NONE:
            glBindTexture(GL_TEXTURE_2D, none_tex);
            break;
        case TEX_PNG:
            glBindTexture(GL_TEXTURE_2D, png_tex);
            break;
        case TEX_GIF:
            bindGifFrame();
            break;
        case TEX_VIDEO:
            Platform::setTexCoords(texCoordsVid_ptr);
            glBindTexture(GL_TEXTURE_2D, video_tex);
            break;
    }
}

// The clock counts hundredths of a second and moves 2 per bind: at 50 binds a second the
// GIF plays at its own speed.
void Texture::bindGifFrame() {
    if (gifClockByTime()) {
        glBindTexture(GL_TEXTURE_2D, gif_tex[gifFrameByTime()]);
        return;
    }
    const int n = gif_info.numberOfImages;
    const int* end_times = gif_info.delayArray;
    if (gif_time > static_cast<unsigned long>(end_times[n - 1])) {
        gif_time = 0;
    }
    int z = 0;
    while (z < n - 1 && static_cast<unsigned long>(end_times[z]) < gif_time) {
        ++z;
    }
    glBindTexture(GL_TEXTURE_2D, gif_tex[z]);
    gif_time += 2;
}

// Frame z shows from the end of frame z-1 up to its own end time; the loop starts when the
// GIF is first shown.
int Texture::gifFrameByTime() {
    const std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
    if (!gif_shown) {
        gif_shown = true;
        gif_start = now;
    }
    const int n = gif_info.numberOfImages;
    const int* end_times = gif_info.delayArray;
    const long long loop = end_times[n - 1];
    if (loop <= 0) {
        return 0;  // no delays: as the bind clock, the first frame stands
    }
    const long long hundredths =
        std::chrono::duration_cast<std::chrono::milliseconds>(now - gif_start).count() / 10;
    const long long t = hundredths % loop;
    int z = 0;
    while (z < n - 1 && end_times[z] <= t) {
        ++z;
    }
    return z;
}

float Texture::getTextureRatio() {
    if (size_x > 0 && size_y > 0) {
        return static_cast<float>(size_y) / static_cast<float>(size_x);
    }
    return 0.0f;
}

}  // namespace Lumetra
