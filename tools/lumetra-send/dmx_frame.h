#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace LumetraSend {

// One universe of 512 DMX channels as lumetra-send will send it, filled through the
// fixture's personality: 20 or 32 channels per canvas from the start address.
class DmxFrame {
  public:
    static constexpr int CHANNELS = 512;

    explicit DmxFrame(int dmx_start, int per_canvas = 20);

    // False when canvas `canvas`'s channels do not fit the universe.
    bool hasCanvas(int canvas) const;
    // The canvas's channels set to a look that shows its picture: centred, white light,
    // no spin, everything else 0 (so still invisible until opacity is raised).
    void neutralCanvas(int canvas);
    // Sets a named function of a canvas (see offsetOf); false for an unknown name.
    bool setNamed(int canvas, const std::string& name, int value);
    // Sets a function with a fine channel to a value from 0 to 255 + 255/256: the whole
    // part goes to the coarse channel, the fraction in 256ths to the fine one (127.5 is
    // 127 and 128). False when the function has no fine channel in this personality and
    // the value is not whole.
    bool setNamedFine(int canvas, const std::string& name, double value);
    // Sets DMX channel 1..512 as a desk numbers them; false outside that range.
    bool setChannel(int channel, int value);

    const std::array<uint8_t, CHANNELS>& slots() const { return data; }

    // Offset within a canvas's block of a function name ("picture", "opacity", "x", ...);
    // -1 for an unknown name or one the personality of `per_canvas` channels lacks.
    static int offsetOf(const std::string& name, int per_canvas = 32);
    // Offset of the function's fine channel in the 32-channel personality; -1 for none.
    static int fineOffsetOf(const std::string& name);
    // Every name offsetOf knows, for the usage text.
    static std::string names(int per_canvas = 32);

  private:
    int start;
    int per_canvas;
    std::array<uint8_t, CHANNELS> data{};
};

}  // namespace LumetraSend
