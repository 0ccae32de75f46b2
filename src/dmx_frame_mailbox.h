#pragma once

#include <array>
#include <atomic>
#include <chrono>

#include "artnet_packet.h"

namespace Lumetra {

// One whole DMX frame as it reached the listener.
struct DmxFrame {
    std::array<unsigned char, ARTNET_DMX_SLOTS> slots{};
    std::chrono::steady_clock::time_point arrival{};
};

// Hands whole DMX frames from the listener thread to the render thread. The listener
// publishes the newest frame, the render thread takes it at the start of a frame; frames
// published in between replace one another. Neither side ever waits: three buffers are
// passed around through one atomic index, so the render thread always reads a frame that
// no one writes.
class DmxFrameMailbox {
  public:
    DmxFrameMailbox();

    DmxFrameMailbox(const DmxFrameMailbox&) = delete;
    DmxFrameMailbox& operator=(const DmxFrameMailbox&) = delete;

    // Listener thread only.
    void publish(const unsigned char* slots, std::chrono::steady_clock::time_point arrival);
    // Render thread only: the newest frame published since the last take, or null. The
    // frame stays valid until the next take.
    const DmxFrame* take();

  private:
    static constexpr unsigned int FRESH = 4;  // beside the buffer index in `middle`

    std::array<DmxFrame, 3> frames;
    unsigned int back = 0;  // the listener's
    std::atomic<unsigned int> middle{1};
    unsigned int front = 2;  // the render thread's
};

}  // namespace Lumetra
