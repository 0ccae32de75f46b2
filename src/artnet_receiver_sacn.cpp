// sACN beside Art-Net on the listener thread: both sockets are drained in the same cycle
// and, when both brought our universe, the frame that arrived last wins.
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
    // The first query switches the kernel's arrival stamps on for the Art-Net socket.
    lastArtnetArrival();
}

void ArtnetReceiver::closeSacn() {
    delete sacn;
    sacn = nullptr;
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
    if (artnet_arrived && !later(sacn->lastChange(), lastArtnetArrival())) {
        sacn->discardChanges();
        return false;
    }
    sacn->applyTo(dmx512);
    return true;
}

}  // namespace Lumetra
