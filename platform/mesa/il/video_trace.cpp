#include "platform/mesa/il/video_trace.h"

namespace Lumetra {
namespace Platform {
namespace Mesa {

namespace {

struct Registry {
    std::mutex mutex;
    std::vector<std::shared_ptr<DecoderTrace>> decoders;
    std::vector<std::shared_ptr<RenderTrace>> renderers;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

}  // namespace

void DecoderTrace::recordInput(uint32_t flags, uint32_t filled_length) {
    std::lock_guard<std::mutex> lock(mutex);
    input_count++;
    if (inputs.size() == kKeptInputs) {
        inputs.back() = {flags, filled_length};
    } else {
        inputs.push_back({flags, filled_length});
    }
}

void DecoderTrace::recordFrame() {
    std::lock_guard<std::mutex> lock(mutex);
    frames_decoded++;
}

void DecoderTrace::addCpu(int64_t cpu_ns) {
    std::lock_guard<std::mutex> lock(mutex);
    decode_cpu_ns += cpu_ns;
}

std::vector<InputBufferRecord> DecoderTrace::getInputs() {
    std::lock_guard<std::mutex> lock(mutex);
    return inputs;
}

uint64_t DecoderTrace::getInputCount() {
    std::lock_guard<std::mutex> lock(mutex);
    return input_count;
}

uint64_t DecoderTrace::getFramesDecoded() {
    std::lock_guard<std::mutex> lock(mutex);
    return frames_decoded;
}

int64_t DecoderTrace::getDecodeCpuNs() {
    std::lock_guard<std::mutex> lock(mutex);
    return decode_cpu_ns;
}

void RenderTrace::recordFrameWritten() {
    std::lock_guard<std::mutex> lock(mutex);
    frames_written++;
}

uint64_t RenderTrace::getFramesWritten() {
    std::lock_guard<std::mutex> lock(mutex);
    return frames_written;
}

std::shared_ptr<DecoderTrace> VideoTrace::newDecoder() {
    auto trace = std::make_shared<DecoderTrace>();
    std::lock_guard<std::mutex> lock(registry().mutex);
    registry().decoders.push_back(trace);
    return trace;
}

std::shared_ptr<RenderTrace> VideoTrace::newRenderer() {
    auto trace = std::make_shared<RenderTrace>();
    std::lock_guard<std::mutex> lock(registry().mutex);
    registry().renderers.push_back(trace);
    return trace;
}

std::vector<std::shared_ptr<DecoderTrace>> VideoTrace::decoders() {
    std::lock_guard<std::mutex> lock(registry().mutex);
    return registry().decoders;
}

std::vector<std::shared_ptr<RenderTrace>> VideoTrace::renderers() {
    std::lock_guard<std::mutex> lock(registry().mutex);
    return registry().renderers;
}

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
