#include "platform/mesa/video/clip_decoder.h"

extern "C" {
#include <libavutil/dict.h>
}

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

namespace Lumetra {
namespace Platform {
namespace Mesa {

namespace {

const int64_t kMinGapUs = 1000000 / 240;
const int64_t kMaxGapUs = 1000000;
const int64_t kFallbackGapUs = 40000;  // 25 pictures a second when the clip says nothing
const int kErrorsInARow = 100;

int64_t toUs(int64_t ticks, AVRational base) {
    return av_rescale_q(ticks, base, AVRational{1, 1000000});
}

bool saneGap(int64_t us) {
    return us >= kMinGapUs && us <= kMaxGapUs;
}

int64_t frameDuration(const AVFrame* picture) {
#if LIBAVUTIL_VERSION_MAJOR >= 58
    return picture->duration;
#else
    return picture->pkt_duration;
#endif
}

// WebM keeps VP8/VP9 alpha beside the picture; only libvpx's decoders put it back.
const AVCodec* decoderFor(const AVStream* video) {
    const AVDictionaryEntry* alpha = av_dict_get(video->metadata, "alpha_mode", nullptr, 0);
    if (alpha && std::strcmp(alpha->value, "1") == 0) {
        const char* name = video->codecpar->codec_id == AV_CODEC_ID_VP9   ? "libvpx-vp9"
                           : video->codecpar->codec_id == AV_CODEC_ID_VP8 ? "libvpx"
                                                                          : nullptr;
        if (const AVCodec* with_alpha = name ? avcodec_find_decoder_by_name(name) : nullptr) {
            return with_alpha;
        }
    }
    return avcodec_find_decoder(video->codecpar->codec_id);
}

}  // namespace

ClipDecoder::ClipDecoder(const std::atomic<bool>* s) : stop(s) {}

ClipDecoder::~ClipDecoder() {
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
}

int ClipDecoder::interrupted(void* self) {
    const ClipDecoder* decoder = static_cast<const ClipDecoder*>(self);
    return (decoder->stop && decoder->stop->load()) ||
           std::chrono::steady_clock::now() > decoder->deadline;
}

// Only plain files: a FIFO would block the open, and a playlist inside a clip file must
// not reach out to other protocols.
bool ClipDecoder::openInput(const std::string& filename, std::chrono::milliseconds limit,
                            std::string* why_not) {
    struct stat info;
    if (stat(filename.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    deadline = std::chrono::steady_clock::now() + limit;
    format = avformat_alloc_context();
    if (!format) {
        return false;
    }
    format->interrupt_callback = {&ClipDecoder::interrupted, this};
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const int opened =
        avformat_open_input(&format, ("file:" + filename).c_str(), nullptr, &options);
    av_dict_free(&options);
    if (opened < 0) {
        format = nullptr;  // freed by the failed open
    } else if (avformat_find_stream_info(format, nullptr) >= 0) {
        // The first video stream, not FFmpeg's favourite; a cover picture is no clip.
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                !(format->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
                stream = static_cast<int>(i);
                break;
            }
        }
    }
    if (interrupted(this) && why_not && !(stop && stop->load())) {
        *why_not = "FFmpeg could not read it within " + std::to_string(limit.count() / 1000) + " s";
    }
    if (stream < 0 || interrupted(this)) {
        return false;
    }
    // Reading on goes without the deadline: only a stop interrupts it.
    deadline = std::chrono::steady_clock::time_point::max();
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (static_cast<int>(i) != stream) {
            format->streams[i]->discard = AVDISCARD_ALL;
        }
    }
    return true;
}

bool ClipDecoder::probeSize(const std::string& filename, std::chrono::milliseconds limit,
                            int* width, int* height, std::string* why_not) {
    if (!openInput(filename, limit, why_not)) {
        return false;
    }
    const AVCodecParameters* video = format->streams[stream]->codecpar;
    if (!decoderFor(format->streams[stream])) {
        if (why_not) {
            *why_not = std::string("this FFmpeg has no decoder for its ") +
                       avcodec_get_name(video->codec_id) + " video";
        }
        return false;
    }
    if (video->width < 1 || video->height < 1) {
        return false;
    }
    *width = video->width;
    *height = video->height;
    return true;
}

bool ClipDecoder::countPictures(const std::string& filename, std::chrono::milliseconds limit,
                                int64_t* count) {
    if (!openInput(filename, limit, nullptr)) {
        return false;
    }
    packet = av_packet_alloc();
    if (!packet) {
        return false;
    }
    deadline = std::chrono::steady_clock::now() + limit;
    int64_t n = 0;
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == stream) {
            ++n;
            if (packet_gap_us == 0 && packet->duration > 0) {
                const int64_t us = av_rescale_q(
                    packet->duration, format->streams[stream]->time_base, AVRational{1, 1000000});
                packet_gap_us = saneGap(us) ? us : 0;
            }
        }
        av_packet_unref(packet);
    }
    *count = n;
    return n > 0 && !interrupted(this);
}

bool ClipDecoder::open(const std::string& filename, std::chrono::milliseconds limit, int threads,
                       std::string* why_not) {
    if (!openInput(filename, limit, why_not)) {
        return false;
    }
    const AVStream* video = format->streams[stream];
    const AVCodec* decoder = decoderFor(video);
    codec = decoder ? avcodec_alloc_context3(decoder) : nullptr;
    if (!codec || avcodec_parameters_to_context(codec, video->codecpar) < 0) {
        return false;
    }
    codec->thread_count = threads;
    codec->pkt_timebase = video->time_base;
    if (avcodec_open2(codec, decoder, nullptr) < 0) {
        return false;
    }
    time_base = video->time_base;
    AVRational rate = video->avg_frame_rate.num > 0 ? video->avg_frame_rate : video->r_frame_rate;
    if (rate.num > 0 && rate.den > 0) {
        const int64_t us = av_rescale(1000000, rate.den, rate.num);
        nominal_us = saneGap(us) ? us : kFallbackGapUs;
    }
    packet = av_packet_alloc();
    frame = av_frame_alloc();
    return packet && frame;
}

// Back to the first picture. Streams without an index (raw H.264) seek by byte.
bool ClipDecoder::rewind() {
    avcodec_flush_buffers(codec);
    draining = false;
    pictures_this_pass = 0;
    const int64_t start = format->streams[stream]->start_time;
    if (av_seek_frame(format, stream, start == AV_NOPTS_VALUE ? 0 : start, AVSEEK_FLAG_BACKWARD) >=
        0) {
        return true;
    }
    if (av_seek_frame(format, -1, 0, AVSEEK_FLAG_BYTE) >= 0) {
        return true;
    }
    return format->pb && avio_seek(format->pb, 0, SEEK_SET) >= 0;
}

// By the timestamps when they make sense; else by the previous picture's duration; else
// by the stream's frame rate. A jump back (the loop) or a broken stamp never stalls or
// rushes the clip.
int64_t ClipDecoder::gapTo(const AVFrame* picture) {
    const int64_t pts = picture->best_effort_timestamp;
    int64_t gap = 0;
    if (pts != AV_NOPTS_VALUE && last_pts != AV_NOPTS_VALUE) {
        gap = toUs(pts - last_pts, time_base);
    }
    if (!saneGap(gap)) {
        gap = saneGap(last_duration_us) ? last_duration_us : nominal_us;
    }
    last_pts = pts;
    const int64_t duration = frameDuration(picture);
    last_duration_us = duration > 0 ? toUs(duration, time_base) : 0;
    return gap;
}

const AVFrame* ClipDecoder::next(int64_t* gap_us) {
    if (!codec || !packet || !frame) {
        return nullptr;
    }
    av_frame_unref(frame);
    for (;;) {
        if (stop && stop->load()) {
            return nullptr;
        }
        const int received = avcodec_receive_frame(codec, frame);
        if (received == 0) {
            errors_in_a_row = 0;
            ++pictures_this_pass;
            *gap_us = gapTo(frame);
            return frame;
        }
        if (received == AVERROR_EOF || (received == AVERROR(EAGAIN) && draining)) {
            if (pictures_this_pass == 0 || !rewind()) {
                return nullptr;  // nothing to show: a loop would only spin
            }
            continue;
        }
        if (received != AVERROR(EAGAIN)) {
            // A picture that did not decode is skipped; a decoder that fails on and on
            // has nothing more to show.
            if (++errors_in_a_row > kErrorsInARow) {
                return nullptr;
            }
            continue;
        }
        errors_in_a_row = 0;
        const int read = av_read_frame(format, packet);
        if (read < 0) {
            if (stop && stop->load()) {
                return nullptr;
            }
            // The end, or a file broken from here on: what was decoded still shows.
            draining = true;
            avcodec_send_packet(codec, nullptr);
            continue;
        }
        if (packet->stream_index == stream) {
            // A damaged packet is skipped; the stream recovers at its next key frame.
            avcodec_send_packet(codec, packet);
        }
        av_packet_unref(packet);
    }
}

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
