#include "artnet_receiver.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "artnet_packet.h"
#include "fatal_exit.h"
#include "receive_buffer.h"

namespace Lumetra {

namespace {

constexpr std::chrono::microseconds CYCLE(50000);
constexpr std::chrono::milliseconds NAP(1);
// More reads than the granted buffer can hold datagrams (8 MiB / 830 bytes), so one drain
// reaches the end of whatever was queued when it began. 16384 reads take about 15 ms.
constexpr int MAX_READS_PER_DRAIN = 16384;
const char* const DEFAULT_GPIO_ROOT = "/sys/class/gpio";

std::string gpioRootFromEnvironment() {
    const char* root = std::getenv("LUMETRA_GPIO_ROOT");
    return (root != nullptr && root[0] != '\0') ? root : DEFAULT_GPIO_ROOT;
}

}  // namespace

ArtnetReceiver::ArtnetReceiver(CanvasManager* screen, int canvases_id, unsigned int universe,
                               unsigned int subnet, int dmx_start, float scale_multiplier,
                               int gpio_led, int sacn_universe)
    : ArtnetReceiver(screen, canvases_id, universe, subnet, dmx_start, scale_multiplier, gpio_led,
                     getuid() == 0, true, sacn_universe) {}

ArtnetReceiver::ArtnetReceiver(CanvasManager* screen, int canvases_id, unsigned int universe,
                               unsigned int subnet, int dmx_start, float scale_multiplier,
                               int gpio_led, bool is_root, bool start_listener, int sacn_universe)
    : screen(screen),
      canvases_id(canvases_id),
      artnet_universe(static_cast<int>(universe)),
      artnet_subnet(static_cast<int>(subnet)),
      dmx_start(dmx_start),
      scale_multiplier(scale_multiplier),
      gpio_led(gpio_led),
      gpio_root(gpioRootFromEnvironment()) {
    led_blink = 0;
    openSocket();
    openSacn(sacn_universe);
    this->is_root = is_root;
    initLED();
    setLED(1);
    led_blink = 0;
    quit = false;
    if (start_listener) {
        net_listener_thread = std::thread(&ArtnetReceiver::netListener, this);
    }
}

ArtnetReceiver::~ArtnetReceiver() {
    quit = true;
    if (net_listener_thread.joinable()) {
        net_listener_thread.join();
    }
    setLED(0);
    quitLED();
    closeSacn();
    close(s);
}

void ArtnetReceiver::openSocket() {
    s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0) {
        fatalExit(stdout, "init_net: Kann Socket nicht \366ffnen ...(%s)\n", std::strerror(errno));
    }
    myAddr.sin_family = AF_INET;
    myAddr.sin_addr.s_addr = htonl(INADDR_ANY);
    myAddr.sin_port = htons(ARTNET_PORT);
    if (bind(s, reinterpret_cast<sockaddr*>(&myAddr), sizeof(myAddr)) < 0) {
        fatalExit(stdout, "ArtnetReceiver: bind(): Kann Portnummern %d nicht binden (%s)\n",
                  ARTNET_PORT, std::strerror(errno));
    }
    sizeReceiveBuffer();
    // The interface a poll came in on decides the address its reply gives.
    const int on = 1;
    setsockopt(s, IPPROTO_IP, IP_PKTINFO, &on, sizeof(on));
}

void ArtnetReceiver::sizeReceiveBuffer() {
    receive_buffer = growReceiveBuffer(s);
}

// A cycle that a poll cut short is followed at once by the next one, so an answered poll
// costs the DMX behind it no time.
void ArtnetReceiver::netListener() {
    while (!quit) {
        listenCycle();
        if (!poll_cut) {
            waitForNextCycle();
        }
    }
}

// Drains every socket into the frame and maps it at most once, however many packets came.
void ArtnetReceiver::listenCycle() {
    frame_fresh |= receive();
    const bool sacn_changed = takeSacn(frame_fresh);
    if (frame_fresh || sacn_changed) {
        const bool artnet = frame_fresh;
        frame_fresh = false;
        last_dmx = std::chrono::steady_clock::now();
        dmx_seen = true;
        updateCanvasValues();
        published.publish(dmx512, artnet ? "Art-Net" : "sACN",
                          artnet ? &clientAddr.sin_addr : nullptr);
    }
}

// The pause between cycles still takes datagrams in as they arrive, into the frame that
// the next cycle maps: a queue left to fill for a whole pause under a flood overflows, and
// the kernel then drops our DMX with the junk. A short nap after each drain keeps the
// wake-ups few; the receive buffer holds what arrives meanwhile.
void ArtnetReceiver::waitForNextCycle() {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + CYCLE;
    while (!quit) {
        const Clock::duration left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            return;
        }
        const long long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timespec timeout{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        // Every listening socket is watched and drained; what sACN brings waits in its
        // source table for the next cycle's mapping. Without sACN its entry is -1, which
        // ppoll skips.
        pollfd sockets[] = {{s, POLLIN, 0}, {sacnDescriptor(), POLLIN, 0}};
        const int n = ppoll(sockets, sizeof(sockets) / sizeof(sockets[0]), &timeout, nullptr);
        if (n > 0 && sockets[1].revents != 0) {
            drainSacn();
        }
        if (n > 0 && sockets[0].revents != 0) {
            frame_fresh |= receive();
            if (poll_cut) {
                return;
            }
        }
        if (n != 0) {
            std::this_thread::sleep_for(std::min<Clock::duration>(NAP, deadline - Clock::now()));
        }
    }
}

// Only an empty queue, or the first answered poll after a full cycle, ends a drain.
// Datagrams we ignore (other universes, other OpCodes, foreign traffic, polls beyond the
// reply budget) are read past: stopping at each of them would let a busy network fill
// the socket queue, so that our DMX arrived seconds late or was dropped. The read count
// bounds one drain, so a flood cannot hold the listener in it; it exceeds what the
// receive buffer can hold, so a drain can always reach the newest datagram.
bool ArtnetReceiver::receive() {
    bool received = false;
    const bool poll_may_end = !poll_cut;
    poll_cut = false;
    for (int reads = 0; reads < MAX_READS_PER_DRAIN; ++reads) {
        // Without an LED nothing resets the count; stop it short of overflowing.
        if (led_blink < INT_MAX) {
            ++led_blink;
        }
        std::memset(buffer, 0, sizeof(buffer));
        const ssize_t n = readDatagram();
        const bool accepted = parseArtNet(static_cast<int>(n)) == 0;
        if (accepted) {
            received = true;
            if (led_blink > 2) {
                setLED(0);
            }
        }
        if (led_blink > 2) {
            setLED(1);
        }
        if (accepted) {
            continue;
        }
        if (n < 0) {
            break;
        }
        if (poll_answered && poll_may_end) {
            poll_cut = true;
            break;
        }
    }
    return received;
}

// One datagram without blocking, cut to the buffer; also notes the interface it came in
// on, which a poll reply may need.
ssize_t ArtnetReceiver::readDatagram() {
    iovec data{buffer, sizeof(buffer)};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr message{};
    message.msg_name = &clientAddr;
    message.msg_namelen = sizeof(clientAddr);
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    const ssize_t n = recvmsg(s, &message, MSG_DONTWAIT);
    if (n < 0) {
        return n;
    }
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof(info));
            arrival_ifindex = info.ipi_ifindex;
            arrival_local = info.ipi_spec_dst;
        }
    }
    return n;
}

int ArtnetReceiver::parseArtNet(int len) {
    ArtnetPacketKind kind = examineArtnetPacket(reinterpret_cast<const unsigned char*>(buffer), len,
                                                artnet_subnet, artnet_universe, dmx512);
    poll_answered = kind == ARTNET_POLL && pollWanted();
    if (poll_answered) {
        ArtPollReply();
    }
    return kind == ARTNET_DMX ? 0 : -1;
}

int ArtnetReceiver::ArtPollReply() {
    const ArtPollReplyInfo info = pollReplyInfo();
    int reply_socket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (reply_socket < 0) {
        fatalExit(stderr, "Error: socket()\n");
    }
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(ARTNET_PORT);
    destination.sin_addr = clientAddr.sin_addr;
    unsigned char reply[ARTNET_POLL_REPLY_SIZE];
    buildArtPollReply(info, reply);
    sendto(reply_socket, reply, sizeof(reply), 0, reinterpret_cast<sockaddr*>(&destination),
           sizeof(destination));
    close(reply_socket);
    return 0;
}

bool ArtnetReceiver::pollWanted() {
    return poll_limiter.allow(ntohl(clientAddr.sin_addr.s_addr), std::chrono::steady_clock::now());
}

}  // namespace Lumetra
