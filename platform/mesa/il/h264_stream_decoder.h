#pragma once

// An H.264 elementary stream, given in pieces of any size, decoded into pictures.

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace Lumetra {
namespace Platform {
namespace Mesa {

class H264StreamDecoder {
  public:
    using FrameSink = std::function<void(AVFrame*)>;

    H264StreamDecoder();
    ~H264StreamDecoder();

    H264StreamDecoder(const H264StreamDecoder&) = delete;
    H264StreamDecoder& operator=(const H264StreamDecoder&) = delete;

    bool isReady() const { return context && parser && packet && frame; }
    // Decodes what `data` completes; stops early once `keep_going` returns false. Returns
    // the bytes taken; the rest must be given again to continue the stream.
    size_t feed(const uint8_t* data, size_t size, const std::function<bool()>& keep_going,
                const FrameSink& sink);
    // End of the stream: the pictures still held come out, then a new stream may begin.
    void drain(const FrameSink& sink);
    // From the stream's timing information; 25 frames a second without it.
    int64_t frameDurationUs() const;

  private:
    void decode(AVPacket* packet_or_null, const FrameSink& sink);

    AVCodecContext* context = nullptr;
    AVCodecParserContext* parser = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    std::vector<uint8_t> padded;  // the parser may read past the end of its input
};

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
