#pragma once

#include <string>

namespace Lumetra {

// A line of config.txt as it is read: everything from '#' on dropped, and every character
// that is not printable ASCII or is white space.
std::string cleanConfigLine(const std::string& line);

// The settings of ./config.txt, read once at start-up. Every value has a default and a
// range; values outside it fall back silently.
class ConfigLoader {
  public:
    ConfigLoader();
    // Reads the given file instead of ./config.txt (tools and tests).
    explicit ConfigLoader(const std::string& file_name);

    int getArtnetUniverse() const { return artnet_universe; }
    int getArtnetSubnet() const { return artnet_subnet; }
    // Bits 14-8 of the Art-Net Port-Address, 0 to 127.
    int getArtnetNet() const { return artnet_net; }
    // The names poll replies show; empty for the defaults. The short name is SHORT_NAME=,
    // else the first 17 characters of NAME=.
    std::string getShortName() const;
    const std::string& getLongName() const { return long_name; }
    int getVormelNum() const { return vormel_num; }
    int getVormelDMXStart() const { return vormel_dmx_start; }
    int getZoomType() const { return zooming_type; }
    float getScalingMultiplier() const { return scaling_multiplier; }
    int getGpioLed() const { return gpio_led; }
    // The sACN universe, 1 to 63999, or 0 for no sACN. Without the key it is the universe
    // under which desks send the same data as on our Art-Net Port-Address (Port-Address + 1).
    int getSacnUniverse() const;
    // No SACN_UNIVERSE= key: the sACN universe follows the Art-Net address.
    bool sacnFollowsArtnet() const { return sacn_universe < 0; }
    // 1: pictures changed in ./textures/ are shown while the show runs; 0: read at start only.
    int getPictureReload() const { return picture_reload; }
    // DMX channels per canvas: 20 (the default) or 32 (fine channels, glide, crossfade).
    int getChannels() const { return channels; }
    // 1: clips show the picture the wall clock says, in step with other fixtures.
    int getClipSync() const { return clip_sync; }

  private:
    void loadCfgFile(const std::string& file_name);
    void parseCleanLine(std::string& line);
    bool parseNameLine(const std::string& line);

    int artnet_universe;
    int artnet_subnet;
    int vormel_num;
    int vormel_dmx_start;
    int zooming_type;
    float scaling_multiplier;
    int gpio_led;
    int sacn_universe;  // -1 until the key is read
    int picture_reload;
    int channels;
    int artnet_net = 0;
    int clip_sync = 0;
    std::string long_name;
    std::string short_name;
};

}  // namespace Lumetra
