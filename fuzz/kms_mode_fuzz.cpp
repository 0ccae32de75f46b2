// Feeds arbitrary text to the LUMETRA_MODE reader: it must never read past the string, and
// what it accepts must be in range and print back as the same text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/mesa/display/kms_output.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);  // ends in '\0'
    Lumetra::Platform::Mesa::KmsModeRequest r;
    if (!Lumetra::Platform::Mesa::parseKmsMode(text.c_str(), &r)) {
        return 0;
    }
    if (r.width < 1 || r.width > 16384 || r.height < 1 || r.height > 16384 || r.refresh > 1000) {
        std::abort();
    }
    char back[64];
    if (r.refresh != 0) {
        std::snprintf(back, sizeof(back), "%ux%u@%u", r.width, r.height, r.refresh);
    } else {
        std::snprintf(back, sizeof(back), "%ux%u", r.width, r.height);
    }
    // Leading zeros are the one spelling that does not come back the same.
    if (text.find("x0") == std::string::npos && text.find("@0") == std::string::npos &&
        text[0] != '0' && std::strcmp(back, text.c_str()) != 0) {
        std::abort();
    }
    return 0;
}
