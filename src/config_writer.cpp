#include "config_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace Lumetra {

namespace {

// The key a line sets as the loader sees it: comments and whitespace dropped, then the text
// before "=". Empty when the line sets nothing.
std::string keyOfLine(const std::string& line) {
    std::string clean;
    for (char c : line) {
        if (c == '#') {
            break;
        }
        if (c >= '!' && c <= '~') {
            clean += c;
        }
    }
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

bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
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
    const std::string temporary = path + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = temporary + ": " + std::strerror(errno);
        return false;
    }
    const bool ok = writeAll(fd, updatedConfigText(text, values)) && ::fsync(fd) == 0;
    const int saved_errno = errno;
    ::close(fd);
    if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
        *error = path + ": " + std::strerror(ok ? errno : saved_errno);
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename itself must reach the disk too, or a power cut may bring back the old file.
    const int dir = ::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace Lumetra
