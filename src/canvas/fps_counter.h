#pragma once

#include <sys/time.h>

namespace Lumetra {

// Frame rate over the last ten frames, from wall-clock ticks.
class FPS_Counter {
  public:
    // Reads the wall clock; tests hand in a clock they drive themselves.
    using Clock = void (*)(struct timeval* now);

    FPS_Counter();
    explicit FPS_Counter(Clock clock);

    void tick();
    float getFPS();

  private:
    Clock clock;
    long sec;
    long usec;
    float delay_list[10];
    int list_pos;
};

}  // namespace Lumetra
