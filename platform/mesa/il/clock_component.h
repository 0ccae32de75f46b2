#pragma once

// "OMX.broadcom.clock": six clock output ports (80 to 85) that share one media clock with
// whatever they are tunnelled to. Accepts the clock state; the clock starts with the first
// frame a scheduler paces against it.

#include <memory>

#include "platform/mesa/il/il_component.h"
#include "platform/mesa/il/media_clock.h"

namespace Lumetra {
namespace Platform {
namespace Mesa {

class ClockComponent : public IlComponent {
  public:
    static constexpr OMX_U32 kFirstPort = 80;
    static constexpr OMX_U32 kPortCount = 6;

    ClockComponent();

    OMX_ERRORTYPE getParameter(OMX_INDEXTYPE index, OMX_PTR data) override;
    OMX_ERRORTYPE setParameter(OMX_INDEXTYPE index, OMX_PTR data) override;

  protected:
    void onLinkAttached(OMX_U32 port, const std::shared_ptr<FrameLink>& link) override;

  private:
    std::shared_ptr<MediaClock> clock;
    OMX_TIME_CLOCKSTATE clock_state = OMX_TIME_ClockStateStopped;  // guarded by `mutex`
    OMX_U32 wait_mask = 0;                                         // guarded by `mutex`
};

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
