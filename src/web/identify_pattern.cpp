#include "web/identify_pattern.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace Lumetra {

namespace {

// 5x7 glyphs, one byte per column, the lowest bit at the top.
struct Glyph {
    char c;
    uint8_t columns[5];
};

const Glyph kGlyphs[] = {
    {'0', {0x3E, 0x51, 0x49, 0x45, 0x3E}}, {'1', {0x00, 0x42, 0x7F, 0x40, 0x00}},
    {'2', {0x42, 0x61, 0x51, 0x49, 0x46}}, {'3', {0x21, 0x41, 0x45, 0x4B, 0x31}},
    {'4', {0x18, 0x14, 0x12, 0x7F, 0x10}}, {'5', {0x27, 0x45, 0x45, 0x45, 0x39}},
    {'6', {0x3C, 0x4A, 0x49, 0x49, 0x30}}, {'7', {0x01, 0x71, 0x09, 0x05, 0x03}},
    {'8', {0x36, 0x49, 0x49, 0x49, 0x36}}, {'9', {0x06, 0x49, 0x49, 0x29, 0x1E}},
    {'A', {0x7E, 0x11, 0x11, 0x11, 0x7E}}, {'B', {0x7F, 0x49, 0x49, 0x49, 0x36}},
    {'C', {0x3E, 0x41, 0x41, 0x41, 0x22}}, {'D', {0x7F, 0x41, 0x41, 0x22, 0x1C}},
    {'E', {0x7F, 0x49, 0x49, 0x49, 0x41}}, {'F', {0x7F, 0x09, 0x09, 0x01, 0x01}},
    {'G', {0x3E, 0x41, 0x41, 0x51, 0x32}}, {'H', {0x7F, 0x08, 0x08, 0x08, 0x7F}},
    {'I', {0x00, 0x41, 0x7F, 0x41, 0x00}}, {'J', {0x20, 0x40, 0x41, 0x3F, 0x01}},
    {'K', {0x7F, 0x08, 0x14, 0x22, 0x41}}, {'L', {0x7F, 0x40, 0x40, 0x40, 0x40}},
    {'M', {0x7F, 0x02, 0x04, 0x02, 0x7F}}, {'N', {0x7F, 0x04, 0x08, 0x10, 0x7F}},
    {'O', {0x3E, 0x41, 0x41, 0x41, 0x3E}}, {'P', {0x7F, 0x09, 0x09, 0x09, 0x06}},
    {'Q', {0x3E, 0x41, 0x51, 0x21, 0x5E}}, {'R', {0x7F, 0x09, 0x19, 0x29, 0x46}},
    {'S', {0x46, 0x49, 0x49, 0x49, 0x31}}, {'T', {0x01, 0x01, 0x7F, 0x01, 0x01}},
    {'U', {0x3F, 0x40, 0x40, 0x40, 0x3F}}, {'V', {0x1F, 0x20, 0x40, 0x20, 0x1F}},
    {'W', {0x7F, 0x20, 0x18, 0x20, 0x7F}}, {'X', {0x63, 0x14, 0x08, 0x14, 0x63}},
    {'Y', {0x03, 0x04, 0x78, 0x04, 0x03}}, {'Z', {0x61, 0x51, 0x49, 0x45, 0x43}},
    {'.', {0x00, 0x60, 0x60, 0x00, 0x00}}, {':', {0x00, 0x36, 0x36, 0x00, 0x00}},
    {'-', {0x08, 0x08, 0x08, 0x08, 0x08}}, {'/', {0x20, 0x10, 0x08, 0x04, 0x02}},
    {'_', {0x40, 0x40, 0x40, 0x40, 0x40}},
};

const uint8_t* glyphOf(char c) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const Glyph& glyph : kGlyphs) {
        if (glyph.c == c) {
            return glyph.columns;
        }
    }
    return nullptr;
}

class Canvas {
  public:
    Canvas(int w, int h) : width(w), height(h), rgba(static_cast<size_t>(w) * h * 4, 0) {
        for (size_t i = 3; i < rgba.size(); i += 4) {
            rgba[i] = 255;
        }
    }
    void set(int x, int y, const uint8_t* colour) {
        if (x >= 0 && y >= 0 && x < width && y < height) {
            std::memcpy(&rgba[(static_cast<size_t>(y) * width + x) * 4], colour, 3);
        }
    }
    void fill(int x0, int y0, int w, int h, const uint8_t* colour) {
        for (int y = std::max(0, y0); y < std::min(height, y0 + h); ++y) {
            for (int x = std::max(0, x0); x < std::min(width, x0 + w); ++x) {
                set(x, y, colour);
            }
        }
    }
    const int width;
    const int height;
    std::vector<uint8_t> rgba;
};

}  // namespace

std::vector<uint8_t> identifyPattern(int width, int height, const std::vector<std::string>& lines) {
    if (width <= 0 || height <= 0 || width > 8192 || height > 8192) {
        return {};
    }
    Canvas canvas(width, height);
    const uint8_t grey[3] = {90, 90, 90};
    const uint8_t white[3] = {255, 255, 255};
    const uint8_t yellow[3] = {255, 220, 0};
    const int thin = std::max(1, std::min(width, height) / 360);
    const int thick = thin * 3;
    for (int i = 1; i < 10; ++i) {
        canvas.fill(width * i / 10 - thin / 2, 0, thin, height, grey);
        canvas.fill(0, height * i / 10 - thin / 2, width, thin, grey);
    }
    // The edges show where the picture ends; the cross and circle show its centre and
    // whether it is round (keystone, lens shift).
    canvas.fill(0, 0, width, thick, white);
    canvas.fill(0, height - thick, width, thick, white);
    canvas.fill(0, 0, thick, height, white);
    canvas.fill(width - thick, 0, thick, height, white);
    canvas.fill(width / 2 - thick / 2, 0, thick, height, white);
    canvas.fill(0, height / 2 - thick / 2, width, thick, white);
    const double radius = 0.4 * std::min(width, height);
    const int steps = static_cast<int>(2 * M_PI * radius * 2) + 8;
    for (int i = 0; i < steps; ++i) {
        const double a = 2 * M_PI * i / steps;
        const int cx = static_cast<int>(width / 2 + radius * std::cos(a));
        const int cy = static_cast<int>(height / 2 + radius * std::sin(a));
        canvas.fill(cx - thick / 2, cy - thick / 2, thick, thick, white);
    }
    size_t longest = 1;
    for (const std::string& line : lines) {
        longest = std::max(longest, line.size());
    }
    // The text as large as fits into half the width; on a dark box so the grid stays out.
    const int scale = std::max(1, std::min(static_cast<int>(width / 2 / (6 * longest)),
                                           height / 3 / std::max<int>(1, 9 * lines.size())));
    const int text_w = static_cast<int>(longest) * 6 * scale;
    const int text_h = static_cast<int>(lines.size()) * 9 * scale;
    const int x0 = (width - text_w) / 2;
    const int y0 = (height - text_h) / 2;
    const uint8_t black[3] = {0, 0, 0};
    if (!lines.empty()) {
        canvas.fill(x0 - 2 * scale, y0 - 2 * scale, text_w + 4 * scale, text_h + 3 * scale, black);
    }
    for (size_t row = 0; row < lines.size(); ++row) {
        const std::string& line = lines[row];
        const int lx = (width - static_cast<int>(line.size()) * 6 * scale) / 2;
        for (size_t i = 0; i < line.size(); ++i) {
            const uint8_t* glyph = glyphOf(line[i]);
            if (glyph == nullptr) {
                continue;
            }
            for (int col = 0; col < 5; ++col) {
                for (int bit = 0; bit < 7; ++bit) {
                    if (glyph[col] & (1 << bit)) {
                        canvas.fill(lx + (static_cast<int>(i) * 6 + col) * scale,
                                    y0 + (static_cast<int>(row) * 9 + bit) * scale, scale, scale,
                                    yellow);
                    }
                }
            }
        }
    }
    return std::move(canvas.rgba);
}

std::vector<std::string> identifyLines(const IdentifyFacts& facts) {
    std::string name = facts.name;
    if (name.empty()) {
        char host[256] = "";
        gethostname(host, sizeof(host) - 1);
        name = host;
    }
    std::vector<std::string> lines = {name};
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
            if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
                std::strcmp(entry->ifa_name, "lo") == 0) {
                continue;
            }
            char text[INET_ADDRSTRLEN] = "";
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr, text,
                      sizeof(text));
            lines.push_back(std::string("IP ") + text);
            break;
        }
        freeifaddrs(list);
    }
    lines.push_back((facts.net != 0 ? "NET " + std::to_string(facts.net) + " " : std::string()) +
                    "SUBNET " + std::to_string(facts.subnet) + " UNIVERSE " +
                    std::to_string(facts.universe));
    lines.push_back("START " + std::to_string(facts.dmx_start) + " CANVASES " +
                    std::to_string(facts.canvases));
    return lines;
}

}  // namespace Lumetra
