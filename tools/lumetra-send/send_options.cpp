#include "lumetra-send/send_options.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "lumetra-send/dmx_frame.h"

namespace LumetraSend {

namespace {

// A whole decimal number within [low, high].
bool readNumber(const std::string& text, long low, long high, long* out) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    *out = std::strtol(text.c_str(), nullptr, 10);
    return *out >= low && *out <= high;
}

bool readInt(const std::string& text, int low, int high, int* out) {
    long value = 0;
    if (!readNumber(text, low, high, &value)) {
        return false;
    }
    *out = static_cast<int>(value);
    return true;
}

bool readSeconds(const std::string& text, double* out) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !(value >= 0 && value <= 3600)) {
        return false;
    }
    *out = value;
    return true;
}

// A level: 0 to 255, whole or with a decimal fraction (below 256).
bool readLevel(const std::string& text, double* out) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) {
        return false;
    }
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !(value >= 0.0 && value < 256.0)) {
        return false;
    }
    *out = value;
    return true;
}

}  // namespace

std::string SendOptions::usage() {
    return "usage: lumetra-send [options] [--canvas N] NAME=VALUE... [CHANNEL=VALUE...]\n"
           "Sends one DMX frame to a Lumetra fixture: ArtDmx to UDP 6454, or sACN to 5568.\n"
           "  NAME=VALUE     a function of the canvas named by the last --canvas (default 0),\n"
           "                 VALUE 0..255; the canvas starts centred, white, not spinning.\n"
           "                 NAME: " +
           DmxFrame::names(20) +
           "\n"
           "                 with 32 channels also: crossfade glide; a fraction sets the fine\n"
           "                 channel of opacity x y size size-y turn ring-turn ring-size\n"
           "                 (x=127.5 is coarse 127, fine 128)\n"
           "  CHANNEL=VALUE  DMX channel 1..512 of the universe, as a desk numbers them\n"
           "  --canvas N     following names set canvas N (0..24)\n"
           "  --to ADDRESS   IPv4 address of the fixture (default 127.0.0.1; broadcast works)\n"
           "  --config FILE  read NET, SUBNET, UNIVERSE, DMX_START, CHANNELS, SACN_UNIVERSE\n"
           "                 (default config.txt)\n"
           "  --channels N   channels per canvas, 20 or 32 (default: the configuration's)\n"
           "  --net N (0..127), --subnet N, --universe N, --start N   instead of the "
           "configuration's\n"
           "  --sacn         send sACN (E1.31) instead of Art-Net\n"
           "  --sacn-universe N (1..63999; default 256 x NET + 16 x SUBNET + UNIVERSE + 1),\n"
           "                 --priority N\n"
           "  --hold SECONDS keep sending the frame 20 times a second for that long\n"
           "  --wait SECONDS first wait up to that long until the fixture listens on 6454\n"
           "                 (for scripts that have just started it); status 1 if it never does\n";
}

bool SendOptions::parse(int argc, char** argv, std::string* error) {
    int canvas = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        const std::string value = has_value ? argv[i + 1] : "";
        bool ok = true;
        if (arg == "--sacn") {
            sacn = true;
            continue;
        } else if (arg.rfind("--", 0) == 0 && !has_value) {
            *error = arg + " needs a value";
            return false;
        } else if (arg == "--canvas") {
            ok = readInt(value, 0, 24, &canvas);
        } else if (arg == "--to") {
            to = value;
        } else if (arg == "--config") {
            config = value;
        } else if (arg == "--net") {
            ok = readInt(value, 0, 127, &net);
        } else if (arg == "--subnet") {
            ok = readInt(value, 0, 15, &subnet);
        } else if (arg == "--universe") {
            ok = readInt(value, 0, 15, &universe);
        } else if (arg == "--start") {
            ok = readInt(value, 1, 512, &start);
        } else if (arg == "--channels") {
            ok = (value == "20" || value == "32") && readInt(value, 20, 32, &channels);
        } else if (arg == "--sacn-universe") {
            ok = readInt(value, 1, 63999, &sacn_universe);
        } else if (arg == "--priority") {
            ok = readInt(value, 0, 200, &priority);
        } else if (arg == "--hold") {
            ok = readSeconds(value, &hold_seconds);
        } else if (arg == "--wait") {
            ok = readSeconds(value, &wait_seconds);
        } else if (arg.rfind("--", 0) == 0) {
            *error = "unknown option " + arg;
            return false;
        } else {
            const size_t eq = arg.find('=');
            double level = 0;
            if (eq == std::string::npos || !readLevel(arg.substr(eq + 1), &level)) {
                *error = "'" + arg + "' is not NAME=VALUE or CHANNEL=VALUE with VALUE 0..255";
                return false;
            }
            const std::string key = arg.substr(0, eq);
            int channel = 0;
            if (readInt(key, 1, DmxFrame::CHANNELS, &channel)) {
                if (level != static_cast<int>(level)) {
                    *error = "'" + arg + "': a channel takes a whole VALUE 0..255";
                    return false;
                }
                raw.push_back({channel, static_cast<int>(level)});
            } else if (DmxFrame::offsetOf(key) >= 0) {
                named.push_back({canvas, key, level});
            } else {
                *error =
                    "'" + key + "' is neither a channel 1..512 nor one of: " + DmxFrame::names();
                return false;
            }
            continue;
        }
        if (!ok) {
            *error = "bad value '" + value + "' for " + arg;
            return false;
        }
        ++i;
    }
    return true;
}

int sacnUniverseFromConfig(const std::string& file, int fallback) {
    std::ifstream in(file);
    std::string line;
    int universe = fallback;
    while (std::getline(in, line)) {
        line = line.substr(0, line.find('#'));
        std::string clean;
        for (char c : line) {
            if (c != ' ' && c != '\t' && c != '\r') {
                clean += c;
            }
        }
        const std::string key = "SACN_UNIVERSE=";
        int value = 0;
        if (clean.rfind(key, 0) == 0 && readInt(clean.substr(key.size()), 0, 63999, &value)) {
            universe = value;
        }
    }
    return universe;
}

}  // namespace LumetraSend
