#include "render/Mixing.h"

#include "model/Error.h"
#include "render/WavOutput.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace medlark {

namespace {

constexpr long double kPi = std::numbers::pi_v<long double>;

// Nearest integer, halves to even (the thread's rounding mode, one fistp: this
// file is built without errno for the maths functions), clamped to 16 bits.
[[gnu::always_inline]] inline std::int16_t RoundToSample(long double value)
{
    if (!(value > -40000.0L))
        return kSampleMin;
    if (value > 40000.0L)
        return kSampleMax;
    return static_cast<std::int16_t>(std::clamp<long>(std::lrint(value), kSampleMin, kSampleMax));
}

// Both samples of a frame times a gain, the products in extended precision.
[[gnu::always_inline]] inline void ScaleFrame(std::int16_t* frame, double gain)
{
    frame[0] = RoundToSample(static_cast<long double>(frame[0]) * gain);
    frame[1] = RoundToSample(static_cast<long double>(frame[1]) * gain);
}

[[gnu::always_inline]] inline std::int16_t SaturatingAdd(std::int16_t a, std::int16_t b)
{
    return static_cast<std::int16_t>(std::clamp(a + b, kSampleMin, kSampleMax));
}

std::int16_t* FrameAt(PcmBlock& pcm, std::int64_t frame)
{
    return pcm.data() + frame * kPcmChannels;
}

long double Clamp01(long double v)
{
    if (v >= 1.0L)
        return 1.0L;
    if (!(v > 0.0L))
        return 0.0L;
    return v;
}

// i / (x - 1); x == 1 is 0/0, an invalid operation.
long double Ratio(std::int64_t i, std::int64_t x)
{
    if (x == 1)
        throw Error(QStringLiteral("不正な浮動小数点演算です。"));
    return static_cast<long double>(i) / static_cast<long double>(x - 1);
}

// The gains of a fade over x frames. A build fades every full-length segment
// over the same x, so the last table is kept (one per thread); fades longer than
// kMaxTable frames compute their gains frame by frame instead.
constexpr std::int64_t kMaxTable = 1 << 21;

class FadeGains final {
public:
    FadeGains(std::int64_t x, TEnvelope envelope) : x_(x), envelope_(envelope)
    {
        if (x > kMaxTable)
            return;
        thread_local Table table;
        if (table.x != x || table.envelope != envelope) {
            table.x = -1;
            table.in.resize(static_cast<size_t>(x));
            table.out.resize(static_cast<size_t>(x));
            for (std::int64_t i = 0; i < x; ++i) {
                table.in[static_cast<size_t>(i)] = FadeInGain(i, x, envelope);
                table.out[static_cast<size_t>(i)] = FadeOutGain(i, x, envelope);
            }
            table.x = x;
            table.envelope = envelope;
        }
        table_ = &table;
    }

    double In(std::int64_t i) const { return table_ ? table_->in[static_cast<size_t>(i)] : FadeInGain(i, x_, envelope_); }
    double Out(std::int64_t i) const { return table_ ? table_->out[static_cast<size_t>(i)] : FadeOutGain(i, x_, envelope_); }

private:
    struct Table {
        std::int64_t x = -1;
        TEnvelope envelope = TEnvelope::None;
        std::vector<double> in;
        std::vector<double> out;
    };
    std::int64_t x_;
    TEnvelope envelope_;
    const Table* table_ = nullptr;
};

} // namespace

TCrossfade SetCrossfadeTime(double seconds)
{
    TCrossfade c;
    c.Time = seconds;
    c.Bytes = FrameOfSeconds(seconds) * kPcmFrameBytes;
    return c;
}

std::int64_t CrossfadeFrames(const TCrossfade& crossfade, std::int64_t segmentBytes)
{
    return std::min(crossfade.Bytes, segmentBytes) / kPcmFrameBytes;
}

double FadeInGain(std::int64_t i, std::int64_t x, TEnvelope envelope)
{
    switch (envelope) {
    case TEnvelope::Linear:
        return static_cast<double>(Ratio(i, x));
    case TEnvelope::Sine: {
        const long double s = std::sin(Ratio(i, x) * kPi / 2.0L);
        return static_cast<double>(Clamp01(s * s));
    }
    case TEnvelope::None:
        break;
    }
    return 1.0;
}

double FadeOutGain(std::int64_t i, std::int64_t x, TEnvelope envelope)
{
    switch (envelope) {
    case TEnvelope::Linear:
        return static_cast<double>(Ratio(x - 1 - i, x));
    case TEnvelope::Sine: {
        const long double c = std::cos(Ratio(i, x) * kPi / 2.0L);
        return static_cast<double>(Clamp01(c * c));
    }
    case TEnvelope::None:
        break;
    }
    return 1.0;
}

std::int16_t ClampSample(long double value)
{
    return RoundToSample(value);
}

void ApplyFadeIn(PcmBlock& segment, std::int64_t x, TEnvelope envelope)
{
    const FadeGains gains(x, envelope);
    const std::int64_t n = std::min(x, FrameCount(segment));
    for (std::int64_t j = 0; j < n; ++j)
        ScaleFrame(FrameAt(segment, j), gains.In(j));
}

void ApplyFadeOut(PcmBlock& segment, std::int64_t x, TEnvelope envelope)
{
    const FadeGains gains(x, envelope);
    const std::int64_t n = FrameCount(segment);
    for (std::int64_t k = std::max<std::int64_t>(0, x - n); k < x; ++k)
        ScaleFrame(FrameAt(segment, n - x + k), gains.Out(k));
}

void AddTail(PcmBlock& segment, const PcmBlock& tail)
{
    const size_t count = std::min(segment.size(), tail.size());
    for (size_t i = 0; i < count; ++i)
        segment[i] = SaturatingAdd(segment[i], tail[i]);
}

void PlaceSegment(OutputFile& file, const PcmBlock& segment, std::int64_t x, PcmBlock& tail)
{
    if (segment.empty())
        return;   // nothing placed: the tail waits for the next segment
    file.Write(segment.data(), ByteCount(segment));
    file.Flush();
    file.SetPosition(file.Position() - x * kPcmFrameBytes);
    tail.assign(segment.end() - static_cast<std::ptrdiff_t>(x * kPcmChannels), segment.end());
}

TMedleyMixer::TMedleyMixer(OutputFile& file, const TCrossfade& crossfade, TEnvelope envelope)
    : file_(file), crossfade_(crossfade), envelope_(envelope)
{
}

void TMedleyMixer::Begin()
{
    held_.clear();
    head_ = 0;
    received_ = 0;
    released_ = 0;
}

void TMedleyMixer::Push(const std::int16_t* samples, std::int64_t frames)
{
    if (head_ > 0 && head_ * 2 >= FrameCount(held_)) {
        held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(head_ * kPcmChannels));
        head_ = 0;
    }
    held_.insert(held_.end(), samples, samples + frames * kPcmChannels);
    received_ += frames;
    // Frames more than a crossfade before the newest one lie before the
    // fade-out, whatever the segment's length turns out to be.
    const std::int64_t ready = HeldFrames() - crossfade_.Frames();
    if (ready > 0)
        Release(ready, crossfade_.Frames(), -1);
}

std::int64_t TMedleyMixer::End()
{
    const std::int64_t n = received_;
    if (n == 0)
        return 0;   // nothing to place: the previous tail waits for the next segment
    const std::int64_t x = CrossfadeFrames(crossfade_, n * kPcmFrameBytes);
    Release(HeldFrames(), x, n);
    // The segment goes to disk while the next one is decoded; the medley's
    // final flushes wait for everything.
    file_.StartFlush();
    file_.SetPosition(file_.Position() - x * kPcmFrameBytes);
    tail_.assign(held_.end() - static_cast<std::ptrdiff_t>(x * kPcmChannels), held_.end());
    held_.clear();
    head_ = 0;
    return n * kPcmFrameBytes;
}

void TMedleyMixer::Release(std::int64_t count, std::int64_t x, std::int64_t n)
{
    const FadeGains gains(x, envelope_);
    std::int16_t* frames = held_.data() + head_ * kPcmChannels;
    const std::int64_t first = released_;
    const std::int64_t end = released_ + count;
    auto at = [&](std::int64_t j) { return frames + (j - first) * kPcmChannels; };

    // Per frame in this order: fade-in, the previous tail added on, fade-out.
    for (std::int64_t j = first; j < std::min(end, x); ++j)
        ScaleFrame(at(j), gains.In(j));
    for (std::int64_t j = first; j < std::min(end, FrameCount(tail_)); ++j) {
        std::int16_t* f = at(j);
        const std::int16_t* t = tail_.data() + j * kPcmChannels;
        f[0] = SaturatingAdd(f[0], t[0]);
        f[1] = SaturatingAdd(f[1], t[1]);
    }
    if (n >= 0) {
        for (std::int64_t j = std::max(first, n - x); j < end; ++j)
            ScaleFrame(at(j), gains.Out(j - (n - x)));
    }
    file_.Write(frames, count * kPcmFrameBytes);
    head_ += count;
    released_ += count;
}

void ShapeSingle(PcmBlock& segment, std::int64_t x, TEnvelope envelope)
{
    const FadeGains gains(x, envelope);
    const std::int64_t n = FrameCount(segment);
    const std::int64_t t = n - x;
    for (std::int64_t j = 0; j < n; ++j) {
        if (j < x)
            ScaleFrame(FrameAt(segment, j), gains.In(j));
        else if (j >= t)
            ScaleFrame(FrameAt(segment, j), gains.Out(j - t));
    }
}

} // namespace medlark
