#pragma once

#include <cstddef>
#include <string>

namespace Lumetra {

// Runs `command` through /bin/sh, as popen would, and reads the first line it prints
// (at most size - 1 characters, NUL-terminated, an empty string when it prints nothing).
// The command gets no input and at most `timeout_ms` in all: a command still running
// then is killed with everything it started. Returns false when it could not be started
// or was killed, with *timed_out telling which.
bool readCommandReply(const std::string& command, int timeout_ms, char* reply, size_t size,
                      bool* timed_out);

}  // namespace Lumetra
