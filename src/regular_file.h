#pragma once

#include <cstdio>
#include <string>

namespace Lumetra {

// Opens `path` for reading only if it is a regular file (a symlink is followed). A FIFO,
// device or directory counts as absent: opening a FIFO for reading would wait for a
// writer, a device may never end. Never blocks. Returns null when the file is absent,
// unreadable or not regular.
FILE* openRegularFile(const std::string& path);

// True when openRegularFile would succeed; the file is closed again at once.
bool isReadableRegularFile(const std::string& path);

}  // namespace Lumetra
