#include "dmx_frame_mailbox.h"

#include <cstring>

namespace Lumetra {

DmxFrameMailbox::DmxFrameMailbox() = default;

void DmxFrameMailbox::publish(const unsigned char* slots,
                              std::chrono::steady_clock::time_point arrival) {
    DmxFrame& frame = frames[back];
    std::memcpy(frame.slots.data(), slots, frame.slots.size());
    frame.arrival = arrival;
    back = middle.exchange(back | FRESH, std::memory_order_acq_rel) & ~FRESH;
}

const DmxFrame* DmxFrameMailbox::take() {
    if ((middle.load(std::memory_order_relaxed) & FRESH) == 0) {
        return nullptr;
    }
    front = middle.exchange(front, std::memory_order_acq_rel) & ~FRESH;
    return &frames[front];
}

}  // namespace Lumetra
