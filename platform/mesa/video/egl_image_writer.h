#pragma once

// Writes pictures into EGL images from a thread of its own: a GL ES context of its own
// (not shared with the renderer's), current on a 1x1 pbuffer of the renderer's display.
// Each picture is converted to RGBA at the image's size, bottom row first, so that texture
// coordinate t = 0 is the bottom of the picture.

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GLES/gl.h>
#include <GLES/glext.h>

#include <cstdint>
#include <vector>

namespace Lumetra {
namespace Platform {
namespace Mesa {

class EglImageWriter {
  public:
    EglImageWriter() = default;
    ~EglImageWriter();

    EglImageWriter(const EglImageWriter&) = delete;
    EglImageWriter& operator=(const EglImageWriter&) = delete;

    // Makes the context current on the calling thread; false when that is impossible.
    bool start(EGLDisplay display);
    // Must run on the thread that called start.
    bool write(EGLImageKHR image, const AVFrame* picture);
    // Releases everything; on the thread that called start.
    void stop();

  private:
    struct Gl;
    bool bindImage(EGLImageKHR image);
    bool convert(const AVFrame* picture);

    EGLDisplay display = EGL_NO_DISPLAY;
    EGLSurface surface = EGL_NO_SURFACE;
    EGLContext context = EGL_NO_CONTEXT;
    Gl* gl = nullptr;
    EGLImageKHR bound_image = EGL_NO_IMAGE_KHR;
    GLuint texture = 0;
    int width = 0;
    int height = 0;
    SwsContext* scaler = nullptr;
    std::vector<uint8_t> rgba;
};

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
