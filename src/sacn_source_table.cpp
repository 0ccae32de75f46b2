#include "sacn_source_table.h"

#include <cstdio>
#include <cstring>

#include "log/log.h"

namespace Lumetra {

namespace {

// A packet at most this far behind the last one of its source is late or repeated.
constexpr int SEQUENCE_WINDOW = 20;

}  // namespace

SacnSourceTable::SacnSourceTable(Clock clock) : clock(std::move(clock)) {}

int SacnSourceTable::take(SacnPacketKind kind, const SacnDataPacket& packet, uint8_t* dmx512,
                          uint32_t sender) {
    Source* source = find(packet.cid);
    if (source != nullptr && isLate(*source, packet.sequence)) {
        ++out_of_order;
        return 0;
    }
    const int before = winnerIndex();
    if (kind == SACN_TERMINATED) {
        if (source == nullptr) {
            return 0;
        }
        source->used = false;
        ++departures;
        return handOver(before, dmx512);
    }
    if (source == nullptr) {
        source = entryFor(packet.priority);
        if (source == nullptr) {
            ++refused;
            if (!refusal_said) {
                refusal_said = true;
                logLine(LogLevel::Warning,
                        "sACN: %d sources already send our universe; new sources at or "
                        "below the lowest priority among them are ignored",
                        MAX_SOURCES);
            }
            return 0;
        }
        *source = Source();
        source->used = true;
        std::memcpy(source->cid, packet.cid, SACN_CID_SIZE);
    }
    source->priority = packet.priority;
    source->sequence = packet.sequence;
    source->heard = ++arrivals;
    source->address = sender;
    source->last_packet = clock();
    if (++source->packets == 1) {
        source->first_packet = source->last_packet;
    }
    std::memcpy(source->frame, packet.slots, static_cast<size_t>(packet.slot_count));
    if (packet.slot_count > source->slots_seen) {
        source->slots_seen = packet.slot_count;
    }
    const int winner = winnerIndex();
    if (&sources[winner] == source) {
        // Like a short DMX frame: slots beyond the packet keep what they held.
        std::memcpy(dmx512, packet.slots, static_cast<size_t>(packet.slot_count));
        return packet.slot_count;
    }
    return handOver(before, dmx512);
}

int SacnSourceTable::expire(uint8_t* dmx512) {
    const int before = winnerIndex();
    const auto now = clock();
    bool dropped = false;
    for (Source& source : sources) {
        if (source.used && now - source.last_packet >= SOURCE_TIMEOUT) {
            source.used = false;
            ++departures;
            dropped = true;
            logLine(LogLevel::Notice, "sACN: a source at priority %d fell silent and was dropped",
                    source.priority);
        }
    }
    return dropped ? handOver(before, dmx512) : 0;
}

int SacnSourceTable::sourceCount() const {
    int count = 0;
    for (const Source& source : sources) {
        count += source.used ? 1 : 0;
    }
    return count;
}

int SacnSourceTable::heard(Heard* out) const {
    int count = 0;
    for (const Source& source : sources) {
        if (source.used) {
            out[count++] = Heard{source.address, source.priority, source.packets,
                                 source.first_packet, source.last_packet};
        }
    }
    return count;
}

SacnSourceTable::Source* SacnSourceTable::find(const uint8_t* cid) {
    for (Source& source : sources) {
        if (source.used && std::memcmp(source.cid, cid, SACN_CID_SIZE) == 0) {
            return &source;
        }
    }
    return nullptr;
}

SacnSourceTable::Source* SacnSourceTable::freeEntry() {
    for (Source& source : sources) {
        if (!source.used) {
            return &source;
        }
    }
    return nullptr;
}

// The standard's rule: the difference to the last sequence number, as a signed byte, in
// -19 to 0 means the packet is late or a repeat; anything else is taken (a source that
// restarted jumps back further than that).
bool SacnSourceTable::isLate(const Source& source, uint8_t sequence) const {
    const int diff = static_cast<int8_t>(static_cast<uint8_t>(sequence - source.sequence));
    return diff <= 0 && diff > -SEQUENCE_WINDOW;
}

SacnSourceTable::Source* SacnSourceTable::entryFor(int priority) {
    Source* free = freeEntry();
    if (free != nullptr) {
        return free;
    }
    Source* lowest = &sources[0];
    for (Source& source : sources) {
        if (source.priority < lowest->priority ||
            (source.priority == lowest->priority && source.heard < lowest->heard)) {
            lowest = &source;
        }
    }
    return priority > lowest->priority ? lowest : nullptr;
}

int SacnSourceTable::winnerIndex() const {
    int best = -1;
    for (int i = 0; i < MAX_SOURCES; ++i) {
        const Source& s = sources[i];
        if (!s.used) {
            continue;
        }
        if (best < 0 || s.priority > sources[best].priority ||
            (s.priority == sources[best].priority && s.heard > sources[best].heard)) {
            best = i;
        }
    }
    return best;
}

int SacnSourceTable::handOver(int before, uint8_t* dmx512) {
    const int winner = winnerIndex();
    if (winner < 0 || winner == before) {
        return 0;
    }
    const Source& source = sources[winner];
    std::memcpy(dmx512, source.frame, static_cast<size_t>(source.slots_seen));
    return source.slots_seen;
}

}  // namespace Lumetra
