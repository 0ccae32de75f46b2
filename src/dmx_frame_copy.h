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
    static const int kSources = 16;

    struct Source {
        std::string address;   // dotted IPv4, empty when not known
        std::string protocol;  // "Art-Net" or "sACN"
        unsigned frames = 0;
        std::chrono::steady_clock::time_point first_seen{};
        std::chrono::steady_clock::time_point last_seen{};
    };

    struct Snapshot {
        uint8_t values[512] = {};
        uint64_t updates = 0;  // frames published so far
        std::vector<Source> sources;
    };

    // `sender` may be null (not known).
    void publish(const unsigned char* values, const char* protocol, const in_addr* sender);
    Snapshot read() const;
    // Cheaper than read() to see whether anything changed.
    uint64_t updates() const;

  private:
    mutable std::mutex lock;
    Snapshot current;
};

}  // namespace Lumetra
