// SPDX-License-Identifier: GPL-3.0-or-later

#include "PcmDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/mathematics.h>
#include <libswresample/swresample.h>
}

#include <memory>
#include <vector>

namespace {

template <class T, void (*Free)(T**)> struct Deleter {
    void operator()(T* pointer) const { Free(&pointer); }
};
using CodecContext = std::unique_ptr<AVCodecContext, Deleter<AVCodecContext, avcodec_free_context>>;
using Frame = std::unique_ptr<AVFrame, Deleter<AVFrame, av_frame_free>>;
using Packet = std::unique_ptr<AVPacket, Deleter<AVPacket, av_packet_free>>;
using Resampler = std::unique_ptr<SwrContext, Deleter<SwrContext, swr_free>>;

// Timestamps in samples, as ffmpeg's decode loop gives them to its filters:
// the decoder's time shifted so the file starts at 0, kept contiguous across
// rounding by av_rescale_delta except after a gap between the packets that
// gave frames (ASF's millisecond timestamps leave such gaps everywhere).
class FrameClock {
public:
    FrameClock(const AVStream* stream, int64_t fileStart, int sampleRate)
        : base(stream->time_base), rate{1, sampleRate},
          offset(fileStart == AV_NOPTS_VALUE ? 0 : av_rescale_q(fileStart, AV_TIME_BASE_Q, base)) {}

    void packetSent(const AVPacket& packet) { sent = Sent{packet.pts, packet.duration}; }

    int64_t start(const AVFrame& frame) {
        // Only the first frame after a packet looks at that packet.
        if (sent) {
            if (sent->duration && previousPacket != AV_NOPTS_VALUE && sent->pts != AV_NOPTS_VALUE &&
                sent->pts - previousPacket > sent->duration)
                last = AV_NOPTS_VALUE;
            previousPacket = sent->pts;
        }
        int64_t pts = frame.pts != AV_NOPTS_VALUE ? frame.pts : (sent ? sent->pts : AV_NOPTS_VALUE);
        sent.reset();
        if (pts == AV_NOPTS_VALUE)
            pts = next;
        else
            pts = av_rescale_delta(base, pts - offset, rate, frame.nb_samples, &last, rate);
        next = pts + frame.nb_samples;
        return pts;
    }

private:
    struct Sent {
        int64_t pts;
        int64_t duration;
    };
    AVRational base;
    AVRational rate;
    int64_t offset;
    std::optional<Sent> sent;
    int64_t previousPacket = AV_NOPTS_VALUE;
    int64_t last = AV_NOPTS_VALUE;
    int64_t next = 0;
};

// ffmpeg's output "-t", which cuts twice: its trim filter counts from the
// first frame's timestamp and cuts a frame where start + duration falls in
// it; then the encoder takes no frame once the previous one ended at or past
// the duration counted from the file's start. Where timestamps leave gaps
// (ASF), the second cut ends the stream at a frame boundary first.
class OutputTrim {
public:
    explicit OutputTrim(std::optional<int64_t> samples) : duration(samples) {}

    // How many of the frame's samples go out; nothing once the end is reached.
    std::optional<int> keep(int64_t pts, int count) {
        if (!duration)
            return count;
        if (first == AV_NOPTS_VALUE)
            first = pts;
        if (pts - first >= *duration || encoded >= *duration)
            return std::nullopt;
        const int kept = int(std::min<int64_t>(count, first + *duration - pts));
        encoded = pts + kept;
        return kept;
    }

private:
    std::optional<int64_t> duration;
    int64_t first = AV_NOPTS_VALUE;
    int64_t encoded = 0;
};

class Decoding {
public:
    Decoding(const MediaFile& file, int streamIndex, std::optional<int64_t> seconds,
             const std::function<bool(const uint8_t*, size_t)>& sink)
        : file(file), stream(file.context()->streams[streamIndex]), sink(sink),
          clock(stream, file.context()->start_time, stream->codecpar->sample_rate),
          trim(seconds ? std::optional<int64_t>(*seconds * stream->codecpar->sample_rate)
                       : std::nullopt) {}
    ~Decoding() { av_channel_layout_uninit(&inputLayout); }
    Decoding(const Decoding&) = delete;
    Decoding& operator=(const Decoding&) = delete;

    std::optional<std::string> run() {
        const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
        if (!codec)
            return std::string("no decoder for this codec");
        context.reset(avcodec_alloc_context3(codec));
        if (!context || avcodec_parameters_to_context(context.get(), stream->codecpar) < 0)
            return std::string("cannot set up the decoder");
        context->pkt_timebase = stream->time_base;
        if (const int opened = avcodec_open2(context.get(), codec, nullptr); opened < 0)
            return errorText(opened);
        for (unsigned index = 0; index < file.context()->nb_streams; ++index)
            if (int(index) != stream->index)
                file.context()->streams[index]->discard = AVDISCARD_ALL;

        Packet packet(av_packet_alloc());
        frame.reset(av_frame_alloc());
        while (!finished) {
            const int read = av_read_frame(file.context(), packet.get());
            if (read == AVERROR_EOF)
                break;
            if (read < 0)
                return errorText(read);
            if (packet->stream_index == stream->index) {
                // Like ffmpeg, a packet the decoder rejects is passed over.
                avcodec_send_packet(context.get(), packet.get());
                clock.packetSent(*packet);
                if (auto failed = drain())
                    return failed;
            }
            av_packet_unref(packet.get());
        }
        if (!finished) {
            avcodec_send_packet(context.get(), nullptr);
            if (auto failed = drain())
                return failed;
        }
        return std::nullopt;
    }

private:
    std::optional<std::string> drain() {
        while (!finished) {
            const int received = avcodec_receive_frame(context.get(), frame.get());
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
                return std::nullopt;
            if (received < 0)
                continue; // a damaged frame: ffmpeg goes on with the next
            auto failed = emit();
            av_frame_unref(frame.get());
            if (failed)
                return failed;
        }
        return std::nullopt;
    }

    // The sample-format conversion ffmpeg's filter graph inserts: swresample
    // with the same rate and layout on both sides, which is exact into
    // doubles for every integer and float format.
    std::optional<std::string> convert(int count) {
        if (!resampler || frame->format != inputFormat || frame->sample_rate != inputRate ||
            av_channel_layout_compare(&frame->ch_layout, &inputLayout) != 0) {
            SwrContext* made = nullptr;
            if (swr_alloc_set_opts2(&made, &frame->ch_layout, AV_SAMPLE_FMT_DBL, frame->sample_rate,
                                    &frame->ch_layout, AVSampleFormat(frame->format),
                                    frame->sample_rate, 0, nullptr) < 0 ||
                swr_init(made) < 0) {
                swr_free(&made);
                return std::string("cannot convert this sample format");
            }
            resampler.reset(made);
            inputFormat = frame->format;
            inputRate = frame->sample_rate;
            av_channel_layout_uninit(&inputLayout);
            av_channel_layout_copy(&inputLayout, &frame->ch_layout);
        }
        const size_t channels = size_t(frame->ch_layout.nb_channels);
        buffer.resize(size_t(count) * channels * sizeof(double));
        uint8_t* out = buffer.data();
        if (swr_convert(resampler.get(), &out, count,
                        const_cast<const uint8_t**>(frame->extended_data), count) != count)
            return std::string("cannot convert this sample format");
        return std::nullopt;
    }

    std::optional<std::string> emit() {
        const int64_t pts = clock.start(*frame);
        const std::optional<int> kept = trim.keep(pts, frame->nb_samples);
        if (!kept) {
            finished = true;
            return std::nullopt;
        }
        if (*kept <= 0)
            return std::nullopt;
        if (auto failed = convert(frame->nb_samples))
            return failed;
        const size_t bytes = size_t(*kept) * size_t(frame->ch_layout.nb_channels) * sizeof(double);
        if (!sink(buffer.data(), bytes))
            finished = true;
        return std::nullopt;
    }

    const MediaFile& file;
    AVStream* stream;
    const std::function<bool(const uint8_t*, size_t)>& sink;
    FrameClock clock;
    OutputTrim trim;
    CodecContext context;
    Frame frame;
    Resampler resampler;
    int inputFormat = -1;
    int inputRate = 0;
    AVChannelLayout inputLayout{};
    std::vector<uint8_t> buffer;
    bool finished = false;
};

} // namespace

std::optional<std::string> decodePcm(const MediaFile& file, std::optional<int64_t> seconds,
                                     const std::function<bool(const uint8_t*, size_t)>& sink) {
    const int index = file.firstAudioStream();
    if (index < 0)
        return std::string("no audio stream");
    return Decoding(file, index, seconds, sink).run();
}
