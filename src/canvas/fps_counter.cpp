#include "canvas/fps_counter.h"

namespace Lumetra {

namespace {
void wallClock(struct timeval* now) {
    gettimeofday(now, nullptr);
}
}  // namespace

FPS_Counter::FPS_Counter() : FPS_Counter(wallClock) {}

FPS_Counter::FPS_Counter(Clock c) : clock(c), list_pos(0) {
    struct timeval now;
    clock(&now);
    sec = now.tv_sec;
    usec = now.tv_usec;
    for (float& delay : delay_list) {
        delay = 0.0f;
    }
}

void FPS_Counter::tick() {
    struct timeval now;
    clock(&now);
    // The microsecond difference may be negative; the sum is still right.
    float duration =
        static_cast<float>(now.tv_sec - sec) + static_cast<float>(now.tv_usec - usec) / 1000000.0f;
    sec = now.tv_sec;
    usec = now.tv_usec;
    delay_list[list_pos] = duration;
    list_pos = (list_pos + 1) % 10;
}

float FPS_Counter::getFPS() {
    float sum = 0.0f;
    for (float delay : delay_list) {
        sum += delay;
    }
    return static_cast<float>(1.0 / (sum / 10.0));
}

}  // namespace Lumetra
