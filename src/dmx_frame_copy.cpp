#include "dmx_frame_copy.h"

#include <arpa/inet.h>

#include <cstring>

namespace Lumetra {

void DmxFrameCopy::publish(const unsigned char* values, const char* protocol,
                           const in_addr* sender) {
    char text[INET_ADDRSTRLEN] = "";
    if (sender != nullptr) {
        inet_ntop(AF_INET, sender, text, sizeof(text));
    }
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> hold(lock);
    std::memcpy(current.values, values, sizeof(current.values));
    ++current.updates;
    for (Source& source : current.sources) {
        if (source.address == text && source.protocol == protocol) {
            ++source.frames;
            source.last_seen = now;
            return;
        }
    }
    // A full table gives way to the source heard longest ago.
    if (current.sources.size() >= static_cast<size_t>(kSources)) {
        size_t oldest = 0;
        for (size_t i = 1; i < current.sources.size(); ++i) {
            if (current.sources[i].last_seen < current.sources[oldest].last_seen) {
                oldest = i;
            }
        }
        current.sources.erase(current.sources.begin() + static_cast<long>(oldest));
    }
    current.sources.push_back(Source{text, protocol, 1, now, now});
}

DmxFrameCopy::Snapshot DmxFrameCopy::read() const {
    std::lock_guard<std::mutex> hold(lock);
    return current;
}

uint64_t DmxFrameCopy::updates() const {
    std::lock_guard<std::mutex> hold(lock);
    return current.updates;
}

}  // namespace Lumetra
