#include "web/web_parsing.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace Lumetra {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool decodeFormPart(const std::string& text, size_t begin, size_t end, std::string* out) {
    out->clear();
    for (size_t i = begin; i < end; ++i) {
        char c = text[i];
        if (c == '+') {
            c = ' ';
        } else if (c == '%') {
            if (i + 2 >= end) {
                return false;
            }
            const int high = hexDigit(text[i + 1]);
            const int low = hexDigit(text[i + 2]);
            if (high < 0 || low < 0) {
                return false;
            }
            c = static_cast<char>(high * 16 + low);
            i += 2;
        }
        if (c == '\0') {
            return false;
        }
        *out += c;
    }
    return true;
}

// The extensions a slot's file may have (as the picture directory reads them).
const char* const kExtensions[] = {"png",  "jpg", "jpeg", "bmp", "tga",  "gif",
                                   "h264", "mp4", "mov",  "mkv", "webm", "avi"};

}  // namespace

bool parseForm(const std::string& text, FormFields* fields, size_t max_fields) {
    fields->clear();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('&', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end > start) {
            const size_t equals = text.find('=', start);
            if (equals == std::string::npos || equals >= end || fields->size() >= max_fields) {
                return false;
            }
            std::string key;
            std::string value;
            if (!decodeFormPart(text, start, equals, &key) ||
                !decodeFormPart(text, equals + 1, end, &value)) {
                return false;
            }
            fields->emplace_back(std::move(key), std::move(value));
        }
        start = end + 1;
    }
    return true;
}

const std::string* formValue(const FormFields& fields, const std::string& key) {
    for (const auto& field : fields) {
        if (field.first == key) {
            return &field.second;
        }
    }
    return nullptr;
}

int parseSlotNumber(const std::string& text) {
    if (text.empty() || text.size() > 3 || (text.size() > 1 && text[0] == '0')) {
        return -1;
    }
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return -1;
        }
        value = value * 10 + (c - '0');
    }
    return value <= 255 ? value : -1;
}

bool parseUploadName(const std::string& name, std::string* stem, std::string* extension) {
    if (name.empty() || name.size() > 64 || name[0] == '.') {
        return false;
    }
    char previous = '\0';
    for (char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        if (!plain || (c == '.' && previous == '.')) {
            return false;
        }
        previous = c;
    }
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 >= name.size()) {
        return false;
    }
    std::string ext = name.substr(dot + 1);
    for (char& c : ext) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (const char* known : kExtensions) {
        if (ext == known) {
            *stem = name.substr(0, dot);
            *extension = ext;
            return true;
        }
    }
    return false;
}

bool parseSlotRoute(const std::string& url, int* slot, bool* thumbnail) {
    static const std::string kBase = "/api/slots";
    *thumbnail = false;
    if (url == kBase || url == kBase + "/") {
        *slot = -1;
        return true;
    }
    if (url.compare(0, kBase.size() + 1, kBase + "/") != 0) {
        return false;
    }
    std::string rest = url.substr(kBase.size() + 1);
    const size_t slash = rest.find('/');
    if (slash != std::string::npos) {
        if (rest.substr(slash) != "/thumbnail") {
            return false;
        }
        *thumbnail = true;
        rest.resize(slash);
    }
    *slot = parseSlotNumber(rest);
    return *slot >= 0;
}

bool decodeBase64(const std::string& text, std::string* out) {
    out->clear();
    if (text.size() % 4 != 0) {
        return false;
    }
    unsigned bits = 0;
    int count = 0;
    size_t padding = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        int value;
        if (c >= 'A' && c <= 'Z') {
            value = c - 'A';
        } else if (c >= 'a' && c <= 'z') {
            value = c - 'a' + 26;
        } else if (c >= '0' && c <= '9') {
            value = c - '0' + 52;
        } else if (c == '+') {
            value = 62;
        } else if (c == '/') {
            value = 63;
        } else if (c == '=' && i + 2 >= text.size()) {
            ++padding;
            value = 0;
        } else {
            return false;
        }
        if (padding > 0 && c != '=') {
            return false;  // data after padding
        }
        bits = (bits << 6) | static_cast<unsigned>(value);
        if (++count == 4) {
            out->push_back(static_cast<char>((bits >> 16) & 0xff));
            out->push_back(static_cast<char>((bits >> 8) & 0xff));
            out->push_back(static_cast<char>(bits & 0xff));
            bits = 0;
            count = 0;
        }
    }
    out->resize(out->size() - padding);
    return true;
}

bool constantTimeEquals(const std::string& a, const std::string& b) {
    // Every byte of the longer one is looked at, so that neither where they differ nor
    // (beyond the lengths) what they hold changes the time taken.
    const size_t n = a.size() > b.size() ? a.size() : b.size();
    unsigned char differ = a.size() == b.size() ? 0 : 1;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
        const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
        differ |= static_cast<unsigned char>(x ^ y);
    }
    return differ == 0;
}

bool basicAuthMatches(const char* header, const std::string& user, const std::string& password) {
    if (header == nullptr || password.empty()) {
        return false;
    }
    const size_t length = std::strlen(header);
    if (length < 6 || length > 512 || strncasecmp(header, "Basic ", 6) != 0) {
        return false;
    }
    size_t begin = 6;
    while (begin < length && header[begin] == ' ') {
        ++begin;
    }
    std::string decoded;
    if (!decodeBase64(std::string(header + begin, length - begin), &decoded)) {
        return false;
    }
    return constantTimeEquals(decoded, user + ":" + password);
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
            out += escaped;
        } else if (c >= 0x80) {
            out += "\\ufffd";
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

}  // namespace Lumetra
