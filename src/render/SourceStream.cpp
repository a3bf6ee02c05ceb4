#include "render/SourceStream.h"

#include "render/FFmpegPtr.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/mathematics.h>
#include <libavutil/samplefmt.h>
}

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <numeric>
#include <vector>

namespace medlark {

namespace {

constexpr std::int64_t kUnknown = std::numeric_limits<std::int64_t>::min();

// Source frames decoded and thrown away after a seek, so that the decoder's
// state (MP3 bit reservoir, MDCT overlap, synthesis filter bank) is the one a
// straight-through decode has when it reaches the wanted frame.
// An MP3 at a low bit rate needs about nine frames; take at least twice that.
constexpr std::int64_t kDecoderPreroll = 16384;

// Source frames fed to the resampler ahead of the in point to fill its filter.
constexpr std::int64_t kResamplerWarmup = 256;

// Positions beyond this many frames are not reachable (about 6 000 years at 48 kHz).
constexpr long double kMaxFrames = 1e16L;

void QuietFFmpegLog()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_FATAL); });
}

} // namespace

class SourceStream::Impl final {
public:
    explicit Impl(QByteArray url) : url_(std::move(url)) {}

    // Opens the container and the decoder and finds time 0; false when the
    // file has no audio that decodes.
    bool Open()
    {
        if (!OpenContainer())
            return false;
        // A fresh open reads from the very beginning without a seek: the first
        // frame it decodes is time 0.
        next_ = kUnknown;
        trustTimestamps_ = true;
        bool found = false;
        while (!found && ReadFrame()) {
            found = frame_->nb_samples > 0;
        }
        if (!found)
            return false;
        const std::int64_t ts = FrameTimestamp();
        origin_ = ts == kUnknown ? 0 : ts;
        firstFrame_ = frame_->nb_samples;
        if (coarse_ && HasFixedFrames()) {
            // The frame length all later frames are made of.
            for (int i = 0; i < 4 && ReadFrame(); ++i)
                lattice_ = std::gcd(lattice_, static_cast<std::int64_t>(frame_->nb_samples));
            if (lattice_ < 4 * tickSamples_)
                lattice_ = 0;
        }
        return true;
    }

    int Rate() const { return codec_->sample_rate; }
    int Channels() const { return codec_->ch_layout.nb_channels; }

    double Duration()
    {
        if (duration_ < 0.0) {
            const std::int64_t frames = CountFrames();
            duration_ = frames < 0 ? -1.0 : static_cast<double>(static_cast<long double>(frames) / Rate());
        }
        return duration_;
    }

    // The length the container states, without reading the file; -1 when it
    // states none.
    double StatedDuration() const
    {
        if (stream_ != nullptr && stream_->duration != AV_NOPTS_VALUE && stream_->duration > 0)
            return static_cast<double>(stream_->duration) * av_q2d(stream_->time_base);
        if (fmt_ && fmt_->duration != AV_NOPTS_VALUE && fmt_->duration > 0)
            return static_cast<double>(fmt_->duration) / AV_TIME_BASE;
        return -1.0;
    }

    std::int64_t Decode(double start, double end, const PcmSink& sink);

private:
    bool OpenContainer()
    {
        fmt_.reset();
        codec_.reset();

        ff::Dictionary options;
        options.Set("protocol_whitelist", "file");
        options.Set("usetoc", "0");
        AVFormatContext* raw = nullptr;
        if (avformat_open_input(&raw, url_.constData(), nullptr, options.Address()) < 0)
            return false;
        fmt_.reset(raw);
        if (avformat_find_stream_info(fmt_.get(), nullptr) < 0)
            return false;

        const AVCodec* decoder = nullptr;
        index_ = av_find_best_stream(fmt_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
        if (index_ < 0 || decoder == nullptr)
            return false;
        for (unsigned i = 0; i < fmt_->nb_streams; ++i)
            if (static_cast<int>(i) != index_)
                fmt_->streams[i]->discard = AVDISCARD_ALL;
        stream_ = fmt_->streams[index_];

        codec_.reset(avcodec_alloc_context3(decoder));
        if (!codec_ || avcodec_parameters_to_context(codec_.get(), stream_->codecpar) < 0)
            return false;
        codec_->pkt_timebase = stream_->time_base;
        if (avcodec_open2(codec_.get(), decoder, nullptr) < 0 || codec_->sample_rate <= 0
            || codec_->ch_layout.nb_channels <= 0)
            return false;

        if (!packet_)
            packet_.reset(av_packet_alloc());
        if (!frame_)
            frame_.reset(av_frame_alloc());
        drained_ = false;

        const AVRational tb = stream_->time_base;
        const std::int64_t tick = av_rescale_rnd(tb.num, Rate(), tb.den, AV_ROUND_UP);
        coarse_ = static_cast<std::int64_t>(tb.num) * Rate() > tb.den;
        tickSamples_ = std::max<std::int64_t>(tick, 1);
        return packet_ && frame_;
    }

    // Next decoded frame into frame_; false at the end of the stream.
    // Packets the decoder rejects are skipped, as a player would.
    bool ReadFrame()
    {
        for (;;) {
            const int got = avcodec_receive_frame(codec_.get(), frame_.get());
            if (got == 0)
                return true;
            if (got == AVERROR_INVALIDDATA)
                continue;
            if (got != AVERROR(EAGAIN) || drained_)
                return false;

            if (av_read_frame(fmt_.get(), packet_.get()) < 0) {
                avcodec_send_packet(codec_.get(), nullptr);
                drained_ = true;
                continue;
            }
            if (packet_->stream_index == index_)
                avcodec_send_packet(codec_.get(), packet_.get());
            av_packet_unref(packet_.get());
        }
    }

    // The frame's timestamp in source frames (not yet relative to time 0).
    std::int64_t FrameTimestamp() const
    {
        const std::int64_t ts = frame_->best_effort_timestamp;
        if (ts == AV_NOPTS_VALUE)
            return kUnknown;
        return av_rescale_q(ts, stream_->time_base, AVRational{1, Rate()});
    }

    // Codecs whose frames all have one length (the first may be shorter).
    bool HasFixedFrames() const
    {
        switch (codec_->codec_id) {
        case AV_CODEC_ID_MP2:
        case AV_CODEC_ID_MP3:
        case AV_CODEC_ID_AAC:
        case AV_CODEC_ID_AC3:
        case AV_CODEC_ID_EAC3:
        case AV_CODEC_ID_WMAV1:
        case AV_CODEC_ID_WMAV2:
            return true;
        case AV_CODEC_ID_FLAC: {
            // Fixed block size when the stream info's smallest and largest agree.
            const uint8_t* info = codec_->extradata;
            return codec_->extradata_size >= 4 && AV_RB16(info) == AV_RB16(info + 2);
        }
        default:
            return false;
        }
    }

    // Timestamps place frames to the sample, or to the frame on a lattice of
    // fixed-length frames; otherwise a segment is reached by reading from the start.
    bool CanSeek() const { return !coarse_ || lattice_ > 0; }

    // Straight-through position of a frame whose timestamp says fromTs.
    std::int64_t FromTimestamp(std::int64_t fromTs) const
    {
        if (!coarse_ || fromTs < firstFrame_)
            return coarse_ ? 0 : fromTs;
        const std::int64_t k = (fromTs - firstFrame_ + lattice_ / 2) / lattice_;
        return firstFrame_ + k * lattice_;
    }

    // Position of frame_ in the straight-through decode, or kUnknown.
    // Frames are counted on from an anchor; while still short of the wanted
    // frame, a timestamp that disagrees with the count moves the anchor (a
    // decoder may drop a frame or two right after a seek).
    std::int64_t Locate(bool beforeWanted)
    {
        const std::int64_t ts = trustTimestamps_ ? FrameTimestamp() : kUnknown;
        const std::int64_t fromTs = ts == kUnknown ? kUnknown : FromTimestamp(ts - origin_);
        std::int64_t pos = next_;
        if (fromTs != kUnknown && (next_ == kUnknown || (beforeWanted && fromTs != next_)))
            pos = fromTs;
        if (pos != kUnknown)
            next_ = pos + frame_->nb_samples;
        return pos;
    }

    // Prepares decoding so that the next located frame starts at or before
    // `want`. Seeks with a decoder pre-roll; falls back to reading from the
    // start when a seek fails or lands too late.
    bool PositionBefore(std::int64_t want, std::int64_t& firstPos)
    {
        std::int64_t preroll = std::max<std::int64_t>({kDecoderPreroll, Rate() / 2, stream_->codecpar->seek_preroll});
        for (int attempt = 0; attempt < 3 && CanSeek(); ++attempt) {
            const std::int64_t seekTo = want - preroll;
            if (seekTo <= 0)
                break;
            preroll *= 8;
            const std::int64_t ts = av_rescale_q_rnd(origin_ + seekTo, AVRational{1, Rate()}, stream_->time_base,
                                                     AV_ROUND_DOWN);
            if (av_seek_frame(fmt_.get(), index_, ts, AVSEEK_FLAG_BACKWARD) < 0)
                break;
            avcodec_flush_buffers(codec_.get());
            drained_ = false;
            next_ = kUnknown;
            trustTimestamps_ = true;
            while (ReadFrame()) {
                firstPos = Locate(true);
                if (firstPos != kUnknown)
                    break;
            }
            if (firstPos != kUnknown && firstPos <= want)
                return true;
        }
        // From the start: reopen, so the read is exactly a straight-through one.
        if (!OpenContainer())
            return false;
        next_ = 0;
        trustTimestamps_ = false;
        if (!ReadFrame())
            return false;
        firstPos = Locate(true);
        return true;
    }

    // Frames a straight-through decode delivers. The packets' timestamps tell
    // where the end lies to within a packet or two (a container may state a
    // trimmed length the decoder does not deliver); the last second is decoded
    // and counted from a located frame. Containers whose timestamps are coarser
    // than a sample are counted by decoding them whole.
    std::int64_t CountFrames()
    {
        if (!OpenContainer())
            return -1;
        std::int64_t approxEnd = 0;
        if (CanSeek()) {
            while (av_read_frame(fmt_.get(), packet_.get()) >= 0) {
                if (packet_->stream_index == index_ && packet_->pts != AV_NOPTS_VALUE)
                    approxEnd = std::max(approxEnd, av_rescale_q(packet_->pts + std::max<std::int64_t>(packet_->duration, 0),
                                                                 stream_->time_base, AVRational{1, Rate()})
                                                        - origin_);
                av_packet_unref(packet_.get());
            }
        }
        const std::int64_t want = std::max<std::int64_t>(0, approxEnd - Rate());
        std::int64_t pos = kUnknown;
        if (!PositionBefore(want, pos))
            return -1;
        std::int64_t end = pos == kUnknown ? 0 : pos + frame_->nb_samples;
        while (ReadFrame()) {
            pos = Locate(next_ == kUnknown || next_ <= want);
            if (pos != kUnknown)
                end = pos + frame_->nb_samples;
        }
        return end;
    }

    ff::SwrPtr MakeConverter() const;

    QByteArray url_;
    ff::FormatPtr fmt_;
    ff::CodecPtr codec_;
    ff::PacketPtr packet_;
    ff::FramePtr frame_;
    AVStream* stream_ = nullptr;
    int index_ = -1;
    bool drained_ = false;
    bool coarse_ = false;
    bool trustTimestamps_ = true;
    std::int64_t tickSamples_ = 1;
    std::int64_t firstFrame_ = 0;   // length of the first frame of a straight read
    std::int64_t lattice_ = 0;      // common length of later frames, where used
    std::int64_t origin_ = 0;
    std::int64_t next_ = kUnknown;
    double duration_ = -1.0;
    PcmBlock chunk_;   // the converter's output, reused
};

ff::SwrPtr SourceStream::Impl::MakeConverter() const
{
    AVChannelLayout in{};
    if (frame_->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame_->ch_layout.nb_channels <= 0)
        av_channel_layout_default(&in, frame_->ch_layout.nb_channels > 0 ? frame_->ch_layout.nb_channels
                                                                          : Channels());
    else if (av_channel_layout_copy(&in, &frame_->ch_layout) < 0)
        return nullptr;

    AVChannelLayout out = AV_CHANNEL_LAYOUT_STEREO;
    SwrContext* raw = nullptr;
    const int made = swr_alloc_set_opts2(&raw, &out, AV_SAMPLE_FMT_S16, kPcmRate, &in,
                                         static_cast<AVSampleFormat>(frame_->format), frame_->sample_rate, 0,
                                         nullptr);
    ff::SwrPtr swr(raw);
    const int inChannels = in.nb_channels;
    av_channel_layout_uninit(&in);
    if (made < 0 || !swr)
        return nullptr;
    if (inChannels == 1) {
        // Mono plays at full level on both sides (the default would lower it by 3 dB).
        const double matrix[2] = {1.0, 1.0};
        if (swr_set_matrix(swr.get(), matrix, 1) < 0)
            return nullptr;
    }
    if (swr_init(swr.get()) < 0)
        return nullptr;
    return swr;
}

std::int64_t SourceStream::Impl::Decode(double start, double end, const PcmSink& sink)
{
    if (!std::isfinite(start) || !std::isfinite(end) || start < 0.0)
        return 0;
    const int rate = Rate();
    const long double inFrameExact = std::trunc(static_cast<long double>(start) * rate);
    if (inFrameExact > kMaxFrames)
        return 0;
    const auto inFrame = static_cast<std::int64_t>(inFrameExact);

    const std::int64_t target = FrameOfSeconds(end - start);

    // Sources at other rates are fed to the resampler a little early; its output
    // before the in point is dropped.
    // Feeding starts on a frame that falls on the 44.1 kHz grid of a straight
    // resampled decode, so the resampler's phases are the same as there.
    const bool resampling = rate != kPcmRate;
    std::int64_t feedFrom = inFrame;
    std::int64_t drop = 0;
    if (resampling) {
        const std::int64_t unit = rate / std::gcd(rate, kPcmRate);
        feedFrom = std::max<std::int64_t>(0, inFrame - kResamplerWarmup);
        if (unit <= rate / 4)
            feedFrom = feedFrom / unit * unit;
        const long double feedTime = static_cast<long double>(feedFrom) / rate;
        drop = std::max<std::int64_t>(0, std::llround((static_cast<long double>(start) - feedTime) * kPcmRate));
    }

    std::int64_t pos = kUnknown;
    if (!PositionBefore(feedFrom, pos))
        return 0;

    std::int64_t delivered = 0;   // frames the converter gave after the dropped ones
    std::int64_t sent = 0;        // frames handed to the sink
    bool reached = false;
    bool stopped = false;
    ff::SwrPtr swr;
    std::vector<const uint8_t*> planes;
    PcmBlock pending;             // output made before a frame past the in point was seen

    // Hands frames on, never more than the segment holds.
    auto hand = [&](const std::int16_t* samples, std::int64_t frames) {
        frames = std::min(frames, target - sent);
        if (frames <= 0)
            return;
        sent += frames;
        if (!sink(samples, frames))
            stopped = true;
    };

    auto take = [&](const uint8_t** in, int inCount) -> bool {
        const int capacity = swr_get_out_samples(swr.get(), inCount);
        if (capacity < 0)
            return false;
        if (chunk_.size() < static_cast<size_t>(capacity) * kPcmChannels)
            chunk_.resize(static_cast<size_t>(capacity) * kPcmChannels);
        auto* outData = reinterpret_cast<uint8_t*>(chunk_.data());
        const int got = swr_convert(swr.get(), &outData, capacity, in, inCount);
        if (got < 0)
            return false;
        std::int64_t kept = got;
        std::int64_t from = 0;
        if (drop > 0) {
            from = std::min<std::int64_t>(drop, kept);
            drop -= from;
            kept -= from;
        }
        delivered += kept;
        const std::int16_t* first = chunk_.data() + from * kPcmChannels;
        if (!reached) {
            pending.insert(pending.end(), first, first + kept * kPcmChannels);
        } else {
            if (!pending.empty()) {
                hand(pending.data(), FrameCount(pending));
                pending.clear();
            }
            hand(first, kept);
        }
        return true;
    };

    bool ok = true;
    while (!stopped && (pos != kUnknown || ReadFrame())) {
        if (pos == kUnknown)
            pos = Locate(next_ == kUnknown || next_ <= feedFrom);
        const int count = frame_->nb_samples;
        const std::int64_t frameEnd = pos == kUnknown ? kUnknown : pos + count;
        if (pos != kUnknown && frameEnd > feedFrom && count > 0) {
            reached = reached || frameEnd > inFrame;
            if (!swr) {
                swr = MakeConverter();
                if (!swr) {
                    ok = false;
                    break;
                }
            }
            const auto offset = static_cast<int>(std::max<std::int64_t>(0, feedFrom - pos));
            const auto format = static_cast<AVSampleFormat>(frame_->format);
            const int bytes = av_get_bytes_per_sample(format);
            const int channels = frame_->ch_layout.nb_channels;
            planes.assign(frame_->extended_data, frame_->extended_data + (av_sample_fmt_is_planar(format) ? channels : 1));
            const int step = av_sample_fmt_is_planar(format) ? bytes : bytes * channels;
            for (auto& plane : planes)
                plane += static_cast<std::ptrdiff_t>(offset) * step;
            if (!take(planes.data(), count - offset)) {
                ok = false;
                break;
            }
            if (delivered > target)
                break;
        }
        pos = kUnknown;
    }
    if (ok && !stopped && swr && delivered <= target && resampling)
        take(nullptr, 0);   // the resampler's tail at the end of the source

    // Nothing past the in point, or a failure before anything was handed on.
    if (!reached || (!ok && sent == 0))
        return 0;
    return delivered * kPcmFrameBytes;
}

SourceStream::SourceStream() = default;
SourceStream::SourceStream(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SourceStream::SourceStream(SourceStream&&) noexcept = default;
SourceStream& SourceStream::operator=(SourceStream&&) noexcept = default;
SourceStream::~SourceStream() = default;

int SourceStream::SourceRate() const { return impl_ ? impl_->Rate() : 0; }
int SourceStream::SourceChannels() const { return impl_ ? impl_->Channels() : 0; }
double SourceStream::Duration() { return impl_ ? impl_->Duration() : -1.0; }
double SourceStream::StatedDuration() const { return impl_ ? impl_->StatedDuration() : -1.0; }

SourceStream OpenSourceStream(const QString& path)
{
    QuietFFmpegLog();
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile())
        return {};
    // The file: protocol keeps a name like "http:x" or "concat:a|b" a plain file name.
    auto impl = std::make_unique<SourceStream::Impl>("file:" + QFile::encodeName(info.absoluteFilePath()));
    if (!impl->Open())
        return {};
    return SourceStream(std::move(impl));
}

std::int64_t DecodeSegment(SourceStream& source, PcmBlock& dest, double start, double end)
{
    if (!source)
        return -1;
    if (const std::int64_t length = FrameOfSeconds(end - start); length < (1LL << 30))
        dest.reserve(dest.size() + static_cast<size_t>(length) * kPcmChannels);
    return source.impl_->Decode(start, end, [&dest](const std::int16_t* samples, std::int64_t frames) {
        dest.insert(dest.end(), samples, samples + frames * kPcmChannels);
        return true;
    });
}

std::int64_t DecodeSegmentTo(SourceStream& source, double start, double end, const PcmSink& sink)
{
    if (!source)
        return -1;
    return source.impl_->Decode(start, end, sink);
}

} // namespace medlark
