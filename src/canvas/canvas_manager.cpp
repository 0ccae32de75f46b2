#include "canvas/canvas_manager.h"

#include <thread>
#include <utility>

#include "canvas/fps_counter.h"
#include "canvas/renderer.h"

namespace Lumetra {

CanvasManager::CanvasManager() {
    renderer = new Renderer();
    fpsc = new FPS_Counter();
}

CanvasManager::~CanvasManager() {
    for (Canvas* canvas : canvases_list) {
        delete canvas;  // delete of null is a no-op
    }
    canvases_list.clear();
    for (std::vector<Canvas*>& group : canvas_groups) {
        group.clear();
    }
    canvas_groups.clear();
    delete renderer;
    delete fpsc;
}

int CanvasManager::generateCanvasGroup(int num, std::string type) {
    std::vector<Canvas*> group;
    for (int i = 0; i < num; ++i) {
        Canvas* canvas = new Canvas(type);
        group.push_back(canvas);
        canvases_list.push_back(canvas);
    }
    canvas_groups.push_back(group);
    return static_cast<int>(canvas_groups.size()) - 1;
}

std::vector<Canvas*> CanvasManager::getCanvasGroup(int group_id) {
    return canvas_groups[group_id];
}

std::vector<Canvas*> CanvasManager::getAllCanvases() {
    return canvases_list;
}

void CanvasManager::renderFrame() {
    if (!frames_late) {
        renderFrame(std::chrono::steady_clock::now());
        return;
    }
    std::this_thread::sleep_until(latch.wakeTime(std::chrono::steady_clock::now()));
    const std::chrono::steady_clock::time_point awake = std::chrono::steady_clock::now();
    renderFrame(awake);
    latch.workDone(renderer->swapStart() - awake);
}

void CanvasManager::renderFrame(std::chrono::steady_clock::time_point now) {
    fpsc->tick();
    if (frame_start) {
        frame_start(now);
    }
    for (Canvas* canvas : canvases_list) {
        canvas->frameStep();
    }
    renderer->drawCanvases(canvases_list);
}

void CanvasManager::setFrameStart(std::function<void(std::chrono::steady_clock::time_point)> hook) {
    frame_start = std::move(hook);
}

Renderer* CanvasManager::getRenderer() {
    return renderer;
}

float CanvasManager::getFPS() {
    return fpsc->getFPS();
}

void CanvasManager::setZoom(int type) {
    renderer->setZoom(type);
}

int CanvasManager::getScreenWidth() {
    return renderer->getScreenWidth();
}

int CanvasManager::getScreenHeight() {
    return renderer->getScreenHeight();
}

float CanvasManager::getScreenRatio() {
    return renderer->getScreenRatio();
}

}  // namespace Lumetra
