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

    // A new record, kept with every earlier one of this process.
    static std::shared_ptr<ClipStats> add();
    // Every playback's record, oldest first.
    static std::vector<std::shared_ptr<ClipStats>> all();
};

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
