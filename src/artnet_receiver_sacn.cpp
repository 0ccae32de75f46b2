// sACN beside Art-Net on the listener thread: both sockets are drained in the same cycle
// and, when both brought our universe, the frame that arrived last wins. Which one that
// was, the kernel's arrival stamps tell; they cost every datagram the machine receives,
// so they are switched on only once both protocols first meet in one cycle (that cycle
// sACN, drained last, wins).
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
    if (sacn == nullptr || !sacn->cycle()) {
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
