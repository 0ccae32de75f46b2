#pragma once

// One clip looping into a GL texture's EGL image: a thread of its own decodes the clip
// with FFmpeg, waits for each picture's time and writes it into the image from a GL
// context of its own, so that the render thread only binds the texture.

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/clip_playback.h"
#include "platform/mesa/video/clip_stats.h"

namespace Lumetra {
namespace Platform {
namespace Mesa {

class ClipDecoder;
class EglImageWriter;

class FfmpegClipPlayback : public ClipPlayback {
  public:
    FfmpegClipPlayback(const std::string& filename, EGLDisplay display, EGLImageKHR image);
    ~FfmpegClipPlayback() override;

    void signalStop() override;
    bool hasEnded() const override { return stats->ended.load(); }
    bool outlivesItsTexture() const override { return true; }

  private:
    void run();
    // Each picture after the one before, from the clip's start.
    void playFromItsStart(EglImageWriter& writer, ClipDecoder& decoder);
    // Each picture at its place in the loop the wall clock is in (CLIP_SYNC=1).
    void playInLockStep(EglImageWriter& writer, ClipDecoder& decoder, int64_t count,
                        int64_t period_us);
    // Sleeps until `due`; false when stopped first.
    bool waitUntil(std::chrono::steady_clock::time_point due);

    std::string filename;
    EGLDisplay display;
    EGLImageKHR image;
    std::shared_ptr<ClipStats> stats;
    std::atomic<bool> stopping{false};
    std::mutex mutex;
    std::condition_variable wake;
    std::thread worker;
};

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
