// A clip's first picture, scaled down for the web page's picture library.

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>

#include "platform/clip_playback.h"
#include "platform/mesa/video/clip_decoder.h"

namespace Lumetra {
namespace Platform {

bool clipThumbnail(const std::string& filename, int max_side, std::vector<uint8_t>* rgba,
                   int* width, int* height) {
    Mesa::ClipDecoder decoder;
    // One decoder thread: a thumbnail must not take the cores the show's clips use.
    if (max_side <= 0 || !decoder.open(filename, std::chrono::milliseconds(5000), 1)) {
        return false;
    }
    int64_t gap = 0;
    const AVFrame* picture = decoder.next(&gap);
    if (picture == nullptr || picture->width <= 0 || picture->height <= 0) {
        return false;
    }
    const double scale =
        std::min(1.0, static_cast<double>(max_side) / std::max(picture->width, picture->height));
    *width = std::max(1, static_cast<int>(picture->width * scale));
    *height = std::max(1, static_cast<int>(picture->height * scale));
    SwsContext* scaler =
        sws_getContext(picture->width, picture->height, static_cast<AVPixelFormat>(picture->format),
                       *width, *height, AV_PIX_FMT_RGBA, SWS_AREA, nullptr, nullptr, nullptr);
    if (scaler == nullptr) {
        return false;
    }
    rgba->assign(static_cast<size_t>(*width) * *height * 4, 0);
    uint8_t* planes[4] = {rgba->data(), nullptr, nullptr, nullptr};
    int strides[4] = {*width * 4, 0, 0, 0};
    const bool done = sws_scale(scaler, picture->data, picture->linesize, 0, picture->height,
                                planes, strides) > 0;
    sws_freeContext(scaler);
    return done;
}

}  // namespace Platform
}  // namespace Lumetra
