#pragma once

#include <cstdint>
#include <ctime>

#include "sacn_packet.h"
#include "sacn_socket.h"
#include "sacn_source_table.h"

namespace Lumetra {

// sACN input for one universe: drains its socket, lets the source table pick the winner
// and keeps the frame sACN says, until the receiver takes the changed slots over. Data
// that names a synchronization universe is held until a sync packet for that universe
// arrives (E1.31 universe synchronization); when syncs stop for SYNC_TIMEOUT the data's
// Force_Synchronization option decides between applying at once and holding the look.
class SacnInput {
  public:
    explicit SacnInput(int universe, SacnSourceTable::Clock clock = std::chrono::steady_clock::now);

    bool isOpen() const { return socket.isOpen(); }
    // The socket, for waiting until a datagram is queued; -1 when not open.
    int descriptor() const { return socket.descriptor(); }
    // Reads what is queued without waiting (at most MAX_READS_PER_DRAIN datagrams), drops
    // silent sources and looks for new interfaces now and then. True when the frame changed
    // since the changes were last applied or discarded.
    bool cycle();
    // Only the reading part of a cycle, for datagrams that arrive between cycles.
    void drain();
    // Copies the changed slots into `dmx512`.
    void applyTo(uint8_t* dmx512);
    // Forgets the changes (a newer Art-Net frame overrides them).
    void discardChanges() { changed_slots = -1; }
    // Wall-clock time of the newest change: the kernel's arrival time of its packet (zero
    // before stampArrivals).
    timespec lastChange() const { return last_change; }

    void stampArrivals() { socket.stampArrivals(); }

    // The sources heard: what the full-table test checks, and what a status page lists.
    const SacnSourceTable& sources() const { return table; }

    static constexpr int MAX_READS_PER_DRAIN = 16384;
    static constexpr std::chrono::milliseconds SYNC_TIMEOUT{2500};

    // Changes waiting for a sync packet.
    bool holding() const { return held_slots >= 0; }

  private:
    void examine(int len, const timespec& arrival, uint32_t sender);
    void noteChange(int slots, const timespec& when);
    void takeSync(int address, const timespec& arrival);
    bool syncLost() const;
    void release(const timespec& when);

    SacnSourceTable::Clock clock;
    int universe;
    SacnSocket socket;
    SacnSourceTable table;
    uint8_t buffer[1024] = {};
    uint8_t frame[SACN_MAX_SLOTS] = {};
    int changed_slots = -1;  // -1: nothing to apply; else slots 0 to n-1 changed
    timespec last_change{};
    int sync_address = 0;     // of the data last taken; 0: not synchronized
    bool force_sync = false;  // its Force_Synchronization option
    int held_slots = -1;      // like changed_slots, for changes waiting for a sync
    std::chrono::steady_clock::time_point last_sync{};  // or when the hold began
};

}  // namespace Lumetra
