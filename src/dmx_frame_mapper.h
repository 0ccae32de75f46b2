#pragma once

#include <chrono>
#include <vector>

#include "dmx_frame_mailbox.h"

namespace Lumetra {

class Canvas;

// The 32-channel personality, on the render thread: at the start of every frame it maps
// the newest DMX frame onto the canvases and moves them along their glides and
// crossfades. The canvases are written by this thread alone, so each drawn frame shows
// every canvas from exactly one DMX frame.
class DmxFrameMapper {
  public:
    using Clock = std::chrono::steady_clock;

    // Canvas i reads the 32 channels from DMX address dmx_start + 32 i; canvases whose
    // block does not fit in the frame are left alone.
    DmxFrameMapper(const std::vector<Canvas*>& canvases, int dmx_start, float scale_multiplier,
                   float screen_ratio);

    // `frame` is null when no DMX arrived since the last frame.
    void frameStart(const DmxFrame* frame, Clock::time_point now);

    // Offsets inside a canvas's block of 32 channels beyond the 20-channel ones.
    enum FineOffset {
        CH_ALPHA_FINE = 20,
        CH_POSITION_X_FINE = 21,
        CH_POSITION_Y_FINE = 22,
        CH_SCALING_X_FINE = 23,
        CH_SCALING_Y_FINE = 24,
        CH_ROTATION_FINE = 25,
        CH_ROTATION_ALL_FINE = 26,
        CH_ZOOM_FINE = 27,
        CH_CROSSFADE = 28,
        CH_GLIDE = 29,
        CHANNELS_PER_CANVAS = 32,
    };

  private:
    // The values that glide, in this order.
    enum Glided {
        ALPHA,
        POS_X,
        POS_Y,
        SIZE_X,
        SIZE_Y,
        ZOOM,
        RED,
        GREEN,
        BLUE,
        ANGLE,
        RING,
        GLIDED
    };

    struct Motion {
        float from[GLIDED] = {};
        float to[GLIDED] = {};
        bool glides[GLIDED] = {};  // the value is on its way; false: left as it is
        Clock::time_point start{};
        Clock::duration length{};
        bool moving = false;
        Clock::time_point fade_start{};
        Clock::duration fade_length{};
        bool fading = false;
    };

    void apply(Canvas* canvas, Motion& motion, const unsigned char* ch, Clock::time_point now,
               Clock::time_point glide_start);
    void changePicture(Canvas* canvas, Motion& motion, int picture, Clock::duration length,
                       Clock::time_point now);
    void advance(Canvas* canvas, Motion& motion, Clock::time_point now);
    Clock::duration glideLength(int channel) const;
    static void read(const Canvas* canvas, float* values);
    static void write(Canvas* canvas, const float* values, const bool* which);

    std::vector<Canvas*> canvases;
    std::vector<Motion> motions;
    float m;
    float ratio;
    int block_start;  // slot of the first canvas's first channel
    bool arrival_seen = false;
    Clock::time_point last_arrival{};
    Clock::time_point desk_beat{};  // the last frame's arrival, steadied to the desk's rate
    bool drawn_before = false;
    Clock::time_point last_frame{};   // start of the frame drawn last
    Clock::duration desk_interval{};  // smoothed time between the frames taken
};

}  // namespace Lumetra
