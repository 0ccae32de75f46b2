#include "platform/mesa/video/clip_stats.h"

#include <mutex>

namespace Lumetra {
namespace Platform {
namespace Mesa {

namespace {

std::mutex& registryMutex() {
    static std::mutex mutex;
    return mutex;
}

std::vector<std::shared_ptr<ClipStats>>& registry() {
    static std::vector<std::shared_ptr<ClipStats>> records;
    return records;
}

}  // namespace

std::shared_ptr<ClipStats> ClipStats::add() {
    auto record = std::make_shared<ClipStats>();
    std::lock_guard<std::mutex> lock(registryMutex());
    registry().push_back(record);
    return record;
}

std::vector<std::shared_ptr<ClipStats>> ClipStats::all() {
    std::lock_guard<std::mutex> lock(registryMutex());
    return registry();
}

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
