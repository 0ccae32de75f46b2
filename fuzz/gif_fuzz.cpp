// Feeds arbitrary bytes to the GIF decoder as a whole file. Memory errors, undefined
// behaviour and leaks are caught by the sanitizers; the checks below pin down the result.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "canvas/canvas_content/content_local_file_texture/gif/gif_decoder.h"
#include "canvas/canvas_content/content_local_file_texture/gif/gif_frame_plan.h"

namespace {
// Small enough that a fuzzer's memory limit is never reached, large enough for real files.
const uint64_t kFuzzOutputLimit = 64ull << 20;
}  // namespace

// The block walk that sizes a GIF before decoding, on the same bytes.
bool planFrames(const uint8_t* data, size_t size, Lumetra::GifFramePlan* plan) {
    if (size == 0) {
        return false;
    }
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (file == nullptr) {
        return false;
    }
    const bool planned = Lumetra::planGifFrames(file, plan);
    fclose(file);
    return planned;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Lumetra::GifFramePlan plan;
    const bool planned = planFrames(data, size, &plan);
    Lumetra::GifDecoder decoder(data, size, kFuzzOutputLimit);
    if (!decoder.decode()) {
        return 0;
    }
    Lumetra::GifAnimationInfo info = {};
    unsigned char** frames = decoder.releaseFrames(&info);
    if (frames == nullptr || info.numberOfImages < 1 || info.delayArray == nullptr) {
        abort();
    }
    // Whatever decodes was sized right beforehand: the memory budget relies on it.
    if (!planned || plan.frames != info.numberOfImages || plan.width != decoder.getWidth() ||
        plan.height != decoder.getHeight()) {
        abort();
    }
    const size_t frameBytes =
        static_cast<size_t>(decoder.getWidth()) * static_cast<size_t>(decoder.getHeight()) * 4;
    for (int i = 0; i < info.numberOfImages; ++i) {
        if (info.delayArray[i] < 0) {
            abort();
        }
        // Touch the first and last byte so that a short buffer shows up under ASan.
        if (frameBytes > 0) {
            const volatile unsigned char* frame = frames[i];
            static_cast<void>(frame[0]);
            static_cast<void>(frame[frameBytes - 1]);
        }
        free(frames[i]);
    }
    free(frames);
    free(info.delayArray);
    return 0;
}
