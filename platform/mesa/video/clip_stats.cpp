#include "platform/mesa/video/clip_stats.h"

#include <deque>
#include <mutex>

namespace Lumetra {
namespace Platform {
namespace Mesa {

namespace {

// Clips restart with every change of their files; the records of old ones go.
const size_t kKept = 64;

std::mutex& registryMutex() {
    static std::mutex mutex;
    return mutex;
}

std::deque<std::shared_ptr<ClipStats>>& registry() {
    static std::deque<std::shared_ptr<ClipStats>> records;
    return records;
}

uint64_t& lastNumber() {
    static uint64_t number = 0;
    return number;
}

}  // namespace

std::shared_ptr<ClipStats> ClipStats::add() {
    auto record = std::make_shared<ClipStats>();
    std::lock_guard<std::mutex> lock(registryMutex());
    record->number = ++lastNumber();
    registry().push_back(record);
    if (registry().size() > kKept) {
        registry().pop_front();
    }
    return record;
}

std::vector<std::shared_ptr<ClipStats>> ClipStats::all() {
    return since(0);
}

std::vector<std::shared_ptr<ClipStats>> ClipStats::since(uint64_t number) {
    std::lock_guard<std::mutex> lock(registryMutex());
    std::vector<std::shared_ptr<ClipStats>> records;
    for (const auto& record : registry()) {
        if (record->number > number) {
            records.push_back(record);
        }
    }
    return records;
}

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
