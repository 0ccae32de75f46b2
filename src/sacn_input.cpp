#include "sacn_input.h"

#include <cstring>
#include <utility>

namespace Lumetra {

SacnInput::SacnInput(int universe, SacnSourceTable::Clock clock)
    : universe(universe), socket(universe), table(std::move(clock)) {}

void SacnInput::drain() {
    for (int reads = 0; reads < MAX_READS_PER_DRAIN; ++reads) {
        timespec arrival{};
        int n = socket.read(buffer, sizeof(buffer), &arrival);
        if (n < 0) {
            break;
        }
        ++datagrams;
        examine(n, arrival);
    }
}

bool SacnInput::cycle() {
    drain();
    int slots = table.expire(frame);
    if (slots > 0) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        noteChange(slots, now);
    }
    socket.refreshMemberships();
    return changed_slots >= 0;
}

void SacnInput::applyTo(uint8_t* dmx512) {
    if (changed_slots > 0) {
        std::memcpy(dmx512, frame, static_cast<size_t>(changed_slots));
    }
    changed_slots = -1;
}

void SacnInput::examine(int len, const timespec& arrival) {
    SacnDataPacket packet;
    SacnPacketKind kind = examineSacnPacket(buffer, len, universe, &packet);
    if (kind == SACN_IGNORED) {
        return;
    }
    int slots = table.take(kind, packet, frame);
    if (slots > 0) {
        noteChange(slots, arrival);
    }
}

void SacnInput::noteChange(int slots, const timespec& when) {
    if (slots > changed_slots) {
        changed_slots = slots;
    }
    last_change = when;
}

}  // namespace Lumetra
