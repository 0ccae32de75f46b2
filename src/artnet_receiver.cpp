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
#include "canvas/canvas_manager.h"
#include "dmx_frame_mapper.h"
#include "fatal_exit.h"
#include "log/log.h"
#include "receive_buffer.h"

namespace Lumetra {

namespace {

// DMX is mapped onto the canvases at most once a cycle: 20 times a second is smooth enough
// for a picture that changes with a desk's fades, and keeps the listener's share of the CPU
// small however much arrives.
constexpr std::chrono::microseconds CYCLE(50000);
constexpr std::chrono::milliseconds NAP(1);
// Datagrams in one drain beyond which the network counts as flooded.
constexpr int FLOOD_READS = 16;
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
                               int gpio_led, int sacn_universe, int channels,
                               const ArtnetIdentity& identity)
    : ArtnetReceiver(screen, canvases_id, universe, subnet, dmx_start, scale_multiplier, gpio_led,
                     getuid() == 0, true, sacn_universe, channels, identity) {}

ArtnetReceiver::ArtnetReceiver(CanvasManager* screen, int canvases_id, unsigned int universe,
                               unsigned int subnet, int dmx_start, float scale_multiplier,
                               int gpio_led, bool is_root, bool start_listener, int sacn_universe,
                               int channels, const ArtnetIdentity& identity)
    : screen(screen),
      canvases_id(canvases_id),
      artnet_universe(static_cast<int>(universe)),
      artnet_subnet(static_cast<int>(subnet)),
      artnet_net(identity.net),
      switch_universe(static_cast<int>(universe)),
      switch_subnet(static_cast<int>(subnet)),
      identity(identity),
      dmx_start(dmx_start),
      scale_multiplier(scale_multiplier),
      gpio_led(gpio_led),
      is_root(is_root),
      gpio_root(gpioRootFromEnvironment()) {
    openSocket();
    openSacn(sacn_universe);
    initLED();
    setLED(1);
    if (channels == 32) {
        mapper = new DmxFrameMapper(screen->getCanvasGroup(canvases_id), dmx_start,
                                    scale_multiplier, screen->getScreenRatio());
        screen->setFrameStart(
            [this](std::chrono::steady_clock::time_point now) { frameStart(now); });
        screen->startFramesLate(true);
    }
    announce();
    if (start_listener) {
        net_listener_thread = std::thread(&ArtnetReceiver::netListener, this);
    }
}

ArtnetReceiver::~ArtnetReceiver() {
    quit = true;
    if (net_listener_thread.joinable()) {
        net_listener_thread.join();
    }
    if (mapper != nullptr) {
        screen->startFramesLate(false);
        screen->setFrameStart(nullptr);
        delete mapper;
    }
    storeWhenDue(true);
    setLED(0);
    quitLED();
    closeSacn();
    close(s);
}

void ArtnetReceiver::openSocket() {
    s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0) {
        // The German messages are the ones operators know; \366 is a single Latin-1 byte
        // (o-umlaut), kept as it always was rather than turned into UTF-8.
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
    // Announcements go to each network's broadcast address, from this socket as replies do.
    setsockopt(s, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on));
}

void ArtnetReceiver::sizeReceiveBuffer() {
    receive_buffer = growReceiveBuffer(s);
}

// A cycle that a poll cut short is followed at once by the next one, so an answered poll
// costs the DMX behind it no time.
void ArtnetReceiver::netListener() {
    if (mapper != nullptr) {
        listenOnArrival();
        return;
    }
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
    frame_fresh |= sync_hold.expire(dmx512, std::chrono::steady_clock::now());
    locateCycle();
    storeWhenDue(false);
    const bool sacn_changed = takeSacn(frame_fresh);
    if (frame_fresh || sacn_changed) {
        const bool artnet = frame_fresh;
        frame_fresh = false;
        last_dmx = std::chrono::steady_clock::now();
        dmx_seen = true;
        updateCanvasValues();
        published.publish(dmx512, artnet ? "Art-Net" : "sACN", artnet ? &dmx_sender : nullptr);
    }
    announceDmxChange();
}

// Waits for any socket and drains them all at once; a frame that changed goes to the render
// thread with the time it was taken in. The timeout bounds how late a quit is seen and
// lets sACN drop silent sources while nothing arrives.
void ArtnetReceiver::listenOnArrival() {
    constexpr int QUIT_CHECK_MS = 50;
    while (!quit) {
        if (!poll_cut) {
            pollfd sockets[] = {{s, POLLIN, 0}, {sacnDescriptor(), POLLIN, 0}};
            poll(sockets, sizeof(sockets) / sizeof(sockets[0]), QUIT_CHECK_MS);
        }
        bool artnet = receive();
        // A frame held for a sync that never came is applied once the hold gives up.
        artnet |= sync_hold.expire(dmx512, std::chrono::steady_clock::now());
        locateCycle();
        storeWhenDue(false);
        const bool sacn_changed = takeSacn(artnet);
        if (artnet || sacn_changed) {
            last_dmx = std::chrono::steady_clock::now();
            dmx_seen = true;
            mailbox.publish(dmx512, last_dmx);
            published.publish(dmx512, artnet ? "Art-Net" : "sACN", artnet ? &dmx_sender : nullptr);
        }
        announceDmxChange();
        // Under a flood, a short nap after each drain (as between the 20-channel cycles)
        // keeps the wake-ups few and leaves the cores to the render loop and the drain
        // to come; the receive buffer holds what arrives meanwhile. A desk's frames
        // alone never take this path, so they cost no latency.
        if (last_drain_reads > FLOOD_READS) {
            std::this_thread::sleep_for(NAP);
        }
    }
}

void ArtnetReceiver::frameStart(std::chrono::steady_clock::time_point now) {
    mapper->frameStart(mailbox.take(), now);
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
    int reads = 0;
    for (; reads < MAX_READS_PER_DRAIN; ++reads) {
        // Without an LED nothing resets the count; stop it short of overflowing.
        if (led_blink < INT_MAX) {
            ++led_blink;
        }
        std::memset(buffer, 0, sizeof(buffer));
        const ssize_t n = readDatagram();
        const bool accepted = parseArtNet(static_cast<int>(n)) == 0;
        if (accepted) {
            received = true;
            if (led_blink > 2 && led_mode == LED_NORMAL) {
                setLED(0);
            }
        }
        if (led_blink > 2 && led_mode == LED_NORMAL) {
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
    last_drain_reads = reads;
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

// 0 for an accepted ArtDmx packet, held for a sync or not, and for a sync that applied a
// held frame: both want the frame mapped.
int ArtnetReceiver::parseArtNet(int len) {
    const unsigned char* data = reinterpret_cast<const unsigned char*>(buffer);
    const auto now = std::chrono::steady_clock::now();
    // A frame held when the syncs stopped is applied, and mapped, before this datagram.
    frame_fresh |= sync_hold.expire(dmx512, now);
    unsigned char* frame = sync_hold.frameFor(dmx512, now);
    ArtnetPacketKind kind =
        examineArtnetPacket(data, len, artnet_net, artnet_subnet, artnet_universe, frame);
    poll_answered = kind == ARTNET_POLL && pollWanted();
    if (poll_answered) {
        ArtPollReply();
    }
    if (kind == ARTNET_DMX) {
        sync_hold.offered(ntohl(clientAddr.sin_addr.s_addr));
        dmx_sender = clientAddr.sin_addr;
        return 0;
    }
    if (kind == ARTNET_SYNC) {
        return takeSync() ? 0 : -1;
    }
    if (kind == ARTNET_ADDRESS) {
        takeArtAddress(len);
    }
    return -1;
}

// The reply leaves through the socket bound to 6454, as Art-Net expects replies to come
// from, and never waits: a poller we cannot reach, or a full send queue, costs one reply,
// counted and said, never the show.
int ArtnetReceiver::ArtPollReply() {
    sendPollReply(ntohl(clientAddr.sin_addr.s_addr), true);
    return 0;
}

void ArtnetReceiver::sendPollReply(uint32_t to, bool answer) {
    sendReply(pollReplyInfo(answer), to);
}

void ArtnetReceiver::sendReply(const ArtPollReplyInfo& info, uint32_t to) {
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(ARTNET_PORT);
    destination.sin_addr.s_addr = htonl(to);
    unsigned char reply[ARTNET_POLL_REPLY_SIZE];
    buildArtPollReply(info, reply);
    if (sendto(s, reply, sizeof(reply), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&destination),
               sizeof(destination)) != static_cast<ssize_t>(sizeof(reply))) {
        ++replies_failed;
        logLine(LogLevel::Warning, "ArtPollReply to %s not sent: %s",
                inet_ntoa(destination.sin_addr), std::strerror(errno));
    }
}

bool ArtnetReceiver::pollWanted() {
    return poll_limiter.allow(ntohl(clientAddr.sin_addr.s_addr), std::chrono::steady_clock::now());
}

}  // namespace Lumetra
