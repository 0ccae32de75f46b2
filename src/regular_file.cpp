#include "regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Lumetra {

FILE* openRegularFile(const std::string& path) {
    // O_NONBLOCK makes the open itself return at once for a FIFO without a writer; what
    // was opened is then checked on the descriptor, so nothing can be swapped in between.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return nullptr;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return nullptr;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return nullptr;
    }
    FILE* file = fdopen(fd, "rb");
    if (file == nullptr) {
        close(fd);
    }
    return file;
}

bool isReadableRegularFile(const std::string& path) {
    FILE* file = openRegularFile(path);
    if (file == nullptr) {
        return false;
    }
    std::fclose(file);
    return true;
}

}  // namespace Lumetra
