#include <vector>

#include "artnet_packet.h"
#include "artnet_receiver.h"
#include "canvas/angle.h"
#include "canvas/canvas_manager.h"
#include "dmx_channel_formulas.h"

namespace Lumetra {

using namespace DmxFormula;

namespace {

// Offsets inside a canvas's block of 20 channels.
enum ChannelOffset {
    CH_CONTENT = 0,
    CH_ALPHA = 1,
    CH_POSITION_X = 2,
    CH_POSITION_Y = 3,
    CH_SCALING_X = 4,
    CH_SCALING_Y = 5,
    CH_ROTATION = 6,
    CH_NUMBER = 7,
    CH_ROTATION_ALL = 8,
    CH_ZOOM = 9,
    CH_R = 10,
    CH_G = 11,
    CH_B = 12,
    CH_SHUTTER = 14,
    CH_SPEED = 15,
    CH_SPEED_ALL = 16,
    CHANNELS_PER_CANVAS = 20,
};

}  // namespace

float ArtnetReceiver::correctAngleRange(float angle) {
    return wrapAngle(angle);
}

void ArtnetReceiver::updateCanvasValues() {
    std::vector<Canvas*> canvases = screen->getCanvasGroup(canvases_id);
    int b = dmx_start;
    for (size_t i = 0; i < canvases.size(); ++i, b += CHANNELS_PER_CANVAS) {
        // A block reaching outside the frame would read past it; such canvases stay as
        // they are.
        if (b < 1 || b - 1 + CHANNELS_PER_CANVAS > ARTNET_DMX_SLOTS) {
            break;
        }
        mapCanvas(canvases[i], dmx512 + (b - 1));
    }
}

// The setters run in a fixed order, which is the order in which a drawn frame may see
// the fields change.
void ArtnetReceiver::mapCanvas(Canvas* canvas, const unsigned char* ch) {
    const float m = scale_multiplier;
    canvas->setContentData(ch[CH_CONTENT]);
    canvas->setNumber(static_cast<unsigned int>(ch[CH_NUMBER] >> 2));
    canvas->setZoom(size(ch[CH_ZOOM], m));
    canvas->setScalingX(size(ch[CH_SCALING_X], m));
    // 0 asks the renderer to keep the picture's proportions.
    canvas->setScalingY(
        ch[CH_SCALING_Y] == 0 ? -1.0f : size(ch[CH_SCALING_Y], 1.0f) / screen->getScreenRatio());
    canvas->setPositionX(static_cast<float>(centred(ch[CH_POSITION_X], m)));
    canvas->setPositionY(
        static_cast<float>(centred(ch[CH_POSITION_Y], m) / screen->getScreenRatio()));
    canvas->setR(fraction(ch[CH_R]));
    canvas->setG(fraction(ch[CH_G]));
    canvas->setB(fraction(ch[CH_B]));
    canvas->setAlpha(fraction(ch[CH_ALPHA]));

    Turn own = turnFromChannels(ch[CH_ROTATION], ch[CH_SPEED]);
    Turn ring = turnFromChannels(ch[CH_ROTATION_ALL], ch[CH_SPEED_ALL]);
    if (own.set_angle) {
        canvas->setRotation(own.angle);
    }
    canvas->setSpeed(own.speed);
    if (ring.set_angle) {
        canvas->setRotationAll(ring.angle);
    }
    canvas->setSpeedAll(ring.speed);

    canvas->setShutterSet(ch[CH_SHUTTER]);
}

}  // namespace Lumetra
