#include "platform/mesa/video/ffmpeg_clip_playback.h"

#include <algorithm>
#include <atomic>
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

std::atomic<bool> lock_step{false};

int64_t wallMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

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
        int64_t count = 0;
        ClipDecoder counter(&stopping);
        if (lock_step.load() && counter.countPictures(filename, kOpenLimit, &count)) {
            const int64_t gap_us = counter.packetGapUs();
            playInLockStep(writer, decoder, count, gap_us > 0 ? gap_us : decoder.nominalGapUs());
        } else {
            playFromItsStart(writer, decoder);
        }
    }
    writer.stop();
    eglDestroyImageKHR(display, image);
    stats->ended.store(true);
}

void FfmpegClipPlayback::playFromItsStart(EglImageWriter& writer, ClipDecoder& decoder) {
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

// Picture i of loop c is due at (c x count + i) x period on the wall clock. A pass that
// starts a little early still belongs to the next loop; one that starts late (a slow
// machine) to the loop the clock is in. Until the first picture is shown the decoder
// races through the pictures already past (a fixture started mid-loop); afterwards a late
// picture is skipped only a few in a row, so that a slow machine still sees the clip move.
void FfmpegClipPlayback::playInLockStep(EglImageWriter& writer, ClipDecoder& decoder, int64_t count,
                                        int64_t period_us) {
    const int64_t loop_us = period_us * count;
    int64_t loop = -1;
    bool shown_any = false;
    int dropped_in_a_row = 0;
    int64_t gap_us = 0;
    while (const AVFrame* picture = decoder.next(&gap_us)) {
        stats->decoded++;
        const int64_t index = decoder.pictureIndex();
        const int64_t wall_us = wallMicroseconds();
        const Clock::time_point now = Clock::now();
        const int64_t clock_loop = wall_us / loop_us;
        if (loop < 0) {
            loop = clock_loop;
        } else if (index == 0) {
            loop = std::max(loop + 1, clock_loop);
        }
        int64_t due_us = loop * loop_us + index * period_us;
        if (due_us - wall_us > loop_us) {
            // The wall clock was set back: take up the loop it is in now.
            loop = clock_loop;
            due_us = loop * loop_us + index * period_us;
        }
        if (due_us + period_us <= wall_us && (!shown_any || dropped_in_a_row < kDropsInARow)) {
            stats->dropped++;
            dropped_in_a_row++;
            continue;
        }
        if (!waitUntil(now + std::chrono::microseconds(std::max<int64_t>(0, due_us - wall_us)))) {
            break;
        }
        dropped_in_a_row = 0;
        shown_any = true;
        if (writer.write(image, picture)) {
            stats->shown++;
        }
    }
}

}  // namespace Mesa

void setClipLockStep(bool on) {
    lock_step.store(on);
}

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
