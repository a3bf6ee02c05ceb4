// The live medley is the built one: every region rendered for listening holds
// the bytes a build writes at those positions.

#include "render/MedleyPreview.h"

#include "build/BuildJob.h"
#include "model/TrackList.h"

#include "Fixtures.h"
#include "build/TestBuild.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace medlark;
using namespace medlark::test;
using namespace Qt::StringLiterals;

namespace {

PcmBlock Built(const TrackList& list, const TMedleySettings& s, const QString& output)
{
    TBuildOptions o = TestOptions(output);
    o.Medley = s;
    TTestUser user;   // skips the tracks that cannot be opened or cut
    const TBuildOutcome outcome = RunBuildJob(o, list, user);
    EXPECT_TRUE(outcome.ThreadError.isEmpty()) << outcome.ThreadError.toStdString();
    return ReadWavPcm(output);
}

PcmBlock Render(TPcmProgram& program, std::int64_t from = 0)
{
    PcmBlock pcm;
    program.Render(from, [&](const std::int16_t* samples, std::int64_t frames) {
        pcm.insert(pcm.end(), samples, samples + frames * kPcmChannels);
        return true;
    });
    return pcm;
}

} // namespace

TEST(MedleyPreview, EveryRegionHoldsTheBytesTheBuildWrites)
{
    QTemporaryDir dir;
    const QString wav = SignalWav(12);
    const QString mp3 = Convert(wav, u"preview.mp3"_s, {u"-b:a"_s, u"128k"_s});
    ASSERT_FALSE(mp3.isEmpty());
    QFile broken(dir.filePath(u"broken.mp3"_s));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("no audio");
    broken.close();

    TrackList list;
    list.AddTrackFile(mp3)->SetTimes(1.0, 5.5);
    list.AddTrackFile(broken.fileName())->SetTimes(0.0, 3.0);   // cannot be opened: left out
    list.AddTrackFile(wav)->SetTimes(2.25, 2.9);                // shorter than the crossfade: its fade reaches back
    list.AddTrackFile(mp3)->SetTimes(6.0, 11.0);
    list.AddTrackFile(wav)->SetTimes(11.5, 20.0);               // runs past its source's end
    list.AddTrackFile(mp3)->SetTimes(30.0, 31.0);               // beyond the end: left out

    for (const TEnvelope envelope : {TEnvelope::Linear, TEnvelope::Sine}) {
        SCOPED_TRACE(EnvelopeNumber(envelope));
        const TMedleySettings settings{1.5, envelope, 0.5, 0.7, {}};
        const PcmBlock built = Built(list, settings, dir.filePath(u"medley.wav"_s));
        const std::vector<TMedleyEntry> entries = MedleyEntries(list);
        const TMedleyLayout layout = LayOutMedley(entries, settings);
        ASSERT_EQ(layout.Placed.size(), 4u);
        EXPECT_EQ(layout.Frames, FrameCount(built));

        // The play-through from the start, and from a frame in the middle.
        auto whole = MedleyProgram(entries, settings, layout, 0, layout.Frames);
        const PcmBlock all = Render(*whole);
        ASSERT_EQ(FrameCount(all), FrameCount(built));
        EXPECT_EQ(FirstMismatch(all, 0, built, 0, FrameCount(built)), -1);
        const std::int64_t middle = layout.Placed[2].At + 5000;
        const PcmBlock rest = Render(*whole, middle);
        ASSERT_EQ(FrameCount(rest), FrameCount(built) - middle);
        EXPECT_EQ(FirstMismatch(rest, 0, built, middle, FrameCount(rest)), -1);

        // Each join, and the left-out tracks have none.
        for (const int track : {0, 2, 3, 4}) {
            const auto window = JoinWindow(layout, track);
            ASSERT_TRUE(window) << track;
            auto join = MedleyProgram(entries, settings, layout, window->first, window->second);
            const PcmBlock heard = Render(*join);
            ASSERT_EQ(FrameCount(heard), window->second - window->first) << track;
            EXPECT_EQ(FirstMismatch(heard, 0, built, window->first, FrameCount(heard)), -1) << track;
        }
        EXPECT_FALSE(JoinWindow(layout, 1));
        EXPECT_FALSE(JoinWindow(layout, 5));
        const auto third = JoinWindow(layout, 3);
        EXPECT_EQ(third->first, layout.Placed[2].At - 3 * kPcmRate);
        EXPECT_EQ(third->second, layout.Placed[2].At + layout.Placed[2].Fade + 3 * kPcmRate);
    }
}

TEST(MedleyPreview, LevelledRegionsHoldTheBytesTheBuildWrites)
{
    // Gains that drive two tracks into the limiter, and matching: a join heard
    // from anywhere levels its first segment as the build did from its start.
    QTemporaryDir dir;
    const QString wav = SignalWav(12);
    const QString mp3 = Convert(wav, u"preview.mp3"_s, {u"-b:a"_s, u"128k"_s});
    ASSERT_FALSE(mp3.isEmpty());
    TrackList list;
    list.AddTrackFile(wav)->SetTimes(0.5, 6.5);
    list.AddTrackFile(mp3)->SetTimes(1.0, 7.0);
    list.AddTrackFile(wav)->SetTimes(4.0, 11.0);
    list.At(0).Times.Gain = 12.0;
    list.At(1).Times.Gain = -3.0;
    list.At(2).Times.Gain = 9.5;

    for (const bool match : {false, true}) {
        SCOPED_TRACE(match);
        TMedleySettings settings{1.5, TEnvelope::Sine, 0.5, 0.7, {match, -16.0, -1.5}};
        const PcmBlock built = Built(list, settings, dir.filePath(u"medley.wav"_s));
        const std::vector<TMedleyEntry> entries = MedleyEntries(list);
        const TMedleyLayout layout = LayOutMedley(entries, settings);
        ASSERT_EQ(layout.Frames, FrameCount(built));
        auto whole = MedleyProgram(entries, settings, layout, 0, layout.Frames);
        const PcmBlock all = Render(*whole);
        ASSERT_EQ(FrameCount(all), FrameCount(built));
        EXPECT_EQ(FirstMismatch(all, 0, built, 0, FrameCount(built)), -1);
        for (const std::int64_t from : {layout.Placed[1].At + 3 * kPcmRate, layout.Placed[2].At + 2 * kPcmRate + 17}) {
            const PcmBlock rest = Render(*whole, from);
            EXPECT_EQ(FirstMismatch(rest, 0, built, from, FrameCount(rest)), -1) << from;
        }
        for (const int track : {1, 2}) {
            const auto window = JoinWindow(layout, track);
            ASSERT_TRUE(window);
            auto join = MedleyProgram(entries, settings, layout, window->first, window->second);
            const PcmBlock heard = Render(*join);
            ASSERT_EQ(FrameCount(heard), window->second - window->first);
            EXPECT_EQ(FirstMismatch(heard, 0, built, window->first, FrameCount(heard)), -1) << track;
        }
    }
}
