#pragma once

// The first video stream of a clip file, decoded picture by picture in an endless loop:
// at the end of the file the decoder is drained and the file read again from its start.
// Any container and codec the installed FFmpeg reads; other streams are skipped unread.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

namespace Lumetra {
namespace Platform {
namespace Mesa {

class ClipDecoder {
  public:
    // `stop`, when given, interrupts any read or probe once it is set.
    explicit ClipDecoder(const std::atomic<bool>* stop = nullptr);
    ~ClipDecoder();

    ClipDecoder(const ClipDecoder&) = delete;
    ClipDecoder& operator=(const ClipDecoder&) = delete;

    // Opens the file and its first video stream within `limit`; false when it holds no
    // video this FFmpeg can decode (then `why_not` may say more). `threads` is FFmpeg's
    // decoder thread count, 0 for its own choice.
    bool open(const std::string& filename, std::chrono::milliseconds limit, int threads,
              std::string* why_not = nullptr);
    // Only finds the video stream's size, without opening a decoder.
    bool probeSize(const std::string& filename, std::chrono::milliseconds limit, int* width,
                   int* height, std::string* why_not);

    // Counts the video stream's pictures by reading the file once without decoding it
    // (one packet per picture), within `limit`; false when that cannot be known.
    bool countPictures(const std::string& filename, std::chrono::milliseconds limit,
                       int64_t* count);
    // After open: the time between pictures at the stream's own frame rate.
    int64_t nominalGapUs() const { return nominal_us; }
    // The time one picture stands, as countPictures found it in the packets' own durations;
    // 0 when they carry none. Truer than the stream's frame rate, which FFmpeg 7 reports as
    // its 25 fps default for raw H.264 whatever the stream's timing says.
    int64_t packetGapUs() const { return packet_gap_us; }
    // The place in the clip of the picture next() returned last, from 0.
    int64_t pictureIndex() const { return static_cast<int64_t>(pictures_this_pass) - 1; }

    // The next picture in showing order, and the time from the previous one to it. Null
    // when the clip gives no more (stopped, broken, or a pass through it without a
    // picture). Valid until the next call.
    const AVFrame* next(int64_t* gap_us);

  private:
    bool openInput(const std::string& filename, std::chrono::milliseconds limit,
                   std::string* why_not);
    bool rewind();
    int64_t gapTo(const AVFrame* picture);
    static int interrupted(void* self);

    const std::atomic<bool>* stop;
    std::chrono::steady_clock::time_point deadline;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;
    AVRational time_base = {1, 1};
    int64_t nominal_us = 40000;  // from the stream's frame rate
    int64_t packet_gap_us = 0;
    int64_t last_pts = AV_NOPTS_VALUE;
    int64_t last_duration_us = 0;
    bool draining = false;
    int errors_in_a_row = 0;
    uint64_t pictures_this_pass = 0;
};

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
