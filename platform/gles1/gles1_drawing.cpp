// The fixed-function OpenGL ES 1.x pipeline: the transform is loaded as the modelview
// matrix over an identity projection, the colour is the current colour, and the texture
// environment stays at GL_MODULATE.

#include <GLES/gl.h>

#include "platform/drawing_api.h"

namespace Lumetra {
namespace Platform {

namespace {

const float kNoQuad[12] = {0};

bool init() {
    glShadeModel(GL_FLAT);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_TEXTURE_2D);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_FASTEST);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisableClientState(GL_COLOR_ARRAY);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    // Until the caller hands its own: an enabled array must never point nowhere.
    glVertexPointer(3, GL_FLOAT, 0, kNoQuad);
    glTexCoordPointer(2, GL_FLOAT, 0, kNoQuad);
    return true;
}

void deinit() {}

void setVertices(const float* xyz) {
    glVertexPointer(3, GL_FLOAT, 0, xyz);
}

void setTexCoords(const float* st) {
    glTexCoordPointer(2, GL_FLOAT, 0, st);
}

void setColor(float r, float g, float b, float a) {
    glColor4f(r, g, b, a);
}

void setTransform(const float* matrix) {
    glLoadMatrixf(matrix);
}

void drawQuad() {
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

}  // namespace

const DrawingApi gles1_drawing = {
    "ES 1",      EGL_OPENGL_ES_BIT, 1,        init,         deinit,
    setVertices, setTexCoords,      setColor, setTransform, drawQuad,
};

}  // namespace Platform
}  // namespace Lumetra
