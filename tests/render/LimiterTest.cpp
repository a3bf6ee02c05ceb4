#include "render/TruePeakLimiter.h"

#include "model/Error.h"
#include "render/Loudness.h"

#include <ebur128.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

namespace medlark {

namespace {

using Samples = std::vector<float>;   // interleaved stereo, 16-bit scale

constexpr double kPi = std::numbers::pi;
constexpr double kFullScale = 32768.0;

std::int64_t Frames(const Samples& s)
{
    return static_cast<std::int64_t>(s.size()) / kPcmChannels;
}

double Level(double db)
{
    return kFullScale * std::pow(10.0, db / 20.0);
}

// A sine on both channels (the right one a quarter turn on).
Samples Sine(std::int64_t frames, double hz, double amplitude, double phase = 0.0)
{
    Samples s(static_cast<size_t>(frames * kPcmChannels));
    for (std::int64_t i = 0; i < frames; ++i) {
        const double w = 2.0 * kPi * hz * static_cast<double>(i) / kPcmRate + phase;
        s[static_cast<size_t>(2 * i)] = static_cast<float>(amplitude * std::sin(w));
        s[static_cast<size_t>(2 * i + 1)] = static_cast<float>(amplitude * std::sin(w + kPi / 2.0));
    }
    return s;
}

// The signal faded in and out over 10 ms each: a sound that starts at once
// has a true peak above its samples where it starts.
Samples Faded(Samples s)
{
    const std::int64_t fade = kPcmRate / 100;
    const std::int64_t frames = Frames(s);
    for (std::int64_t i = 0; i < std::min(fade, frames); ++i) {
        const float gain = static_cast<float>(0.5 - 0.5 * std::cos(kPi * static_cast<double>(i) / fade));
        for (int c = 0; c < kPcmChannels; ++c) {
            s[static_cast<size_t>(i * kPcmChannels + c)] *= gain;
            s[static_cast<size_t>((frames - 1 - i) * kPcmChannels + c)] *= gain;
        }
    }
    return s;
}

// Something like loud music: chords with overtones up to 15 kHz, a bass, a
// kick every 0.4 s and bright noise, its sample peak at peakDb.
Samples Music(std::int64_t frames, double peakDb, unsigned seed = 1)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    Samples s(static_cast<size_t>(frames * kPcmChannels));
    const double tones[] = {110.0, 277.2, 329.6, 440.0, 1318.5, 3951.1, 7040.0, 14700.0};
    double last = 0.0;
    for (std::int64_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kPcmRate;
        double left = 0.0;
        double right = 0.0;
        for (size_t k = 0; k < std::size(tones); ++k) {
            const double a = 1.0 / static_cast<double>(k + 1);
            left += a * std::sin(2.0 * kPi * tones[k] * t + static_cast<double>(k));
            right += a * std::sin(2.0 * kPi * tones[k] * 1.003 * t + 2.0 * static_cast<double>(k));
        }
        const double beat = std::fmod(t, 0.4);
        const double kick = 2.0 * std::sin(2.0 * kPi * 60.0 * beat) * std::exp(-beat * 12.0);
        const double white = noise(random);
        const double hiss = 0.6 * (white - last);
        last = white;
        s[static_cast<size_t>(2 * i)] = static_cast<float>(left + kick + hiss);
        s[static_cast<size_t>(2 * i + 1)] = static_cast<float>(right + kick - hiss);
    }
    float high = 0.0f;
    for (float v : s)
        high = std::max(high, std::fabs(v));
    const double gain = Level(peakDb) / high;
    for (float& v : s)
        v = static_cast<float>(v * gain);
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

// The true peak of both channels, as libebur128 measures it.
double TruePeakDbtp(const PcmBlock& pcm)
{
    ebur128_state* state = ebur128_init(kPcmChannels, kPcmRate, EBUR128_MODE_TRUE_PEAK);
    EXPECT_NE(state, nullptr);
    EXPECT_EQ(ebur128_add_frames_short(state, pcm.data(), static_cast<size_t>(FrameCount(pcm))), EBUR128_SUCCESS);
    double peak = 0.0;
    for (unsigned channel = 0; channel < kPcmChannels; ++channel) {
        double p = 0.0;
        EXPECT_EQ(ebur128_true_peak(state, channel, &p), EBUR128_SUCCESS);
        peak = std::max(peak, p);
    }
    ebur128_destroy(&state);
    return 20.0 * std::log10(peak);
}

int HighestSample(const PcmBlock& pcm)
{
    int high = 0;
    for (std::int16_t v : pcm)
        high = std::max(high, std::abs(static_cast<int>(v)));
    return high;
}

// lrint of each input sample from frame `from` on.
PcmBlock Rounded(const Samples& in, std::int64_t from = 0)
{
    PcmBlock out;
    for (size_t i = static_cast<size_t>(from * kPcmChannels); i < in.size(); ++i)
        out.push_back(static_cast<std::int16_t>(std::lrint(in[i])));
    return out;
}

PcmBlock FramesFrom(const PcmBlock& pcm, std::int64_t from, std::int64_t count = -1)
{
    const auto begin = pcm.begin() + from * kPcmChannels;
    return PcmBlock(begin, count < 0 ? pcm.end() : begin + count * kPcmChannels);
}

Samples Concat(std::initializer_list<Samples> parts)
{
    Samples s;
    for (const Samples& p : parts)
        s.insert(s.end(), p.begin(), p.end());
    return s;
}

} // namespace

TEST(Limiter, HoldsTheCeilingAgainstIntersampleOvers)
{
    // A quarter of the rate at 45 degrees: every sample 3 dB below the peak
    // between them, which is +3 dBTP.
    const Samples quarter = Sine(kPcmRate, kPcmRate / 4.0, Level(3.0), kPi / 4.0);
    ASSERT_LT(*std::max_element(quarter.begin(), quarter.end()), 32767.0f);
    const Samples music = Music(kPcmRate, 12.0);
    const Samples noise = Noise(kPcmRate / 2, 12.0);
    const Samples highTone = Sine(kPcmRate / 2, 14700.0, Level(6.0));
    for (double ceiling : {-1.0, 0.0, -6.0}) {
        for (const Samples* in : {&quarter, &music, &noise, &highTone}) {
            const PcmBlock out = Limit(*in, ceiling);
            ASSERT_EQ(FrameCount(out), Frames(*in));
            const double peak = TruePeakDbtp(out);
            EXPECT_LE(peak, ceiling) << "ceiling " << ceiling;
            // Limited, not silenced.
            EXPECT_GT(peak, ceiling - 1.0) << "ceiling " << ceiling;
            EXPECT_LT(HighestSample(out), 32767);
        }
    }
}

TEST(Limiter, NoSampleAtFullScaleWhateverComesIn)
{
    // Far beyond full scale, a square wave, and values that are no numbers.
    Samples wild = Sine(kPcmRate / 4, 50.0, 100.0 * kFullScale);
    for (float& v : wild)
        v = v > 0 ? 1e6f : -1e6f;
    wild[1000] = std::numeric_limits<float>::infinity();
    wild[1001] = -std::numeric_limits<float>::infinity();
    wild[2000] = std::numeric_limits<float>::quiet_NaN();
    const PcmBlock out = Limit(wild, 0.0);
    ASSERT_EQ(FrameCount(out), Frames(wild));
    EXPECT_LT(HighestSample(out), 32767);
    EXPECT_LE(TruePeakDbtp(out), 0.0);
    EXPECT_GT(HighestSample(out), 20000);
}

TEST(Limiter, BelowTheCeilingOutputIsTheRoundedInput)
{
    // Well below: the interpolator is not even needed.
    const Samples quiet = Music(kPcmRate / 2, -20.0);
    EXPECT_EQ(Limit(quiet), Rounded(quiet));
    // Sample peaks just below the ceiling, a low tone whose true peak is no
    // higher: the detector looks, and finds nothing to do.
    const Samples close = Faded(Sine(kPcmRate / 2, 441.0, Level(-1.5)));
    EXPECT_EQ(Limit(close, -1.0), Rounded(close));
    // Rounding to nearest, halves to even.
    const Samples halves{0.5f, -0.5f, 1.5f, -1.5f, 2.5f, -2.5f, 1000.49f, -1000.51f};
    EXPECT_EQ(Limit(halves), (PcmBlock{0, 0, 2, -2, 2, -2, 1000, -1001}));
}

TEST(Limiter, ReleasesAfterATransient)
{
    // A quiet tone, 5 ms far above the ceiling, the quiet tone again.
    const std::int64_t burstAt = kPcmRate / 2;
    const std::int64_t burst = kPcmRate / 200;
    Samples in = Sine(kPcmRate + kPcmRate / 2, 1000.0, Level(-12.0));
    for (std::int64_t i = burstAt; i < burstAt + burst; ++i)
        for (int c = 0; c < kPcmChannels; ++c)
            in[static_cast<size_t>(i * kPcmChannels + c)] *= 20.0f;   // +26 dB
    const PcmBlock out = Limit(in);
    EXPECT_LE(TruePeakDbtp(out), -1.0);
    // Untouched until the look-ahead reaches the burst, and again from 300 ms
    // after it.
    const std::int64_t before = burstAt - TTruePeakLimiter::kLookaheadFrames;
    EXPECT_EQ(FramesFrom(out, 0, before), FramesFrom(Rounded(in), 0, before));
    const std::int64_t after = burstAt + burst + FrameOfSeconds(0.3);
    EXPECT_EQ(FramesFrom(out, after), Rounded(in, after));
    // The gain is held for a while after the burst, rather than let go at once.
    const std::int64_t soon = burstAt + burst + FrameOfSeconds(0.02);
    EXPECT_NE(FramesFrom(out, soon, 100), FramesFrom(Rounded(in), soon, 100));
}

TEST(Limiter, GainMovesSmoothly)
{
    // From quiet to 12 dB over the ceiling at once (the step itself has a true
    // peak 1 dB higher still), for a second.
    const std::int64_t onset = kPcmRate / 4;
    const Samples in = Concat({Sine(onset, 200.0, Level(-20.0)), Sine(kPcmRate, 200.0, Level(11.0))});
    const PcmBlock out = Limit(in);
    // The gain, where the input is large enough to tell it to 0.1 %.
    double lastGain = 1.0;
    std::int64_t lastFrame = -1;
    double lowest = 1.0;
    double highest = 0.0;
    for (std::int64_t i = 0; i < Frames(in); ++i) {
        const double x = in[static_cast<size_t>(2 * i)];
        if (std::fabs(x) < 1000.0)
            continue;
        const double gain = out[static_cast<size_t>(2 * i)] / x;
        // No steps: from one frame to the next, the gain moves by little (it
        // comes down by 0.75 over the attack).
        if (lastFrame == i - 1) {
            EXPECT_LT(std::fabs(gain - lastGain), 0.02) << "frame " << i;
        }
        lastGain = gain;
        lastFrame = i;
        // Once down, the gain stays put: no pumping on a steady tone.
        // (It ends at once too, with another peak between samples.)
        if (i >= onset + kPcmRate / 4 && i < Frames(in) - kPcmRate / 10 && std::fabs(x) > 4000.0) {
            lowest = std::min(lowest, gain);
            highest = std::max(highest, gain);
        }
    }
    EXPECT_LT(20.0 * std::log10(highest / lowest), 0.03);
    // Down by what the tone needs (12 dB and the margin), not much more.
    EXPECT_LT(20.0 * std::log10(lowest), -12.0);
    EXPECT_GT(20.0 * std::log10(lowest), -12.6);
}

TEST(Limiter, OutputLagsByTheLookaheadAndFinishCatchesUp)
{
    const std::int64_t lookahead = TTruePeakLimiter::kLookaheadFrames;
    const Samples in = Music(3000, 6.0);
    for (std::int64_t total : {std::int64_t{0}, std::int64_t{1}, lookahead - 1, lookahead, lookahead + 1,
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
        // Finish ends the stream: what is pushed next is a stream of its own.
        PcmBlock again;
        limiter.Push(in.data(), Frames(in), again);
        limiter.Finish(again);
        EXPECT_EQ(again, Limit(in));
    }
}

TEST(Limiter, OutputDoesNotDependOnHowInputIsCut)
{
    const Samples in = Concat({Music(kPcmRate / 2, 9.0), Noise(kPcmRate / 10, 3.0), Music(kPcmRate / 3, -10.0, 5)});
    const PcmBlock whole = Limit(in, -1.0, Frames(in));
    for (std::int64_t chunk : {1, 7, 64, 1000, 4096, 9000})
        EXPECT_EQ(Limit(in, -1.0, chunk), whole) << "chunk " << chunk;
}

TEST(Limiter, OutputDependsOnlyOnABoundedStretchOfInput)
{
    const std::int64_t history = TTruePeakLimiter::kHistoryFrames;
    const std::int64_t lookahead = TTruePeakLimiter::kLookaheadFrames;
    // Loud music, a lone burst and quiet music: the gain varies all the time,
    // and is still recovering after the burst.
    const Samples burst = Noise(300, 15.0);
    const Samples in = Concat({Music(kPcmRate / 2, 10.0), Music(6000, -6.0, 3), burst, Music(kPcmRate / 4, -3.0, 4)});
    const PcmBlock full = Limit(in);
    ASSERT_EQ(FrameCount(full), Frames(in));
    const std::int64_t afterBurst = kPcmRate / 2 + 6000 + 300 + 200;
    // A limiter started kHistoryFrames before a frame gives that frame and all
    // after it bit for bit; one started from the beginning too.
    for (std::int64_t from : {std::int64_t{0}, std::int64_t{100}, history - 1, history, history + 1,
                              std::int64_t{15000}, afterBurst, Frames(in) - 50}) {
        const std::int64_t start = std::max<std::int64_t>(0, from - history);
        const Samples tail(in.begin() + start * kPcmChannels, in.end());
        const PcmBlock warm = Limit(tail, -1.0, 777);
        EXPECT_EQ(FramesFrom(warm, from - start), FramesFrom(full, from)) << "from " << from;
    }
    // Started too late, it does not know the burst is still being released.
    const Samples late(in.begin() + (afterBurst - 150) * kPcmChannels, in.end());
    EXPECT_NE(FramesFrom(Limit(late), 150, 1000), FramesFrom(full, afterBurst, 1000));
    // A lone burst in a quiet tone is released for nearly kHistoryFrames, but
    // no longer; and a limiter started kHistoryFrames before the last frame it
    // touches still sees it.
    const std::int64_t burstStart = 5000;
    Samples lone = Sine(20000, 1000.0, Level(-20.0));
    const Samples loud = Noise(100, 20.0, 9);
    std::copy(loud.begin(), loud.end(), lone.begin() + burstStart * kPcmChannels);
    const std::int64_t burstEnd = burstStart + Frames(loud) - 1;
    const PcmBlock limited = Limit(lone);
    const PcmBlock rounded = Rounded(lone);
    std::int64_t touched = -1;
    for (std::int64_t i = 0; i < Frames(lone); ++i)
        if (FramesFrom(limited, i, 1) != FramesFrom(rounded, i, 1))
            touched = i;
    EXPECT_LE(touched, burstEnd + history);
    EXPECT_GT(touched, burstEnd + history / 2);
    const std::int64_t from = touched - 20;
    const Samples fromThere(lone.begin() + (from - history) * kPcmChannels, lone.end());
    EXPECT_EQ(FramesFrom(Limit(fromThere), history), FramesFrom(limited, from));
    // Nor does anything after the look-ahead reach back: another ending leaves
    // the frames before it alone.
    const std::int64_t cut = kPcmRate / 3;
    const Samples otherEnd = Concat({Samples(in.begin(), in.begin() + cut * kPcmChannels), Noise(2000, 20.0)});
    const PcmBlock other = Limit(otherEnd);
    EXPECT_EQ(FramesFrom(other, 0, cut - lookahead), FramesFrom(full, 0, cut - lookahead));
    EXPECT_NE(FramesFrom(other, cut - lookahead, 200), FramesFrom(full, cut - lookahead, 200));
}

TEST(Limiter, CeilingMustBeAtMostFullScale)
{
    EXPECT_THROW(TTruePeakLimiter(0.5), Error);
    EXPECT_THROW(TTruePeakLimiter(std::numeric_limits<double>::quiet_NaN()), Error);
    EXPECT_THROW(TTruePeakLimiter(-100.0), Error);
    EXPECT_NO_THROW(TTruePeakLimiter(0.0));
    EXPECT_NO_THROW(TTruePeakLimiter(-60.0));
}

// The medley's meter reads what libebur128 reads, in pieces or at once, on
// tones that fade in and out (a tone that starts or stops at full level rings
// between its first and last samples, which the meters read differently).
TEST(TruePeakMeter, ReadsTheTruePeakLibebur128Reads)
{
    for (const double frequency : {997.0, 11025.0, 15000.0}) {
        SCOPED_TRACE(frequency);
        PcmBlock pcm(static_cast<size_t>(kPcmRate) * 2);
        for (std::int64_t i = 0; i < kPcmRate; ++i) {
            const double fade = std::min(1.0, static_cast<double>(std::min(i, kPcmRate - 1 - i)) / 4410.0);
            const double v = fade * (0.5 * std::sin(2 * std::numbers::pi * frequency * static_cast<double>(i) / kPcmRate + 0.785)
                                     + 0.2 * std::sin(0.013 * static_cast<double>(i)));
            pcm[static_cast<size_t>(2 * i)] = static_cast<std::int16_t>(std::lrint(v * 32767));
            pcm[static_cast<size_t>(2 * i + 1)] = static_cast<std::int16_t>(std::lrint(v * 0.5 * 32767));
        }
        TLoudnessMeter reference;
        reference.Add(pcm.data(), kPcmRate);
        TTruePeakMeter whole;
        whole.Add(pcm.data(), kPcmRate);
        EXPECT_NEAR(whole.TruePeak(), reference.Result().TruePeak, 0.1);
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
