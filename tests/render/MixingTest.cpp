#include "render/Mixing.h"

#include "model/Error.h"
#include "render/WavOutput.h"

#include <QFile>
#include <QTemporaryDir>

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace medlark;
using namespace Qt::StringLiterals;

namespace {

PcmBlock Constant(std::int64_t frames, std::int16_t value)
{
    return PcmBlock(static_cast<size_t>(frames) * kPcmChannels, value);
}

PcmBlock ReadPcm(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll().mid(kWavHeaderBytes);
    PcmBlock pcm(static_cast<size_t>(bytes.size()) / 2);
    std::memcpy(pcm.data(), bytes.constData(), pcm.size() * 2);
    return pcm;
}

std::int16_t Left(const PcmBlock& pcm, std::int64_t frame) { return pcm[static_cast<size_t>(frame * 2)]; }

} // namespace

TEST(Mixing, GainsOfBothEnvelopes)
{
    const double linearIn[] = {0, 0.25, 0.5, 0.75, 1};
    for (int j = 0; j < 5; ++j) {
        EXPECT_EQ(FadeInGain(j, 5, TEnvelope::Linear), linearIn[j]);
        EXPECT_EQ(FadeOutGain(j, 5, TEnvelope::Linear), linearIn[4 - j]);
    }
    EXPECT_EQ(FadeInGain(0, 3, TEnvelope::Sine), 0.0);
    EXPECT_EQ(FadeInGain(1, 3, TEnvelope::Sine), 0.5);
    EXPECT_EQ(FadeInGain(2, 3, TEnvelope::Sine), 1.0);
    EXPECT_EQ(FadeOutGain(0, 3, TEnvelope::Sine), 1.0);
    EXPECT_EQ(FadeOutGain(1, 3, TEnvelope::Sine), 0.5);
    const double last = FadeOutGain(2, 3, TEnvelope::Sine);
    EXPECT_LT(last, 1e-30);
    EXPECT_EQ(ClampSample(32767.0L * last), 0);
    EXPECT_EQ(ClampSample(-32768.0L * last), 0);
    // Any other number of the settings file means no envelope.
    for (int number : {-1, 2}) {
        const TEnvelope envelope = EnvelopeOfNumber(number);
        EXPECT_EQ(envelope, TEnvelope::None);
        EXPECT_EQ(FadeInGain(0, 3, envelope), 1.0);
        EXPECT_EQ(FadeOutGain(2, 3, envelope), 1.0);
    }
    // An overlap of equal fades sums to 1 at every frame.
    for (std::int64_t i = 0; i < 1000; i += 37)
        EXPECT_NEAR(FadeInGain(i, 1000, TEnvelope::Sine) + FadeOutGain(i, 1000, TEnvelope::Sine), 1.0, 1e-15);
    // A one-frame fade divides 0 by 0.
    EXPECT_THROW(FadeInGain(0, 1, TEnvelope::Linear), Error);
    EXPECT_THROW(FadeOutGain(0, 1, TEnvelope::Sine), Error);
}

TEST(Mixing, SamplesRoundHalfToEvenAndSaturate)
{
    EXPECT_EQ(ClampSample(1000.0L * 0.25), 250);
    EXPECT_EQ(ClampSample(3 * 0.5L), 2);
    EXPECT_EQ(ClampSample(5 * 0.5L), 2);
    EXPECT_EQ(ClampSample(-3 * 0.5L), -2);
    EXPECT_EQ(ClampSample(3.5L), 4);
    EXPECT_EQ(ClampSample(40000.0L), 32767);
    EXPECT_EQ(ClampSample(-40000.0L), -32768);

    PcmBlock segment{10000, -10000, 5, 5};
    AddTail(segment, PcmBlock{30000, -30000, 1, 2, 99, 99});   // frames past the segment's end are dropped
    EXPECT_EQ(segment, (PcmBlock{32767, -32768, 6, 7}));
}

TEST(Mixing, CrossfadeBytesAreWholeTruncatedFrames)
{
    EXPECT_EQ(SetCrossfadeTime(0.3).Bytes, 52916);
    EXPECT_EQ(SetCrossfadeTime(6.0).Bytes, 1058400);
    EXPECT_EQ(SetCrossfadeTime(20000.0).Bytes, 3528000000LL);   // past 2^31 bytes, still exact
    EXPECT_EQ(CrossfadeFrames(SetCrossfadeTime(2.0), 176400), 44100);   // lowered to the segment's length
    EXPECT_EQ(CrossfadeFrames(SetCrossfadeTime(0.3), 10 * 176400), 13229);
}

TEST(Mixing, TwoSegmentsOverlapByTheCrossfade)
{
    QTemporaryDir dir;
    for (TEnvelope envelope : {TEnvelope::Linear, TEnvelope::Sine, TEnvelope::None}) {
        SCOPED_TRACE(EnvelopeNumber(envelope));
        const QString path = dir.filePath(u"medley.wav"_s);
        {
            OutputFile file = CreateOutputFile(path);
            WriteHeader(file);
            TMedleyMixer mixer(file, SetCrossfadeTime(2.0), envelope);
            for (std::int16_t value : {1000, 3000}) {
                const PcmBlock segment = Constant(10 * kPcmRate, value);
                mixer.Begin();
                mixer.Push(segment.data(), 4 * kPcmRate);
                mixer.Push(segment.data(), 6 * kPcmRate);
                EXPECT_EQ(mixer.End(), 10 * kPcmBytesPerSecond);
                EXPECT_EQ(FrameCount(mixer.Tail()), 2 * kPcmRate);
            }
            EXPECT_EQ(file.Position(), kWavHeaderBytes + 16 * kPcmBytesPerSecond);
            FinishWav(file);
        }
        const PcmBlock pcm = ReadPcm(path);
        ASSERT_EQ(ByteCount(pcm), 3175200);
        const std::int64_t second = 8 * kPcmRate;
        for (std::int64_t i : {0L, 1L, 22050L, 44099L, 88199L}) {
            const std::int16_t in1 = ClampSample(1000.0L * FadeInGain(i, 88200, envelope));
            const std::int16_t out1 = ClampSample(1000.0L * FadeOutGain(i, 88200, envelope));
            const std::int16_t in2 = ClampSample(3000.0L * FadeInGain(i, 88200, envelope));
            const std::int16_t out2 = ClampSample(3000.0L * FadeOutGain(i, 88200, envelope));
            EXPECT_EQ(Left(pcm, i), in1);
            EXPECT_EQ(Left(pcm, second + i), out1 + in2);   // the first's fade-out under the second's fade-in
            EXPECT_EQ(Left(pcm, 16 * kPcmRate + i), out2);
        }
        EXPECT_EQ(Left(pcm, 5 * kPcmRate), 1000);
        EXPECT_EQ(Left(pcm, 12 * kPcmRate), 3000);
    }
}

TEST(Mixing, ShortSegmentsAndEmptyOnes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"short.wav"_s);
    OutputFile file = CreateOutputFile(path);
    WriteHeader(file);
    TMedleyMixer mixer(file, SetCrossfadeTime(2.0), TEnvelope::Linear);

    // A 1 s segment under a 2 s crossfade is faded over its whole length and
    // the next segment begins where it began.
    const PcmBlock one = Constant(kPcmRate, 2000);
    mixer.Begin();
    mixer.Push(one.data(), kPcmRate);
    EXPECT_EQ(mixer.End(), kPcmBytesPerSecond);
    EXPECT_EQ(file.Position(), kWavHeaderBytes);
    const std::int64_t x = kPcmRate;
    const std::int64_t mid = kPcmRate / 2;   // faded in and out: both gains multiply
    EXPECT_EQ(Left(mixer.Tail(), mid),
              ClampSample(ClampSample(2000.0L * FadeInGain(mid, x, TEnvelope::Linear)) * FadeOutGain(mid, x, TEnvelope::Linear)));
    EXPECT_EQ(Left(mixer.Tail(), 0), 0);
    EXPECT_EQ(Left(mixer.Tail(), x - 1), 0);

    // An empty segment: nothing written, the position stays, and the tail
    // stays for the next segment (the previous fade-out is not cut off).
    const PcmBlock before = mixer.Tail();
    mixer.Begin();
    EXPECT_EQ(mixer.End(), 0);
    EXPECT_EQ(file.Position(), kWavHeaderBytes);
    EXPECT_EQ(mixer.Tail(), before);
    EXPECT_EQ(file.Length(), kWavHeaderBytes + kPcmBytesPerSecond);

    // One frame cannot be faded.
    const PcmBlock single = Constant(1, 100);
    mixer.Begin();
    mixer.Push(single.data(), 1);
    EXPECT_THROW(mixer.End(), Error);
}

// A segment of no frames (in and out point within one frame) is mixed as if
// its track were skipped: the previous fade-out reaches the next segment whole.
TEST(Mixing, AnEmptySegmentIsMixedAsASkippedTrack)
{
    QTemporaryDir dir;
    const PcmBlock a = Constant(3 * kPcmRate, 3000);
    const PcmBlock b = Constant(2 * kPcmRate, -2000);
    auto mix = [&](const QString& name, bool withEmpty) {
        OutputFile file = CreateOutputFile(dir.filePath(name));
        WriteHeader(file);
        TMedleyMixer mixer(file, SetCrossfadeTime(1.0), TEnvelope::Sine);
        mixer.Begin();
        mixer.Push(a.data(), FrameCount(a));
        mixer.End();
        if (withEmpty) {
            mixer.Begin();
            EXPECT_EQ(mixer.End(), 0);
        }
        mixer.Begin();
        mixer.Push(b.data(), FrameCount(b));
        mixer.End();
        FinishWav(file);
        file.Close();
        return medlark::test::ReadAll(dir.filePath(name));
    };
    const QByteArray skipped = mix(u"skipped.wav"_s, false);
    EXPECT_GT(skipped.size(), 4 * kPcmRate * 4);
    EXPECT_EQ(mix(u"empty.wav"_s, true), skipped);
}

// The mixer writes, piece by piece, exactly what the whole-segment step writes:
// fade-in, the previous tail added, fade-out, placement with the step back.
TEST(Mixing, StreamedMedleyEqualsTheWholeSegmentStep)
{
    QTemporaryDir dir;
    std::uint32_t seed = 7;
    auto random = [&seed](std::uint32_t below) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % below;
    };
    // Frame counts around a 0.5 s crossfade (22 050 frames): longer, between one
    // and two fades, shorter than the fade and than the previous fade, empty.
    const std::int64_t lengths[] = {100000, 30000, 22050, 5000, 0, 60000, 22051, 40000, 2};
    for (TEnvelope envelope : {TEnvelope::Linear, TEnvelope::Sine}) {
        SCOPED_TRACE(EnvelopeNumber(envelope));
        const QString streamed = dir.filePath(u"streamed.wav"_s);
        const QString whole = dir.filePath(u"whole.wav"_s);
        OutputFile a = CreateOutputFile(streamed);
        OutputFile b = CreateOutputFile(whole);
        WriteHeader(a);
        WriteHeader(b);
        TMedleyMixer mixer(a, SetCrossfadeTime(0.5), envelope);
        PcmBlock tail;
        for (const std::int64_t n : lengths) {
            PcmBlock segment(static_cast<size_t>(n) * 2);
            for (auto& v : segment)
                v = static_cast<std::int16_t>(static_cast<int>(random(65536)) - 32768);
            mixer.Begin();
            for (std::int64_t at = 0; at < n;) {
                const std::int64_t piece = std::min<std::int64_t>(n - at, 1 + random(30000));
                mixer.Push(segment.data() + at * 2, piece);
                at += piece;
            }
            mixer.End();

            const std::int64_t x = CrossfadeFrames(SetCrossfadeTime(0.5), n * 4);
            ApplyFadeIn(segment, x, envelope);
            AddTail(segment, tail);
            ApplyFadeOut(segment, x, envelope);
            PlaceSegment(b, segment, x, tail);
            ASSERT_EQ(mixer.Tail(), tail);
            ASSERT_EQ(a.Position(), b.Position());
        }
        FinishWav(a);
        FinishWav(b);
        a.Close();
        b.Close();
        QFile fa(streamed), fb(whole);
        ASSERT_TRUE(fa.open(QIODevice::ReadOnly) && fb.open(QIODevice::ReadOnly));
        const QByteArray bytesA = fa.readAll();
        EXPECT_GT(bytesA.size(), 200000);
        EXPECT_TRUE(bytesA == fb.readAll());
    }
}

TEST(Mixing, SingleModeShape)
{
    PcmBlock ten = Constant(10, 3000);
    ShapeSingle(ten, 4, TEnvelope::Linear);
    const std::int16_t expected[] = {0, 1000, 2000, 3000, 3000, 3000, 3000, 2000, 1000, 0};
    for (int j = 0; j < 10; ++j)
        EXPECT_EQ(Left(ten, j), expected[j]) << j;

    PcmBlock three = Constant(3, 3000);
    ShapeSingle(three, 4, TEnvelope::Linear);
    EXPECT_EQ(three, (PcmBlock{0, 0, 1000, 1000, 2000, 2000}));

    // Between X and 2X frames: the frames after the fade-in take the fade-out
    // gain of their place from the end.
    PcmBlock six = Constant(6, 3000);
    ShapeSingle(six, 4, TEnvelope::Linear);
    const std::int16_t six_expected[] = {0, 1000, 2000, 3000, 1000, 0};
    for (int j = 0; j < 6; ++j)
        EXPECT_EQ(Left(six, j), six_expected[j]) << j;

    PcmBlock untouched = Constant(10, -1234);
    ShapeSingle(untouched, 4, TEnvelope::None);
    EXPECT_EQ(untouched, Constant(10, -1234));
}
