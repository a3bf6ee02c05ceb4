#include "render/TruePeakLimiter.h"

#include "model/Error.h"
#include "render/Loudness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <numbers>
#include <random>
#include <utility>
#include <vector>

namespace medlark {

namespace {

using Samples = std::vector<float>;   // interleaved stereo, 16-bit scale

constexpr double kPi = std::numbers::pi;

std::int64_t Frames(const Samples& s) { return static_cast<std::int64_t>(s.size()) / kPcmChannels; }

double Level(double db) { return 32768.0 * std::pow(10.0, db / 20.0); }

// A sine on both channels (the right one a quarter turn on).
Samples Sine(std::int64_t frames, double hz, double amplitude, double phase = 0.0)
{
    Samples s(static_cast<size_t>(frames * kPcmChannels));
    for (size_t i = 0; i < s.size(); ++i) {
        const double w = 2.0 * kPi * hz * static_cast<double>(i / 2) / kPcmRate + phase;
        s[i] = static_cast<float>(amplitude * std::sin(i % 2 ? w + kPi / 2.0 : w));
    }
    return s;
}

// Something like loud music: chords with overtones up to 15 kHz, a bass, a
// kick every 0.4 s and bright noise, its sample peak at peakDb.
Samples Music(std::int64_t frames, double peakDb, unsigned seed = 1)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    const double tones[] = {110.0, 277.2, 329.6, 440.0, 1318.5, 3951.1, 7040.0, 14700.0};
    Samples s(static_cast<size_t>(frames * kPcmChannels));
    double last[kPcmChannels] = {};
    for (size_t i = 0; i < s.size(); ++i) {
        const double t = static_cast<double>(i / 2) / kPcmRate;
        const double side = static_cast<double>(i % 2);
        const double beat = std::fmod(t, 0.4);
        const double white = noise(random);
        double v = 2.0 * std::sin(2.0 * kPi * 60.0 * beat) * std::exp(-beat * 12.0)
                   + 0.6 * (white - std::exchange(last[i % 2], white));
        for (size_t k = 0; k < std::size(tones); ++k)
            v += std::sin(2.0 * kPi * tones[k] * (1.0 + 0.003 * side) * t + (1.0 + side) * k) / (k + 1.0);
        s[i] = static_cast<float>(v);
    }
    const double gain = Level(peakDb) / std::fabs(std::ranges::max(s, {}, [](float v) { return std::fabs(v); }));
    std::ranges::for_each(s, [gain](float& v) { v = static_cast<float>(v * gain); });
    return s;
}

Samples Noise(std::int64_t frames, double peakDb, unsigned seed = 2)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    Samples s(static_cast<size_t>(frames * kPcmChannels));
    for (float& v : s)
        v = static_cast<float>(Level(peakDb) * noise(random));
    return s;
}

// The signal faded in and out over `fade` frames each.
Samples Faded(Samples s, std::int64_t fade)
{
    for (std::int64_t i = 0; i < fade; ++i) {
        const auto gain = static_cast<float>(0.5 - 0.5 * std::cos(kPi * static_cast<double>(i) / fade));
        for (int c = 0; c < kPcmChannels; ++c) {
            s[static_cast<size_t>(i * kPcmChannels + c)] *= gain;
            s[static_cast<size_t>((Frames(s) - 1 - i) * kPcmChannels + c)] *= gain;
        }
    }
    return s;
}

Samples Concat(std::initializer_list<Samples> parts)
{
    Samples s;
    for (const Samples& p : parts)
        s.insert(s.end(), p.begin(), p.end());
    return s;
}

// Everything through one limiter, pushed `chunk` frames at a time.
PcmBlock Limit(const Samples& in, double ceilingDbtp = -1.0, std::int64_t chunk = 4096)
{
    TTruePeakLimiter limiter(ceilingDbtp);
    PcmBlock out;
    for (std::int64_t at = 0; at < Frames(in); at += chunk)
        limiter.Push(in.data() + at * kPcmChannels, std::min(chunk, Frames(in) - at), out);
    limiter.Finish(out);
    return out;
}

// The louder channel's true peak, as libebur128 measures it.
double TruePeakDbtp(const PcmBlock& pcm)
{
    TLoudnessMeter meter;
    meter.Add(pcm.data(), FrameCount(pcm));
    return meter.Result().TruePeak;
}

int HighestSample(const PcmBlock& pcm)
{
    return std::abs(std::ranges::max(pcm, {}, [](std::int16_t v) { return std::abs(static_cast<int>(v)); }));
}

// lrint of each input sample.
PcmBlock Rounded(const Samples& in)
{
    PcmBlock out(in.size());
    std::ranges::transform(in, out.begin(), [](float v) { return static_cast<std::int16_t>(std::lrint(v)); });
    return out;
}

PcmBlock FramesFrom(const PcmBlock& pcm, std::int64_t from, std::int64_t count = -1)
{
    const auto begin = pcm.begin() + from * kPcmChannels;
    return PcmBlock(begin, count < 0 ? pcm.end() : begin + count * kPcmChannels);
}

} // namespace

// Only ceilings from -60 to 0 dBTP are taken; every one is held, against
// peaks between samples and whatever comes in, limited but not silenced, and
// no sample ever reaches full scale.
TEST(Limiter, HoldsTheCeilingAgainstIntersampleOversWithNoSampleAtFullScale)
{
    for (const double wrong : {0.5, std::numeric_limits<double>::quiet_NaN(), -100.0})
        EXPECT_THROW(TTruePeakLimiter{wrong}, Error) << wrong;
    EXPECT_NO_THROW(TTruePeakLimiter(-60.0));

    // A quarter of the rate at 45 degrees: every sample 3 dB below the peak
    // between them, which is +3 dBTP.
    const Samples quarter = Sine(kPcmRate, kPcmRate / 4.0, Level(3.0), kPi / 4.0);
    ASSERT_LT(*std::max_element(quarter.begin(), quarter.end()), 32767.0f);
    const Samples music = Music(kPcmRate, 12.0);
    const Samples noise = Noise(kPcmRate / 2, 12.0);
    const Samples highTone = Sine(kPcmRate / 2, 14700.0, Level(6.0));
    // Far beyond full scale, a square wave, and values that are no numbers.
    Samples wild = Sine(kPcmRate / 4, 50.0, 1.0);
    for (float& v : wild)
        v = v > 0 ? 1e6f : -1e6f;
    wild[1000] = std::numeric_limits<float>::infinity();
    wild[1001] = -std::numeric_limits<float>::infinity();
    wild[2000] = std::numeric_limits<float>::quiet_NaN();
    for (double ceiling : {-1.0, 0.0, -6.0}) {
        for (const Samples* in : {&quarter, &music, &noise, &highTone, &std::as_const(wild)}) {
            SCOPED_TRACE(testing::Message() << "ceiling " << ceiling);
            const PcmBlock out = Limit(*in, ceiling);
            ASSERT_EQ(FrameCount(out), Frames(*in));
            const double peak = TruePeakDbtp(out);
            EXPECT_LE(peak, ceiling);
            EXPECT_GT(peak, ceiling - 1.0);
            EXPECT_LT(HighestSample(out), 32767);
        }
    }
}

TEST(Limiter, BelowTheCeilingOutputIsTheRoundedInput)
{
    // Well below: the interpolator is not even needed.
    const Samples quiet = Music(kPcmRate / 2, -20.0);
    EXPECT_EQ(Limit(quiet), Rounded(quiet));
    // Sample peaks just below the ceiling, a low tone (faded in and out over
    // 10 ms, as one that starts at once peaks between its first samples) whose
    // true peak is no higher: the detector looks, and finds nothing to do.
    const Samples close = Faded(Sine(kPcmRate / 2, 441.0, Level(-1.5)), kPcmRate / 100);
    EXPECT_EQ(Limit(close, -1.0), Rounded(close));
    // Rounding to nearest, halves to even.
    const Samples halves{0.5f, -0.5f, 1.5f, -1.5f, 2.5f, -2.5f, 1000.49f, -1000.51f};
    EXPECT_EQ(Limit(halves), (PcmBlock{0, 0, 2, -2, 2, -2, 1000, -1001}));
}

TEST(Limiter, GainMovesSmoothlyAndReleasesAfterATransient)
{
    // From quiet to 12 dB over the ceiling at once (the step itself has a true
    // peak 1 dB higher still), for a second.
    const std::int64_t onset = kPcmRate / 4;
    const Samples in = Concat({Sine(onset, 200.0, Level(-20.0)), Sine(kPcmRate, 200.0, Level(11.0))});
    const PcmBlock out = Limit(in);
    // The gain, where the input is large enough to tell it to 0.1 %: no steps
    // from one frame to the next (it comes down by 0.75 over the attack); once
    // down, no pumping on the steady tone (before its end, which peaks between
    // samples too), down by what it needs (12 dB and the margin), not much more.
    auto left = [&](std::int64_t i) { return static_cast<double>(in[static_cast<size_t>(2 * i)]); };
    auto gain = [&](std::int64_t i) { return out[static_cast<size_t>(2 * i)] / left(i); };
    double lowest = 1.0;
    double highest = 0.0;
    for (std::int64_t i = 1; i < Frames(in); ++i) {
        if (std::fabs(left(i)) >= 1000.0 && std::fabs(left(i - 1)) >= 1000.0) {
            EXPECT_LT(std::fabs(gain(i) - gain(i - 1)), 0.02) << "frame " << i;
        }
        if (i >= onset + kPcmRate / 4 && i < Frames(in) - kPcmRate / 10 && std::fabs(left(i)) > 4000.0) {
            lowest = std::min(lowest, gain(i));
            highest = std::max(highest, gain(i));
        }
    }
    EXPECT_LT(20.0 * std::log10(highest / lowest), 0.03);
    EXPECT_LT(20.0 * std::log10(lowest), -12.0);
    EXPECT_GT(20.0 * std::log10(lowest), -12.6);

    // A quiet tone, 5 ms far above the ceiling (+26 dB), the quiet tone again:
    // untouched until the look-ahead reaches the burst, released for nearly
    // kHistoryFrames after it but no longer; and a limiter started
    // kHistoryFrames before the last frame it touches still sees it.
    const std::int64_t history = TTruePeakLimiter::kHistoryFrames;
    const std::int64_t burstAt = kPcmRate / 2;
    const std::int64_t burstEnd = burstAt + kPcmRate / 200 - 1;
    Samples tone = Sine(kPcmRate, 1000.0, Level(-12.0));
    std::for_each(tone.begin() + burstAt * kPcmChannels, tone.begin() + (burstEnd + 1) * kPcmChannels,
                  [](float& v) { v *= 20.0f; });
    const PcmBlock limited = Limit(tone);
    const PcmBlock rounded = Rounded(tone);
    EXPECT_LE(TruePeakDbtp(limited), -1.0);
    const std::int64_t before = burstAt - TTruePeakLimiter::kLookaheadFrames;
    EXPECT_EQ(FramesFrom(limited, 0, before), FramesFrom(rounded, 0, before));
    std::int64_t touched = Frames(tone) - 1;
    while (touched > 0 && FramesFrom(limited, touched, 1) == FramesFrom(rounded, touched, 1))
        --touched;
    EXPECT_GT(touched, burstEnd + history / 2);
    EXPECT_LE(touched, burstEnd + history);
    const std::int64_t from = touched - 20;
    const Samples fromThere(tone.begin() + (from - history) * kPcmChannels, tone.end());
    EXPECT_EQ(FramesFrom(Limit(fromThere), history), FramesFrom(limited, from));
}

// Frame t out is an exact function of the input from t - kHistoryFrames to
// t + kLookaheadFrames, however the input is cut: it lags by the look-ahead,
// and Finish hands on the rest and ends the stream.
TEST(Limiter, OutputDependsOnlyOnABoundedStretchOfInput)
{
    const std::int64_t history = TTruePeakLimiter::kHistoryFrames;
    const std::int64_t lookahead = TTruePeakLimiter::kLookaheadFrames;
    // Loud music, a lone burst and quiet music: the gain varies all the time,
    // and is still recovering after the burst.
    const Samples in = Concat({Music(kPcmRate / 2, 10.0), Music(6000, -6.0, 3), Noise(300, 15.0),
                               Music(kPcmRate / 4, -3.0, 4)});
    const PcmBlock full = Limit(in);
    for (const std::int64_t chunk : std::initializer_list<std::int64_t>{1, 7, 64, 1000, 9000, Frames(in)})
        EXPECT_EQ(Limit(in, -1.0, chunk), full) << "chunk " << chunk;

    for (const std::int64_t total : {std::int64_t{0}, std::int64_t{1}, lookahead - 1, lookahead, lookahead + 1,
                                     std::int64_t{3000}}) {
        TTruePeakLimiter limiter(-1.0);
        PcmBlock out;
        std::int64_t pushed = 0;
        for (std::int64_t chunk : {1, 100, 500, 4000}) {
            const std::int64_t n = std::min(chunk, total - pushed);
            limiter.Push(in.data() + pushed * kPcmChannels, n, out);
            pushed += n;
            EXPECT_EQ(FrameCount(out), std::max<std::int64_t>(0, pushed - lookahead));
        }
        limiter.Finish(out);
        EXPECT_EQ(FrameCount(out), total);
        PcmBlock again;   // a stream of its own
        limiter.Push(in.data(), Frames(in), again);
        limiter.Finish(again);
        EXPECT_EQ(again, full) << "after " << total;
    }

    // A limiter started kHistoryFrames before a frame (or at the beginning)
    // gives that frame and all after it bit for bit.
    const std::int64_t afterBurst = kPcmRate / 2 + 6000 + 300 + 200;
    for (std::int64_t from : {std::int64_t{0}, std::int64_t{100}, history - 1, history, history + 1,
                              std::int64_t{15000}, afterBurst, Frames(in) - 50}) {
        const std::int64_t start = std::max<std::int64_t>(0, from - history);
        const PcmBlock warm = Limit(Samples(in.begin() + start * kPcmChannels, in.end()), -1.0, 777);
        EXPECT_EQ(FramesFrom(warm, from - start), FramesFrom(full, from)) << "from " << from;
    }
    // Started too late, it does not know the burst is still being released.
    const Samples late(in.begin() + (afterBurst - 150) * kPcmChannels, in.end());
    EXPECT_NE(FramesFrom(Limit(late), 150, 1000), FramesFrom(full, afterBurst, 1000));
    // Nor does anything after the look-ahead reach back: another ending leaves
    // the frames before it alone.
    const std::int64_t cut = kPcmRate / 3;
    const PcmBlock other = Limit(Concat({Samples(in.begin(), in.begin() + cut * kPcmChannels), Noise(2000, 20.0)}));
    EXPECT_EQ(FramesFrom(other, 0, cut - lookahead), FramesFrom(full, 0, cut - lookahead));
    EXPECT_NE(FramesFrom(other, cut - lookahead, 200), FramesFrom(full, cut - lookahead, 200));
}

// The medley's meter reads what libebur128 reads, in pieces or at once, on
// tones that fade in and out (a tone that starts or stops at full level rings
// between its first and last samples, which the meters read differently).
TEST(TruePeakMeter, ReadsTheTruePeakLibebur128Reads)
{
    for (const double frequency : {997.0, 11025.0, 15000.0}) {
        SCOPED_TRACE(frequency);
        // A tone over a slow swell, the right side at half the level.
        Samples tone(static_cast<size_t>(kPcmRate) * kPcmChannels);
        for (size_t i = 0; i < tone.size(); i += 2) {
            const auto at = static_cast<double>(i / 2);
            tone[i] = static_cast<float>(16384.0 * std::sin(2.0 * kPi * frequency * at / kPcmRate + 0.785)
                                         + 6553.0 * std::sin(0.013 * at));
            tone[i + 1] = tone[i] / 2.0f;
        }
        const PcmBlock pcm = Rounded(Faded(tone, 4410));
        TTruePeakMeter whole;
        whole.Add(pcm.data(), kPcmRate);
        EXPECT_NEAR(whole.TruePeak(), TruePeakDbtp(pcm), 0.1);
        TTruePeakMeter pieces;
        for (std::int64_t at = 0; at < kPcmRate; at += 1000)
            pieces.Add(pcm.data() + at * 2, std::min<std::int64_t>(1000, kPcmRate - at));
        EXPECT_EQ(pieces.TruePeak(), whole.TruePeak());
    }
    EXPECT_EQ(TTruePeakMeter().TruePeak(), -std::numeric_limits<double>::infinity());
    // A lone full-scale sample at the very end: its ring-out after it counts.
    PcmBlock click(200, 0);
    click[198] = kSampleMax;
    TTruePeakMeter last;
    last.Add(click.data(), 100);
    EXPECT_NEAR(last.TruePeak(), 0.0, 0.01);
}

} // namespace medlark
