#include "platform/mesa/il/clock_component.h"

namespace Lumetra {
namespace Platform {
namespace Mesa {

ClockComponent::ClockComponent()
    : IlComponent("OMX.broadcom.clock"), clock(std::make_shared<MediaClock>()) {
    for (OMX_U32 port = kFirstPort; port < kFirstPort + kPortCount; port++) {
        addPort(port, OMX_DirOutput, OMX_PortDomainOther);
    }
}

OMX_ERRORTYPE ClockComponent::getParameter(OMX_INDEXTYPE index, OMX_PTR data) {
    if (index != OMX_IndexConfigTimeClockState) {
        return IlComponent::getParameter(index, data);
    }
    auto* state = static_cast<OMX_TIME_CONFIG_CLOCKSTATETYPE*>(data);
    if (!fits(state)) {
        return OMX_ErrorBadParameter;
    }
    std::lock_guard<std::mutex> lock(mutex);
    state->eState = clock_state;
    state->nWaitMask = wait_mask;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE ClockComponent::setParameter(OMX_INDEXTYPE index, OMX_PTR data) {
    if (index != OMX_IndexConfigTimeClockState) {
        return IlComponent::setParameter(index, data);
    }
    auto* state = static_cast<OMX_TIME_CONFIG_CLOCKSTATETYPE*>(data);
    if (!fits(state) || state->eState > OMX_TIME_ClockStateStopped) {
        return OMX_ErrorBadParameter;
    }
    std::lock_guard<std::mutex> lock(mutex);
    clock_state = state->eState;
    wait_mask = state->nWaitMask;
    return OMX_ErrorNone;
}

void ClockComponent::onLinkAttached(OMX_U32, const std::shared_ptr<FrameLink>& link) {
    link->setClock(clock);
}

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
