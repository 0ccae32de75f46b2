#include "atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace Lumetra {

namespace {

bool writeAll(int fd, const char* bytes, size_t size) {
    size_t written = 0;
    while (written < size) {
        const ssize_t n = write(fd, bytes + written, size - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        written += static_cast<size_t>(n);
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

bool replaceFileAtomically(const std::string& target, const void* data, size_t size,
                           std::string* error) {
    // Beside the target, so that the rename stays within one file system.
    const std::string temporary = target + ".tmp" + std::to_string(getpid());
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = std::strerror(errno);
        return false;
    }
    bool ok = writeAll(fd, static_cast<const char*>(data), size) && fsync(fd) == 0;
    int reason = ok ? 0 : errno;
    if (close(fd) != 0 && ok) {  // some file systems report a full disk only here
        ok = false;
        reason = errno;
    }
    if (ok && std::rename(temporary.c_str(), target.c_str()) != 0) {
        ok = false;
        reason = errno;
    }
    if (!ok) {
        *error = std::strerror(reason);
        unlink(temporary.c_str());
        return false;
    }
    // The rename itself reaches the disk with the directory.
    const int dir = open(directoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

}  // namespace Lumetra
