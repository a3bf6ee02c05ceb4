// Loudness matching, the tracks' own gains and the limiter, as a build applies
// them: measured on what the build wrote, with libebur128.

#include "build/BuildJob.h"

#include "model/TrackList.h"
#include "render/Loudness.h"
#include "render/MedleyPreview.h"
#include "render/TruePeakLimiter.h"
#include "render/WavOutput.h"

#include <QTemporaryDir>

#include "Fixtures.h"
#include "TestFiles.h"
#include "build/TestBuild.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace medlark;
using namespace medlark::test;
using namespace Qt::StringLiterals;

namespace {

// Music-like material: a chord whose notes swell and fade, a beat of noise
// bursts, scaled so that its sample peak is `peak` of full scale. Peaks of
// such a mix sit between samples too.
QString MusicWav(const QTemporaryDir& dir, const QString& name, double seconds, double peak, unsigned seed)
{
    const auto frames = static_cast<std::int64_t>(seconds * kPcmRate);
    std::vector<double> mix(static_cast<size_t>(frames) * 2);
    std::uint32_t noise = seed;
    auto next = [&noise] {
        noise = noise * 1664525u + 1013904223u;
        return static_cast<double>(noise >> 8) / double(1 << 24) - 0.5;
    };
    constexpr double twoPi = 6.283185307179586;
    const double notes[] = {220.0 * (1 + seed % 3), 277.2, 329.6, 440.0, 1760.0, 5274.0};
    for (std::int64_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kPcmRate;
        double chord = 0;
        for (int k = 0; k < 6; ++k)
            chord += std::sin(twoPi * notes[k] * t + k) * (0.6 + 0.4 * std::sin(twoPi * (0.3 + 0.1 * k) * t)) / (1 + k);
        const double beat = std::fmod(t, 0.5) < 0.06 ? 2.0 * next() : 0.0;
        mix[static_cast<size_t>(2 * i)] = chord + beat;
        mix[static_cast<size_t>(2 * i + 1)] = chord * 0.8 + beat + 0.1 * next();
    }
    double top = 0;
    for (const double v : mix)
        top = std::max(top, std::abs(v));
    PcmBlock pcm(mix.size());
    for (size_t i = 0; i < mix.size(); ++i)
        pcm[i] = static_cast<std::int16_t>(std::lrint(mix[i] / top * peak * 32767.0));
    const QString path = dir.filePath(name);
    OutputFile file = CreateOutputFile(path);
    WriteHeader(file);
    file.Write(pcm.data(), ByteCount(pcm));
    FinishWav(file);
    return path;
}

TLoudness Measure(const PcmBlock& pcm, std::int64_t from, std::int64_t to)
{
    TLoudnessMeter meter;
    meter.Add(pcm.data() + from * kPcmChannels, to - from);
    return meter.Result();
}

// The frames of each heard segment that no fade touches.
std::vector<std::pair<std::int64_t, std::int64_t>> SoloParts(const TrackList& list, const TMedleySettings& settings)
{
    std::vector<std::pair<std::int64_t, std::int64_t>> parts;
    for (const TMedleyLayout::TPlaced& p : LayOutMedley(MedleyEntries(list), settings).Placed)
        parts.emplace_back(p.At + p.Fade, p.At + p.Frames - p.Fade);
    return parts;
}

PcmBlock Build(TBuildOptions options, const TrackList& list, TBuildOutcome* outcome = nullptr)
{
    TTestUser user;
    const TBuildOutcome done = RunBuildJob(options, list, user);
    EXPECT_TRUE(done.ThreadError.isEmpty()) << done.ThreadError.toStdString();
    if (outcome != nullptr)
        *outcome = done;
    return ReadWavPcm(options.OutputPath);
}

} // namespace

TEST(LoudnessBuild, MatchingBringsEverySegmentToTheTargetUnderTheCeiling)
{
    QTemporaryDir dir;
    TrackList list;
    // About 20 LU apart, the loudest at full scale with overs between samples.
    list.AddTrackFile(MusicWav(dir, u"quiet.wav"_s, 9, 0.06, 1))->SetTimes(0.5, 8.5);
    list.AddTrackFile(MusicWav(dir, u"loud.wav"_s, 9, 1.0, 2))->SetTimes(0.5, 8.5);
    list.AddTrackFile(MusicWav(dir, u"middle.wav"_s, 9, 0.3, 3))->SetTimes(1.0, 8.0);
    list.AddTrackFile(MusicWav(dir, u"silent.wav"_s, 5, 0.0, 4))->SetTimes(0.0, 4.0);

    TBuildOptions o = TestOptions(dir.filePath(u"matched.wav"_s));
    o.WriteJson = true;
    const PcmBlock plain = Build(o, list);
    const auto parts = SoloParts(list, o.Medley);
    ASSERT_EQ(parts.size(), 4u);
    const double spread = Measure(plain, parts[1].first, parts[1].second).Integrated
                        - Measure(plain, parts[0].first, parts[0].second).Integrated;
    ASSERT_GT(spread, 10.0);   // the material is what the test means it to be

    o.OutputPath = dir.filePath(u"matched.wav"_s);
    // A ceiling low enough that the peaks of every segment go past it.
    o.Medley.Loudness = {true, -14.0, -4.0};
    TBuildOutcome outcome;
    const PcmBlock matched = Build(o, list, &outcome);
    ASSERT_EQ(FrameCount(matched), FrameCount(plain));
    for (size_t k = 0; k < 3; ++k) {
        const TLoudness solo = Measure(matched, parts[k].first, parts[k].second);
        EXPECT_NEAR(solo.Integrated, -14.0, 1.0) << k;
    }
    // The silent track stays silent: no boost for what has no loudness.
    EXPECT_TRUE(Measure(matched, parts[3].first + 4410, parts[3].second).Silent());

    const TLoudness whole = Measure(matched, 0, FrameCount(matched));
    EXPECT_NEAR(whole.Integrated, -14.0, 1.0);
    EXPECT_LE(whole.TruePeak, -4.0);
    EXPECT_LT(*std::max_element(matched.begin(), matched.end()), kSampleMax);
    EXPECT_GT(*std::min_element(matched.begin(), matched.end()), kSampleMin);
    // The completion reports what was written: its loudness, and its true
    // peak by the limiter's detector (which reads noise bursts a little
    // higher than libebur128's shorter interpolator).
    ASSERT_TRUE(outcome.MedleyLoudness);
    EXPECT_NEAR(outcome.MedleyLoudness->Integrated, whole.Integrated, 0.01);
    TTruePeakMeter peak;
    peak.Add(matched.data(), FrameCount(matched));
    EXPECT_EQ(outcome.MedleyLoudness->TruePeak, peak.TruePeak());
    EXPECT_NEAR(outcome.MedleyLoudness->TruePeak, whole.TruePeak, 0.6);
    EXPECT_TRUE(MedleyLoudnessText(outcome).startsWith(u"メドレーの音量: −1"_s)) << MedleyLoudnessText(outcome).toStdString();

    // The track map carries each segment's gain and measured loudness at the end of its object.
    const QString json = QString::fromUtf8(ReadAll(dir.filePath(u"publish_261208_02/matched.json"_s)));
    EXPECT_EQ(json.count(u"\"gain\":"_s), 4);
    EXPECT_EQ(json.count(u"\"loudness\":"_s), 4);
    EXPECT_TRUE(json.contains(u"\"srcduration\":\"8.00\",\r\n    \"gain\":\""_s)) << json.toStdString();
    EXPECT_TRUE(json.contains(u"\"gain\":\"0.00\",\r\n    \"loudness\":\"-inf\"\r\n }\r\n]"_s)) << json.toStdString();
}

TEST(LoudnessBuild, ATrackGainChangesOnlyItsOwnTrack)
{
    QTemporaryDir dir;
    TrackList list;
    list.AddTrackFile(MusicWav(dir, u"a.wav"_s, 6, 0.5, 5))->SetTimes(0.5, 5.5);
    list.AddTrackFile(MusicWav(dir, u"b.wav"_s, 6, 0.9, 6))->SetTimes(0.5, 5.5);
    list.AddTrackFile(MusicWav(dir, u"c.wav"_s, 6, 0.7, 7))->SetTimes(0.5, 5.5);
    TBuildOptions o = TestOptions(dir.filePath(u"plain.wav"_s));
    o.WriteJson = true;
    const PcmBlock plain = Build(o, list);
    const QString plainJson = QString::fromUtf8(ReadAll(dir.filePath(u"publish_261208_01/plain.json"_s)));
    EXPECT_FALSE(plainJson.contains(u"gain"_s));   // the map of a build without levels is as it always was

    // Matching off with another target and ceiling: the same bytes.
    o.OutputPath = dir.filePath(u"off.wav"_s);
    o.Medley.Loudness = {false, -20.0, -3.0};
    EXPECT_EQ(Build(o, list), plain);

    list.At(1).Times.Gain = -6.0;
    o.OutputPath = dir.filePath(u"gain.wav"_s);
    TBuildOutcome outcome;
    const PcmBlock lowered = Build(o, list, &outcome);
    EXPECT_FALSE(outcome.MedleyLoudness);   // without matching nothing is measured
    ASSERT_EQ(FrameCount(lowered), FrameCount(plain));
    const TMedleyLayout layout = LayOutMedley(MedleyEntries(list), o.Medley);
    const TMedleyLayout::TPlaced& b = layout.Placed[1];
    // Before and after the track (and its crossfades), every byte as before.
    EXPECT_EQ(FirstMismatch(lowered, 0, plain, 0, b.At), -1);
    const std::int64_t after = b.At + b.Frames;
    EXPECT_EQ(FirstMismatch(lowered, after, plain, after, FrameCount(plain) - after), -1);
    // Its solo part 6 dB lower, sample by sample.
    const double gain = std::pow(10.0, -6.0 / 20.0);
    for (std::int64_t i = (b.At + b.Fade) * 2; i < (b.At + b.Frames - b.Fade) * 2; ++i)
        ASSERT_LE(std::abs(lowered[static_cast<size_t>(i)] - plain[static_cast<size_t>(i)] * gain), 0.5 + 1e-9) << i;
    const QString json = QString::fromUtf8(ReadAll(dir.filePath(u"publish_261208_03/gain.json"_s)));
    EXPECT_EQ(json.count(u"\"gain\":\"-6.00\""_s), 1);
    EXPECT_EQ(json.count(u"\"gain\":"_s), 1);
    EXPECT_FALSE(json.contains(u"loudness"_s));   // nothing was measured
}
