#pragma once

#include "platform/gl.h"

#include <chrono>
#include <vector>

#include "canvas/canvas_content/content_local_file_texture/decoded_picture.h"

namespace Lumetra {

class Texture;
class TexturePool;
class VideoPlayer;

// A decoded still or GIF on its way into new GL textures, a band of rows at a time, so
// that a large picture is spread over several frames instead of stretching one. The slot
// keeps showing its old texture until finish(). Render thread only.
class PictureUpload {
  public:
    using Clock = std::chrono::steady_clock;

    PictureUpload(int slot, DecodedPicture&& picture, uint64_t held_bytes);
    // Deletes the textures made so far unless finish() handed them on.
    ~PictureUpload();

    PictureUpload(const PictureUpload&) = delete;
    PictureUpload& operator=(const PictureUpload&) = delete;

    int slot() const { return slot_id; }
    uint64_t heldBytes() const { return held_bytes; }
    // Uploads bands until `deadline`, at least one; true once every frame is complete
    // (or the GL refused the picture). A still's texture comes from `pool` when it has one
    // of the size.
    bool step(Clock::time_point deadline, TexturePool* pool);
    // The slot's new Texture, owning the textures (or the error texture, when refused).
    Texture* finish(VideoPlayer* player, GLfloat* texCoords, GLfloat* texCoordsVid);

  private:
    int frames() const;
    unsigned char* framePixels(int frame) const;
    bool beginFrame(TexturePool* pool);

    int slot_id;
    DecodedPicture picture;
    uint64_t held_bytes;
    std::vector<GLuint> names;  // one per frame begun
    int row = 0;                // next row of the last frame begun
    bool refused = false;
};

}  // namespace Lumetra
