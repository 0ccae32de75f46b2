#include "dmx_frame_copy.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <utility>

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
    if (sender == nullptr) {
        return;
    }
    int of_protocol = 0;
    for (Source& source : current.sources) {
        of_protocol += source.protocol == protocol ? 1 : 0;
        if (source.address == text && source.protocol == protocol) {
            ++source.frames;
            source.last_seen = now;
            return;
        }
    }
    // A full table gives way to the source of this protocol heard longest ago.
    if (of_protocol >= kSources) {
        auto oldest = current.sources.end();
        for (auto it = current.sources.begin(); it != current.sources.end(); ++it) {
            if (it->protocol == protocol &&
                (oldest == current.sources.end() || it->last_seen < oldest->last_seen)) {
                oldest = it;
            }
        }
        current.sources.erase(oldest);
    }
    Source source;
    source.address = text;
    source.protocol = protocol;
    source.frames = 1;
    source.first_seen = now;
    source.last_seen = now;
    current.sources.push_back(std::move(source));
}

void DmxFrameCopy::replaceSources(const char* protocol, const std::vector<Source>& list) {
    std::lock_guard<std::mutex> hold(lock);
    std::vector<Source>& sources = current.sources;
    sources.erase(std::remove_if(sources.begin(), sources.end(),
                                 [protocol](const Source& s) { return s.protocol == protocol; }),
                  sources.end());
    sources.insert(sources.end(), list.begin(), list.end());
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
