#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "artnet_packet.h"
#include "artnet_receiver.h"

namespace Lumetra {

namespace {

// DMX counts as arriving while the last frame is this recent.
constexpr std::chrono::seconds DMX_ARRIVING(3);

// One interface query by name; false when the interface or its answer is missing.
bool queryInterface(const char* name, unsigned long request, ifreq* answer) {
    int query_socket = socket(AF_INET, SOCK_DGRAM, 0);
    if (query_socket < 0) {
        return false;
    }
    *answer = ifreq{};
    std::strncpy(answer->ifr_name, name, IFNAMSIZ - 1);
    answer->ifr_addr.sa_family = AF_INET;
    const int result = ioctl(query_socket, request, answer);
    close(query_socket);
    return result == 0;
}

bool interfaceAddress(const char* name, in_addr* address) {
    ifreq answer;
    if (!queryInterface(name, SIOCGIFADDR, &answer)) {
        return false;
    }
    *address = reinterpret_cast<sockaddr_in*>(&answer.ifr_addr)->sin_addr;
    return true;
}

// The interface's hardware address; all zero when it has none (loopback) or is unknown.
void interfaceMac(const std::string& name, unsigned char mac[6]) {
    std::memset(mac, 0, 6);
    ifreq answer;
    if (!name.empty() && queryInterface(name.c_str(), SIOCGIFHWADDR, &answer)) {
        std::memcpy(mac, answer.ifr_hwaddr.sa_data, 6);
    }
}

std::string hostName() {
    char name[256] = {};
    if (gethostname(name, sizeof(name) - 1) != 0) {
        return "";
    }
    return name;
}

}  // namespace

bool ArtnetReceiver::dmxArriving() const {
    return dmx_seen && std::chrono::steady_clock::now() - last_dmx < DMX_ARRIVING;
}

// Within the same budget as answers to polls, so that changes cannot make us chatty. Each
// network's reply carries our address and MAC on it.
void ArtnetReceiver::announce() {
    if (!poll_limiter.allow(INADDR_BROADCAST, std::chrono::steady_clock::now())) {
        return;
    }
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return;
    }
    for (ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
        const unsigned flags = a->ifa_flags;
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET ||
            a->ifa_netmask == nullptr || (flags & IFF_UP) == 0 || (flags & IFF_BROADCAST) == 0 ||
            (flags & IFF_LOOPBACK) != 0) {
            continue;
        }
        ArtPollReplyInfo info = pollReplyInfo(false);
        info.ip = ntohl(reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr);
        interfaceMac(a->ifa_name, info.mac);
        // From address and mask: an address added without its broadcast has none set.
        const uint32_t mask =
            ntohl(reinterpret_cast<sockaddr_in*>(a->ifa_netmask)->sin_addr.s_addr);
        sendReply(info, info.ip | ~mask);
    }
    freeifaddrs(list);
}

// Art-Net 4 nodes tell the network when what their reply shows changes; here that is DMX
// starting or stopping (names and address change only by ArtAddress, which announces).
void ArtnetReceiver::announceDmxChange() {
    const bool arriving = dmxArriving();
    if (arriving != announced_arriving) {
        announced_arriving = arriving;
        announce();
    }
}

ArtPollReplyInfo ArtnetReceiver::pollReplyInfo(bool answer) {
    std::string interface_name;
    ArtPollReplyInfo info;
    info.ip = replyAddress(&interface_name);
    interfaceMac(interface_name, info.mac);
    info.net = artnet_net;
    info.subnet = artnet_subnet;
    info.universe = artnet_universe;
    info.dmx_arriving = dmxArriving();
    info.replies = answer ? replies_sent++ : replies_sent;
    info.host = hostName();
    info.short_name = identity.short_name;
    info.long_name = identity.long_name;
    info.locating = led_mode == LED_LOCATE;
    return info;
}

// The address of "eth0" when it has one. Otherwise the address we have on the interface
// the poll came in on, which the kernel picks on the poller's network; a node without
// "eth0" (Wi-Fi, a PC's enp3s0) would else report 0.0.0.0.
uint32_t ArtnetReceiver::replyAddress(std::string* interface_name) {
    if (GetMyIPAdress()) {
        *interface_name = "eth0";
        return ntohl(myAddr.sin_addr.s_addr);
    }
    char name[IF_NAMESIZE] = {};
    if (arrival_ifindex > 0 && if_indextoname(static_cast<unsigned>(arrival_ifindex), name)) {
        *interface_name = name;
    }
    in_addr address = arrival_local;
    if (address.s_addr == htonl(INADDR_ANY) && !interface_name->empty()) {
        interfaceAddress(interface_name->c_str(), &address);
    }
    return ntohl(address.s_addr);
}

// Writes the address of "eth0" into myAddr; false (myAddr unchanged) when it has none.
bool ArtnetReceiver::GetMyIPAdress() {
    in_addr address;
    if (!interfaceAddress("eth0", &address)) {
        return false;
    }
    myAddr.sin_addr = address;
    return true;
}

}  // namespace Lumetra
