#include "platform/mesa/video/egl_image_writer.h"

#include <cstring>

namespace Lumetra {
namespace Platform {
namespace Mesa {

// The context is GL ES 3.1, the first GL ES that can tell a texture's size; its entry
// points come from EGL so that no further GL library is linked.
struct EglImageWriter::Gl {
    void (*genTextures)(GLsizei, GLuint*);
    void (*deleteTextures)(GLsizei, const GLuint*);
    void (*bindTexture)(GLenum, GLuint);
    void (*imageTargetTexture2D)(GLenum, GLeglImageOES);
    void (*getTexLevelParameteriv)(GLenum, GLint, GLenum, GLint*);
    void (*pixelStorei)(GLenum, GLint);
    void (*texSubImage2D)(GLenum, GLint, GLint, GLint, GLsizei, GLsizei, GLenum, GLenum,
                          const void*);
    void (*finish)();
    GLenum (*getError)();

    bool load() {
        return get(genTextures, "glGenTextures") && get(deleteTextures, "glDeleteTextures") &&
               get(bindTexture, "glBindTexture") &&
               get(imageTargetTexture2D, "glEGLImageTargetTexture2DOES") &&
               get(getTexLevelParameteriv, "glGetTexLevelParameteriv") &&
               get(pixelStorei, "glPixelStorei") && get(texSubImage2D, "glTexSubImage2D") &&
               get(finish, "glFinish") && get(getError, "glGetError");
    }

    template <typename F>
    static bool get(F& function, const char* name) {
        function = reinterpret_cast<F>(eglGetProcAddress(name));
        return function != nullptr;
    }
};

namespace {

const GLenum kTextureWidth = 0x1000;
const GLenum kTextureHeight = 0x1001;

}  // namespace

EglImageWriter::~EglImageWriter() {
    sws_freeContext(scaler);
    delete gl;
}

namespace {

bool hasExtension(EGLDisplay display, const char* name) {
    const char* list = eglQueryString(display, EGL_EXTENSIONS);
    const size_t length = std::strlen(name);
    for (const char* at = list; at != nullptr && (at = std::strstr(at, name)) != nullptr;
         at += length) {
        if ((at == list || at[-1] == ' ') && (at[length] == ' ' || at[length] == '\0')) {
            return true;
        }
    }
    return false;
}

}  // namespace

// The writer draws nothing of its own, so it needs no surface where EGL allows that: a
// KMS (GBM) display has no pbuffers at all. Elsewhere a 1x1 pbuffer stands in.
bool EglImageWriter::start(EGLDisplay new_display) {
    if (new_display == EGL_NO_DISPLAY) {
        return false;
    }
    display = new_display;
    const bool surfaceless = hasExtension(display, "EGL_KHR_surfaceless_context");
    const EGLint config_attributes[] = {EGL_SURFACE_TYPE,
                                        surfaceless ? EGL_DONT_CARE : EGL_PBUFFER_BIT,
                                        EGL_RENDERABLE_TYPE, EGL_OPENGL_ES3_BIT_KHR, EGL_NONE};
    EGLConfig config;
    EGLint count = 0;
    if (!eglChooseConfig(display, config_attributes, &config, 1, &count) || count < 1) {
        display = EGL_NO_DISPLAY;
        return false;
    }
    if (!surfaceless) {
        const EGLint surface_attributes[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
        surface = eglCreatePbufferSurface(display, config, surface_attributes);
    }
    eglBindAPI(EGL_OPENGL_ES_API);
    const EGLint context_attributes[] = {EGL_CONTEXT_MAJOR_VERSION_KHR, 3,
                                         EGL_CONTEXT_MINOR_VERSION_KHR, 1, EGL_NONE};
    context = eglCreateContext(display, config, EGL_NO_CONTEXT, context_attributes);
    if ((!surfaceless && surface == EGL_NO_SURFACE) || context == EGL_NO_CONTEXT ||
        !eglMakeCurrent(display, surface, surface, context)) {
        stop();
        return false;
    }
    gl = new Gl();
    if (!gl->load()) {
        stop();
        return false;
    }
    gl->pixelStorei(GL_UNPACK_ALIGNMENT, 4);
    return true;
}

void EglImageWriter::stop() {
    if (display == EGL_NO_DISPLAY) {
        return;
    }
    if (texture && gl) {
        gl->deleteTextures(1, &texture);
        texture = 0;
    }
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (context != EGL_NO_CONTEXT) {
        eglDestroyContext(display, context);
    }
    if (surface != EGL_NO_SURFACE) {
        eglDestroySurface(display, surface);
    }
    eglReleaseThread();
    context = EGL_NO_CONTEXT;
    surface = EGL_NO_SURFACE;
    display = EGL_NO_DISPLAY;
    bound_image = EGL_NO_IMAGE_KHR;
}

bool EglImageWriter::bindImage(EGLImageKHR image) {
    if (image == bound_image) {
        return width > 0 && height > 0;
    }
    if (!texture) {
        gl->genTextures(1, &texture);
    }
    gl->bindTexture(GL_TEXTURE_2D, texture);
    gl->imageTargetTexture2D(GL_TEXTURE_2D, static_cast<GLeglImageOES>(image));
    GLint w = 0;
    GLint h = 0;
    gl->getTexLevelParameteriv(GL_TEXTURE_2D, 0, kTextureWidth, &w);
    gl->getTexLevelParameteriv(GL_TEXTURE_2D, 0, kTextureHeight, &h);
    bound_image = image;
    width = gl->getError() == GL_NO_ERROR ? w : 0;
    height = width > 0 ? h : 0;
    return width > 0 && height > 0;
}

bool EglImageWriter::convert(const AVFrame* picture) {
    scaler = sws_getCachedContext(scaler, picture->width, picture->height,
                                  static_cast<AVPixelFormat>(picture->format), width, height,
                                  AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!scaler) {
        return false;
    }
    const int stride = width * 4;
    rgba.resize(static_cast<size_t>(stride) * height);
    // Written upwards from the last row: the picture's bottom row is uploaded first.
    uint8_t* planes[4] = {rgba.data() + static_cast<size_t>(stride) * (height - 1), nullptr,
                          nullptr, nullptr};
    int strides[4] = {-stride, 0, 0, 0};
    return sws_scale(scaler, picture->data, picture->linesize, 0, picture->height, planes,
                     strides) > 0;
}

bool EglImageWriter::write(EGLImageKHR image, const AVFrame* picture) {
    if (!gl || !image || !bindImage(image) || !convert(picture)) {
        return false;
    }
    gl->texSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE,
                      rgba.data());
    gl->finish();
    return gl->getError() == GL_NO_ERROR;
}

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
