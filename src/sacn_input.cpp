#include "sacn_input.h"

#include <cstring>
#include <utility>

namespace Lumetra {

SacnInput::SacnInput(int universe, SacnSourceTable::Clock clock)
    : clock(clock), universe(universe), socket(universe), table(std::move(clock)) {}

void SacnInput::drain() {
    for (int reads = 0; reads < MAX_READS_PER_DRAIN; ++reads) {
        timespec arrival{};
        uint32_t sender = 0;
        int n = socket.read(buffer, sizeof(buffer), &arrival, &sender);
        if (n < 0) {
            break;
        }
        examine(n, arrival, sender);
    }
}

bool SacnInput::cycle() {
    drain();
    int slots = table.expire(frame);
    timespec now{};
    if (slots > 0) {
        clock_gettime(CLOCK_REALTIME, &now);
        noteChange(slots, now);
    }
    if (held_slots >= 0 && syncLost() && force_sync) {
        clock_gettime(CLOCK_REALTIME, &now);
        release(now);
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

void SacnInput::examine(int len, const timespec& arrival, uint32_t sender) {
    int address = 0;
    if (examineSacnSync(buffer, len, &address)) {
        takeSync(address, arrival);
        return;
    }
    SacnDataPacket packet;
    SacnPacketKind kind = examineSacnPacket(buffer, len, universe, &packet);
    if (kind == SACN_IGNORED) {
        return;
    }
    int slots = table.take(kind, packet, frame, sender);
    if (slots > 0 && kind == SACN_DMX) {
        if (packet.sync_address != sync_address && packet.sync_address != 0) {
            socket.joinSyncGroup(packet.sync_address);
            last_sync = clock();  // the hold begins: its sync has SYNC_TIMEOUT to come
        }
        sync_address = packet.sync_address;
        force_sync = packet.force_sync;
        if (sync_address == 0 && held_slots >= 0) {
            release(arrival);  // the source stopped synchronizing: what waited goes first
        }
    }
    if (slots > 0) {
        noteChange(slots, arrival);
    }
}

void SacnInput::noteChange(int slots, const timespec& when) {
    // Held while its sync may still come; once the syncs have stopped, Force_Synchronization
    // set applies at once, clear keeps the look until they come back.
    if (sync_address != 0 && !(syncLost() && force_sync)) {
        held_slots = slots > held_slots ? slots : held_slots;
        return;
    }
    if (slots > changed_slots) {
        changed_slots = slots;
    }
    last_change = when;
}

void SacnInput::takeSync(int address, const timespec& arrival) {
    if (address != sync_address) {
        return;
    }
    last_sync = clock();
    if (held_slots >= 0) {
        release(arrival);
    }
}

bool SacnInput::syncLost() const {
    return clock() - last_sync >= SYNC_TIMEOUT;
}

void SacnInput::release(const timespec& when) {
    const int slots = held_slots;
    held_slots = -1;
    if (slots > changed_slots) {
        changed_slots = slots;
    }
    last_change = when;
}

}  // namespace Lumetra
