// The calls of drawing.h, passed to the implementation the platform chose.

#include "platform/drawing.h"

#include <cmath>
#include <cstdio>

#include "log/log.h"
#include "platform/drawing_api.h"

namespace Lumetra {
namespace Platform {

namespace {

// The fixed-function pipeline clamps the colour to [0, 1] and (Mesa's, measured) rounds it to
// 8 bits per channel before multiplying the texel; a shader would use the float as it is and
// round differently where a product falls half-way. Taken here the same way for both, so
// they agree to the byte. DMX gives 8-bit values anyway. NaN becomes 0.
float unit(float value) {
    const float clamped = value > 0.0f ? (value < 1.0f ? value : 1.0f) : 0.0f;
    return std::round(clamped * 255.0f) / 255.0f;
}

}  // namespace

EGLint renderableType() {
    const DrawingApi* api = drawingApi();
    return api != nullptr ? api->renderable_type : EGL_OPENGL_ES2_BIT;
}

EGLContext createContext(EGLDisplay display, EGLConfig config) {
    const DrawingApi* api = drawingApi();
    if (api == nullptr) {
        logLine(LogLevel::Notice, "%s", drawingChoiceNote());
        return EGL_NO_CONTEXT;
    }
    const EGLint attributes[] = {EGL_CONTEXT_CLIENT_VERSION, api->client_version, EGL_NONE};
    eglBindAPI(EGL_OPENGL_ES_API);
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, attributes);
    if (context == EGL_NO_CONTEXT) {
        logLine(LogLevel::Notice, "the driver refuses an OpenGL %s context (EGL error 0x%x)%s",
                api->name, static_cast<unsigned>(eglGetError()), drawingChoiceNote());
    }
    return context;
}

bool drawingInit() {
    return drawingApi()->init();
}

void drawingDeinit() {
    drawingApi()->deinit();
}

void setVertices(const float* xyz) {
    drawingApi()->setVertices(xyz);
}

void setTexCoords(const float* st) {
    drawingApi()->setTexCoords(st);
}

void setColor(const float* rgba) {
    drawingApi()->setColor(unit(rgba[0]), unit(rgba[1]), unit(rgba[2]), unit(rgba[3]));
}

void setTransform(const float* matrix) {
    drawingApi()->setTransform(matrix);
}

void drawQuad() {
    drawingApi()->drawQuad();
}

}  // namespace Platform
}  // namespace Lumetra
