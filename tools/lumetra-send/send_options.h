#pragma once

#include <string>
#include <vector>

namespace LumetraSend {

// What lumetra-send was asked to send, and where, from its command line.
struct SendOptions {
    struct Named {
        int canvas;
        std::string name;
        double value;  // 0 to 255 + 255/256; a fraction sets the fine channel
    };
    struct Raw {
        int channel;
        int value;
    };

    std::string to = "127.0.0.1";
    std::string config = "config.txt";
    // -1: from the configuration file (or the fixture's default when it has none).
    int net = -1;
    int subnet = -1;
    int universe = -1;
    int start = -1;
    int sacn_universe = -1;
    int channels = -1;  // per canvas, 20 or 32
    bool sacn = false;
    int priority = 100;
    double hold_seconds = 0;
    // How long to wait for the fixture to listen before sending; 0: send at once.
    double wait_seconds = 0;
    std::vector<Named> named;
    std::vector<Raw> raw;

    // Fills the options from argv; false with `error` set for anything it does not take.
    bool parse(int argc, char** argv, std::string* error);
    static std::string usage();
};

// SACN_UNIVERSE= of a configuration file, read as the fixture reads its lines (blanks
// ignored, '#' starts a comment, the last valid line wins); `fallback` without one.
int sacnUniverseFromConfig(const std::string& file, int fallback);

}  // namespace LumetraSend
