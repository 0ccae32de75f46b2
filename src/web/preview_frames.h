#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "canvas/frame_snapshot.h"

namespace Lumetra {

// The web page's live preview. While someone asks for it, the render thread reads back at
// most one frame every kInterval (the same read-back as the SIGUSR1 snapshot); a thread of
// this class's own scales it down and encodes it as PNG. While nobody asks, nothing is
// read back: the render thread pays one atomic load per frame.
class PreviewFrames : public FrameSink {
  public:
    static constexpr std::chrono::milliseconds kInterval{200};
    // Frames are read back for this long after the last request.
    static constexpr std::chrono::milliseconds kWatchTime{2000};
    static const int kMaxWidth = 640;

    struct Image {
        std::vector<uint8_t> png;
        std::chrono::steady_clock::time_point drawn{};  // when the render thread read it
        int width = 0;
        int height = 0;
    };

    PreviewFrames();
    ~PreviewFrames() override;

    PreviewFrames(const PreviewFrames&) = delete;
    PreviewFrames& operator=(const PreviewFrames&) = delete;

    // Render thread.
    uint8_t* frameWanted(uint32_t width, uint32_t height) override;
    void frameFilled() override;

    // Web threads: waits up to `wait` for a frame drawn after `after`; false when none came
    // (the image is then the newest there is, possibly none).
    bool newest(std::chrono::steady_clock::time_point after, std::chrono::milliseconds wait,
                Image* image);
    // Frames read back so far.
    unsigned captures() const { return captured.load(); }

  private:
    void run();
    void encode();

    std::atomic<int64_t> wanted_until{0};  // steady clock, nanoseconds
    std::atomic<bool> busy{false};         // the frame buffer is the encoder's
    std::atomic<unsigned> captured{0};
    std::chrono::steady_clock::time_point last_capture{};  // render thread only
    // Render thread fills these while not busy; the encoder reads them while busy.
    std::vector<uint8_t> frame;
    uint32_t frame_width = 0;
    uint32_t frame_height = 0;
    std::chrono::steady_clock::time_point frame_time{};

    std::mutex lock;
    std::condition_variable wake;
    std::condition_variable encoded;
    bool pending = false;
    bool stopping = false;
    Image latest;
    std::thread thread;
};

}  // namespace Lumetra
