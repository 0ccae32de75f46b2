#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>

namespace Lumetra {

// The non-blocking UDP socket on port 5568 that sACN for one universe arrives on, unicast
// or through the universe's multicast group, which it joins on every IPv4 interface that
// is up, again for interfaces that come up later.
class SacnSocket {
  public:
    static constexpr int MAX_INTERFACES = 32;
    static constexpr std::chrono::seconds MEMBERSHIP_CHECK{2};

    explicit SacnSocket(int universe);
    ~SacnSocket();
    SacnSocket(const SacnSocket&) = delete;
    SacnSocket& operator=(const SacnSocket&) = delete;

    // False when the port could not be opened (a message said so); reads then give -1.
    bool isOpen() const { return fd >= 0; }
    int descriptor() const { return fd; }
    // Asks the kernel to stamp datagrams on arrival. Off at first: while any socket wants
    // stamps the kernel stamps every datagram the machine receives, which on loopback
    // halved the rate a sender reached.
    void stampArrivals();
    // One datagram into `buffer` without waiting, or -1 when none is queued. A longer one
    // is cut to `size`. `arrival` gets the time the kernel took it in, zero while arrivals
    // are not stamped; `sender` its IPv4 source address (network order).
    int read(uint8_t* buffer, int size, timespec* arrival, uint32_t* sender);
    // Joins the group on interfaces that came up since the last look; looks at most once
    // per MEMBERSHIP_CHECK, so calling it every cycle costs nothing in between.
    void refreshMemberships();
    int joinedInterfaces() const { return joined_count; }
    // Also takes the multicast group of the universe our source synchronizes on (its sync
    // packets go there), on every interface, from now on.
    void joinSyncGroup(int universe);

  private:
    void open(int port);
    void joinUpInterfaces();
    bool isJoined(int index) const;

    int fd = -1;
    uint32_t group;  // host byte order
    uint32_t sync_group = 0;
    int joined[MAX_INTERFACES] = {};
    int joined_count = 0;
    std::chrono::steady_clock::time_point next_check{};
};

}  // namespace Lumetra
