#include "log/log.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <mutex>
#include <string>

namespace Lumetra {

namespace {

std::mutex log_mutex;
std::string last_line;
unsigned long repeats = 0;
std::chrono::steady_clock::time_point last_told;

// True when `stream` is the journal's: systemd names that descriptor's device and inode in
// JOURNAL_STREAM ("dev:ino"). Asked each time, so a redirected stream is seen as such.
bool toJournal(FILE* stream) {
    const char* journal = std::getenv("JOURNAL_STREAM");
    struct stat st;
    if (journal == nullptr || fstat(fileno(stream), &st) != 0) {
        return false;
    }
    const std::string ours = std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
                             std::to_string(static_cast<unsigned long long>(st.st_ino));
    return ours == journal;
}

void put(LogLevel level, FILE* stream, const std::string& text) {
    if (toJournal(stream)) {
        std::fprintf(stream, "<%d>", static_cast<int>(level));
    }
    std::fputs(text.c_str(), stream);
    std::fflush(stream);
}

std::string withThousands(unsigned long n) {
    std::string digits = std::to_string(n);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<size_t>(at), ",");
    }
    return digits;
}

std::string formatted(const char* format, va_list args) {
    char small[512];
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(small, sizeof(small), format, copy);
    va_end(copy);
    if (n < 0) {
        return format;
    }
    if (static_cast<size_t>(n) < sizeof(small)) {
        return std::string(small, static_cast<size_t>(n));
    }
    std::string text(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, args);
    text.resize(static_cast<size_t>(n));
    return text;
}

void tellRepeats(LogLevel level) {
    if (repeats > 0) {
        put(level, stderr,
            "lumetra: " + last_line + " (repeated " + withThousands(repeats) + " times)\n");
        repeats = 0;
    }
}

}  // namespace

void logLine(LogLevel level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = formatted(format, args);
    va_end(args);
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(log_mutex);
    if (text == last_line) {
        ++repeats;
        if (now - last_told >= std::chrono::duration<double>(kRepeatSeconds)) {
            tellRepeats(level);
            last_told = now;
        }
        return;
    }
    tellRepeats(level);
    last_line = text;
    last_told = now;
    put(level, stderr, "lumetra: " + text + "\n");
}

void logFixed(LogLevel level, FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = formatted(format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(log_mutex);
    put(level, stream, text);
}

}  // namespace Lumetra
