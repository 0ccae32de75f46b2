#include "artnet_receiver.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "artnet_packet.h"

namespace Lumetra {

namespace {

constexpr useconds_t CYCLE_SLEEP_US = 50000;
// Over 300 000 datagrams a second still drain within their cycle; a drain of this many
// takes about 15 ms.
constexpr int MAX_READS_PER_DRAIN = 16384;
const char* const DEFAULT_GPIO_ROOT = "/sys/class/gpio";

// Other threads (render loop, video decoders) are running when we give up, so leave
// without running destructors under them.
[[noreturn]] void endProcess() {
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(1);
}

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
        std::printf("init_net: Kann Socket nicht \366ffnen ...(%s)\n", std::strerror(errno));
        endProcess();
    }
    myAddr.sin_family = AF_INET;
    myAddr.sin_addr.s_addr = htonl(INADDR_ANY);
    myAddr.sin_port = htons(ARTNET_PORT);
    if (bind(s, reinterpret_cast<sockaddr*>(&myAddr), sizeof(myAddr)) < 0) {
        std::printf("ArtnetReceiver: bind(): Kann Portnummern %d nicht binden (%s)\n", ARTNET_PORT,
                    std::strerror(errno));
        endProcess();
    }
}

void ArtnetReceiver::netListener() {
    while (!quit) {
        listenCycle();
        usleep(CYCLE_SLEEP_US);
    }
}

// One cycle maps the frame at most once, however many packets the drains took in.
void ArtnetReceiver::listenCycle() {
    const bool artnet = receive();
    const bool sacn_changed = takeSacn(artnet);
    if (artnet || sacn_changed) {
        updateCanvasValues();
    }
}

// Only an empty queue or a poll ends a drain. Datagrams we ignore (other universes, other
// OpCodes, foreign traffic) are read past: stopping at each of them would let a busy
// network fill the socket queue, so that our DMX arrived seconds late or was dropped. The
// read count bounds one drain, so a flood cannot hold the listener in it.
bool ArtnetReceiver::receive() {
    bool received = false;
    for (int reads = 0; reads < MAX_READS_PER_DRAIN; ++reads) {
        // Without an LED nothing resets the count; stop it short of overflowing.
        if (led_blink < INT_MAX) {
            ++led_blink;
        }
        std::memset(buffer, 0, sizeof(buffer));
        socklen_t addr_len = sizeof(clientAddr);
        ssize_t n = recvfrom(s, buffer, sizeof(buffer), MSG_DONTWAIT,
                             reinterpret_cast<sockaddr*>(&clientAddr), &addr_len);
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
        if (!accepted && (n < 0 || poll_answered)) {
            break;
        }
    }
    return received;
}

int ArtnetReceiver::parseArtNet(int len) {
    ArtnetPacketKind kind = examineArtnetPacket(reinterpret_cast<const unsigned char*>(buffer), len,
                                                artnet_subnet, artnet_universe, dmx512);
    poll_answered = kind == ARTNET_POLL;
    if (poll_answered) {
        ArtPollReply();
    }
    return kind == ARTNET_DMX ? 0 : -1;
}

int ArtnetReceiver::ArtPollReply() {
    GetMyIPAdress();
    int reply_socket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (reply_socket < 0) {
        std::fprintf(stderr, "Error: socket()\n");
        endProcess();
    }
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(ARTNET_PORT);
    destination.sin_addr = clientAddr.sin_addr;
    unsigned char reply[ARTNET_POLL_REPLY_SIZE];
    buildArtPollReply(ntohl(myAddr.sin_addr.s_addr), reply);
    sendto(reply_socket, reply, sizeof(reply), 0, reinterpret_cast<sockaddr*>(&destination),
           sizeof(destination));
    close(reply_socket);
    return 0;
}

void ArtnetReceiver::GetMyIPAdress() {
    int query_socket = socket(AF_INET, SOCK_DGRAM, 0);
    if (query_socket < 0) {
        return;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, "eth0", IFNAMSIZ - 1);
    request.ifr_addr.sa_family = AF_INET;
    int result = ioctl(query_socket, SIOCGIFADDR, &request);
    close(query_socket);
    if (result == 0) {
        myAddr.sin_addr = reinterpret_cast<sockaddr_in*>(&request.ifr_addr)->sin_addr;
    }
}

}  // namespace Lumetra
