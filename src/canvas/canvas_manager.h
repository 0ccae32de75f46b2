#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "canvas/canvas.h"
#include "canvas/frame_latch.h"

namespace Lumetra {

class Renderer;
class FPS_Counter;

// Owns every canvas, the renderer and the frame counter.
class CanvasManager {
  public:
    CanvasManager();
    ~CanvasManager();

    CanvasManager(const CanvasManager&) = delete;
    CanvasManager& operator=(const CanvasManager&) = delete;

    int generateCanvasGroup(int num, std::string type);
    // A copy of the group's pointer list; the id must come from generateCanvasGroup.
    std::vector<Canvas*> getCanvasGroup(int group_id);
    std::vector<Canvas*> getAllCanvases();

    void renderFrame();
    // Draws the frame as of `now` (tests and benchmarks choose the time).
    void renderFrame(std::chrono::steady_clock::time_point now);
    // Runs on the render thread at the start of every frame, before the canvases step:
    // the place where DMX that arrived since the last frame is applied. Set and cleared
    // on the render thread; an empty function clears it.
    void setFrameStart(std::function<void(std::chrono::steady_clock::time_point)> hook);
    // On: renderFrame() begins each frame's work as late as the refresh allows (see
    // FrameLatch), so that the hook hands the freshest input to the frame.
    void startFramesLate(bool on) { frames_late = on; }

    Renderer* getRenderer();
    float getFPS();
    void setZoom(int type);
    int getScreenWidth();
    int getScreenHeight();
    float getScreenRatio();

  private:
    std::vector<std::vector<Canvas*>> canvas_groups;
    std::vector<Canvas*> canvases_list;
    Renderer* renderer;
    FPS_Counter* fpsc;
    std::function<void(std::chrono::steady_clock::time_point)> frame_start;
    bool frames_late = false;
    FrameLatch latch;
};

}  // namespace Lumetra
