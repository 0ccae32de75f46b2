#include "canvas/canvas_content/content_local_file_texture/texture_pool.h"

#include "canvas/canvas_content/content_local_file_texture/picture_limits.h"

namespace Lumetra {

namespace {
const size_t kMostKept = 4;
const int kKeepFrames = 60;  // about a second at 60 Hz
}  // namespace

TexturePool::~TexturePool() {
    for (const Kept& k : kept) {
        glDeleteTextures(1, &k.name);
    }
}

void TexturePool::give(GLuint name, int width, int height) {
    const uint64_t bytes = rgbaBytes(width, height);
    if (name == 0 || kept.size() >= kMostKept || kept_bytes + bytes > most_bytes) {
        glDeleteTextures(1, &name);
        return;
    }
    kept.push_back({name, width, height, kKeepFrames});
    kept_bytes += bytes;
}

GLuint TexturePool::take(int width, int height) {
    for (size_t i = 0; i < kept.size(); ++i) {
        if (kept[i].width == width && kept[i].height == height) {
            const GLuint name = kept[i].name;
            kept_bytes -= rgbaBytes(width, height);
            kept.erase(kept.begin() + static_cast<long>(i));
            return name;
        }
    }
    return 0;
}

void TexturePool::frameDone() {
    for (size_t i = 0; i < kept.size();) {
        if (--kept[i].frames_left > 0) {
            ++i;
            continue;
        }
        glDeleteTextures(1, &kept[i].name);
        kept_bytes -= rgbaBytes(kept[i].width, kept[i].height);
        kept.erase(kept.begin() + static_cast<long>(i));
    }
}

}  // namespace Lumetra
