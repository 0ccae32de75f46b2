#include "canvas/renderer.h"

#include <cassert>
#include <cmath>

#include "canvas/angle.h"
#include "canvas/canvas_content/content_manager.h"
#include "canvas/frame_snapshot.h"
#include "canvas/identify_overlay.h"
#include "platform/display.h"
#include "platform/drawing.h"

namespace Lumetra {

Renderer::Renderer() : quadx{-1, -1, 0, 1, -1, 0, -1, 1, 0, 1, 1, 0}, zoom_type(1) {
    for (GLfloat& c : color) {
        c = 1.0f;
    }
    // First, so that a preview request during the long start-up cannot end the program.
    snapshot = new FrameSnapshot();
    Platform::hostInit();
    init_ogl();
    init_model_proj();
    content_manager = new ContentManager(&display, &surface, &context);
    identify = new IdentifyOverlay();
}

Renderer::~Renderer() {
    glClear(GL_COLOR_BUFFER_BIT);
    Platform::swapBuffers(display, surface);  // leave the screen black
    delete identify;                          // frees its texture: context still current
    delete content_manager;                   // plug-ins free GL objects: context still current
    Platform::drawingDeinit();
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroySurface(display, surface);
    eglDestroyContext(display, context);
    eglTerminate(display);
    Platform::hostDeinit();
    delete snapshot;
}

// Each failed check stops the program with an assertion that names the condition.
void Renderer::init_ogl() {
    EGLBoolean result;
    EGLint num_config;
    EGLConfig config;
    // Not static: the GL ES version drawn with may differ from one renderer to the next.
    // clang-format off
    const EGLint attribute_list[] = {
        EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_ALPHA_SIZE, 8,
        EGL_DEPTH_SIZE, 16,
        EGL_SURFACE_TYPE, Platform::surfaceType(),
        EGL_RENDERABLE_TYPE, Platform::renderableType(),
        EGL_NONE};
    // clang-format on

    // The condition texts are what the assertion messages show; keep them exactly.
    // clang-format off
    this->display = Platform::getDisplay();
    assert(this->display!=((EGLDisplay)0));

    result = eglInitialize(display, nullptr, nullptr);
    assert(((EGLBoolean)0) != result);

    // No matching config leaves `config` unset: that is a failure too, not a handle.
    config = nullptr;
    num_config = 0;
    result = eglChooseConfig(display, attribute_list, &config, 1, &num_config);
    if (num_config < 1) result = EGL_FALSE;
    assert(((EGLBoolean)0) != result);

    this->context = Platform::createContext(display, config);
    assert(this->context!=((EGLContext)0));

    int32_t success = Platform::getDisplaySize(0, &screen_width, &screen_height);
    assert(success >= 0);

    screen_ratio = static_cast<float>(screen_width) / static_cast<float>(screen_height);

    this->surface = Platform::createFullscreenSurface(display, config, screen_width, screen_height);
    assert(this->surface != ((EGLSurface)0));

    result = eglMakeCurrent(display, surface, surface, context);
    assert(((EGLBoolean)0) != result);
    // clang-format on

    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glClear(GL_DEPTH_BUFFER_BIT);
    // Blending on, texels times the colour, no depth test: later draws cover earlier ones.
    const bool drawing_ready = Platform::drawingInit();
    assert(drawing_ready);
}

void Renderer::init_model_proj() {
    const float left = -10.0f;
    const float right = 10.0f;
    const float top = 10.0f / screen_ratio;
    const float bottom = -10.0f / screen_ratio;
    const float near_plane = -1.0f;
    const float far_plane = 1.0f;

    glViewport(0, 0, static_cast<GLsizei>(screen_width), static_cast<GLsizei>(screen_height));

    // The bottom of the stack: every canvas starts from the projection alone.
    GLfloat ortho_matrix[16];
    MatrixStack::ortho(left, right, bottom, top, near_plane, far_plane, ortho_matrix);
    transform.load(ortho_matrix);

    Platform::setVertices(quadx);
    Platform::setColor(color);
}

int Renderer::getScreenWidth() {
    return static_cast<int>(screen_width);
}

int Renderer::getScreenHeight() {
    return static_cast<int>(screen_height);
}

float Renderer::getScreenRatio() {
    return screen_ratio;
}

void Renderer::setZoom(int type) {
    zoom_type = (type == 1 || type == 2) ? type : 1;
}

float Renderer::correctAngleRange(float angle) {
    return wrapAngle(angle);
}

void Renderer::drawCanvases(const std::vector<Canvas*>& canvases) {
    quads_drawn = 0;
    content_manager->frameBoundary();
    glClear(GL_COLOR_BUFFER_BIT);
    for (Canvas* canvas : canvases) {
        drawCanvas(canvas);
    }
    if (identify->draw()) {
        Platform::setVertices(quadx);  // the canvases' own again
    }
    snapshot->captureIfRequested(screen_width, screen_height);
    swap_start = std::chrono::steady_clock::now();
    Platform::swapBuffers(display, surface);
}

namespace {

// Fully transparent or without area: the blend leaves every pixel as it was.
bool canChangePixels(float alpha, float sx, float sy) {
    return alpha > 0.0f && sx != 0.0f && sy != 0.0f;
}

}  // namespace

// During a crossfade the picture fading out is drawn at the canvas's strength and the
// new one over it as far as it has come in: where both cover a pixel the result is the
// mix of the two in proportion, never darker than both.
void Renderer::drawCanvas(Canvas* canvas) {
    const float a = canvas->getAlpha();
    const int fading = canvas->getFadingContent();
    if (fading >= 0) {
        drawPicture(canvas, fading, a);
        drawPicture(canvas, canvas->getContentData(), a * canvas->getFade());
        return;
    }
    drawPicture(canvas, canvas->getContentData(), a);
}

void Renderer::drawPicture(Canvas* canvas, int picture, float a) {
    const float r = canvas->getR();
    const float g = canvas->getG();
    const float b = canvas->getB();
    for (int v = 0; v < 4; ++v) {
        color[v * 4 + 0] = r;
        color[v * 4 + 1] = g;
        color[v * 4 + 2] = b;
        color[v * 4 + 3] = a;
    }
    Platform::setColor(color);

    const float sx = canvas->getScalingX();
    float sy = canvas->getScalingY();
    if (sy < 0.0f) {
        float ratio = 1.0f;
        content_manager->getContentRatio(canvas->getContentType(), picture, &ratio);
        sy = sx * ratio;
    }
    const GLfloat quad[12] = {-sx, -sy, 0, sx, -sy, 0, -sx, sy, 0, sx, sy, 0};
    for (int i = 0; i < 12; ++i) {
        quadx[i] = quad[i];
    }

    // Bound even when the shutter hides the canvas: GIF clocks advance per bind.
    content_manager->setContent(canvas->getContentType(), picture);

    const bool shutter_open = canvas->getShutterSet() == 0 || canvas->getShutterState() == 0;
    // Skipping what cannot show saves a ring's worth of draws, which on a Pi's GPU costs
    // as much as a visible one.
    if (!shutter_open || !canChangePixels(a, sx, sy)) {
        return;
    }
    transform.push();
    const unsigned int n = canvas->getNumber();
    if (n == 0) {
        transform.translate(canvas->getPositionX(), -canvas->getPositionY(), 0.0f);
        transform.rotateZ(canvas->getRotation());
        Platform::setTransform(transform.top());
        Platform::drawQuad();
        ++quads_drawn;
    } else {
        drawRing(canvas, n);
    }
    transform.pop();
}

// Copy j sits at the ring's angle plus j/n of a turn from the negative x axis; copy n-1 is
// drawn first so copy 0 ends on top.
void Renderer::drawRing(Canvas* canvas, unsigned int n) {
    const float px = canvas->getPositionX();
    const float py = canvas->getPositionY();
    const float zoom = canvas->getZoom();
    const float rotation = canvas->getRotation();
    const float rotation_all = canvas->getRotationAll();
    for (int j = static_cast<int>(n) - 1; j >= 0; --j) {
        transform.push();
        transform.translate(px, -py, 0.0f);
        if (zoom_type == 1) {
            const float angle =
                static_cast<float>(rotation_all * M_PI / 180.0 + (2.0 * M_PI / n) * j);
            const double rad = angle;
            const float tx = static_cast<float>(-std::cos(rad) * zoom * 2);
            const float ty = static_cast<float>(-std::sin(rad) * zoom * 2 / screen_ratio);
            transform.translate(tx, ty, 0.0f);
        } else {
            const float a = rotation_all + static_cast<float>(j * 360) / static_cast<float>(n);
            transform.rotateZ(correctAngleRange(a));
            transform.translate(-zoom, 0.0f, 0.0f);
            transform.rotateZ(correctAngleRange(-a));
        }
        transform.rotateZ(rotation);
        Platform::setTransform(transform.top());
        Platform::drawQuad();
        transform.pop();
    }
    quads_drawn += n;
}

}  // namespace Lumetra
