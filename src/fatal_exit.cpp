#include "fatal_exit.h"

#include <unistd.h>

#include <atomic>
#include <cstdarg>

#include "log/log.h"

namespace Lumetra {

namespace {
std::atomic<TerminalRestorer> terminal_restorer{nullptr};
}  // namespace

void setTerminalRestorer(TerminalRestorer restorer) {
    terminal_restorer.store(restorer);
}

void restoreTerminal() {
    TerminalRestorer restorer = terminal_restorer.exchange(nullptr);
    if (restorer != nullptr) {
        restorer();
    }
}

void endProcess(int status) {
    restoreTerminal();
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(status);
}

void fatalExit(FILE* stream, const char* format, ...) {
    restoreTerminal();
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    logFixed(LogLevel::Error, stream, "%s", text);
    endProcess(1);
}

}  // namespace Lumetra
