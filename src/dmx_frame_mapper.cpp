#include "dmx_frame_mapper.h"

#include <algorithm>

#include "canvas/angle.h"
#include "canvas/canvas.h"
#include "dmx_channel_formulas.h"

namespace Lumetra {

using namespace DmxFormula;

namespace {

// A desk that pauses or sends only on change must not stretch "follow the desk" into a
// slow drift: longer gaps count as this.
constexpr std::chrono::milliseconds LONGEST_DESK_INTERVAL(200);
constexpr std::chrono::milliseconds GLIDE_STEP(10);
constexpr std::chrono::milliseconds CROSSFADE_STEP(40);

float progress(DmxFrameMapper::Clock::time_point start, DmxFrameMapper::Clock::duration length,
               DmxFrameMapper::Clock::time_point now) {
    if (length <= DmxFrameMapper::Clock::duration::zero() || now >= start + length) {
        return 1.0f;
    }
    if (now <= start) {
        return 0.0f;
    }
    return static_cast<float>(std::chrono::duration<double>(now - start).count() /
                              std::chrono::duration<double>(length).count());
}

// Coarse and fine channel as one value, in coarse steps.
float coarseFine(const unsigned char* ch, int coarse, int fine) {
    return static_cast<float>(ch[coarse]) + static_cast<float>(ch[fine]) / 256.0f;
}

}  // namespace

DmxFrameMapper::DmxFrameMapper(const std::vector<Canvas*>& all, int dmx_start,
                               float scale_multiplier, float screen_ratio)
    : m(scale_multiplier), ratio(screen_ratio) {
    for (size_t i = 0; i < all.size(); ++i) {
        const int first = dmx_start + static_cast<int>(i) * CHANNELS_PER_CANVAS;
        if (first < 1 || first - 1 + CHANNELS_PER_CANVAS > ARTNET_DMX_SLOTS) {
            break;
        }
        canvases.push_back(all[i]);
    }
    motions.resize(canvases.size());
    block_start = dmx_start - 1;
}

// The canvases move on to `now` first, so that a new frame glides on from what is drawn
// at this moment.
void DmxFrameMapper::frameStart(const DmxFrame* frame, Clock::time_point now) {
    for (size_t i = 0; i < canvases.size(); ++i) {
        advance(canvases[i], motions[i], now);
    }
    const Clock::time_point previous = drawn_before ? last_frame : now;
    drawn_before = true;
    last_frame = now;
    if (frame == nullptr) {
        return;
    }
    // Where the desk's beat puts this frame: arrivals jitter, a desk's ticks hardly do. A
    // frame far off the beat (a desk that paused or changed its rate) starts a new one.
    Clock::time_point beat = frame->arrival;
    if (arrival_seen && desk_interval > Clock::duration::zero()) {
        const Clock::time_point expected = desk_beat + desk_interval;
        const Clock::duration off = frame->arrival - expected;
        if (off < desk_interval / 2 && off > -desk_interval / 2) {
            beat = expected + off / 4;
        }
    }
    if (arrival_seen && frame->arrival > last_arrival) {
        const Clock::duration gap =
            std::min<Clock::duration>(frame->arrival - last_arrival, LONGEST_DESK_INTERVAL);
        desk_interval =
            desk_interval == Clock::duration::zero() ? gap : (desk_interval * 7 + gap) / 8;
    }
    last_arrival = frame->arrival;
    desk_beat = beat;
    arrival_seen = true;
    // A glide counts from the frame's arrival (following the desk: from its beat), though
    // not from before the frame drawn last, which could not show it yet: this frame
    // already moves, instead of drawing the place it drew before once more.
    auto clamp = [previous, now](Clock::time_point t) {
        return std::min(std::max(t, previous), now);
    };
    const Clock::time_point from_arrival = clamp(frame->arrival);
    const Clock::time_point from_beat = clamp(beat);
    for (size_t i = 0; i < canvases.size(); ++i) {
        const unsigned char* ch = frame->slots.data() + block_start + i * CHANNELS_PER_CANVAS;
        apply(canvases[i], motions[i], ch, now, ch[CH_GLIDE] == 1 ? from_beat : from_arrival);
    }
}

// Offsets 0 to 19 as the 20-channel personality reads them, each coarse channel with its
// fine partner.
void DmxFrameMapper::apply(Canvas* canvas, Motion& motion, const unsigned char* ch,
                           Clock::time_point now, Clock::time_point glide_start) {
    float to[GLIDED];
    to[ALPHA] = fraction(coarseFine(ch, 1, CH_ALPHA_FINE));
    to[POS_X] = static_cast<float>(centred(coarseFine(ch, 2, CH_POSITION_X_FINE), m));
    to[POS_Y] = static_cast<float>(centred(coarseFine(ch, 3, CH_POSITION_Y_FINE), m) / ratio);
    to[SIZE_X] = size(coarseFine(ch, 4, CH_SCALING_X_FINE), m);
    const float size_y = coarseFine(ch, 5, CH_SCALING_Y_FINE);
    // 0 asks the renderer to keep the picture's proportions.
    to[SIZE_Y] = size_y == 0.0f ? -1.0f : size(size_y, 1.0f) / ratio;
    to[ZOOM] = size(coarseFine(ch, 9, CH_ZOOM_FINE), m);
    to[RED] = fraction(ch[10]);
    to[GREEN] = fraction(ch[11]);
    to[BLUE] = fraction(ch[12]);
    const Turn own = turnFromChannels(coarseFine(ch, 6, CH_ROTATION_FINE), ch[15]);
    const Turn ring = turnFromChannels(coarseFine(ch, 8, CH_ROTATION_ALL_FINE), ch[16]);
    to[ANGLE] = own.angle;
    to[RING] = ring.angle;

    // What snaps.
    canvas->setNumber(static_cast<unsigned int>(ch[7] >> 2));
    canvas->setSpeed(own.speed);
    canvas->setSpeedAll(ring.speed);
    canvas->setShutterSet(ch[14]);
    if (ch[0] != canvas->getContentData()) {
        changePicture(canvas, motion, ch[0], ch[CH_CROSSFADE] * CROSSFADE_STEP, now);
    }

    bool which[GLIDED];
    std::fill(which, which + GLIDED, true);
    which[ANGLE] = own.set_angle;  // a spin moves the angle on its own
    which[RING] = ring.set_angle;
    const Clock::duration length = glideLength(ch[CH_GLIDE]);
    if (length <= Clock::duration::zero()) {
        motion.moving = false;
        write(canvas, to, which);
        return;
    }
    // From where the canvas is drawn now, never from the last target.
    read(canvas, motion.from);
    for (int k = 0; k < GLIDED; ++k) {
        motion.to[k] = to[k];
        motion.glides[k] = which[k];
    }
    // Between a size and "keep the proportions" there is nothing to glide through.
    if (motion.from[SIZE_Y] < 0.0f || to[SIZE_Y] < 0.0f) {
        motion.from[SIZE_Y] = to[SIZE_Y];
    }
    // Angles the short way round.
    for (int k : {ANGLE, RING}) {
        float turn = wrapAngle(to[k] - motion.from[k]);
        if (turn > 180.0f) {
            turn -= 360.0f;
        }
        motion.to[k] = motion.from[k] + turn;
    }
    motion.start = glide_start;
    motion.length = length;
    motion.moving = true;
    advance(canvas, motion, now);
}

// At most two pictures per canvas: a change during a fade keeps the one of the two that
// shows more and fades from there, or turns the fade round when the desk goes back.
void DmxFrameMapper::changePicture(Canvas* canvas, Motion& motion, int picture,
                                   Clock::duration length, Clock::time_point now) {
    const int shown = canvas->getContentData();
    canvas->setContentData(picture);
    if (length <= Clock::duration::zero()) {
        motion.fading = false;
        canvas->setFadingContent(-1);
        canvas->setFade(1.0f);
        return;
    }
    float in = 0.0f;
    if (!motion.fading) {
        canvas->setFadingContent(shown);
    } else {
        in = progress(motion.fade_start, motion.fade_length, now);
        if (picture == canvas->getFadingContent()) {
            canvas->setFadingContent(shown);
            in = 1.0f - in;
        } else if (in >= 0.5f) {
            canvas->setFadingContent(shown);
            in = 0.0f;
        }
        // Otherwise the picture fading out still shows more: the newcomer takes the place
        // of the one that was coming in, as far in as it was.
    }
    motion.fading = true;
    motion.fade_length = length;
    motion.fade_start =
        now - std::chrono::duration_cast<Clock::duration>(length * static_cast<double>(in));
    canvas->setFade(in);
}

void DmxFrameMapper::advance(Canvas* canvas, Motion& motion, Clock::time_point now) {
    if (motion.moving) {
        const float f = progress(motion.start, motion.length, now);
        float values[GLIDED];
        for (int k = 0; k < GLIDED; ++k) {
            values[k] =
                f >= 1.0f ? motion.to[k] : motion.from[k] + (motion.to[k] - motion.from[k]) * f;
        }
        write(canvas, values, motion.glides);
        motion.moving = f < 1.0f;
    }
    if (motion.fading) {
        const float f = progress(motion.fade_start, motion.fade_length, now);
        canvas->setFade(f);
        if (f >= 1.0f) {
            canvas->setFadingContent(-1);
            motion.fading = false;
        }
    }
}

DmxFrameMapper::Clock::duration DmxFrameMapper::glideLength(int channel) const {
    if (channel == 0) {
        return Clock::duration::zero();
    }
    if (channel == 1) {
        return desk_interval;
    }
    return channel * std::chrono::duration_cast<Clock::duration>(GLIDE_STEP);
}

void DmxFrameMapper::read(const Canvas* canvas, float* v) {
    v[ALPHA] = canvas->getAlpha();
    v[POS_X] = canvas->getPositionX();
    v[POS_Y] = canvas->getPositionY();
    v[SIZE_X] = canvas->getScalingX();
    v[SIZE_Y] = canvas->getScalingY();
    v[ZOOM] = canvas->getZoom();
    v[RED] = canvas->getR();
    v[GREEN] = canvas->getG();
    v[BLUE] = canvas->getB();
    v[ANGLE] = canvas->getRotation();
    v[RING] = canvas->getRotationAll();
}

void DmxFrameMapper::write(Canvas* canvas, const float* v, const bool* which) {
    canvas->setAlpha(v[ALPHA]);
    canvas->setPositionX(v[POS_X]);
    canvas->setPositionY(v[POS_Y]);
    canvas->setScalingX(v[SIZE_X]);
    canvas->setScalingY(v[SIZE_Y]);
    canvas->setZoom(v[ZOOM]);
    canvas->setR(v[RED]);
    canvas->setG(v[GREEN]);
    canvas->setB(v[BLUE]);
    if (which[ANGLE]) {
        canvas->setRotation(v[ANGLE]);
    }
    if (which[RING]) {
        canvas->setRotationAll(v[RING]);
    }
}

}  // namespace Lumetra
