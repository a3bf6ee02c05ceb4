#include "outputs/Chapters.h"

#include <gtest/gtest.h>

using namespace medlark;
using namespace Qt::StringLiterals;

namespace {

constexpr std::int64_t kSecond = 176400;

// A medley of tracks placed at the given seconds (blank head included), crossfade 4 s.
std::vector<TChapter> Chapters(const std::vector<std::pair<QString, double>>& placed, double totalSeconds)
{
    std::vector<TTrackMark> marks;
    for (const auto& [name, at] : placed) {
        TTrackMark mark;
        mark.SourcePath = u"/music/"_s + name + u".flac"_s;
        mark.PlacedBytes = static_cast<std::int64_t>(at * kSecond);
        marks.push_back(mark);
    }
    return MedleyChapters(marks, 4.0, static_cast<std::int64_t>(totalSeconds * kSecond));
}

} // namespace

// The first chapter is at 0:00, every later one in the middle of the crossfade
// into its track; the texts are whole seconds, with the hour from an hour on.
TEST(Chapters, StartsTextsAndLines)
{
    const auto chapters = Chapters({{u"One"_s, 1.0}, {u"Two"_s, 22.0}, {u"Three"_s, 3598.5}}, 3700.0);
    ASSERT_EQ(chapters.size(), 3u);
    EXPECT_EQ(chapters[0].Start, 0.0);
    EXPECT_EQ(chapters[1].Start, 24.0);
    EXPECT_EQ(chapters[2].Start, 3600.5);
    EXPECT_EQ(chapters[0].End, 24.0);
    EXPECT_EQ(chapters[2].End, 3700.0);
    EXPECT_EQ(ChapterLines(chapters), (QStringList{u"0:00 One"_s, u"0:24 Two"_s, u"1:00:00 Three"_s}));

    EXPECT_EQ(ChapterTimeText(59.999), u"0:59");
    EXPECT_EQ(ChapterTimeText(600), u"10:00");
    EXPECT_EQ(ChapterTimeText(3599.9), u"59:59");
    EXPECT_EQ(ChapterTimeText(3600 + 125.2), u"1:02:05");
    EXPECT_EQ(ChapterTimeText(36000), u"10:00:00");

    // A title with a line break stays on its line.
    const auto broken = Chapters({{u"a\nb"_s, 1.0}}, 30.0);
    EXPECT_EQ(ChapterLines(broken), QStringList{u"0:00 a b"_s});
}

TEST(Chapters, VideoSiteRules)
{
    EXPECT_TRUE(ChapterRuleBreaks(Chapters({{u"A"_s, 1}, {u"B"_s, 20}, {u"C"_s, 40}}, 60)).isEmpty());

    // Two chapters only.
    const QStringList two = ChapterRuleBreaks(Chapters({{u"A"_s, 1}, {u"B"_s, 20}}, 60));
    ASSERT_EQ(two.size(), 1);
    EXPECT_TRUE(two[0].contains(u"2 つ"_s)) << two[0].toStdString();

    // B starts at 0:22 and C at 0:31 (9 s); the last is 9 s long too.
    const QStringList shortOnes = ChapterRuleBreaks(Chapters({{u"A"_s, 1}, {u"B"_s, 20}, {u"C"_s, 29}, {u"D"_s, 50}}, 61));
    ASSERT_EQ(shortOnes.size(), 2) << shortOnes.join(u'\n').toStdString();
    EXPECT_TRUE(shortOnes[0].contains(u"チャプター 2「B」が 9 秒"_s)) << shortOnes[0].toStdString();
    EXPECT_TRUE(shortOnes[1].contains(u"チャプター 4「D」が 9 秒"_s)) << shortOnes[1].toStdString();

    // Exactly 10 s (counted as the site counts: whole seconds) is enough.
    EXPECT_TRUE(ChapterRuleBreaks(Chapters({{u"A"_s, 1}, {u"B"_s, 8}, {u"C"_s, 18.9}}, 30.5)).isEmpty());
    // A chapter that does not start at 0:00 is named.
    std::vector<TChapter> late{{5, 20, u"A"_s}, {20, 40, u"B"_s}, {40, 60, u"C"_s}};
    EXPECT_EQ(ChapterRuleBreaks(late).size(), 1);
}

// Milliseconds, each END the next START, and ffmetadata's escapes in titles.
TEST(Chapters, FfMetadataText)
{
    auto chapters = Chapters({{u"A=B;C#D\\E"_s, 1.0}, {u"日本語"_s, 22.002}}, 50.0);
    EXPECT_EQ(FfMetadata(chapters),
              QByteArray(";FFMETADATA1\n"
                         "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=24002\ntitle=A\\=B\\;C\\#D\\\\E\n"
                         "[CHAPTER]\nTIMEBASE=1/1000\nSTART=24002\nEND=50000\ntitle=")
                  + u"日本語"_s.toUtf8() + "\n");
}
