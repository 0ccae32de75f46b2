#pragma once

#include <string>
#include <vector>

#include "canvas/canvas.h"

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
};

}  // namespace Lumetra
