#pragma once

#include <cstdio>

namespace Lumetra {

// Levels as syslog numbers them; under systemd the journal gets them with each line.
enum class LogLevel { Error = 3, Warning = 4, Notice = 5, Info = 6 };

// One line for the operator on stderr, "lumetra: " first and a newline added. A line that
// comes again unchanged is counted instead of printed; the count is told when another line
// comes, or with the same line after kRepeatSeconds, as "... (repeated 1,234 times)", so
// that a failure every frame costs neither the journal nor the render loop.
void logLine(LogLevel level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A line whose words are fixed (messages that operators and scripts know by heart, some in
// German): written on `stream` exactly as given, only the journal's level in front.
void logFixed(LogLevel level, FILE* stream, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

constexpr double kRepeatSeconds = 10.0;

}  // namespace Lumetra
