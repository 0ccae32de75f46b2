#include "lumetra-send/dmx_frame.h"

namespace LumetraSend {

namespace {

struct Function {
    const char* name;
    int offset;
};

// The fixture's DMX personality (README, "DMX personality").
constexpr Function FUNCTIONS[] = {
    {"picture", 0}, {"opacity", 1}, {"x", 2},         {"y", 3},          {"size", 4}, {"size-y", 5},
    {"turn", 6},    {"ring", 7},    {"ring-turn", 8}, {"ring-size", 9},  {"red", 10}, {"green", 11},
    {"blue", 12},   {"strobe", 14}, {"spin", 15},     {"ring-spin", 16},
};

}  // namespace

DmxFrame::DmxFrame(int dmx_start) : start(dmx_start) {}

bool DmxFrame::hasCanvas(int canvas) const {
    return canvas >= 0 && start >= 1 && start + PER_CANVAS * canvas + PER_CANVAS - 1 <= CHANNELS;
}

void DmxFrame::neutralCanvas(int canvas) {
    setNamed(canvas, "x", 128);
    setNamed(canvas, "y", 128);
    setNamed(canvas, "red", 255);
    setNamed(canvas, "green", 255);
    setNamed(canvas, "blue", 255);
    setNamed(canvas, "spin", 127);
    setNamed(canvas, "ring-spin", 127);
}

bool DmxFrame::setNamed(int canvas, const std::string& name, int value) {
    const int offset = offsetOf(name);
    return offset >= 0 && hasCanvas(canvas) &&
           setChannel(start + PER_CANVAS * canvas + offset, value);
}

bool DmxFrame::setChannel(int channel, int value) {
    if (channel < 1 || channel > CHANNELS || value < 0 || value > 255) {
        return false;
    }
    data[static_cast<size_t>(channel - 1)] = static_cast<uint8_t>(value);
    return true;
}

int DmxFrame::offsetOf(const std::string& name) {
    for (const Function& f : FUNCTIONS) {
        if (name == f.name) {
            return f.offset;
        }
    }
    return -1;
}

std::string DmxFrame::names() {
    std::string text;
    for (const Function& f : FUNCTIONS) {
        text += (text.empty() ? "" : " ") + std::string(f.name);
    }
    return text;
}

}  // namespace LumetraSend
