#pragma once

#include "platform/gl.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "canvas/canvas_content/content_local_file_texture/GIFLoader.h"
#include "canvas/canvas_content/content_local_file_texture/decoded_picture.h"

namespace Lumetra {

class VideoPlayer;

// One picture slot: a still image, an animated GIF (one texture per frame, advanced per
// bind) or a video clip, or a 1x1 error texture.
class Texture {
  public:
    // Uploads a picture already decoded (on a worker thread) for slot t_id.
    Texture(int t_id, VideoPlayer* player, GLfloat* texCoords_ptr, GLfloat* texCoordsVid_ptr,
            DecodedPicture&& decoded);
    // Takes over textures already filled with the decoded still (one) or GIF frames (one
    // per frame); the pixels are freed.
    Texture(int t_id, VideoPlayer* player, GLfloat* texCoords_ptr, GLfloat* texCoordsVid_ptr,
            DecodedPicture&& decoded, const std::vector<GLuint>& filled);
    ~Texture();

    Texture(const Texture&) = delete;
    Texture& operator=(const Texture&) = delete;

    void setTexture();
    float getTextureRatio();
    TEXTURE_TYPE getTextureType() const { return texture_type; }
    // Hands a still's texture over (it is then not deleted here); 0 for other kinds.
    GLuint takeStillTexture();
    int getSizeX() const { return size_x; }
    int getSizeY() const { return size_y; }
    // Bytes of texture memory the slot keeps.
    uint64_t keptBytes() const;

  private:
    void upload(DecodedPicture& decoded);
    void uploadStill(DecodedPicture& decoded);
    void uploadGif(DecodedPicture& decoded);
    void startVideo(DecodedPicture& decoded);
    void makeErrorTexture(unsigned char r, unsigned char g, unsigned char b, unsigned char a);
    void bindGifFrame();
    int gifFrameByTime();
    void takeGifTimes(DecodedPicture& decoded);

    GLfloat* texCoords_ptr;
    GLfloat* texCoordsVid_ptr;
    int texture_id;
    TEXTURE_TYPE texture_type = TEX_NONE;
    int size_x = 0;
    int size_y = 0;
    GLuint none_tex = 0;
    unsigned char* png_buffer = nullptr;
    GLuint png_tex = 0;
    unsigned char** gif_buffer = nullptr;
    GifAnimationInfo gif_info = {0, 0, 0, nullptr};
    unsigned long gif_time = 0;
    bool gif_shown = false;  // by the time clock: gif_start holds the first bind
    std::chrono::steady_clock::time_point gif_start{};
    GLuint* gif_tex = nullptr;
    VideoPlayer* player;
    int player_id = 0;
    GLuint video_tex = 0;
};

}  // namespace Lumetra
