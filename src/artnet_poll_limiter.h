#pragma once

#include <chrono>
#include <cstdint>

namespace Lumetra {

// Decides which ArtPolls get a reply, so that polls cannot make the node a traffic
// amplifier: each sender and all senders together have a small budget of replies that
// refills at a few per second. Senders live in a fixed table; a new sender takes the
// place of the one heard least recently, so no stream of addresses can grow it.
class ArtnetPollLimiter {
  public:
    using Clock = std::chrono::steady_clock;

    static constexpr int SENDERS = 16;
    static constexpr double SENDER_BURST = 4;  // replies in a row to one sender
    static constexpr double SENDER_PER_SECOND = 2;
    static constexpr double TOTAL_BURST = 10;  // replies in a row to everyone
    static constexpr double TOTAL_PER_SECOND = 5;

    // True when a poll from `ip` may be answered now; the reply is then counted.
    bool allow(uint32_t ip, Clock::time_point now);

  private:
    struct Bucket {
        double tokens = 0;
        Clock::time_point filled{};
        void refill(Clock::time_point now, double burst, double per_second);
    };
    struct Sender {
        bool used = false;
        uint32_t ip = 0;
        Clock::time_point heard{};
        Bucket bucket;
    };

    Sender& senderFor(uint32_t ip, Clock::time_point now);

    Sender senders[SENDERS];
    Bucket total{TOTAL_BURST, {}};
    bool started = false;
};

}  // namespace Lumetra
