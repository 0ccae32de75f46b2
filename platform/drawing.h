#pragma once

// What the renderer draws with: one textured, coloured quad at a time, under a transform
// the caller computes, blended over what is there (source alpha). Behind it sits OpenGL
// ES 2 (one shader program) or the ES 1.x fixed-function pipeline; both give the same
// pixels for the same calls: the texel times the colour, nearest texel, no depth test.
//
// Valid between a successful drawingInit and drawingDeinit, on the thread holding the
// context. Pointers handed over are kept, as GL client arrays are: the data is read at
// each drawQuad.

#include <EGL/egl.h>

namespace Lumetra {
namespace Platform {

// The EGL_RENDERABLE_TYPE bit the renderer's config must have.
EGLint renderableType();

// A context of the GL ES version this layer draws with. EGL_NO_CONTEXT, after one line on
// stderr saying why, when the driver refuses it.
EGLContext createContext(EGLDisplay display, EGLConfig config);

// Sets up blending, texturing and the program once the context is current. False (with
// the reason on stderr) when the GL cannot draw as this layer needs.
bool drawingInit();
// Frees what drawingInit made; the context must still be current.
void drawingDeinit();

// Four (x, y, z) vertices in triangle-strip order: bottom-left, bottom-right, top-left,
// top-right.
void setVertices(const float* xyz);
// Four (s, t) texture coordinates for those vertices.
void setTexCoords(const float* st);
// (r, g, b, a) that every texel is multiplied by; values are taken within [0, 1].
void setColor(const float* rgba);
// Column-major 4x4 matrix from vertex to clip coordinates for the next quads.
void setTransform(const float* matrix);
// Draws the quad with the bound 2D texture.
void drawQuad();

}  // namespace Platform
}  // namespace Lumetra
