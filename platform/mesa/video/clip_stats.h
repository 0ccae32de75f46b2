#pragma once

// What each clip playback did, kept for tests and benchmarks: pictures decoded, written
// into the texture, and dropped because they were already late.

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace Lumetra {
namespace Platform {
namespace Mesa {

struct ClipStats {
    std::atomic<uint64_t> decoded{0};
    std::atomic<uint64_t> shown{0};
    std::atomic<uint64_t> dropped{0};
    std::atomic<bool> ended{false};
    uint64_t number = 0;  // counts the playbacks of the process, from 1

    // A new record for a new playback.
    static std::shared_ptr<ClipStats> add();
    // The records of the latest playbacks (a bounded number), oldest first.
    static std::vector<std::shared_ptr<ClipStats>> all();
    // The records numbered above `number`, oldest first.
    static std::vector<std::shared_ptr<ClipStats>> since(uint64_t number);
};

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
