#pragma once

#include <atomic>
#include <chrono>

#include "canvas/canvas_manager.h"

namespace Lumetra {
namespace ArtnetTest {

// Renders frames for the given span and returns how many were drawn.
int countFrames(CanvasManager* screen, std::chrono::milliseconds span);

// What the render loop did while a flood ran.
struct FloodWatch {
    int frames = 0;
    double seconds = 0;
    long rss_settled = -1;  // kilobytes once the first second is over, -1 if it never was
    long rss_after = 0;     // kilobytes when the flood ended
};

// Keeps rendering until `flooding` turns false. Memory is taken once the first second has
// shown every kind of frame to the GL driver, whose caches grow with what it is asked to draw.
FloodWatch watchRenderLoop(CanvasManager* screen, const std::atomic<bool>& flooding);

// Resident growth a flood may leave behind, in kilobytes. ASan holds freed blocks in its
// quarantine, so its resident size grows with any churn; leaks are LeakSanitizer's to
// find, flatness the plain build's.
long allowedFloodGrowthKb();

}  // namespace ArtnetTest
}  // namespace Lumetra
