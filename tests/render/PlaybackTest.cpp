// Playback and waveform summaries on the build's own decoding: what a feed
// hands on from frame n is what a segment cut at that frame holds, and the
// summary's peaks are plain minima and maxima of the decoded PCM.

#include "render/PlaybackFeed.h"
#include "render/WaveformSummary.h"

#include "Fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <random>
#include <thread>

using namespace medlark;
using namespace medlark::test;
using namespace Qt::StringLiterals;

namespace {

QString Mp3Fixture()
{
    return Convert(SignalWav(), u"playback.mp3"_s, {u"-b:a"_s, u"128k"_s});
}

// Everything a feed started at `from` delivers, read in uneven pieces as a
// sound output would.
PcmBlock ReadToEnd(TPlaybackFeed& feed, std::int64_t from)
{
    feed.Start(from);
    PcmBlock all;
    std::vector<std::int16_t> piece(4096 * kPcmChannels);
    std::mt19937 random(7);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!feed.AtEnd() && std::chrono::steady_clock::now() < deadline) {
        const std::int64_t got = feed.Read(piece.data(), 1 + static_cast<std::int64_t>(random() % 4096));
        if (got == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        all.insert(all.end(), piece.begin(), piece.begin() + got * kPcmChannels);
    }
    return all;
}

PcmBlock Cut(const QString& path, double start, double end)
{
    SourceStream source = OpenSourceStream(path);
    PcmBlock pcm;
    DecodeSegment(source, pcm, start, end);
    return pcm;
}

} // namespace

TEST(Playback, FramesAndSecondsRoundTrip)
{
    std::mt19937_64 random(1);
    for (int i = 0; i < 200000; ++i) {
        const std::int64_t frame = i < 100000 ? i : static_cast<std::int64_t>(random() % (24LL * 3600 * kPcmRate));
        const double t = SecondsOfFrame(frame);
        ASSERT_EQ(FrameOfSeconds(t), frame) << frame;
        ASSERT_LT(FrameOfSeconds(std::nextafter(t, 0.0)), std::max<std::int64_t>(frame, 1)) << frame;
    }
    EXPECT_EQ(FrameOfSeconds(-3.0), 0);
    EXPECT_EQ(FrameOfSeconds(std::nan("")), 0);
    EXPECT_EQ(FrameOfSeconds(83.4567), 3680440);   // Trunc(83.4567 x 44100)
}

// A feed started anywhere, and started again elsewhere before it finished,
// hands on exactly the frames a cut from there has, to the end of the file.
TEST(Playback, FeedDeliversTheFramesOfACutFromAnyFrame)
{
    const QString path = Mp3Fixture();
    ASSERT_FALSE(path.isEmpty());
    SourceStream source = OpenSourceStream(path);
    ASSERT_TRUE(source);
    const std::int64_t frames = FrameOfSeconds(source.Duration());
    TPlaybackFeed feed(FileProgram(std::move(source)), 8192);
    EXPECT_EQ(feed.Frames(), frames);

    for (const std::int64_t from : {std::int64_t{0}, std::int64_t{44100 * 3 + 17}, frames - 1000}) {
        const PcmBlock played = ReadToEnd(feed, from);
        const PcmBlock cut = Cut(path, SecondsOfFrame(from), 1.0e6);
        ASSERT_EQ(FrameCount(played), frames - from) << from;
        EXPECT_EQ(FirstMismatch(played, 0, cut, 0, FrameCount(played)), -1) << from;
    }

    // A new start throws away what was queued for the old one.
    feed.Start(1000);
    std::vector<std::int16_t> some(500 * kPcmChannels);
    while (feed.Read(some.data(), 500) == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const PcmBlock after = ReadToEnd(feed, 2 * kPcmRate);
    const PcmBlock cut = Cut(path, SecondsOfFrame(2 * kPcmRate), 1.0e6);
    ASSERT_EQ(FrameCount(after), frames - 2 * kPcmRate);
    EXPECT_EQ(FirstMismatch(after, 0, cut, 0, FrameCount(after)), -1);

    // Past the end there is nothing, and a halted feed is not at its end.
    EXPECT_TRUE(ReadToEnd(feed, frames + 10).empty());
    feed.Halt();
    EXPECT_FALSE(feed.AtEnd());
    EXPECT_EQ(feed.Read(some.data(), 500), 0);
}

// With a track's level the player hears, inside the segment, the frames a
// build levels, from wherever it starts; outside it, the same level.
TEST(Playback, ALevelledFileHoldsTheBuildsLevelledSegment)
{
    const QString path = SignalWav();
    const double in = 2.5;
    const double out = 6.25;
    for (const TSegmentLevel& level : {TSegmentLevel{-6.0, false, -1.0}, TSegmentLevel{10.0, true, -1.0}}) {
        SCOPED_TRACE(level.GainDb);
        PcmBlock segment;
        TLeveller leveller(level);
        const PcmBlock cut = Cut(path, in, out);
        leveller.Push(cut.data(), FrameCount(cut), segment);
        leveller.Finish(segment);
        ASSERT_EQ(FrameCount(segment), FrameCount(cut));
        if (level.Limit) {
            ASSERT_NE(segment, cut);   // the limiter was at work
        }

        auto program = LevelledFileProgram(OpenSourceStream(path), level, in, out);
        const std::int64_t first = FrameOfSeconds(in);
        for (const std::int64_t from : {std::int64_t{0}, first - 5, first, first + 7000}) {
            PcmBlock heard;
            program->Render(from, [&](const std::int16_t* samples, std::int64_t frames) {
                heard.insert(heard.end(), samples, samples + frames * kPcmChannels);
                return true;
            });
            const std::int64_t skip = std::max<std::int64_t>(0, from - first);
            ASSERT_GE(FrameCount(heard), first - from + FrameCount(segment)) << from;
            EXPECT_EQ(FirstMismatch(heard, first + skip - from, segment, skip, FrameCount(segment) - skip), -1) << from;
        }
        // Before the in point the file plays at the same gain.
        PcmBlock start;
        program->Render(0, [&](const std::int16_t* samples, std::int64_t frames) {
            start.insert(start.end(), samples, samples + frames * kPcmChannels);
            return FrameCount(start) < kPcmRate;
        });
        const PcmBlock head = Cut(path, 0.0, 0.5);
        const double gain = std::pow(10.0, level.GainDb / 20.0);
        if (!level.Limit) {
            EXPECT_EQ(start[1001], static_cast<std::int16_t>(std::lrint(head[1001] * gain)));
        }
    }
}

TEST(Playback, WaveformPeaksAreTheMinAndMaxOfTheDecodedPcm)
{
    ClearWaveformCache();
    const QString path = Mp3Fixture();
    ASSERT_FALSE(path.isEmpty());
    const PcmBlock pcm = Cut(path, 0, 1.0e6);

    std::shared_ptr<const TWaveformSummary> summary;
    {
        TWaveformLoader loader(path);
        while (!loader.Finished())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        summary = loader.Summary();
    }
    ASSERT_NE(summary, nullptr);
    ASSERT_TRUE(summary->Complete());
    EXPECT_EQ(summary->Frames(), FrameCount(pcm));
    EXPECT_EQ(summary->ReadyBlocks(), summary->Blocks());

    auto plain = [&](std::int64_t fromBlock, std::int64_t toBlock) {
        const auto first = pcm.begin() + fromBlock * kPeakBlockFrames * kPcmChannels;
        const auto last = pcm.begin() + std::min<std::int64_t>(toBlock * kPeakBlockFrames, FrameCount(pcm)) * kPcmChannels;
        const auto [lo, hi] = std::minmax_element(first, last);
        return TPeak{*lo, *hi};
    };
    for (std::int64_t b = 0; b < summary->Blocks(); ++b)
        ASSERT_EQ(summary->Peak(b, b + 1).second, plain(b, b + 1)) << b;

    // Columns of a whole view and of a zoomed one: neighbours meet, every
    // column has a block, and its peak is that of its frames.
    for (const auto& [from, to, columns] : {std::tuple<std::int64_t, std::int64_t, int>{0, summary->Frames(), 458},
                                            {100000, 100000 + 441 * 388, 388}}) {
        std::int64_t expectedStart = from / kPeakBlockFrames;
        for (int c = 0; c < columns; ++c) {
            const auto [b0, b1] = ColumnBlocks(from, to, columns, c);
            ASSERT_GE(b0, expectedStart - 1);
            ASSERT_GT(b1, b0);
            if (b0 >= expectedStart)
                expectedStart = b1;
            EXPECT_EQ(summary->Peak(b0, b1).second, plain(b0, b1)) << c;
        }
        EXPECT_EQ(expectedStart, (to + kPeakBlockFrames - 1) / kPeakBlockFrames);
    }

    // The same file again comes from the cache at once; a file that does not
    // decode ends without a summary.
    TWaveformLoader again(path);
    EXPECT_TRUE(again.Finished());
    EXPECT_EQ(again.Summary(), summary);
    TWaveformLoader missing(FixtureDir() + u"/none.mp3"_s);
    while (!missing.Finished())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(missing.Summary(), nullptr);
}

// Loading another track cancels the summary being made: a loader dropped early
// keeps nothing half-made, so the next one for the file starts over.
TEST(Playback, DroppingALoaderCancelsItsWork)
{
    ClearWaveformCache();
    const QString path = Convert(SignalWav(60), u"long.flac"_s, {});
    ASSERT_FALSE(path.isEmpty());
    {
        TWaveformLoader loader(path);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        ASSERT_FALSE(loader.Finished()) << "the summary was made before it could be cancelled";
    }
    TWaveformLoader next(path);
    EXPECT_FALSE(next.Finished()) << "a cancelled summary was kept";
    while (!next.Finished())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_NE(next.Summary(), nullptr);
    EXPECT_TRUE(next.Summary()->Complete());
    TWaveformLoader cached(path);
    EXPECT_TRUE(cached.Finished());
    EXPECT_EQ(cached.Summary(), next.Summary());
}
