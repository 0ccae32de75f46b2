#include "dmx_sync_hold.h"

#include <cstring>

namespace Lumetra {

unsigned char* DmxSyncHold::frameFor(unsigned char* live, Clock::time_point now) {
    expire(live, now);
    if (!synced) {
        return live;
    }
    if (!copied) {
        std::memcpy(held, live, SLOTS);
        copied = true;
    }
    return held;
}

bool DmxSyncHold::offered(uint32_t sender) {
    sender_known = true;
    last_sender = sender;
    if (synced) {
        pending = true;
    }
    return !synced;
}

// Only the desk whose frames we show may release them: a second controller's syncs would
// otherwise cut its cues in half.
bool DmxSyncHold::sync(uint32_t sender, unsigned char* live, Clock::time_point now) {
    if (!sender_known || sender != last_sender) {
        return false;
    }
    synced = true;
    last_sync = now;
    return release(live);
}

bool DmxSyncHold::expire(unsigned char* live, Clock::time_point now) {
    if (!synced || now - last_sync < TIMEOUT) {
        return false;
    }
    synced = false;
    const bool applied = release(live);
    copied = false;
    return applied;
}

bool DmxSyncHold::release(unsigned char* live) {
    if (!pending) {
        return false;
    }
    std::memcpy(live, held, SLOTS);
    pending = false;
    return true;
}

}  // namespace Lumetra
