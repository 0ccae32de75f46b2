#include "platform/mesa/il/media_clock.h"

namespace Lumetra {
namespace Platform {
namespace Mesa {

MediaClock::Clock::time_point MediaClock::dueTime(int64_t media_us) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!started) {
        started = true;
        origin = Clock::now() - std::chrono::microseconds(media_us);
    }
    return origin + std::chrono::microseconds(media_us);
}

void MediaClock::restartAt(int64_t media_us) {
    std::lock_guard<std::mutex> lock(mutex);
    started = true;
    origin = Clock::now() - std::chrono::microseconds(media_us);
}

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
