#include "platform/mesa/video/ffmpeg_clip_playback.h"

#include <chrono>

#include "platform/mesa/video/clip_decoder.h"
#include "platform/mesa/video/egl_image_writer.h"

namespace Lumetra {
namespace Platform {
namespace {

using Clock = std::chrono::steady_clock;

// Opening may probe the file again; the slot loader has already found it readable.
const std::chrono::milliseconds kOpenLimit(10000);
// Later than this, the clock restarts at the late picture instead of rushing to catch up.
const std::chrono::milliseconds kLateLimit(250);
// Pictures skipped in a row at most: a slow machine still sees the clip move.
const int kDropsInARow = 4;
// How long the size probe may take; like the outside tool it replaces.
const std::chrono::milliseconds kProbeLimit(10000);

}  // namespace

namespace Mesa {

FfmpegClipPlayback::FfmpegClipPlayback(const std::string& f, EGLDisplay d, EGLImageKHR i)
    : filename(f), display(d), image(i), stats(ClipStats::add()) {
    worker = std::thread(&FfmpegClipPlayback::run, this);
}

FfmpegClipPlayback::~FfmpegClipPlayback() {
    signalStop();
    if (worker.joinable()) {
        worker.join();
    }
}

void FfmpegClipPlayback::signalStop() {
    std::lock_guard<std::mutex> lock(mutex);
    stopping.store(true);
    wake.notify_all();
}

bool FfmpegClipPlayback::waitUntil(Clock::time_point due) {
    std::unique_lock<std::mutex> lock(mutex);
    return !wake.wait_until(lock, due, [this] { return stopping.load(); });
}

void FfmpegClipPlayback::run() {
    EglImageWriter writer;
    ClipDecoder decoder(&stopping);
    // A clip that cannot be played or fails while playing keeps the texture as it is.
    if (writer.start(display) && decoder.open(filename, kOpenLimit, 0)) {
        Clock::time_point due = Clock::now();
        bool first = true;
        int dropped_in_a_row = 0;
        int64_t gap_us = 0;
        while (const AVFrame* picture = decoder.next(&gap_us)) {
            stats->decoded++;
            const auto gap = std::chrono::microseconds(gap_us);
            due = first ? Clock::now() : due + gap;
            first = false;
            const Clock::time_point now = Clock::now();
            if (now > due + kLateLimit) {
                due = now;
            } else if (now > due + gap && dropped_in_a_row < kDropsInARow) {
                // Already as late as the next picture is due: skip the writing.
                stats->dropped++;
                dropped_in_a_row++;
                continue;
            }
            if (!waitUntil(due)) {
                break;
            }
            dropped_in_a_row = 0;
            if (writer.write(image, picture)) {
                stats->shown++;
            }
        }
    }
    writer.stop();
    eglDestroyImageKHR(display, image);
    stats->ended.store(true);
}

}  // namespace Mesa

ClipPlayback* startClipPlayback(int, const std::string& filename, EGLDisplay display, EGLContext,
                                EGLImageKHR image) {
    return new Mesa::FfmpegClipPlayback(filename, display, image);
}

bool clipPictureSize(const std::string& filename, int* width, int* height, std::string* why_not) {
    Mesa::ClipDecoder probe;
    return probe.probeSize(filename, kProbeLimit, width, height, why_not);
}

}  // namespace Platform
}  // namespace Lumetra
