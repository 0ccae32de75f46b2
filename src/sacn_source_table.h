#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include "sacn_packet.h"

namespace Lumetra {

// The sACN sources of our universe and which of them drives the frame: the highest
// priority wins, and among sources at that priority the one heard last. A source is
// dropped after 2.5 s of silence or when it terminates its stream; when the last one goes
// the frame keeps its values. Each source keeps its own copy of the slots it sent, so that
// when the winner goes the next one takes over at once. The table has a fixed size: a
// flood of new source identifiers cannot grow it. When it is full, a new source of higher
// priority than the lowest tracked one takes that one's place, so a desk above everything
// else always wins; one at equal or lower priority is refused (counted, said once).
class SacnSourceTable {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr int MAX_SOURCES = 16;
    static constexpr std::chrono::milliseconds SOURCE_TIMEOUT{2500};

    explicit SacnSourceTable(Clock clock = std::chrono::steady_clock::now);

    // Takes a data packet of our universe (SACN_DMX or SACN_TERMINATED). Returns how many
    // slots from slot 0 on it wrote into `dmx512`, 0 for none: the packet's own slots if
    // its source is the winner, or the slots of the source that won in its place.
    // `sender`: the packet's IPv4 source address (network order), for the status page.
    int take(SacnPacketKind kind, const SacnDataPacket& packet, uint8_t* dmx512,
             uint32_t sender = 0);
    // Drops sources silent for too long. Returns how many slots a new winner wrote.
    int expire(uint8_t* dmx512);

    int sourceCount() const;

    // A tracked source as a status page lists it.
    struct Heard {
        uint32_t address = 0;  // IPv4, network order; 0 when not known
        int priority = 0;
        uint64_t packets = 0;
        std::chrono::steady_clock::time_point first_packet{};
        std::chrono::steady_clock::time_point last_packet{};
    };
    // Writes the tracked sources into `out` (room for MAX_SOURCES); returns how many.
    int heard(Heard* out) const;
    // Grows whenever a packet is taken or a source leaves: when it has not moved, heard()
    // says what it said last time.
    uint64_t changes() const { return arrivals + departures; }
    // Packets of new sources refused because the table was full.
    uint64_t refusedSources() const { return refused; }
    // Packets discarded as late or repeated by the sequence rule.
    uint64_t outOfOrder() const { return out_of_order; }

  private:
    struct Source {
        bool used = false;
        uint8_t cid[SACN_CID_SIZE] = {};
        int priority = 0;
        uint8_t sequence = 0;
        uint64_t heard = 0;  // arrival order of its last packet, to find the newest
        uint32_t address = 0;
        uint64_t packets = 0;
        std::chrono::steady_clock::time_point first_packet;
        std::chrono::steady_clock::time_point last_packet;
        int slots_seen = 0;  // highest slot count it has sent
        uint8_t frame[SACN_MAX_SLOTS] = {};
    };

    Source* find(const uint8_t* cid);
    Source* freeEntry();
    // A free entry, or the place of the lowest-priority source (the one heard least
    // recently among equals) when `priority` is above it; null when the source is refused.
    Source* entryFor(int priority);
    bool isLate(const Source& source, uint8_t sequence) const;
    int winnerIndex() const;
    // Writes the winner's slots when it is not the source `before` named.
    int handOver(int before, uint8_t* dmx512);

    Clock clock;
    Source sources[MAX_SOURCES];
    uint64_t arrivals = 0;
    uint64_t departures = 0;
    uint64_t refused = 0;
    bool refusal_said = false;
    uint64_t out_of_order = 0;
};

}  // namespace Lumetra
