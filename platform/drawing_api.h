#pragma once

// One GL ES drawing implementation behind platform/drawing.h. Each platform says which one
// is in use (drawingApi); the calls of drawing.h go to it.

#include <EGL/egl.h>

namespace Lumetra {
namespace Platform {

struct DrawingApi {
    const char* name;
    EGLint renderable_type;
    EGLint client_version;  // EGL_CONTEXT_CLIENT_VERSION
    bool (*init)();
    void (*deinit)();
    void (*setVertices)(const float* xyz);
    void (*setTexCoords)(const float* st);
    void (*setColor)(float r, float g, float b, float a);
    void (*setTransform)(const float* matrix);
    void (*drawQuad)();
};

extern const DrawingApi gles1_drawing;
extern const DrawingApi gles2_drawing;

// The implementation in use; nullptr when the one asked for is not part of this build.
const DrawingApi* drawingApi();
// Said when the context is refused or missing: what was asked for and how.
const char* drawingChoiceNote();

}  // namespace Platform
}  // namespace Lumetra
