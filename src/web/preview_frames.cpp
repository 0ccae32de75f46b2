#include "web/preview_frames.h"

#include <stb/stb_image_write.h>

#include <algorithm>
#include <cstring>

namespace Lumetra {

namespace {

int64_t nanosNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void appendBytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    const auto* bytes = static_cast<const uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

}  // namespace

constexpr std::chrono::milliseconds PreviewFrames::kInterval;
constexpr std::chrono::milliseconds PreviewFrames::kWatchTime;

PreviewFrames::PreviewFrames() : thread(&PreviewFrames::run, this) {}

PreviewFrames::~PreviewFrames() {
    {
        std::lock_guard<std::mutex> hold(lock);
        stopping = true;
    }
    wake.notify_all();
    encoded.notify_all();
    thread.join();
}

uint8_t* PreviewFrames::frameWanted(uint32_t width, uint32_t height) {
    const int64_t until = wanted_until.load(std::memory_order_relaxed);
    if (until == 0 || busy.load(std::memory_order_acquire)) {
        return nullptr;
    }
    const auto now = std::chrono::steady_clock::now();
    if (std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch()).count() >
            until ||
        now - last_capture < kInterval || width == 0 || height == 0) {
        return nullptr;
    }
    last_capture = now;
    frame_time = now;
    frame_width = width;
    frame_height = height;
    frame.resize(static_cast<size_t>(width) * height * 4);
    return frame.data();
}

void PreviewFrames::frameFilled() {
    busy.store(true, std::memory_order_release);
    captured.fetch_add(1);
    {
        std::lock_guard<std::mutex> hold(lock);
        pending = true;
    }
    wake.notify_one();
}

bool PreviewFrames::newest(std::chrono::steady_clock::time_point after,
                           std::chrono::milliseconds wait, Image* image) {
    const int64_t until = nanosNow() + std::chrono::nanoseconds(kWatchTime).count();
    if (wanted_until.load() < until) {
        wanted_until.store(until);
    }
    std::unique_lock<std::mutex> hold(lock);
    const bool fresh = encoded.wait_for(
        hold, wait, [&] { return stopping || (!latest.png.empty() && latest.drawn > after); });
    *image = latest;
    return fresh && !latest.png.empty() && latest.drawn > after;
}

void PreviewFrames::run() {
    std::unique_lock<std::mutex> hold(lock);
    while (true) {
        wake.wait(hold, [this] { return stopping || pending; });
        if (stopping) {
            return;
        }
        pending = false;
        hold.unlock();
        encode();
        hold.lock();
    }
}

// Scales by averaging whole blocks of pixels (a box filter), flipping the rows to top
// first on the way, then encodes.
void PreviewFrames::encode() {
    const uint32_t step = std::max<uint32_t>(1, (frame_width + kMaxWidth - 1) / kMaxWidth);
    const uint32_t out_w = std::max<uint32_t>(1, frame_width / step);
    const uint32_t out_h = std::max<uint32_t>(1, frame_height / step);
    std::vector<uint8_t> scaled(static_cast<size_t>(out_w) * out_h * 4);
    for (uint32_t y = 0; y < out_h; ++y) {
        for (uint32_t x = 0; x < out_w; ++x) {
            uint32_t sum[4] = {0, 0, 0, 0};
            for (uint32_t dy = 0; dy < step; ++dy) {
                const uint32_t src_y = frame_height - 1 - std::min(frame_height - 1, y * step + dy);
                const uint8_t* row = frame.data() + static_cast<size_t>(src_y) * frame_width * 4;
                for (uint32_t dx = 0; dx < step; ++dx) {
                    const uint8_t* p =
                        row + static_cast<size_t>(std::min(frame_width - 1, x * step + dx)) * 4;
                    for (int c = 0; c < 4; ++c) {
                        sum[c] += p[c];
                    }
                }
            }
            uint8_t* out = scaled.data() + (static_cast<size_t>(y) * out_w + x) * 4;
            for (int c = 0; c < 3; ++c) {
                out[c] = static_cast<uint8_t>(sum[c] / (step * step));
            }
            out[3] = 255;  // the output is opaque whatever the blend left in alpha
        }
    }
    const auto drawn = frame_time;
    busy.store(false, std::memory_order_release);  // the render thread may fill it again

    Image image;
    image.width = static_cast<int>(out_w);
    image.height = static_cast<int>(out_h);
    image.drawn = drawn;
    stbi_write_png_to_func(appendBytes, &image.png, image.width, image.height, 4, scaled.data(),
                           image.width * 4);
    {
        std::lock_guard<std::mutex> hold(lock);
        latest = std::move(image);
    }
    encoded.notify_all();
}

}  // namespace Lumetra
