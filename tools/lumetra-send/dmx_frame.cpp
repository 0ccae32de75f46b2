#include "lumetra-send/dmx_frame.h"

#include <algorithm>
#include <cmath>

namespace LumetraSend {

namespace {

struct Function {
    const char* name;
    int offset;
    int fine;  // offset of the fine channel in the 32-channel personality, or -1
};

// The fixture's DMX personalities (README, "DMX personality"); offsets from 20 on exist
// with 32 channels per canvas only.
constexpr Function FUNCTIONS[] = {
    {"picture", 0, -1},    {"opacity", 1, 20},   {"x", 2, 21},     {"y", 3, 22},
    {"size", 4, 23},       {"size-y", 5, 24},    {"turn", 6, 25},  {"ring", 7, -1},
    {"ring-turn", 8, 26},  {"ring-size", 9, 27}, {"red", 10, -1},  {"green", 11, -1},
    {"blue", 12, -1},      {"strobe", 14, -1},   {"spin", 15, -1}, {"ring-spin", 16, -1},
    {"crossfade", 28, -1}, {"glide", 29, -1},
};

const Function* find(const std::string& name) {
    for (const Function& f : FUNCTIONS) {
        if (name == f.name) {
            return &f;
        }
    }
    return nullptr;
}

}  // namespace

DmxFrame::DmxFrame(int dmx_start, int per_canvas) : start(dmx_start), per_canvas(per_canvas) {}

bool DmxFrame::hasCanvas(int canvas) const {
    return canvas >= 0 && start >= 1 && start + per_canvas * canvas + per_canvas - 1 <= CHANNELS;
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
    const int offset = offsetOf(name, per_canvas);
    return offset >= 0 && hasCanvas(canvas) &&
           setChannel(start + per_canvas * canvas + offset, value);
}

bool DmxFrame::setNamedFine(int canvas, const std::string& name, double value) {
    if (!(value >= 0.0 && value < 256.0)) {
        return false;
    }
    const int fine_offset = per_canvas == 32 ? fineOffsetOf(name) : -1;
    if (fine_offset < 0) {
        return value == std::floor(value) && setNamed(canvas, name, static_cast<int>(value));
    }
    const long steps = std::min(std::lround(value * 256.0), 65535L);
    return setNamed(canvas, name, static_cast<int>(steps >> 8)) &&
           setChannel(start + per_canvas * canvas + fine_offset, static_cast<int>(steps & 255));
}

bool DmxFrame::setChannel(int channel, int value) {
    if (channel < 1 || channel > CHANNELS || value < 0 || value > 255) {
        return false;
    }
    data[static_cast<size_t>(channel - 1)] = static_cast<uint8_t>(value);
    return true;
}

int DmxFrame::offsetOf(const std::string& name, int per_canvas) {
    const Function* f = find(name);
    return f != nullptr && f->offset < per_canvas ? f->offset : -1;
}

int DmxFrame::fineOffsetOf(const std::string& name) {
    const Function* f = find(name);
    return f != nullptr ? f->fine : -1;
}

std::string DmxFrame::names(int per_canvas) {
    std::string text;
    for (const Function& f : FUNCTIONS) {
        if (f.offset < per_canvas) {
            text += (text.empty() ? "" : " ") + std::string(f.name);
        }
    }
    return text;
}

}  // namespace LumetraSend
