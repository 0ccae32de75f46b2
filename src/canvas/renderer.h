#pragma once

#include <EGL/egl.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "canvas/canvas.h"
#include "canvas/matrix_stack.h"
#include "platform/gl.h"

namespace Lumetra {

class ContentManager;
class FrameSnapshot;
class IdentifyOverlay;

// Owns the picture on the screen: display, EGL surface and GL ES context, the projection,
// and the content registry. Lives on the main thread, which holds the context. Must not
// move after construction: the drawing layer's vertex pointer and the registry point into
// it.
class Renderer {
  public:
    Renderer();
    ~Renderer();

    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    int getScreenWidth();
    int getScreenHeight();
    float getScreenRatio();
    ContentManager* getContentManager() { return content_manager; }
    const FrameSnapshot* getSnapshot() const { return snapshot; }
    // Drawn over every canvas while it is on; show() may be called from any thread.
    IdentifyOverlay* getIdentifyOverlay() { return identify; }

    // By reference: a copy of the list would cost a heap allocation every frame.
    void drawCanvases(const std::vector<Canvas*>& canvases);
    void setZoom(int type);
    float correctAngleRange(float angle);
    // Picture copies the last frame drew; canvases that cannot show are not drawn.
    unsigned int quadsDrawn() const { return quads_drawn; }
    // When the last frame's drawing was done and its swap began.
    std::chrono::steady_clock::time_point swapStart() const { return swap_start; }

  private:
    void init_ogl();
    void init_model_proj();
    void drawCanvas(Canvas* canvas);
    void drawPicture(Canvas* canvas, int picture, float alpha);
    void drawRing(Canvas* canvas, unsigned int n);

    ContentManager* content_manager;
    uint32_t screen_width;
    uint32_t screen_height;
    float screen_ratio;
    EGLDisplay display;
    EGLSurface surface;
    EGLContext context;
    GLfloat quadx[12];
    GLfloat color[16];
    // Projection at the bottom, then a canvas's place, then a ring copy's.
    MatrixStack transform;
    int zoom_type;
    FrameSnapshot* snapshot;
    IdentifyOverlay* identify;
    unsigned int quads_drawn = 0;
    std::chrono::steady_clock::time_point swap_start{};
};

}  // namespace Lumetra
