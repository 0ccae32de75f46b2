#pragma once

// "OMX.broadcom.video_decode": H.264 in on port 130 through the client's buffers, pictures
// out on port 131 through a tunnel. Announces the picture size on port 131 once it knows
// it. Until that port is tunnelled it holds a few pictures, then sets the rest of the
// current buffer aside and hands the buffer back, so that the client, which sets the
// output up between two buffers, always gets one.

#include <condition_variable>
#include <deque>
#include <memory>
#include <thread>
#include <vector>

#include "platform/mesa/il/h264_stream_decoder.h"
#include "platform/mesa/il/il_component.h"
#include "platform/mesa/il/video_trace.h"

namespace Lumetra {
namespace Platform {
namespace Mesa {

class VideoDecodeComponent : public IlComponent {
  public:
    static constexpr OMX_U32 kInputPort = 130;
    static constexpr OMX_U32 kOutputPort = 131;
    static constexpr OMX_U32 kInputBufferCount = 20;
    static constexpr OMX_U32 kInputBufferSize = 81920;

    VideoDecodeComponent();
    ~VideoDecodeComponent() override;

    void shutDown() override;
    OMX_ERRORTYPE getParameter(OMX_INDEXTYPE index, OMX_PTR data) override;
    OMX_ERRORTYPE setParameter(OMX_INDEXTYPE index, OMX_PTR data) override;
    OMX_ERRORTYPE emptyThisBuffer(OMX_BUFFERHEADERTYPE* header) override;

  protected:
    void onStateChange(OMX_STATETYPE from, OMX_STATETYPE to) override;
    void onPortEnabled(OMX_U32 port) override;
    void onPortDisabled(OMX_U32 port) override;
    void onFlush(OMX_U32 port) override;

  private:
    static constexpr size_t kHeldWithoutOutput = 8;
    static constexpr size_t kHeldAtMost = 32;

    void run();
    void decodeBuffer(OMX_BUFFERHEADERTYPE* header);
    void decode(const uint8_t* data, size_t size, bool end_of_stream);
    void decodeSetAside();
    bool outputOpen();
    bool mayDecode();
    void deliver(AVFrame* picture);
    void sendHeld();
    void announceSize(int width, int height);
    bool interrupted();
    void returnInputBuffers();

    std::shared_ptr<DecoderTrace> trace;
    H264StreamDecoder stream;
    OMX_VIDEO_CODINGTYPE coding = OMX_VIDEO_CodingAVC;
    // Guarded by `mutex`:
    std::condition_variable wake;
    std::deque<OMX_BUFFERHEADERTYPE*> queued;
    OMX_BUFFERHEADERTYPE* current = nullptr;
    bool executing = false;
    bool input_stopped = false;
    bool stopping = false;
    std::deque<FramePtr> held;
    // Worker thread only:
    std::vector<uint8_t> set_aside;
    bool set_aside_ends_stream = false;
    int announced_width = 0;
    int announced_height = 0;
    std::thread worker;
};

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
