#include "canvas/canvas.h"

#include <utility>

#include "canvas/angle.h"

namespace Lumetra {

Canvas::Canvas(std::string type) : content_type(std::move(type)) {}

Canvas::~Canvas() = default;

float Canvas::correctAngleRange(float angle) {
    return wrapAngle(angle);
}

void Canvas::frameStep() {
    advanceAngle(rotation, r_speed);
    advanceAngle(rotation_all, r_speed_all);
    advanceShutter();
}

// The DMX mapping may set the angle between our read and our write; the compare-exchange
// then keeps the desk's value instead of overwriting it with a stale sum.
void Canvas::advanceAngle(std::atomic<float>& angle, const std::atomic<float>& speed) {
    float current = load(angle);
    float next = correctAngleRange(current + load(speed));
    angle.compare_exchange_strong(current, next, std::memory_order_relaxed);
}

void Canvas::advanceShutter() {
    int set = load(shutter_set);
    if (set <= 0) {
        return;  // phase frozen while the strobe is off
    }
    unsigned int time = load(shutter_time) + 1;
    // The strobe channel (1..255) maps to a half-period of 64 frames down to 1: each step of
    // 4 in the value takes a frame off, so the fastest strobe flips every frame.
    unsigned int threshold = static_cast<unsigned int>(64 - set / 4);
    if (time > threshold) {
        store(shutter_state, load(shutter_state) == 0 ? 1 : 0);
        time = 0;
    }
    store(shutter_time, time);
}

}  // namespace Lumetra
