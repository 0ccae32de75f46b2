// Everything the web server reads from a request that is its own parsing: forms (query
// strings and settings bodies), slot routes, upload names, HTTP Basic credentials, and
// config.txt text as the settings page reads it. Each must take any bytes, and what it
// accepts must keep its promises.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "web/config_keys.h"
#include "web/web_parsing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    Lumetra::FormFields fields;
    if (Lumetra::parseForm(text, &fields)) {
        for (const auto& field : fields) {
            if (field.first.find('\0') != std::string::npos ||
                field.second.find('\0') != std::string::npos) {
                std::abort();
            }
            std::string why;
            Lumetra::configValueAllowed(field.first, field.second, &why);
        }
    }

    int slot = -2;
    bool thumbnail = false;
    if (Lumetra::parseSlotRoute(text, &slot, &thumbnail) && (slot < -1 || slot > 255)) {
        std::abort();
    }

    // An accepted name can only make a plain file name inside the picture directory.
    std::string stem;
    std::string extension;
    if (Lumetra::parseUploadName(text, &stem, &extension)) {
        const std::string name = stem + "." + extension;
        if (stem.empty() || stem[0] == '.' || name.find('/') != std::string::npos ||
            name.find("..") != std::string::npos || name.find('\0') != std::string::npos) {
            std::abort();
        }
    }

    std::string decoded;
    Lumetra::decodeBase64(text, &decoded);
    Lumetra::basicAuthMatches(text.c_str(), "lumetra", "secret");

    // JSON strings never end early: no raw quote or control byte inside.
    const std::string json = Lumetra::jsonString(text);
    for (size_t i = 1; i + 1 < json.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(json[i]);
        if (c < 0x20 || c >= 0x7f || (c == '"' && json[i - 1] != '\\')) {
            if (c == '"' && json[i - 1] == '\\') {
                continue;
            }
            std::abort();
        }
    }

    const auto values = Lumetra::configValuesOf(text);
    Lumetra::webSettingsOf(values);
    return 0;
}
