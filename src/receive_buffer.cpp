#include "receive_buffer.h"

#include "log/log.h"

#include <sys/socket.h>

#include <atomic>
#include <cstdio>

namespace Lumetra {

namespace {
std::atomic<bool> shortfall_told{false};
}  // namespace

int growReceiveBuffer(int fd) {
    int size = RECEIVE_BUFFER_BYTES;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof(size)) != 0) {
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
    }
    int granted = 0;
    socklen_t len = sizeof(granted);
    getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &len);
    // The kernel reports twice the usable size it granted.
    if (granted / 2 < RECEIVE_BUFFER_BYTES && !shortfall_told.exchange(true)) {
        logLine(LogLevel::Warning,
                "UDP receive buffer %d KiB, not the %d KiB asked for: floods may "
                "crowd out DMX (give the program CAP_NET_ADMIN, or raise "
                "net.core.rmem_max to %d)",
                granted / 2 / 1024, RECEIVE_BUFFER_BYTES / 1024, RECEIVE_BUFFER_BYTES);
    }
    return granted;
}

}  // namespace Lumetra
