#pragma once

// "OMX.broadcom.egl_render": pictures in on port 220 through a tunnel, written into the EGL
// image of the one buffer given to port 221 by OMX_UseEGLImage. Each filled buffer goes
// back to the client by FillBufferDone from a callback thread of the component's own.

#include <condition_variable>
#include <deque>
#include <memory>
#include <thread>

#include "platform/mesa/il/il_component.h"
#include "platform/mesa/il/video_trace.h"

namespace Lumetra {
namespace Platform {
namespace Mesa {

class EglRenderComponent : public IlComponent {
  public:
    static constexpr OMX_U32 kInputPort = 220;
    static constexpr OMX_U32 kOutputPort = 221;

    EglRenderComponent();
    ~EglRenderComponent() override;

    void shutDown() override;
    OMX_ERRORTYPE useEglImage(OMX_BUFFERHEADERTYPE** header, OMX_U32 port, OMX_PTR app_private,
                              void* image) override;
    OMX_ERRORTYPE fillThisBuffer(OMX_BUFFERHEADERTYPE* header) override;

  protected:
    void onStateChange(OMX_STATETYPE from, OMX_STATETYPE to) override;
    void onPortDisabled(OMX_U32 port) override;
    void onFlush(OMX_U32 port) override;

  private:
    void renderLoop();
    void callbackLoop();
    FramePtr nextFrame();
    OMX_BUFFERHEADERTYPE* nextBuffer(unsigned flushes_seen);
    void returnOutputBuffers();

    std::shared_ptr<RenderTrace> trace;
    // Guarded by `mutex`:
    std::condition_variable wake;
    std::deque<OMX_BUFFERHEADERTYPE*> empty_buffers;   // waiting for a picture
    std::deque<OMX_BUFFERHEADERTYPE*> filled_buffers;  // waiting for the callback thread
    bool executing = false;
    bool stopping = false;
    unsigned flushes = 0;
    std::thread render_thread;
    std::thread callback_thread;
};

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
