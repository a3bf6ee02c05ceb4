#include "model/TimeText.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace medlark;
using namespace Qt::StringLiterals;

TEST(TimeText, TimeCodeTruncatesTheExactValue)
{
    EXPECT_EQ(FormatTimeCode(0), u"0:00:00.000");
    EXPECT_EQ(FormatTimeCode(83.4567), u"0:01:23.456");
    EXPECT_EQ(FormatTimeCode(59.9999), u"0:00:59.999");   // never rounded up to the next second
    EXPECT_EQ(FormatTimeCode(3725.5), u"1:02:05.500");
    EXPECT_EQ(FormatTimeCode(1.001), u"0:00:01.000");
    // The doubles nearest 0.3 and 0.7 lie just below them.
    EXPECT_EQ(FormatTimeCode(0.3), u"0:00:00.299");
    EXPECT_EQ(FormatTimeCode(0.7), u"0:00:00.699");
    EXPECT_EQ(FormatTimeCode(0.1), u"0:00:00.100");
    EXPECT_EQ(FormatTimeCode(36000.7), u"10:00:00.699");
}

TEST(TimeText, TimeCodeWrapsAtADayAndShowsUnsetTimesAsZero)
{
    EXPECT_EQ(FormatTimeCode(90000), u"1:00:00.000");
    EXPECT_EQ(FormatTimeCode(86399.9995), u"23:59:59.999");
    EXPECT_EQ(FormatTimeCode(-1), u"0:00:00.000");
    EXPECT_EQ(FormatTimeCode(-250), u"0:00:00.000");
    EXPECT_EQ(FormatTimeCode(-0.5), u"0:00:00.000");
    EXPECT_EQ(FormatTimeCode(std::numeric_limits<double>::quiet_NaN()), u"0:00:00.000");
    EXPECT_TRUE(QRegularExpression(u"^\\d{1,2}:\\d\\d:\\d\\d\\.\\d{3}$"_s).match(FormatTimeCode(1e300)).hasMatch());
}

TEST(TimeText, SpanShowsOneDecimalOrQuestionMarks)
{
    EXPECT_EQ(FormatSpan(10, 22.5), u"12.5 sec.");
    EXPECT_EQ(FormatSpan(30, 30), u"0.0 sec.");
    EXPECT_EQ(FormatSpan(30, 20), u"??? sec.");
    EXPECT_EQ(FormatSpan(-1, -1), u"0.0 sec.");
    EXPECT_EQ(FormatSpan(5, -1), u"??? sec.");
    EXPECT_EQ(FormatSpan(0, 12.25), u"12.3 sec.");   // halves go up
    EXPECT_EQ(FormatSpan(0, 0.35), u"0.3 sec.");     // the double lies below 0.35
    EXPECT_EQ(FormatSpan(1, 60.96), u"60.0 sec.");
}

TEST(TimeText, TitleDropsFolderAndLastExtension)
{
    EXPECT_EQ(TrackTitle(u"/music/Song.mp3"_s), u"Song");
    EXPECT_EQ(TrackTitle(u"/music/Song.01.mp3"_s), u"Song.01");
    EXPECT_EQ(TrackTitle(u"/music/README"_s), u"README");
    EXPECT_EQ(TrackTitle(u"/music/.mp3"_s), u"");
    EXPECT_EQ(TrackTitle(u"/a.b/track"_s), u"track");   // a dot in a folder name is no extension
    EXPECT_EQ(TrackTitle(u"Song.wav"_s), u"Song");
}

TEST(TimeText, CaptionsCarryTheTitleAndTimesUnescaped)
{
    EXPECT_EQ(UndefinedCaption(u"/m/A & <B>.mp3"_s),
              u"<b>A & <B></b><br><font color=\"#999999\"><font size=\"2\">Undefine</font></font>");
    EXPECT_EQ(TimedCaption(u"/m/Song.mp3"_s, 83.4567, 3725.5),
              u"<b>Song</b><br><font color=\"#999999\"><font size=\"2\">0:01:23.456\uFF5E1:02:05.500</font></font>");
    EXPECT_EQ(TimedCaption(u"/m/.mp3"_s, -1, 2),
              u"<b></b><br><font color=\"#999999\"><font size=\"2\">0:00:00.000\uFF5E0:00:02.000</font></font>");
    // A title holding arg() markers is taken literally.
    EXPECT_EQ(TimedCaption(u"/m/%1 %2.mp3"_s, 0, 0),
              u"<b>%1 %2</b><br><font color=\"#999999\"><font size=\"2\">0:00:00.000\uFF5E0:00:00.000</font></font>");
}
