#pragma once

// "OMX.broadcom.video_scheduler": passes pictures from port 10 to port 11, each when its
// media time comes on the clock tunnelled to port 12. Announces its output on port 11 when
// the first picture arrives.

#include <condition_variable>
#include <thread>

#include "platform/mesa/il/il_component.h"
#include "platform/mesa/il/media_clock.h"

namespace Lumetra {
namespace Platform {
namespace Mesa {

class VideoSchedulerComponent : public IlComponent {
  public:
    static constexpr OMX_U32 kInputPort = 10;
    static constexpr OMX_U32 kOutputPort = 11;
    static constexpr OMX_U32 kClockPort = 12;

    VideoSchedulerComponent();
    ~VideoSchedulerComponent() override;

    void shutDown() override;

  protected:
    void onStateChange(OMX_STATETYPE from, OMX_STATETYPE to) override;
    void onFlush(OMX_U32 port) override;

  private:
    void run();
    FramePtr nextFrame();
    bool waitUntilDue(const FramePtr& frame, unsigned flushes_seen);
    void pass(const FramePtr& frame, unsigned flushes_seen);
    bool mayContinue(unsigned flushes_seen);
    std::shared_ptr<MediaClock> pacingClock();

    std::shared_ptr<MediaClock> own_clock;
    // Guarded by `mutex`:
    std::condition_variable wake;
    bool executing = false;
    bool stopping = false;
    unsigned flushes = 0;
    // Worker thread only:
    int64_t media_time_us = 0;
    bool announced = false;
    std::thread worker;
};

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
