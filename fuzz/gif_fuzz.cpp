// Feeds arbitrary bytes to the GIF decoder as a whole file. Memory errors, undefined
// behaviour and leaks are caught by the sanitizers; the checks below pin down the result.
#include <cstdint>
#include <cstdlib>

#include "canvas/canvas_content/content_local_file_texture/gif/gif_decoder.h"
#include "canvas/canvas_content/content_local_file_texture/gif/gif_frame_plan.h"

namespace {
// Small enough that a fuzzer's memory limit is never reached, large enough for real files.
const uint64_t kFuzzMemoryLimit = 64ull << 20;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Lumetra::GifFramePlan plan;
    const bool planned = Lumetra::planGifFrames(data, size, &plan);
    int width = -1;
    int height = -1;
    Lumetra::GifAnimationInfo info = {};
    unsigned char** frames =
        Lumetra::decodeGifFrames(data, size, kFuzzMemoryLimit, &width, &height, &info);
    if (frames == nullptr) {
        return 0;
    }
    if (info.numberOfImages < 1 || info.delayArray == nullptr) {
        abort();
    }
    // Whatever decodes was sized right beforehand, within the limit: the memory budget
    // relies on it.
    if (!planned || plan.frames != info.numberOfImages || plan.width != width ||
        plan.height != height || plan.decodeBytes(size) > kFuzzMemoryLimit) {
        abort();
    }
    const size_t frameBytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
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
