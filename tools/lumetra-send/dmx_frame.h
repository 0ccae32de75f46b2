#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace LumetraSend {

// One universe of 512 DMX channels as lumetra-send will send it, filled through the
// fixture's personality: 20 channels per canvas from the start address.
class DmxFrame {
  public:
    static constexpr int CHANNELS = 512;
    static constexpr int PER_CANVAS = 20;

    explicit DmxFrame(int dmx_start);

    // False when canvas `canvas`'s 20 channels do not fit the universe.
    bool hasCanvas(int canvas) const;
    // The canvas's channels set to a look that shows its picture: centred, white light,
    // no spin, everything else 0 (so still invisible until opacity is raised).
    void neutralCanvas(int canvas);
    // Sets a named function of a canvas (see offsetOf); false for an unknown name.
    bool setNamed(int canvas, const std::string& name, int value);
    // Sets DMX channel 1..512 as a desk numbers them; false outside that range.
    bool setChannel(int channel, int value);

    const std::array<uint8_t, CHANNELS>& slots() const { return data; }

    // Offset within a canvas's block of a function name ("picture", "opacity", "x", ...);
    // -1 for an unknown name.
    static int offsetOf(const std::string& name);
    // Every name offsetOf knows, for the usage text.
    static std::string names();

  private:
    int start;
    std::array<uint8_t, CHANNELS> data{};
};

}  // namespace LumetraSend
