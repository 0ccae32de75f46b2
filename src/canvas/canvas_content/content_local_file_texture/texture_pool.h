#pragma once

#include "platform/gl.h"

#include <cstdint>
#include <vector>

namespace Lumetra {

// Textures of replaced stills, kept a little while for the next picture of the same size:
// making a large texture costs the GL more than filling one (Mesa's llvmpipe takes about
// 15 ms for 3840x2160, most of a frame), and pictures replaced in a stream tend to share a
// size. Holds at most a few, of at most `most_bytes` together, each for a short while.
// Render thread only.
class TexturePool {
  public:
    explicit TexturePool(uint64_t most_bytes) : most_bytes(most_bytes) {}
    ~TexturePool();

    TexturePool(const TexturePool&) = delete;
    TexturePool& operator=(const TexturePool&) = delete;

    // Keeps `name` (a width x height RGBA texture no slot uses any more), or deletes it.
    void give(GLuint name, int width, int height);
    // A kept texture of that size, or 0.
    GLuint take(int width, int height);
    // Once per frame: deletes what has waited too long.
    void frameDone();

  private:
    struct Kept {
        GLuint name;
        int width;
        int height;
        int frames_left;
    };
    std::vector<Kept> kept;
    const uint64_t most_bytes;
    uint64_t kept_bytes = 0;
};

}  // namespace Lumetra
