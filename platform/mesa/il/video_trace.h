#pragma once

// What the video components did, kept per component instance for tests and benchmarks:
// the flags and fill of every input buffer a decoder received, frames decoded and the CPU
// time they took, frames written into EGL images.

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace Lumetra {
namespace Platform {
namespace Mesa {

struct InputBufferRecord {
    uint32_t flags;
    uint32_t filled_length;
};

class DecoderTrace {
  public:
    void recordInput(uint32_t flags, uint32_t filled_length);
    void recordFrame();
    void addCpu(int64_t cpu_ns);
    std::vector<InputBufferRecord> getInputs();
    uint64_t getInputCount();
    uint64_t getFramesDecoded();
    int64_t getDecodeCpuNs();

  private:
    static constexpr size_t kKeptInputs = 4096;  // then only the last one is replaced
    std::mutex mutex;
    std::vector<InputBufferRecord> inputs;
    uint64_t input_count = 0;
    uint64_t frames_decoded = 0;
    int64_t decode_cpu_ns = 0;
};

class RenderTrace {
  public:
    void recordFrameWritten();
    uint64_t getFramesWritten();

  private:
    std::mutex mutex;
    uint64_t frames_written = 0;
};

// Every decoder and egl_render created in this process, oldest first.
class VideoTrace {
  public:
    static std::shared_ptr<DecoderTrace> newDecoder();
    static std::shared_ptr<RenderTrace> newRenderer();
    static std::vector<std::shared_ptr<DecoderTrace>> decoders();
    static std::vector<std::shared_ptr<RenderTrace>> renderers();
};

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
