#include "config_loader.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "regular_file.h"

namespace Lumetra {

namespace {

// Reads a leading decimal integer; false (field untouched) when the value does not start
// with a number or does not fit an int.
bool readInt(const std::string& text, int* out) {
    const char* start = text.c_str();
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(start, &end, 10);
    if (end == start || errno == ERANGE || value < INT_MIN || value > INT_MAX) {
        return false;
    }
    *out = static_cast<int>(value);
    return true;
}

bool readFloat(const std::string& text, float* out) {
    const char* start = text.c_str();
    char* end = nullptr;
    errno = 0;
    float value = std::strtof(start, &end);
    if (end == start || errno == ERANGE) {
        return false;
    }
    *out = value;
    return true;
}

bool startsWith(const std::string& line, const char* key, std::string* rest) {
    const std::string k(key);
    if (line.size() < k.size() || line.compare(0, k.size(), k) != 0) {
        return false;
    }
    *rest = line.substr(k.size());
    return true;
}

void setIntInRange(const std::string& value, int* field, int low, int high, int fallback) {
    if (readInt(value, field) && (*field < low || *field > high)) {
        *field = fallback;
    }
}

// A name as written, spaces inside kept, cut at a comment; only printable ASCII.
std::string nameValue(const std::string& text, size_t limit) {
    std::string name;
    for (char c : text) {
        if (c == '#') {
            break;
        }
        if (c >= ' ' && c <= '~') {
            name += c;
        }
    }
    const size_t first = name.find_first_not_of(' ');
    if (first == std::string::npos) {
        return "";
    }
    name = name.substr(first, name.find_last_not_of(' ') - first + 1);
    return name.substr(0, limit);
}

constexpr size_t SHORT_NAME_LENGTH = 17;  // the Art-Net field's 18 bytes with their zero
constexpr size_t LONG_NAME_LENGTH = 63;

}  // namespace

std::string cleanConfigLine(const std::string& line) {
    std::string clean;
    for (char c : line) {
        if (c == '#') {
            break;
        }
        if (c >= '!' && c <= '~') {
            clean += c;
        }
    }
    return clean;
}

std::string ConfigLoader::getShortName() const {
    return short_name.empty() ? long_name.substr(0, SHORT_NAME_LENGTH) : short_name;
}

ConfigLoader::ConfigLoader() : ConfigLoader("config.txt") {}

ConfigLoader::ConfigLoader(const std::string& file_name)
    : artnet_universe(0),
      artnet_subnet(0),
      vormel_num(1),
      vormel_dmx_start(100),
      zooming_type(1),
      scaling_multiplier(1.0f),
      gpio_led(-1),
      sacn_universe(-1),
      picture_reload(1),
      channels(20) {
    loadCfgFile(file_name);
}

int ConfigLoader::getSacnUniverse() const {
    if (sacn_universe >= 0) {
        return sacn_universe;
    }
    return 256 * artnet_net + 16 * artnet_subnet + artnet_universe + 1;
}

void ConfigLoader::loadCfgFile(const std::string& file_name) {
    // A FIFO, device or directory in place of the file is a missing file: reading it could
    // wait for ever before the fixture ever starts.
    FILE* file = openRegularFile(file_name);
    if (file == nullptr) {
        return;  // defaults stand
    }
    char* buffer = nullptr;
    size_t capacity = 0;
    ssize_t length;
    while ((length = getline(&buffer, &capacity, file)) >= 0) {
        std::string line(buffer, static_cast<size_t>(length));
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
        }
        if (!parseNameLine(line)) {
            line = cleanConfigLine(line);
            parseCleanLine(line);
        }
    }
    std::free(buffer);
    std::fclose(file);
}

// Names keep their spaces, so they are read before the line is cleaned.
bool ConfigLoader::parseNameLine(const std::string& line) {
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) {
        return false;
    }
    std::string value;
    if (startsWith(line.substr(start), "NAME=", &value)) {
        long_name = nameValue(value, LONG_NAME_LENGTH);
        return true;
    }
    if (startsWith(line.substr(start), "SHORT_NAME=", &value)) {
        short_name = nameValue(value, SHORT_NAME_LENGTH);
        return true;
    }
    return false;
}

void ConfigLoader::parseCleanLine(std::string& line) {
    std::string value;
    if (startsWith(line, "SUBNET=", &value)) {
        setIntInRange(value, &artnet_subnet, 0, 15, 0);
    } else if (startsWith(line, "NET=", &value)) {
        setIntInRange(value, &artnet_net, 0, 127, 0);
    } else if (startsWith(line, "UNIVERSE=", &value)) {
        setIntInRange(value, &artnet_universe, 0, 15, 0);
    } else if (startsWith(line, "ANZAHL=", &value)) {
        setIntInRange(value, &vormel_num, 1, 25, 1);
    } else if (startsWith(line, "DMX_START=", &value)) {
        setIntInRange(value, &vormel_dmx_start, 1, 490, 100);
    } else if (startsWith(line, "ZOOM=", &value)) {
        int zoom = 0;
        if (readInt(value, &zoom) && zoom == 2) {
            zooming_type = 2;
        }
    } else if (startsWith(line, "SCAL_MULT=", &value)) {
        if (readFloat(value, &scaling_multiplier) &&
            !(scaling_multiplier > 0.0f && scaling_multiplier < 10.0f)) {
            scaling_multiplier = 1.0f;
        }
    } else if (startsWith(line, "GPIO_LED=", &value)) {
        setIntInRange(value, &gpio_led, 0, 30, -1);
    } else if (startsWith(line, "SACN_UNIVERSE=", &value)) {
        // Out of range falls back to the default, as if the key were absent.
        setIntInRange(value, &sacn_universe, 0, 63999, -1);
    } else if (startsWith(line, "CLIP_SYNC=", &value)) {
        setIntInRange(value, &clip_sync, 0, 1, 0);
    } else if (startsWith(line, "RELOAD=", &value)) {
        setIntInRange(value, &picture_reload, 0, 1, 1);
    } else if (startsWith(line, "CHANNELS=", &value)) {
        int n = 0;
        if (readInt(value, &n)) {
            channels = n == 32 ? 32 : 20;
        }
    }
    // Checked after every line, so the order of the lines matters near the limit. With 32
    // channels the blocks may end on slot 512 (16 canvases from address 1).
    const bool too_far = channels == 32 ? vormel_dmx_start - 1 + vormel_num * 32 > 512
                                        : vormel_dmx_start + vormel_num * 20 > 512;
    if (too_far) {
        vormel_dmx_start = 100;
        vormel_num = 1;
    }
}

}  // namespace Lumetra
