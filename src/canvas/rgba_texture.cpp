#include "canvas/rgba_texture.h"

namespace Lumetra {

bool uploadRgbaTexture(GLuint name, int width, int height, const void* pixels) {
    // Errors left by earlier calls must not be taken for this upload's.
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
    }
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    // OpenGL ES 2 samples a texture whose sides are not powers of two only when it is
    // clamped; otherwise such a picture would draw black on a strict driver.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    return glGetError() == GL_NO_ERROR;
}

}  // namespace Lumetra
