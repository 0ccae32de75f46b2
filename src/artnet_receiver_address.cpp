// What a desk asks of the node beyond DMX: ArtSync cues and ArtAddress naming, patching
// and locating. Runs on the listener thread like the rest of the packet handling.
#include <arpa/inet.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "artnet_packet.h"
#include "artnet_receiver.h"
#include "config_writer.h"
#include "log/log.h"

namespace Lumetra {

namespace {

// A desk (or anyone) sending changes in a stream must not hold the listener in fsync.
constexpr std::chrono::seconds STORE_INTERVAL(1);

// Cycles (50 ms) per half period of the locate blink: 2.5 Hz, unlike any DMX blinking.
constexpr int LOCATE_HALF_PERIOD = 4;

// config.txt takes printable ASCII without '#'; anything else a desk sends becomes '?'.
std::string storableName(const std::string& name) {
    std::string out = name;
    for (char& c : out) {
        if (c < ' ' || c > '~' || c == '#') {
            c = '?';
        }
    }
    return out;
}

}  // namespace

bool ArtnetReceiver::takeSync() {
    return sync_hold.sync(ntohl(clientAddr.sin_addr.s_addr), dmx512,
                          std::chrono::steady_clock::now());
}

void ArtnetReceiver::takeArtAddress(int len) {
    ArtAddressRequest request;
    if (!readArtAddress(reinterpret_cast<const unsigned char*>(buffer), len, &request)) {
        return;
    }
    const int net = request.net >= 0 ? request.net : artnet_net;
    const int subnet = request.subnet >= 0    ? request.subnet
                       : request.subnet_reset ? switch_subnet
                                              : artnet_subnet;
    const int universe = request.universe >= 0    ? request.universe
                         : request.universe_reset ? switch_universe
                                                  : artnet_universe;
    std::string short_name =
        request.short_name.empty() ? identity.short_name : storableName(request.short_name);
    std::string long_name =
        request.long_name.empty() ? identity.long_name : storableName(request.long_name);
    LedMode led = led_mode;
    if (request.command == ARTNET_COMMAND_LED_NORMAL) {
        led = LED_NORMAL;
    } else if (request.command == ARTNET_COMMAND_LED_MUTE) {
        led = LED_MUTE;
    } else if (request.command == ARTNET_COMMAND_LED_LOCATE) {
        led = LED_LOCATE;
    }
    const bool patched = net != artnet_net || subnet != artnet_subnet ||
                         universe != artnet_universe || short_name != identity.short_name ||
                         long_name != identity.long_name;
    const bool changed = patched || led != led_mode;
    const bool moved = net != artnet_net || subnet != artnet_subnet || universe != artnet_universe;
    artnet_net = net;
    artnet_subnet = subnet;
    artnet_universe = universe;
    identity.short_name = std::move(short_name);
    identity.long_name = std::move(long_name);
    // An sACN universe that follows the Art-Net address moves with it, as it would at the
    // next start from the stored address.
    if (moved && sacn != nullptr && identity.sacn_follows) {
        closeSacn();
        openSacn(256 * net + 16 * subnet + universe + 1);
        arrivals_stamped = false;
    }
    const bool locate_switched = (led == LED_LOCATE) != (led_mode == LED_LOCATE);
    if (led != led_mode) {
        led_mode = led;
        locate_cycles = 0;
        setLED(led == LED_MUTE ? 0 : 1);
    }
    if (identity.locate && (locate_switched || (patched && led == LED_LOCATE))) {
        identity.locate(led == LED_LOCATE, artnet_net, artnet_subnet, artnet_universe,
                        identity.long_name);
    }
    // Written only when it changed: a desk repeating its ArtAddress must not wear the card.
    if (patched) {
        store_pending = true;
        storeWhenDue(false);
    }
    if (pollWanted()) {
        ArtPollReply();
    }
    if (changed) {
        announce();
    }
}

void ArtnetReceiver::storeIdentity() {
    std::vector<std::pair<std::string, std::string>> values = {
        {"NET", std::to_string(artnet_net)},
        {"SUBNET", std::to_string(artnet_subnet)},
        {"UNIVERSE", std::to_string(artnet_universe)},
    };
    if (!identity.long_name.empty()) {
        values.emplace_back("NAME", identity.long_name);
    }
    if (!identity.short_name.empty()) {
        values.emplace_back("SHORT_NAME", identity.short_name);
    }
    std::string error;
    if (!writeConfigValues(identity.config_path, values, &error)) {
        logLine(LogLevel::Warning, "the desk's new address is used but not kept: %s",
                error.c_str());
    }
}

void ArtnetReceiver::storeWhenDue(bool at_end) {
    const auto now = std::chrono::steady_clock::now();
    if (!store_pending || (!at_end && now < next_store)) {
        return;
    }
    store_pending = false;
    next_store = now + STORE_INTERVAL;
    storeIdentity();
}

void ArtnetReceiver::locateCycle() {
    if (led_mode != LED_LOCATE) {
        return;
    }
    if (locate_cycles % LOCATE_HALF_PERIOD == 0) {
        setLED((locate_cycles / LOCATE_HALF_PERIOD) % 2 == 0 ? 0 : 1);
    }
    ++locate_cycles;
}

}  // namespace Lumetra
