#include "ui/FormRandom.h"

#include "model/TrackList.h"
#include "render/PcmBlock.h"
#include "render/WavOutput.h"
#include "ui/DecimalSpinEdit.h"

#include <QFile>
#include <QRadioButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <set>
#include <tuple>

using namespace medlark;
using namespace Qt::StringLiterals;

TEST(FormRandom, RangesOfTheInPoint)
{
    std::set<double> starts;
    for (std::uint32_t seed = 0; seed < 4000; ++seed) {
        std::uint32_t state = seed * 2654435761u;
        const TRandomPick pick = PickSegment(200.0, true, 30, 10, state);
        EXPECT_EQ(pick.EndTime - pick.StartTime, 30.0);
        starts.insert(pick.StartTime);
    }
    EXPECT_EQ(*starts.begin(), 20.0);
    EXPECT_EQ(*starts.rbegin(), 149.0);
    EXPECT_EQ(starts.size(), 130u);   // every whole second from 20 to 149

    std::uint32_t state = 12345;
    for (int i = 0; i < 500; ++i) {
        const TRandomPick pick = PickSegment(200.0, false, 30, 10, state);
        EXPECT_EQ(pick.EndTime - pick.StartTime, 20.0);
        EXPECT_GE(pick.StartTime, 20.0);
        EXPECT_LE(pick.StartTime, 159.0);
        EXPECT_EQ(pick.StartTime, std::trunc(pick.StartTime));
    }
    // Longer than 80 % of the track: the in point stays at 0 or above.
    for (int i = 0; i < 200; ++i) {
        const TRandomPick pick = PickSegment(25.0, true, 30, 10, state);
        EXPECT_GE(pick.StartTime, 0.0);
        EXPECT_LE(pick.StartTime, 1.0);
        EXPECT_EQ(pick.EndTime, pick.StartTime + 25.0);
    }
    const TRandomPick empty = PickSegment(0.0, true, 30, 10, state);
    EXPECT_EQ(empty.StartTime, 0.0);
    EXPECT_EQ(empty.EndTime, 0.0);

    // The generator as stated.
    std::uint32_t s = 1;
    EXPECT_EQ(RandomBelow(s, 0), 0u);
    EXPECT_EQ(s, 134775814u);
    const std::uint32_t next = s * 134775813u + 1u;
    EXPECT_EQ(RandomBelow(s, 100), static_cast<std::uint32_t>((static_cast<std::uint64_t>(next) * 100) >> 32));
    EXPECT_EQ(s, next);
}

// Whatever the draw, the segment lies inside its track.
TEST(FormRandom, SegmentsStayInsideTheirTracks)
{
    for (const double duration : {25.0, 30.0, 8.0, 200.0, 30.5, 0.4}) {
        for (const auto& [fixed, seconds, percent] :
             {std::tuple{true, 30.0, 10.0}, std::tuple{false, 30.0, 100.0}, std::tuple{false, 30.0, 85.0},
              std::tuple{false, 30.0, 10.0}, std::tuple{true, 8.0, 10.0}}) {
            std::uint32_t state = 99;
            for (int i = 0; i < 2000; ++i) {
                const TRandomPick pick = PickSegment(duration, fixed, seconds, percent, state);
                ASSERT_GE(pick.StartTime, 0.0) << duration;
                ASSERT_LE(pick.EndTime, duration) << duration << " " << seconds << " " << percent;
                ASSERT_LE(pick.StartTime, pick.EndTime);
            }
        }
    }
    // The tracks: 30 s with 30 s fixed is the whole track; 25 s too.
    std::uint32_t state = 5;
    EXPECT_EQ(PickSegment(30.0, true, 30, 10, state).StartTime, 0.0);
    EXPECT_EQ(PickSegment(30.0, true, 30, 10, state).EndTime, 30.0);
    EXPECT_EQ(PickSegment(25.0, true, 30, 10, state).EndTime, 25.0);
}

TEST(FormRandom, GoGivesEveryOpenableEntryNewPoints)
{
    QTemporaryDir dir;
    const QString wav = dir.filePath(u"tone.wav"_s);
    {
        OutputFile file = CreateOutputFile(wav);
        WriteHeader(file);
        const PcmBlock pcm(static_cast<size_t>(200 * kPcmRate) * 2, 100);
        file.Write(pcm.data(), ByteCount(pcm));
        FinishWav(file);
    }
    const QString gone = dir.filePath(u"gone.wav"_s);
    QFile::copy(wav, gone);
    TrackList list;
    list.AddTrackFile(wav);
    list.AddTrackFile(gone)->SetTimes(1, 2);
    list.AddTrackFile(wav);
    QFile::remove(gone);

    TFormRandom dialog(nullptr, list);
    EXPECT_EQ(dialog.windowTitle(), u"おまかせ一括ランダム");
    EXPECT_TRUE(dialog.RadioParam1->isChecked());
    EXPECT_EQ(dialog.SpinParam1->value(), 30.0);
    EXPECT_EQ(dialog.SpinParam2->value(), 10.0);
    int seeds = 0;
    dialog.Seed = [&seeds] { return static_cast<std::uint32_t>(++seeds * 7777); };
    bool told = false;
    dialog.OnChanged = [&] { told = true; };
    dialog.AdvGlowButton1Click();
    EXPECT_TRUE(told);
    EXPECT_EQ(seeds, 3);   // reseeded before every entry
    for (int i : {0, 2}) {
        EXPECT_GE(list.At(i).Times.StartTime, 20.0);
        EXPECT_LE(list.At(i).Times.StartTime, 149.0);
        EXPECT_EQ(list.At(i).Times.EndTime, list.At(i).Times.StartTime + 30.0);
        EXPECT_FALSE(list.At(i).Caption.contains(u"Undefine"_s));
    }
    EXPECT_EQ(list.At(1).Times.StartTime, 1.0);   // the missing file keeps its points

    dialog.RadioParam2->setChecked(true);
    dialog.AdvGlowButton1Click();
    EXPECT_EQ(list.At(0).Times.EndTime - list.At(0).Times.StartTime, 20.0);
}
