#include "config_writer.h"

#include <unistd.h>

#include <fstream>
#include <sstream>

#include "atomic_file.h"
#include "config_loader.h"

namespace Lumetra {

namespace {

// The key a line sets as the loader sees it: comments and whitespace dropped, then the text
// before "=". Empty when the line sets nothing.
std::string keyOfLine(const std::string& line) {
    const std::string clean = cleanConfigLine(line);
    const size_t equals = clean.find('=');
    return equals == std::string::npos ? std::string() : clean.substr(0, equals);
}

bool isPlainValue(const std::string& text) {
    for (char c : text) {
        if (c < ' ' || c > '~' || c == '#') {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string updatedConfigText(const std::string& text,
                              const std::vector<std::pair<std::string, std::string>>& values) {
    std::vector<bool> written(values.size(), false);
    std::string out;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const std::string key = keyOfLine(line);
        size_t match = values.size();
        for (size_t i = 0; i < values.size() && !key.empty(); ++i) {
            if (values[i].first == key) {
                match = i;
            }
        }
        if (match == values.size()) {
            out += line + "\n";
            continue;
        }
        const size_t hash = line.find('#');
        out += key + "=" + values[match].second;
        if (hash != std::string::npos) {
            out += " " + line.substr(hash);
        }
        out += "\n";
        written[match] = true;
    }
    for (size_t i = 0; i < values.size(); ++i) {
        if (!written[i]) {
            out += values[i].first + "=" + values[i].second + "\n";
        }
    }
    return out;
}

bool writeConfigValues(const std::string& path,
                       const std::vector<std::pair<std::string, std::string>>& values,
                       std::string* error) {
    for (const auto& kv : values) {
        if (kv.first.empty() || !isPlainValue(kv.first) ||
            kv.first.find('=') != std::string::npos || !isPlainValue(kv.second)) {
            *error = "refused key or value for " + path;
            return false;
        }
    }
    std::string text;
    {
        std::ifstream in(path, std::ios::binary);
        if (in) {
            std::ostringstream buffer;
            buffer << in.rdbuf();
            text = buffer.str();
        } else if (::access(path.c_str(), F_OK) == 0) {
            // Writing now would drop every line of a file we could not read.
            *error = path + ": cannot be read";
            return false;
        }
    }
    const std::string updated = updatedConfigText(text, values);
    std::string reason;
    if (!replaceFileAtomically(path, updated.data(), updated.size(), &reason)) {
        *error = path + ": " + reason;
        return false;
    }
    return true;
}

}  // namespace Lumetra
