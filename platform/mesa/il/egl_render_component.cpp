#include "platform/mesa/il/egl_render_component.h"

#include <chrono>

#include "platform/mesa/il/egl_image_writer.h"
#include "platform/mesa/mesa_display.h"

namespace Lumetra {
namespace Platform {
namespace Mesa {

namespace {

const std::chrono::milliseconds kPoll(20);

}  // namespace

EglRenderComponent::EglRenderComponent()
    : IlComponent("OMX.broadcom.egl_render"), trace(VideoTrace::newRenderer()) {
    addPort(kInputPort, OMX_DirInput, OMX_PortDomainVideo);
    addPort(kOutputPort, OMX_DirOutput, OMX_PortDomainVideo, 1, 0);
    render_thread = std::thread(&EglRenderComponent::renderLoop, this);
    callback_thread = std::thread(&EglRenderComponent::callbackLoop, this);
}

EglRenderComponent::~EglRenderComponent() {
    shutDown();
}

void EglRenderComponent::shutDown() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        wake.notify_all();
    }
    if (render_thread.joinable()) {
        render_thread.join();
    }
    if (callback_thread.joinable()) {
        callback_thread.join();
    }
}

OMX_ERRORTYPE EglRenderComponent::useEglImage(OMX_BUFFERHEADERTYPE** header, OMX_U32 port,
                                              OMX_PTR app_private, void* image) {
    if (port != kOutputPort) {
        return OMX_ErrorBadPortIndex;
    }
    if (!image) {
        return OMX_ErrorBadParameter;
    }
    std::lock_guard<std::mutex> lock(mutex);
    *header = newHeader(kOutputPort, app_private, 0, static_cast<OMX_U8*>(image));
    return OMX_ErrorNone;
}

OMX_ERRORTYPE EglRenderComponent::fillThisBuffer(OMX_BUFFERHEADERTYPE* header) {
    if (header->pPlatformPrivate != this || header->nOutputPortIndex != kOutputPort) {
        return OMX_ErrorBadParameter;
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (!findPort(kOutputPort)->enabled) {
        return OMX_ErrorIncorrectStateOperation;
    }
    empty_buffers.push_back(header);
    wake.notify_all();
    return OMX_ErrorNone;
}

void EglRenderComponent::onStateChange(OMX_STATETYPE, OMX_STATETYPE to) {
    std::lock_guard<std::mutex> lock(mutex);
    executing = to == OMX_StateExecuting;
    wake.notify_all();
}

void EglRenderComponent::onPortDisabled(OMX_U32 port) {
    if (port == kOutputPort) {
        returnOutputBuffers();
    }
}

void EglRenderComponent::onFlush(OMX_U32 port) {
    if (port == kOutputPort) {
        returnOutputBuffers();
        return;
    }
    std::shared_ptr<FrameLink> link;
    {
        std::lock_guard<std::mutex> lock(mutex);
        flushes++;
        link = findPort(kInputPort)->link;
    }
    if (link) {
        link->clear();
    }
}

// Buffers still waiting for a picture go back unfilled, through the callback thread.
void EglRenderComponent::returnOutputBuffers() {
    std::lock_guard<std::mutex> lock(mutex);
    for (OMX_BUFFERHEADERTYPE* header : empty_buffers) {
        header->nFilledLen = 0;
        filled_buffers.push_back(header);
    }
    empty_buffers.clear();
    wake.notify_all();
}

FramePtr EglRenderComponent::nextFrame() {
    std::shared_ptr<FrameLink> input = activeLink(kInputPort);
    if (input) {
        return input->pop(kPoll);
    }
    std::unique_lock<std::mutex> lock(mutex);
    wake.wait_for(lock, kPoll, [this] { return stopping; });
    return nullptr;
}

// The buffer to write the picture into, or null when none came or the picture was flushed.
OMX_BUFFERHEADERTYPE* EglRenderComponent::nextBuffer(unsigned flushes_seen) {
    std::unique_lock<std::mutex> lock(mutex);
    wake.wait_for(lock, kPoll, [this, flushes_seen] {
        return stopping || flushes != flushes_seen || (executing && !empty_buffers.empty());
    });
    if (stopping || flushes != flushes_seen || !executing || empty_buffers.empty()) {
        return nullptr;
    }
    OMX_BUFFERHEADERTYPE* header = empty_buffers.front();
    empty_buffers.pop_front();
    return header;
}

void EglRenderComponent::renderLoop() {
    EglImageWriter writer;
    bool writer_tried = false;
    bool writer_ready = false;
    FramePtr frame;
    unsigned flushes_seen = 0;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (stopping) {
                break;
            }
            if (flushes != flushes_seen) {
                flushes_seen = flushes;
                frame = nullptr;
            }
        }
        if (!frame) {
            frame = nextFrame();
            continue;
        }
        OMX_BUFFERHEADERTYPE* header = nextBuffer(flushes_seen);
        if (!header) {
            continue;
        }
        if (!writer_tried) {
            writer_tried = true;
            writer_ready = writer.start(currentDisplay());
            if (!writer_ready) {
                sendEvent(OMX_EventError, static_cast<OMX_U32>(OMX_ErrorInsufficientResources), 0);
            }
        }
        if (writer_ready &&
            writer.write(static_cast<EGLImageKHR>(header->pBuffer), frame->picture)) {
            trace->recordFrameWritten();
        }
        frame = nullptr;
        std::lock_guard<std::mutex> lock(mutex);
        header->nFilledLen = 0;
        header->nFlags = 0;
        filled_buffers.push_back(header);
        wake.notify_all();
    }
    writer.stop();
}

void EglRenderComponent::callbackLoop() {
    for (;;) {
        OMX_BUFFERHEADERTYPE* header;
        {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [this] { return stopping || !filled_buffers.empty(); });
            if (stopping) {
                return;
            }
            header = filled_buffers.front();
            filled_buffers.pop_front();
        }
        fillBufferDone(header);
    }
}

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
