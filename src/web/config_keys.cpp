#include "web/config_keys.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config_loader.h"
#include "regular_file.h"

namespace Lumetra {

namespace {

const ConfigKey kKeys[] = {
    {"NAME", "text", 0, 31, "", "The fixture's name, shown on the web page and in identify"},
    {"SUBNET", "int", 0, 15, "0", "Art-Net subnet"},
    {"UNIVERSE", "int", 0, 15, "0", "Art-Net universe within the subnet"},
    {"NET", "int", 0, 127, "0", "Art-Net net"},
    {"SACN_UNIVERSE", "int", 0, 63999, "", "sACN universe (0: no sACN; default follows Art-Net)"},
    {"ANZAHL", "int", 1, 25, "1", "Number of canvases (layers)"},
    {"DMX_START", "int", 1, 490, "100", "DMX start address of the first canvas"},
    {"CHANNELS", "int", 20, 32, "20", "DMX channels per canvas (20 or 32)"},
    {"ZOOM", "int", 1, 2, "1", "Zoom type: 1 or 2"},
    {"SCAL_MULT", "number", 0, 10, "1", "Size multiplier (above 0, below 10)"},
    {"GPIO_LED", "int", 0, 30, "", "GPIO pin of the status LED (none when absent)"},
    {"RELOAD", "int", 0, 1, "1", "1: pictures changed in ./textures/ show at once"},
    {"WEB_PORT", "int", 0, 65535, "8080", "Port of this web page (0: off)"},
    {"WEB_ADDRESS", "address", 0, 0, "", "IPv4 address the web page listens on (empty: all)"},
    {"WEB_PASSWORD", "password", 0, 64, "",
     "Password for changes (user lumetra); without one the page is read-only"},
};

bool readNumber(const std::string& text, double* out) {
    if (text.empty() || text.size() > 24) {
        return false;
    }
    const char* start = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(start, &end);
    if (end != start + text.size() || errno == ERANGE || !std::isfinite(value)) {
        return false;
    }
    *out = value;
    return true;
}

}  // namespace

const ConfigKey* configKeys(size_t* count) {
    *count = sizeof(kKeys) / sizeof(kKeys[0]);
    return kKeys;
}

const ConfigKey* findConfigKey(const std::string& name) {
    for (const ConfigKey& key : kKeys) {
        if (name == key.name) {
            return &key;
        }
    }
    return nullptr;
}

std::map<std::string, std::string> configValuesOf(const std::string& text) {
    std::map<std::string, std::string> values;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string clean = cleanConfigLine(text.substr(start, end - start));
        const size_t equals = clean.find('=');
        if (equals != std::string::npos && equals > 0) {
            const std::string key = clean.substr(0, equals);
            if (findConfigKey(key) != nullptr) {
                values[key] = clean.substr(equals + 1);
            }
        }
        start = end + 1;
    }
    return values;
}

std::map<std::string, std::string> readConfigValues(const std::string& path) {
    // As the fixture reads it: a FIFO or device in its place must not stop the start.
    FILE* file = openRegularFile(path);
    if (file == nullptr) {
        return {};
    }
    std::string text(65536, '\0');
    text.resize(std::fread(&text[0], 1, text.size(), file));
    std::fclose(file);
    return configValuesOf(text);
}

bool configValueAllowed(const std::string& key, const std::string& value, std::string* why) {
    const ConfigKey* known = findConfigKey(key);
    if (known == nullptr) {
        *why = "unknown key " + key;
        return false;
    }
    for (char c : value) {
        if (c < '!' || c > '~' || c == '#') {
            *why = std::string(known->name) + ": only printable characters, no spaces or '#'";
            return false;
        }
    }
    const std::string kind = known->kind;
    if (value.empty()) {
        // An empty value removes the setting's effect where the key has no number.
        if (kind == "int" || kind == "number") {
            *why = std::string(known->name) + ": a number is needed";
            return false;
        }
        return true;
    }
    if (kind == "int" || kind == "number") {
        double number = 0;
        if (!readNumber(value, &number) || number < known->low || number > known->high ||
            (kind == "int" && number != std::floor(number)) ||
            (kind == "number" && (number <= known->low || number >= known->high))) {
            char text[160];
            std::snprintf(text, sizeof(text), "%s: %s from %g to %g", known->name,
                          kind == "int" ? "a whole number" : "a number", known->low, known->high);
            *why = text;
            return false;
        }
        if (key == "CHANNELS" && number != 20 && number != 32) {
            *why = "CHANNELS: 20 or 32";
            return false;
        }
        return true;
    }
    if (kind == "address") {
        in_addr parsed;
        if (inet_pton(AF_INET, value.c_str(), &parsed) != 1) {
            *why = std::string(known->name) + ": an IPv4 address such as 192.168.1.20";
            return false;
        }
        return true;
    }
    if (value.size() > static_cast<size_t>(known->high)) {
        char text[96];
        std::snprintf(text, sizeof(text), "%s: at most %d characters", known->name,
                      static_cast<int>(known->high));
        *why = text;
        return false;
    }
    return true;
}

WebSettings webSettingsOf(const std::map<std::string, std::string>& values) {
    WebSettings settings;
    std::string why;
    auto port = values.find("WEB_PORT");
    if (port != values.end() && configValueAllowed("WEB_PORT", port->second, &why)) {
        settings.port = std::atoi(port->second.c_str());
    }
    auto address = values.find("WEB_ADDRESS");
    if (address != values.end() && configValueAllowed("WEB_ADDRESS", address->second, &why)) {
        settings.address = address->second;
    }
    auto password = values.find("WEB_PASSWORD");
    if (password != values.end() && configValueAllowed("WEB_PASSWORD", password->second, &why)) {
        settings.password = password->second;
    }
    return settings;
}

}  // namespace Lumetra
