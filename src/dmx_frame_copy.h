#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace Lumetra {

// The newest DMX frame the receiver mapped, and who sent DMX lately, for readers on other
// threads (the web page). The listener publishes after each mapping; readers copy. Only
// those two take the lock, never the render thread.
class DmxFrameCopy {
  public:
    // Art-Net senders kept; sACN's come from its own table, which has a fixed size too.
    static const int kSources = 16;

    struct Source {
        std::string address;   // dotted IPv4, empty when not known
        std::string protocol;  // "Art-Net" or "sACN"
        uint64_t frames = 0;
        int priority = -1;  // sACN's; -1 for Art-Net, which has none
        std::chrono::steady_clock::time_point first_seen{};
        std::chrono::steady_clock::time_point last_seen{};
    };

    struct Snapshot {
        uint8_t values[512] = {};
        uint64_t updates = 0;  // frames published so far
        std::vector<Source> sources;
    };

    // `sender` may be null: the frame is published, the list of sources stays as it is.
    void publish(const unsigned char* values, const char* protocol, const in_addr* sender);
    // Replaces the sources of `protocol` by `list` (a source table that tracks them itself).
    void replaceSources(const char* protocol, const std::vector<Source>& list);
    Snapshot read() const;
    // Cheaper than read() to see whether anything changed.
    uint64_t updates() const;

  private:
    mutable std::mutex lock;
    Snapshot current;
};

}  // namespace Lumetra
