#include "lumetra-send/fixture_wait.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

namespace LumetraSend {

namespace {

using Clock = std::chrono::steady_clock;

const uint16_t kArtnetPort = 6454;
const int kPollIntervalMs = 100;
// On this machine the kernel refuses a datagram to an unbound port at once; a poll left
// unanswered this long has reached a bound socket.
const int kQuietMs = 200;

const uint8_t kArtPoll[14] = {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x20, 0, 14, 0, 0};

class Socket {
  public:
    Socket() : fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~Socket() {
        if (fd >= 0) {
            close(fd);
        }
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd;
};

// An address of this machine (loopback included) can be bound; a remote or broadcast one
// cannot.
bool isOwnAddress(const sockaddr_in& address) {
    Socket probe;
    sockaddr_in local = address;
    local.sin_port = 0;
    return probe.fd >= 0 &&
           bind(probe.fd, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == 0;
}

// Replies to a poll go to port 6454 of the poller; open it only for a fixture elsewhere,
// since here it would take the port from the fixture being waited for.
bool bindReplyPort(int fd) {
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    any.sin_port = htons(kArtnetPort);
    return bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof(any)) == 0;
}

bool isPollReplyFrom(int fd, const sockaddr_in& address) {
    uint8_t packet[600];
    sockaddr_in from{};
    socklen_t from_size = sizeof(from);
    const ssize_t n = recvfrom(fd, packet, sizeof(packet), MSG_DONTWAIT,
                               reinterpret_cast<sockaddr*>(&from), &from_size);
    const bool broadcast = (ntohl(address.sin_addr.s_addr) & 0xff) == 0xff;
    return n >= 12 && std::memcmp(packet, kArtPoll, 8) == 0 && packet[8] == 0x00 &&
           packet[9] == 0x21 && (broadcast || from.sin_addr.s_addr == address.sin_addr.s_addr);
}

// Takes the socket's pending error; true when it says the port was unreachable.
bool refused(int fd) {
    int error = 0;
    socklen_t size = sizeof(error);
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
    return error == ECONNREFUSED;
}

}  // namespace

bool waitUntilListening(const sockaddr_in& address, double seconds, std::string* error) {
    const Clock::time_point deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                          std::chrono::duration<double>(seconds));
    sockaddr_in target = address;
    target.sin_port = htons(kArtnetPort);
    Socket poller;
    Socket replies;
    const int yes = 1;
    if (poller.fd < 0 || replies.fd < 0 ||
        setsockopt(poller.fd, SOL_SOCKET, SO_BROADCAST, &yes, sizeof(yes)) != 0 ||
        connect(poller.fd, reinterpret_cast<const sockaddr*>(&target), sizeof(target)) != 0) {
        *error = std::string("cannot poll: ") + std::strerror(errno);
        return false;
    }
    const bool see_replies = !isOwnAddress(address) && bindReplyPort(replies.fd);
    const int quiet_ms = see_replies ? -1 : kQuietMs;

    bool quiet = false;
    Clock::time_point sent = Clock::now();
    do {
        if (send(poller.fd, kArtPoll, sizeof(kArtPoll), 0) < 0 && errno != ECONNREFUSED) {
            *error = std::string("cannot poll: ") + std::strerror(errno);
            return false;
        }
        sent = Clock::now();
        quiet = true;
        for (;;) {
            const auto waited =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count();
            const int interval = quiet_ms > kPollIntervalMs ? quiet_ms : kPollIntervalMs;
            if (waited >= interval) {
                break;
            }
            struct pollfd fds[2] = {{poller.fd, POLLIN, 0}, {replies.fd, POLLIN, 0}};
            poll(fds, see_replies ? 2 : 1, static_cast<int>(interval - waited));
            if ((fds[0].revents & POLLERR) != 0 && refused(poller.fd)) {
                quiet = false;
            }
            if (see_replies && (fds[1].revents & POLLIN) != 0 &&
                isPollReplyFrom(replies.fd, address)) {
                return true;
            }
        }
        if (quiet && quiet_ms >= 0 && !refused(poller.fd)) {
            return true;
        }
    } while (Clock::now() < deadline);
    *error = std::string("no fixture listens on ") + inet_ntoa(address.sin_addr) + ":6454";
    return false;
}

}  // namespace LumetraSend
