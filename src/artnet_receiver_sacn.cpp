// sACN beside Art-Net on the listener thread: both sockets are drained in the same cycle
// and, when both brought our universe, the frame that arrived last wins. Which one that
// was, the kernel's arrival stamps tell; they cost every datagram the machine receives,
// so they are switched on only once both protocols first meet in one cycle (that cycle
// sACN, drained last, wins).
#include <arpa/inet.h>
#include <sys/ioctl.h>

#include <linux/sockios.h>

#include "artnet_receiver.h"
#include "sacn_input.h"

namespace Lumetra {

namespace {

bool later(const timespec& a, const timespec& b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

}  // namespace

void ArtnetReceiver::openSacn(int sacn_universe) {
    if (sacn_universe <= 0) {
        return;
    }
    sacn = new SacnInput(sacn_universe);
    sacn_changes_listed = UINT64_MAX;  // a new universe's table is listed, even empty
    next_sacn_list = {};
}

void ArtnetReceiver::stampArrivals() {
    sacn->stampArrivals();
    // The first query switches stamps on for the Art-Net socket.
    lastArtnetArrival();
    arrivals_stamped = true;
}

void ArtnetReceiver::closeSacn() {
    delete sacn;
    sacn = nullptr;
}

// The web page's list of sACN sources follows the source table, senders that lose to a
// higher priority included. Every taken packet moves the table, so it is copied at most
// four times a second (the page reads it every two): a desk's frame costs a comparison
// and a clock read.
void ArtnetReceiver::listSacnSources() {
    const SacnSourceTable& table = sacn->sources();
    if (table.changes() == sacn_changes_listed) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now < next_sacn_list) {
        return;
    }
    next_sacn_list = now + SACN_LIST_INTERVAL;
    sacn_changes_listed = table.changes();
    SacnSourceTable::Heard heard[SacnSourceTable::MAX_SOURCES];
    const int count = table.heard(heard);
    std::vector<DmxFrameCopy::Source> list(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        char text[INET_ADDRSTRLEN] = "";
        const in_addr address{heard[i].address};
        if (heard[i].address != 0) {
            inet_ntop(AF_INET, &address, text, sizeof(text));
        }
        list[static_cast<size_t>(i)].address = text;
        list[static_cast<size_t>(i)].protocol = "sACN";
        list[static_cast<size_t>(i)].frames = heard[i].packets;
        list[static_cast<size_t>(i)].priority = heard[i].priority;
        list[static_cast<size_t>(i)].first_seen = heard[i].first_packet;
        list[static_cast<size_t>(i)].last_seen = heard[i].last_packet;
    }
    published.replaceSources("sACN", list);
}

// What the listener waits on beside the Art-Net socket; -1 (ignored by poll) without sACN.
int ArtnetReceiver::sacnDescriptor() const {
    return sacn != nullptr ? sacn->descriptor() : -1;
}

// Between cycles: what arrives is kept in the source table (its changes add up) for the
// next cycle to map.
void ArtnetReceiver::drainSacn() {
    sacn->drain();
}

// The kernel's arrival time of the datagram the Art-Net drain read last, which is the last
// ArtDmx accepted or a datagram behind it in the same drain.
timespec ArtnetReceiver::lastArtnetArrival() {
    timespec stamp{};
    ioctl(s, SIOCGSTAMPNS, &stamp);
    return stamp;
}

bool ArtnetReceiver::takeSacn(bool artnet_arrived) {
    if (sacn == nullptr) {
        return false;
    }
    const bool changed = sacn->cycle();
    listSacnSources();
    if (!changed) {
        return false;
    }
    if (artnet_arrived && !arrivals_stamped) {
        stampArrivals();
    } else if (artnet_arrived && !later(sacn->lastChange(), lastArtnetArrival())) {
        sacn->discardChanges();
        return false;
    }
    sacn->applyTo(dmx512);
    return true;
}

}  // namespace Lumetra
