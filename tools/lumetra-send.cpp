// lumetra-send: drives a Lumetra fixture without a lighting desk. Sends one DMX frame,
// built from the fixture's channel functions (picture=3 opacity=255 ...) and raw
// CHANNEL=VALUE pairs, as ArtDmx (or sACN with --sacn) to 127.0.0.1 or another address,
// using the universe and start address of ./config.txt. See `lumetra-send --help`.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "config_loader.h"
#include "lumetra-send/dmx_frame.h"
#include "lumetra-send/dmx_packets.h"
#include "lumetra-send/fixture_wait.h"
#include "lumetra-send/send_options.h"

using namespace LumetraSend;

namespace {

// Fills the options the command line left open from the configuration file, as the
// fixture itself reads it; false when the file sets sACN off and sACN was asked for.
bool settle(SendOptions* o, std::string* error) {
    const Lumetra::ConfigLoader config(o->config);
    if (o->net < 0) {
        o->net = config.getArtnetNet();
    }
    if (o->subnet < 0) {
        o->subnet = config.getArtnetSubnet();
    }
    if (o->universe < 0) {
        o->universe = config.getArtnetUniverse();
    }
    if (o->start < 0) {
        o->start = config.getVormelDMXStart();
    }
    if (o->channels < 0) {
        o->channels = config.getChannels();
    }
    if (o->sacn_universe < 0) {
        o->sacn_universe =
            sacnUniverseFromConfig(o->config, 256 * o->net + 16 * o->subnet + o->universe + 1);
        if (o->sacn && o->sacn_universe == 0) {
            *error = o->config + " turns sACN off (SACN_UNIVERSE=0); give --sacn-universe";
            return false;
        }
    }
    return true;
}

bool buildFrame(const SendOptions& o, DmxFrame* frame, std::string* error) {
    std::set<int> canvases;
    for (const SendOptions::Named& n : o.named) {
        if (!frame->hasCanvas(n.canvas)) {
            *error = "canvas " + std::to_string(n.canvas) +
                     " does not fit the universe from DMX_START " + std::to_string(o.start);
            return false;
        }
        if (canvases.insert(n.canvas).second) {
            frame->neutralCanvas(n.canvas);
        }
    }
    for (const SendOptions::Named& n : o.named) {
        if (!frame->setNamedFine(n.canvas, n.name, n.value)) {
            *error = "'" + n.name + "'" +
                     (DmxFrame::offsetOf(n.name, o.channels) < 0
                          ? ": not a function of the " + std::to_string(o.channels) +
                                "-channel personality"
                          : ": a fraction needs a fine channel (--channels 32)");
            return false;
        }
    }
    for (const SendOptions::Raw& r : o.raw) {
        frame->setChannel(r.channel, r.value);
    }
    return true;
}

std::array<uint8_t, 16> randomCid() {
    std::array<uint8_t, 16> cid{};
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0 || read(fd, cid.data(), cid.size()) != static_cast<ssize_t>(cid.size())) {
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        for (size_t i = 0; i < cid.size(); ++i) {
            cid[i] = static_cast<uint8_t>((now >> (4 * i)) ^ (getpid() >> i));
        }
    }
    if (fd >= 0) {
        close(fd);
    }
    return cid;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(SendOptions::usage().c_str(), stdout);
            return 0;
        }
    }
    SendOptions o;
    std::string error;
    if (!o.parse(argc, argv, &error) || !settle(&o, &error)) {
        std::fprintf(stderr, "lumetra-send: %s (--help lists names and options)\n", error.c_str());
        return 2;
    }
    DmxFrame frame(o.start, o.channels);
    if (!buildFrame(o, &frame, &error)) {
        std::fprintf(stderr, "lumetra-send: %s\n", error.c_str());
        return 2;
    }

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(o.sacn ? 5568 : 6454);
    if (inet_pton(AF_INET, o.to.c_str(), &to.sin_addr) != 1) {
        std::fprintf(stderr, "lumetra-send: '%s' is not an IPv4 address\n", o.to.c_str());
        return 2;
    }
    if (o.wait_seconds > 0 && !waitUntilListening(to, o.wait_seconds, &error)) {
        std::fprintf(stderr, "lumetra-send: %s (waited %g s)\n", error.c_str(), o.wait_seconds);
        return 1;
    }
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &yes, sizeof(yes)) != 0) {
        std::perror("lumetra-send: socket");
        return 1;
    }

    const auto cid = randomCid();
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(o.hold_seconds);
    uint8_t sequence = 1;
    do {
        const std::vector<uint8_t> packet =
            o.sacn ? sacnDataPacket(o.sacn_universe, cid, "lumetra-send", o.priority, sequence,
                                    frame.slots())
                   : artDmxPacket(o.net, o.subnet, o.universe, sequence, frame.slots());
        if (sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to),
                   sizeof(to)) != static_cast<ssize_t>(packet.size())) {
            std::fprintf(stderr, "lumetra-send: sendto %s: %s\n", o.to.c_str(),
                         std::strerror(errno));
            close(fd);
            return 1;
        }
        sequence = static_cast<uint8_t>(sequence == 255 ? 1 : sequence + 1);
        if (o.hold_seconds > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    } while (std::chrono::steady_clock::now() < end);
    close(fd);

    if (o.sacn) {
        std::printf("sACN universe %d -> %s:5568\n", o.sacn_universe, o.to.c_str());
    } else {
        std::printf("ArtDmx net %d subnet %d universe %d -> %s:6454\n", o.net, o.subnet, o.universe,
                    o.to.c_str());
    }
    return 0;
}
