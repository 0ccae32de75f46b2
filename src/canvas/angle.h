#pragma once

#include <cmath>

namespace Lumetra {

// Brings an angle into [0, 360) by whole turns. Canvas, Renderer and ArtnetReceiver each
// expose this rule as their own correctAngleRange.
inline float wrapAngle(float angle) {
    if (!std::isfinite(angle)) {
        return angle;  // repeated subtraction would never end
    }
    if (std::fabs(angle) >= 16777216.0f) {
        // Beyond 2^24 a float step of 360 may round away; fmod is exact and, below this
        // bound, gives the same result as the loops.
        angle = std::fmod(angle, 360.0f);
    }
    while (angle >= 360.0f) {
        angle -= 360.0f;
    }
    while (angle < 0.0f) {
        angle += 360.0f;
    }
    return angle;
}

}  // namespace Lumetra
