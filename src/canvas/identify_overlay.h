#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/gl.h"

namespace Lumetra {

// A picture drawn over every canvas for a while (identify's test pattern). Any thread
// hands a picture over with show(); the render thread takes it at its next frame without
// waiting (it tries the lock), uploads it once and draws it until the time is up.
class IdentifyOverlay {
  public:
    IdentifyOverlay() = default;
    ~IdentifyOverlay();  // render thread, context current

    IdentifyOverlay(const IdentifyOverlay&) = delete;
    IdentifyOverlay& operator=(const IdentifyOverlay&) = delete;

    // `rgba` top row first; `seconds` 0 switches the overlay off.
    void show(std::vector<uint8_t> rgba, int width, int height, int seconds);
    // Render thread, after the canvases: draws the overlay while it is on, with vertices
    // of its own; true when it did (the caller hands its own vertices back then).
    bool draw();
    // Whether the last frame drew it.
    bool drawn() const { return on; }

  private:
    std::mutex lock;
    std::atomic<bool> handed{false};
    std::vector<uint8_t> pending;
    int pending_width = 0;
    int pending_height = 0;
    int pending_seconds = 0;
    // Render thread only.
    GLuint texture = 0;
    bool on = false;
    std::chrono::steady_clock::time_point until{};
};

}  // namespace Lumetra
