#pragma once

// One decoded picture on its way from video_decode through video_scheduler to egl_render.

extern "C" {
#include <libavutil/frame.h>
}

#include <cstdint>
#include <memory>

namespace Lumetra {
namespace Platform {
namespace Mesa {

struct DecodedFrame {
    DecodedFrame() : picture(av_frame_alloc()) {}
    ~DecodedFrame() { av_frame_free(&picture); }
    DecodedFrame(const DecodedFrame&) = delete;
    DecodedFrame& operator=(const DecodedFrame&) = delete;

    AVFrame* picture;
    int64_t duration_us = 40000;
};

using FramePtr = std::shared_ptr<DecodedFrame>;

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
