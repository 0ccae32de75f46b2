#pragma once

#include <map>
#include <string>

#include "web/web_parsing.h"

namespace Lumetra {

// The keys of config.txt as the settings page shows and edits them.
struct ConfigKey {
    const char* name;  // without "="
    const char* kind;  // "int", "number", "text", "address", "password"
    double low;        // range of "int" and "number"
    double high;
    const char* fallback;  // the value without the key
    const char* meaning;
};

// Every key the fixture reads, in the order the page lists them.
const ConfigKey* configKeys(size_t* count);
const ConfigKey* findConfigKey(const std::string& name);

// The values of a config.txt text as the fixture reads them (comments and every byte
// outside '!'..'~' dropped, the last line of a key wins).
std::map<std::string, std::string> configValuesOf(const std::string& text);
// The same for a file; empty when it cannot be read (at most 64 KiB are read).
std::map<std::string, std::string> readConfigValues(const std::string& path);

// Whether `value` may be written for `key`; why not in *why.
bool configValueAllowed(const std::string& key, const std::string& value, std::string* why);

// The web server's own keys.
struct WebSettings {
    int port = 8080;       // 0: no web page
    std::string address;   // empty: every interface
    std::string password;  // empty: read-only
};
WebSettings webSettingsOf(const std::map<std::string, std::string>& values);

}  // namespace Lumetra
