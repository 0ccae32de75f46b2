#pragma once

#include <chrono>
#include <cstdint>

namespace Lumetra {

// Holds DMX frames for a desk that synchronises its fixtures (ArtSync): frames are applied
// at once until a sync arrives from the sender of the last frame; from then on each frame
// is held and the next sync applies it. Without a sync for TIMEOUT frames are applied at
// once again. The held frame is a whole copy, kept in step with what arrived, so slots a
// short frame leaves out keep their values as they would without holding.
class DmxSyncHold {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr int SLOTS = 512;
    static constexpr std::chrono::seconds TIMEOUT{4};

    // Where the next frame's slots go: `live` while frames are applied at once, else the
    // held copy (which starts as a copy of `live`). Expires first: a caller that must know
    // when that applies a held frame calls expire() itself before.
    unsigned char* frameFor(unsigned char* live, Clock::time_point now);
    // A frame from `sender` went where frameFor said. True: it is live now.
    bool offered(uint32_t sender);
    // A sync from `sender`. True when it applied a held frame to `live`.
    bool sync(uint32_t sender, unsigned char* live, Clock::time_point now);
    // Past TIMEOUT without a sync: back to applying at once, the held frame first. True
    // when that applied a held frame to `live`.
    bool expire(unsigned char* live, Clock::time_point now);

    bool holding() const { return synced; }
    bool framePending() const { return pending; }

  private:
    bool release(unsigned char* live);

    bool synced = false;
    bool pending = false;  // `held` has a frame not yet applied
    bool copied = false;   // `held` has been filled from live since holding began
    bool sender_known = false;
    uint32_t last_sender = 0;
    Clock::time_point last_sync{};
    unsigned char held[SLOTS] = {};
};

}  // namespace Lumetra
