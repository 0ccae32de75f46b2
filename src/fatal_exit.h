#pragma once

#include <cstdio>

namespace Lumetra {

// Whoever changes the terminal (the console) registers here how to put it back. The function
// must be safe to call from any thread and from a signal handler, more than once.
using TerminalRestorer = void (*)();
void setTerminalRestorer(TerminalRestorer restorer);

// Puts the terminal back as it was before the program started (if anything changed it);
// only the first call acts.
void restoreTerminal();

// Ends the process at once from any thread, without running destructors under the threads
// that still run: the terminal is restored first, so that the message stays readable and
// the shell gets its normal mode back.
[[noreturn]] void endProcess(int status);
[[noreturn]] void fatalExit(FILE* stream, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

}  // namespace Lumetra
