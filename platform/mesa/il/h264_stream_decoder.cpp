#include "platform/mesa/il/h264_stream_decoder.h"

#include <algorithm>

namespace Lumetra {
namespace Platform {
namespace Mesa {

H264StreamDecoder::H264StreamDecoder() {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (!codec) {
        return;
    }
    context = avcodec_alloc_context3(codec);
    if (!context) {
        return;
    }
    // One thread per clip: three clips and the renderer already share the machine.
    context->thread_count = 1;
    if (avcodec_open2(context, codec, nullptr) < 0) {
        avcodec_free_context(&context);
        return;
    }
    parser = av_parser_init(AV_CODEC_ID_H264);
    packet = av_packet_alloc();
    frame = av_frame_alloc();
}

H264StreamDecoder::~H264StreamDecoder() {
    av_frame_free(&frame);
    av_packet_free(&packet);
    if (parser) {
        av_parser_close(parser);
    }
    avcodec_free_context(&context);
}

size_t H264StreamDecoder::feed(const uint8_t* data, size_t size,
                               const std::function<bool()>& keep_going, const FrameSink& sink) {
    if (!isReady() || size == 0) {
        return size;
    }
    padded.assign(data, data + size);
    padded.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    const uint8_t* next = padded.data();
    int left = static_cast<int>(size);
    while (left > 0 && keep_going()) {
        uint8_t* out = nullptr;
        int out_size = 0;
        int used = av_parser_parse2(parser, context, &out, &out_size, next, left, AV_NOPTS_VALUE,
                                    AV_NOPTS_VALUE, 0);
        if (used < 0) {
            return size;
        }
        next += used;
        left -= used;
        if (out_size > 0) {
            packet->data = out;
            packet->size = out_size;
            decode(packet, sink);
        }
    }
    return size - static_cast<size_t>(left);
}

void H264StreamDecoder::drain(const FrameSink& sink) {
    if (!isReady()) {
        return;
    }
    uint8_t* out = nullptr;
    int out_size = 0;
    av_parser_parse2(parser, context, &out, &out_size, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE,
                     0);
    if (out_size > 0) {
        packet->data = out;
        packet->size = out_size;
        decode(packet, sink);
    }
    decode(nullptr, sink);
    avcodec_flush_buffers(context);
    av_parser_close(parser);
    parser = av_parser_init(AV_CODEC_ID_H264);
}

void H264StreamDecoder::decode(AVPacket* packet_or_null, const FrameSink& sink) {
    // A damaged packet is skipped; the stream recovers at its next key frame.
    if (avcodec_send_packet(context, packet_or_null) < 0) {
        return;
    }
    while (avcodec_receive_frame(context, frame) == 0) {
        sink(frame);
        av_frame_unref(frame);
    }
}

int64_t H264StreamDecoder::frameDurationUs() const {
    const int64_t fallback = 40000;
    if (!context || context->framerate.num <= 0 || context->framerate.den <= 0) {
        return fallback;
    }
    int64_t duration = 1000000LL * context->framerate.den / context->framerate.num;
    return std::clamp<int64_t>(duration, 1000, 1000000);
}

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
