#include "render/Mixing.h"

#include "model/Error.h"
#include "render/WavOutput.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace medlark {

namespace {

constexpr long double kPi = std::numbers::pi_v<long double>;

// One sample times a gain, in extended precision.
inline std::int16_t Scale(std::int16_t sample, double gain)
{
    return ClampSample(static_cast<long double>(sample) * gain);
}

void ScaleFrame(PcmBlock& pcm, std::int64_t frame, double gain)
{
    const auto at = static_cast<size_t>(frame) * kPcmChannels;
    pcm[at] = Scale(pcm[at], gain);
    pcm[at + 1] = Scale(pcm[at + 1], gain);
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

} // namespace

TCrossfade SetCrossfadeTime(double seconds)
{
    TCrossfade c;
    c.Time = seconds;
    const long double frames = std::trunc(static_cast<long double>(seconds) * kPcmRate);
    c.Bytes = frames > 0 ? static_cast<std::int64_t>(std::min(frames, 1e15L)) * kPcmFrameBytes : 0;
    return c;
}

std::int64_t CrossfadeFrames(double crossfadeTime, std::int64_t segmentBytes)
{
    return std::min(SetCrossfadeTime(crossfadeTime).Bytes, segmentBytes) / kPcmFrameBytes;
}

double FadeInGain(std::int64_t i, std::int64_t x, int envelope)
{
    switch (envelope) {
    case kEnvelopeLinear:
        return static_cast<double>(Ratio(i, x));
    case kEnvelopeSine: {
        const long double s = std::sin(Ratio(i, x) * kPi / 2.0L);
        return static_cast<double>(Clamp01(s * s));
    }
    default:
        return 1.0;
    }
}

double FadeOutGain(std::int64_t i, std::int64_t x, int envelope)
{
    switch (envelope) {
    case kEnvelopeLinear:
        return static_cast<double>(Ratio(x - 1 - i, x));
    case kEnvelopeSine: {
        const long double c = std::cos(Ratio(i, x) * kPi / 2.0L);
        return static_cast<double>(Clamp01(c * c));
    }
    default:
        return 1.0;
    }
}

std::int16_t ClampSample(long double value)
{
    const long double r = std::nearbyint(value);   // the thread's rounding: nearest, halves to even
    if (!(r >= -32768.0L))
        return std::numeric_limits<std::int16_t>::min();
    if (r > 32767.0L)
        return std::numeric_limits<std::int16_t>::max();
    return static_cast<std::int16_t>(r);
}

void ApplyFadeIn(PcmBlock& segment, std::int64_t x, int envelope)
{
    const std::int64_t n = FrameCount(segment);
    for (std::int64_t j = 0; j < x && j < n; ++j)
        ScaleFrame(segment, j, FadeInGain(j, x, envelope));
}

void ApplyFadeOut(PcmBlock& segment, std::int64_t x, int envelope)
{
    const std::int64_t n = FrameCount(segment);
    for (std::int64_t k = 0; k < x; ++k)
        if (n - x + k >= 0)
            ScaleFrame(segment, n - x + k, FadeOutGain(k, x, envelope));
}

void AddTail(PcmBlock& segment, const PcmBlock& tail)
{
    const size_t count = std::min(segment.size(), tail.size());
    for (size_t i = 0; i < count; ++i)
        segment[i] = static_cast<std::int16_t>(std::clamp(segment[i] + tail[i], -32768, 32767));
}

void PlaceSegment(OutputFile& file, const PcmBlock& segment, std::int64_t x, PcmBlock& tail)
{
    file.Write(segment.data(), ByteCount(segment));
    file.Flush();
    file.SetPosition(file.Position() - x * kPcmFrameBytes);
    tail.assign(segment.end() - static_cast<std::ptrdiff_t>(x * kPcmChannels), segment.end());
}

TMedleyMixer::TMedleyMixer(OutputFile& file, double crossfadeTime, int envelope)
    : file_(file), crossfadeTime_(crossfadeTime), envelope_(envelope)
{
}

std::int64_t TMedleyMixer::FadeIn(PcmBlock& segment)
{
    const std::int64_t x = CrossfadeFrames(crossfadeTime_, ByteCount(segment));
    ApplyFadeIn(segment, x, envelope_);
    return x;
}

void TMedleyMixer::MixAndPlace(PcmBlock& segment, std::int64_t x)
{
    AddTail(segment, tail_);
    ApplyFadeOut(segment, x, envelope_);
    PlaceSegment(file_, segment, x, tail_);
}

void ShapeSingle(PcmBlock& segment, std::int64_t x, int envelope)
{
    const std::int64_t n = FrameCount(segment);
    const std::int64_t t = n - x;
    for (std::int64_t j = 0; j < n; ++j) {
        double gain = 1.0;
        if (j < x)
            gain = FadeInGain(j, x, envelope);
        else if (j >= t)
            gain = FadeOutGain(j - t, x, envelope);
        if (gain != 1.0)
            ScaleFrame(segment, j, gain);
    }
}

} // namespace medlark
