#include "platform/mesa/il/video_scheduler_component.h"

#include <chrono>

namespace Lumetra {
namespace Platform {
namespace Mesa {

namespace {

const std::chrono::milliseconds kPoll(20);
// Later than this, the clock restarts at the late frame instead of rushing to catch up.
const std::chrono::milliseconds kLateLimit(100);

}  // namespace

VideoSchedulerComponent::VideoSchedulerComponent()
    : IlComponent("OMX.broadcom.video_scheduler"), own_clock(std::make_shared<MediaClock>()) {
    addPort(kInputPort, OMX_DirInput, OMX_PortDomainVideo);
    addPort(kOutputPort, OMX_DirOutput, OMX_PortDomainVideo);
    addPort(kClockPort, OMX_DirInput, OMX_PortDomainOther);
    worker = std::thread(&VideoSchedulerComponent::run, this);
}

VideoSchedulerComponent::~VideoSchedulerComponent() {
    shutDown();
}

void VideoSchedulerComponent::shutDown() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        wake.notify_all();
    }
    if (worker.joinable()) {
        worker.join();
    }
}

void VideoSchedulerComponent::onStateChange(OMX_STATETYPE, OMX_STATETYPE to) {
    std::lock_guard<std::mutex> lock(mutex);
    executing = to == OMX_StateExecuting;
    wake.notify_all();
}

void VideoSchedulerComponent::onFlush(OMX_U32 port) {
    std::shared_ptr<FrameLink> link;
    {
        std::lock_guard<std::mutex> lock(mutex);
        flushes++;
        wake.notify_all();
        if (port != kClockPort) {
            link = findPort(port)->link;
        }
    }
    if (link) {
        link->clear();
    }
}

bool VideoSchedulerComponent::mayContinue(unsigned flushes_seen) {
    std::lock_guard<std::mutex> lock(mutex);
    return !stopping && executing && flushes == flushes_seen;
}

std::shared_ptr<MediaClock> VideoSchedulerComponent::pacingClock() {
    std::shared_ptr<FrameLink> clock_link = activeLink(kClockPort);
    std::shared_ptr<MediaClock> clock = clock_link ? clock_link->getClock() : nullptr;
    return clock ? clock : own_clock;
}

void VideoSchedulerComponent::run() {
    for (;;) {
        unsigned flushes_seen;
        {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait_for(lock, kPoll, [this] { return stopping || executing; });
            if (stopping) {
                return;
            }
            if (!executing) {
                continue;
            }
            flushes_seen = flushes;
        }
        FramePtr frame = nextFrame();
        if (frame && waitUntilDue(frame, flushes_seen)) {
            pass(frame, flushes_seen);
        }
    }
}

FramePtr VideoSchedulerComponent::nextFrame() {
    std::shared_ptr<FrameLink> input = activeLink(kInputPort);
    if (!input) {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait_for(lock, kPoll, [this] { return stopping; });
        return nullptr;
    }
    FramePtr frame = input->pop(kPoll);
    if (frame && !announced) {
        announced = true;
        sendEvent(OMX_EventPortSettingsChanged, kOutputPort, OMX_IndexParamPortDefinition);
    }
    return frame;
}

bool VideoSchedulerComponent::waitUntilDue(const FramePtr& frame, unsigned flushes_seen) {
    std::shared_ptr<MediaClock> clock = pacingClock();
    auto due = clock->dueTime(media_time_us);
    if (MediaClock::Clock::now() > due + kLateLimit) {
        clock->restartAt(media_time_us);
        due = MediaClock::Clock::now();
    }
    std::unique_lock<std::mutex> lock(mutex);
    wake.wait_until(lock, due,
                    [this, flushes_seen] { return stopping || flushes != flushes_seen; });
    bool keep = !stopping && flushes == flushes_seen;
    if (keep) {
        media_time_us += frame->duration_us;
    }
    return keep;
}

void VideoSchedulerComponent::pass(const FramePtr& frame, unsigned flushes_seen) {
    while (mayContinue(flushes_seen)) {
        std::shared_ptr<FrameLink> output = activeLink(kOutputPort);
        if (output && output->push(frame, kPoll)) {
            return;
        }
        if (!output) {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait_for(lock, kPoll, [this] { return stopping; });
        }
    }
}

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
