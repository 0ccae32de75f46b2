#include "receive_buffer.h"

#include <sys/socket.h>

namespace Lumetra {

int growReceiveBuffer(int fd) {
    int size = RECEIVE_BUFFER_BYTES;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof(size)) != 0) {
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
    }
    int granted = 0;
    socklen_t len = sizeof(granted);
    getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &len);
    return granted;
}

}  // namespace Lumetra
