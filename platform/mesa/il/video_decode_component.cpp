#include "platform/mesa/il/video_decode_component.h"

#include <time.h>

#include <chrono>

namespace Lumetra {
namespace Platform {
namespace Mesa {

namespace {

int64_t threadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

const std::chrono::milliseconds kPoll(20);

}  // namespace

VideoDecodeComponent::VideoDecodeComponent()
    : IlComponent("OMX.broadcom.video_decode"), trace(VideoTrace::newDecoder()) {
    addPort(kInputPort, OMX_DirInput, OMX_PortDomainVideo, kInputBufferCount, kInputBufferSize);
    addPort(kOutputPort, OMX_DirOutput, OMX_PortDomainVideo);
    worker = std::thread(&VideoDecodeComponent::run, this);
}

VideoDecodeComponent::~VideoDecodeComponent() {
    shutDown();
}

void VideoDecodeComponent::shutDown() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        wake.notify_all();
    }
    if (worker.joinable()) {
        worker.join();
    }
}

OMX_ERRORTYPE VideoDecodeComponent::getParameter(OMX_INDEXTYPE index, OMX_PTR data) {
    if (index != OMX_IndexParamVideoPortFormat) {
        return IlComponent::getParameter(index, data);
    }
    auto* format = static_cast<OMX_VIDEO_PARAM_PORTFORMATTYPE*>(data);
    if (!fits(format)) {
        return OMX_ErrorBadParameter;
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (format->nPortIndex != kInputPort) {
        return OMX_ErrorBadPortIndex;
    }
    format->eCompressionFormat = coding;
    format->eColorFormat = OMX_COLOR_FormatUnused;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE VideoDecodeComponent::setParameter(OMX_INDEXTYPE index, OMX_PTR data) {
    if (index != OMX_IndexParamVideoPortFormat) {
        return IlComponent::setParameter(index, data);
    }
    auto* format = static_cast<OMX_VIDEO_PARAM_PORTFORMATTYPE*>(data);
    if (!fits(format)) {
        return OMX_ErrorBadParameter;
    }
    if (format->nPortIndex != kInputPort) {
        return OMX_ErrorBadPortIndex;
    }
    if (format->eCompressionFormat != OMX_VIDEO_CodingAVC) {
        return OMX_ErrorUnsupportedSetting;
    }
    std::lock_guard<std::mutex> lock(mutex);
    coding = format->eCompressionFormat;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE VideoDecodeComponent::emptyThisBuffer(OMX_BUFFERHEADERTYPE* header) {
    if (header->pPlatformPrivate != this || header->nInputPortIndex != kInputPort ||
        header->nOffset > header->nAllocLen ||
        header->nFilledLen > header->nAllocLen - header->nOffset) {
        return OMX_ErrorBadParameter;
    }
    std::lock_guard<std::mutex> lock(mutex);
    IlPort* port = findPort(kInputPort);
    if (!port->enabled || input_stopped) {
        return OMX_ErrorIncorrectStateOperation;
    }
    trace->recordInput(static_cast<uint32_t>(header->nFlags),
                       static_cast<uint32_t>(header->nFilledLen));
    queued.push_back(header);
    wake.notify_all();
    return OMX_ErrorNone;
}

void VideoDecodeComponent::onStateChange(OMX_STATETYPE, OMX_STATETYPE to) {
    std::lock_guard<std::mutex> lock(mutex);
    executing = to == OMX_StateExecuting;
    wake.notify_all();
}

void VideoDecodeComponent::onPortEnabled(OMX_U32 port) {
    if (port == kInputPort) {
        std::lock_guard<std::mutex> lock(mutex);
        input_stopped = false;
        wake.notify_all();
    }
}

void VideoDecodeComponent::onPortDisabled(OMX_U32 port) {
    if (port == kInputPort) {
        returnInputBuffers();
    } else {
        std::lock_guard<std::mutex> lock(mutex);
        held.clear();
    }
}

void VideoDecodeComponent::onFlush(OMX_U32 port) {
    if (port == kInputPort) {
        bool was_stopped;
        {
            std::lock_guard<std::mutex> lock(mutex);
            was_stopped = input_stopped;
        }
        returnInputBuffers();
        std::lock_guard<std::mutex> lock(mutex);
        input_stopped = was_stopped;
        wake.notify_all();
        return;
    }
    std::shared_ptr<FrameLink> link;
    {
        std::lock_guard<std::mutex> lock(mutex);
        held.clear();
        link = findPort(kOutputPort)->link;
    }
    if (link) {
        link->clear();
    }
}

// Stops the worker's use of input and hands every input buffer back to the client.
void VideoDecodeComponent::returnInputBuffers() {
    std::deque<OMX_BUFFERHEADERTYPE*> returned;
    {
        std::unique_lock<std::mutex> lock(mutex);
        input_stopped = true;
        wake.notify_all();
        wake.wait(lock, [this] { return current == nullptr; });
        returned.swap(queued);
    }
    for (OMX_BUFFERHEADERTYPE* header : returned) {
        emptyBufferDone(header);
    }
}

bool VideoDecodeComponent::interrupted() {
    std::lock_guard<std::mutex> lock(mutex);
    return stopping || input_stopped;
}

void VideoDecodeComponent::run() {
    for (;;) {
        OMX_BUFFERHEADERTYPE* header = nullptr;
        bool holding = false;
        {
            std::unique_lock<std::mutex> lock(mutex);
            auto has_input = [this] {
                return executing && !input_stopped && !queued.empty() && set_aside.empty();
            };
            wake.wait_for(lock, kPoll, [&] { return stopping || has_input(); });
            if (stopping) {
                return;
            }
            if (input_stopped) {
                set_aside.clear();
            }
            if (has_input()) {
                header = queued.front();
                queued.pop_front();
                current = header;
            } else {
                holding = !held.empty();
            }
        }
        if (holding) {
            sendHeld();
        }
        if (!set_aside.empty() && outputOpen()) {
            decodeSetAside();
        }
        if (!header) {
            continue;
        }
        int64_t cpu_before = threadCpuNs();
        decodeBuffer(header);
        trace->addCpu(threadCpuNs() - cpu_before);
        emptyBufferDone(header);
        std::lock_guard<std::mutex> lock(mutex);
        current = nullptr;
        wake.notify_all();
    }
}

bool VideoDecodeComponent::outputOpen() {
    std::shared_ptr<FrameLink> link = activeLink(kOutputPort);
    return link && link->isOpen();
}

// False while the output is not set up and enough pictures wait for it.
bool VideoDecodeComponent::mayDecode() {
    if (interrupted()) {
        return false;
    }
    size_t holding;
    {
        std::lock_guard<std::mutex> lock(mutex);
        holding = held.size();
    }
    return holding < kHeldWithoutOutput || outputOpen();
}

void VideoDecodeComponent::decode(const uint8_t* data, size_t size, bool end_of_stream) {
    auto keep_going = [this] { return mayDecode(); };
    auto sink = [this](AVFrame* picture) { deliver(picture); };
    size_t taken = stream.feed(data, size, keep_going, sink);
    if (taken < size) {
        if (!interrupted()) {
            set_aside.assign(data + taken, data + size);
            set_aside_ends_stream = end_of_stream;
        }
        return;
    }
    if (end_of_stream && !interrupted()) {
        stream.drain(sink);
        sendEvent(OMX_EventBufferFlag, kOutputPort, OMX_BUFFERFLAG_EOS);
    }
}

void VideoDecodeComponent::decodeBuffer(OMX_BUFFERHEADERTYPE* header) {
    decode(header->pBuffer + header->nOffset, header->nFilledLen,
           (header->nFlags & OMX_BUFFERFLAG_EOS) != 0);
}

void VideoDecodeComponent::decodeSetAside() {
    std::vector<uint8_t> data;
    data.swap(set_aside);
    int64_t cpu_before = threadCpuNs();
    decode(data.data(), data.size(), set_aside_ends_stream);
    trace->addCpu(threadCpuNs() - cpu_before);
}

void VideoDecodeComponent::announceSize(int width, int height) {
    if (width == announced_width && height == announced_height) {
        return;
    }
    announced_width = width;
    announced_height = height;
    sendEvent(OMX_EventPortSettingsChanged, kOutputPort, OMX_IndexParamPortDefinition);
}

void VideoDecodeComponent::deliver(AVFrame* picture) {
    auto frame = std::make_shared<DecodedFrame>();
    av_frame_move_ref(frame->picture, picture);
    frame->duration_us = stream.frameDurationUs();
    trace->recordFrame();
    announceSize(frame->picture->width, frame->picture->height);

    {
        std::lock_guard<std::mutex> lock(mutex);
        held.push_back(frame);
    }
    sendHeld();
}

// Passes the held pictures on while the output is open; otherwise keeps the latest few.
void VideoDecodeComponent::sendHeld() {
    std::shared_ptr<FrameLink> link = activeLink(kOutputPort);
    std::deque<FramePtr> outgoing;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!link || !link->isOpen()) {
            while (held.size() > kHeldAtMost) {
                held.pop_front();
            }
            return;
        }
        outgoing.swap(held);
    }
    for (const FramePtr& next : outgoing) {
        while (!link->push(next, kPoll)) {
            if (interrupted() || !link->isOpen()) {
                return;
            }
        }
    }
}

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
