#include "sacn_socket.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "log/log.h"
#include "receive_buffer.h"
#include "sacn_packet.h"

namespace Lumetra {

SacnSocket::SacnSocket(int universe) : group(sacnMulticastGroup(universe)) {
    open(SACN_PORT);
    if (isOpen()) {
        joinUpInterfaces();
        next_check = std::chrono::steady_clock::now() + MEMBERSHIP_CHECK;
    }
}

SacnSocket::~SacnSocket() {
    if (fd >= 0) {
        close(fd);
    }
}

// sACN is optional beside Art-Net: when its port cannot be had the node goes on without it
// and says so once.
void SacnSocket::open(int port) {
    fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        logLine(LogLevel::Warning, "sACN: socket(): %s; no sACN input", std::strerror(errno));
        return;
    }
    const int on = 1;
    const int off = 0;
    // Other sACN receivers on this machine (monitors, a second node) may share the port.
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    // Only the groups this socket joined, not those other programs joined.
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof(off));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) < 0) {
        logLine(LogLevel::Warning, "sACN: bind(): cannot bind port %d (%s); no sACN input", port,
                std::strerror(errno));
        close(fd);
        fd = -1;
        return;
    }
    // As on the Art-Net socket: a flood on this port must not crowd out the desk's frames.
    growReceiveBuffer(fd);
}

void SacnSocket::stampArrivals() {
    const int on = 1;
    if (fd >= 0) {
        setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof(on));
    }
}

int SacnSocket::read(uint8_t* buffer, int size, timespec* arrival, uint32_t* sender) {
    if (fd < 0) {
        return -1;
    }
    iovec io{buffer, static_cast<size_t>(size)};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    sockaddr_in from{};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof(from);
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    ssize_t n = recvmsg(fd, &message, MSG_DONTWAIT);
    if (n < 0) {
        return -1;
    }
    *sender = from.sin_addr.s_addr;
    *arrival = timespec{};
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            std::memcpy(arrival, CMSG_DATA(c), sizeof(timespec));
        }
    }
    return static_cast<int>(n);
}

void SacnSocket::refreshMemberships() {
    const auto now = std::chrono::steady_clock::now();
    if (fd < 0 || now < next_check) {
        return;
    }
    next_check = now + MEMBERSHIP_CHECK;
    joinUpInterfaces();
}

void SacnSocket::joinSyncGroup(int universe) {
    const uint32_t wanted = sacnMulticastGroup(universe);
    if (fd < 0 || wanted == group || wanted == sync_group) {
        return;
    }
    // The group of an earlier sync universe is left, so that a desk changing it again and
    // again cannot use up the socket's memberships.
    for (int i = 0; i < joined_count && sync_group != 0; ++i) {
        ip_mreqn request{};
        request.imr_multiaddr.s_addr = htonl(sync_group);
        request.imr_ifindex = joined[i];
        setsockopt(fd, IPPROTO_IP, IP_DROP_MEMBERSHIP, &request, sizeof(request));
    }
    sync_group = wanted;
    joined_count = 0;  // joins every interface again; memberships it holds answer EADDRINUSE
    joinUpInterfaces();
}

bool SacnSocket::isJoined(int index) const {
    for (int i = 0; i < joined_count; ++i) {
        if (joined[i] == index) {
            return true;
        }
    }
    return false;
}

// Interfaces that went away or down are forgotten, so that they are joined again when they
// come back; a membership the kernel still holds answers EADDRINUSE, which counts as joined.
void SacnSocket::joinUpInterfaces() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return;
    }
    int up[MAX_INTERFACES];
    int up_count = 0;
    for (ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET ||
            (a->ifa_flags & IFF_UP) == 0 || up_count == MAX_INTERFACES) {
            continue;
        }
        const int index = static_cast<int>(if_nametoindex(a->ifa_name));
        if (index == 0) {
            continue;
        }
        up[up_count++] = index;
        if (isJoined(index) || joined_count == MAX_INTERFACES) {
            continue;
        }
        ip_mreqn request{};
        request.imr_multiaddr.s_addr = htonl(group);
        request.imr_address = reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr;
        request.imr_ifindex = index;
        if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof(request)) == 0 ||
            errno == EADDRINUSE) {
            joined[joined_count++] = index;
        }
        if (sync_group != 0) {
            request.imr_multiaddr.s_addr = htonl(sync_group);
            setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof(request));
        }
    }
    freeifaddrs(list);
    int kept = 0;
    for (int i = 0; i < joined_count; ++i) {
        for (int j = 0; j < up_count; ++j) {
            if (up[j] == joined[i]) {
                joined[kept++] = joined[i];
                break;
            }
        }
    }
    joined_count = kept;
}

}  // namespace Lumetra
