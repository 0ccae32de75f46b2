// The IL core: OMX_Init/OMX_Deinit counting their callers, component handles by name, and
// tunnels between the components of this folder.

#include <cstring>
#include <mutex>
#include <string>

#include "IL/OMX_Broadcom.h"
#include "platform/mesa/il/clock_component.h"
#include "platform/mesa/il/egl_render_component.h"
#include "platform/mesa/il/video_decode_component.h"
#include "platform/mesa/il/video_scheduler_component.h"

namespace Lumetra {
namespace Platform {
namespace Mesa {

namespace {

const size_t kTunnelFrames = 2;

std::mutex core_mutex;
int core_users = 0;

bool coreReady() {
    std::lock_guard<std::mutex> lock(core_mutex);
    return core_users > 0;
}

IlComponent* createComponent(const std::string& name) {
    if (name == "OMX.broadcom.video_decode") {
        return new VideoDecodeComponent();
    }
    if (name == "OMX.broadcom.egl_render") {
        return new EglRenderComponent();
    }
    if (name == "OMX.broadcom.clock") {
        return new ClockComponent();
    }
    if (name == "OMX.broadcom.video_scheduler") {
        return new VideoSchedulerComponent();
    }
    return nullptr;
}

}  // namespace

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra

using Lumetra::Platform::Mesa::IlComponent;

extern "C" {

OMX_ERRORTYPE OMX_Init(void) {
    std::lock_guard<std::mutex> lock(Lumetra::Platform::Mesa::core_mutex);
    Lumetra::Platform::Mesa::core_users++;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE OMX_Deinit(void) {
    std::lock_guard<std::mutex> lock(Lumetra::Platform::Mesa::core_mutex);
    if (Lumetra::Platform::Mesa::core_users == 0) {
        return OMX_ErrorNotReady;
    }
    Lumetra::Platform::Mesa::core_users--;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE OMX_GetHandle(OMX_HANDLETYPE* handle, OMX_STRING name, OMX_PTR app_data,
                            OMX_CALLBACKTYPE* callbacks) {
    if (!handle || !name || !callbacks) {
        return OMX_ErrorBadParameter;
    }
    if (!Lumetra::Platform::Mesa::coreReady()) {
        return OMX_ErrorNotReady;
    }
    IlComponent* component = Lumetra::Platform::Mesa::createComponent(name);
    if (!component) {
        return OMX_ErrorComponentNotFound;
    }
    component->setCallbacks(callbacks, app_data);
    *handle = component->handle();
    return OMX_ErrorNone;
}

OMX_ERRORTYPE OMX_FreeHandle(OMX_HANDLETYPE handle) {
    if (!handle) {
        return OMX_ErrorBadParameter;
    }
    IlComponent* component = IlComponent::of(handle);
    component->shutDown();
    delete component;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE OMX_SetupTunnel(OMX_HANDLETYPE output, OMX_U32 output_port, OMX_HANDLETYPE input,
                              OMX_U32 input_port) {
    if (!output && !input) {
        return OMX_ErrorBadParameter;
    }
    if (!output || !input) {
        IlComponent::of(output ? output : input)->detachLink(output ? output_port : input_port);
        return OMX_ErrorNone;
    }
    IlComponent* source = IlComponent::of(output);
    IlComponent* sink = IlComponent::of(input);
    if (!source->hasPort(output_port, OMX_DirOutput) || !sink->hasPort(input_port, OMX_DirInput)) {
        return OMX_ErrorBadPortIndex;
    }
    auto link = std::make_shared<Lumetra::Platform::Mesa::FrameLink>(
        Lumetra::Platform::Mesa::kTunnelFrames);
    OMX_ERRORTYPE error = source->attachLink(output_port, link);
    if (error == OMX_ErrorNone) {
        error = sink->attachLink(input_port, link);
    }
    if (error != OMX_ErrorNone) {
        source->detachLink(output_port);
        sink->detachLink(input_port);
    }
    return error;
}

}  // extern "C"
