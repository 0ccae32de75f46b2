#pragma once

#include "canvas/angle.h"

namespace Lumetra {

// How one channel value becomes a canvas value. The 20-channel personality passes whole
// channel values; the 32-channel one passes coarse + fine / 256, which for a fine channel
// at 0 is the same number, so both personalities draw the same picture.
namespace DmxFormula {

inline float fraction(float v) {
    return v / 255.0f;
}

// Position channels: 128 is the centre, computed in double and narrowed once.
inline double centred(double v, float m) {
    return (v - 128.0) * m * 20.0 / 256.0;
}

inline float size(float v, float m) {
    return v * m * 10.0f / 255.0f;
}

// What one pair of turn channels (fixed angle a, speed s) asks of a canvas.
struct Turn {
    bool set_angle;
    float angle;
    float speed;
};

inline Turn turnFromChannels(float a, int s) {
    if (a > 0.0f) {
        return {true, -(a / 256.0f) * 360.0f, 0.0f};
    }
    if (s == 127) {
        return {true, 0.0f, 0.0f};
    }
    // Speed grows with the square of the distance from 127; above 127 it turns backwards.
    int d = s - 127;
    int p = d * (d / 8);
    float step = static_cast<float>(p) / 65536.0f * 360.0f;
    return {false, 0.0f, wrapAngle(s > 127 ? -step : step)};
}

}  // namespace DmxFormula

}  // namespace Lumetra
