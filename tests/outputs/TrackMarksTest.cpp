#include "outputs/TrackMarks.h"

#include "model/Error.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "TestFiles.h"

#include <gtest/gtest.h>

using namespace medlark;
using medlark::test::ReadAll;
using namespace Qt::StringLiterals;

namespace {


} // namespace

// Blank head 1 s, crossfade 6 s; Song A from 12.25 to 42.25, Song B from 5.5 to 65.5.
// Each line names the middle of the crossfade into its track (B is heard from
// 25 s on, at full level from 31 s: the line says 28 s); the JSON map keeps
// the written length before each segment.
TEST(TrackMarks, WorkedExampleByteForByte)
{
    // B is placed where A's fade-out begins, 6 s before A's end.
    const TTrackMark a{u"/music/Song A.mp3"_s, 12.25, 42.25, 176400, 5292000, 176400};
    const TTrackMark b{u"/music/Song B.wav"_s, 5.5, 65.5, 5468400, 10584000, 5468400 - 6 * 176400};
    TBookmarkText bookmark(6.0);
    TTrackMapJson json;
    for (const TTrackMark& m : {a, b}) {
        bookmark.Add(m);
        json.Add(m);
    }
    json.Close();

    QTemporaryDir dir;
    bookmark.SaveToFile(dir.filePath(u"mix.txt"_s));
    json.SaveToFile(dir.filePath(u"mix.json"_s));
    EXPECT_EQ(ReadAll(dir.filePath(u"mix.txt"_s)),
              QByteArray("\xEF\xBB\xBF") + u"[0:00:04.000] : Song A.mp3 <0:00:12.250～0:00:42.250>\r\n"
                                           u"[0:00:28.000] : Song B.wav <0:00:05.500～0:01:05.500>\r\n"_s.toUtf8());
    EXPECT_EQ(ReadAll(dir.filePath(u"mix.json"_s)),
              "\xEF\xBB\xBF"
              "[\r\n"
              "  {\r\n"
              "    \"track\":\"Song A\",\r\n"
              "    \"absbegin\":\"1.00\",\r\n"
              "    \"absduration\":\"30.00\",\r\n"
              "    \"srcbegin\":\"12.25\",\r\n"
              "    \"srcduration\":\"30.00\"\r\n"
              "  },\r\n"
              "  {\r\n"
              "    \"track\":\"Song B\",\r\n"
              "    \"absbegin\":\"31.00\",\r\n"
              "    \"absduration\":\"60.00\",\r\n"
              "    \"srcbegin\":\"5.50\",\r\n"
              "    \"srcduration\":\"60.00\"\r\n"
              " }\r\n"
              "]\r\n");
}

TEST(TrackMarks, EmptyAndSingleWriters)
{
    QTemporaryDir dir;
    TBookmarkText bookmark(10.0);
    bookmark.SaveToFile(dir.filePath(u"empty.txt"_s));
    EXPECT_EQ(ReadAll(dir.filePath(u"empty.txt"_s)), QByteArray("\xEF\xBB\xBF"));

    TTrackMapJson none;
    none.Close();
    EXPECT_EQ(none.Lines(), (QStringList{u"["_s, u"]"_s}));

    TTrackMapJson one;
    one.Add({u"/a/x.mp3"_s, 1.125, 2.0, 0, 0});
    one.Close();
    ASSERT_EQ(one.Lines().size(), 9);
    EXPECT_EQ(one.Lines()[5], u"    \"srcbegin\":\"1.13\",");
    EXPECT_EQ(one.Lines()[6], u"    \"srcduration\":\"0.88\"");   // 0.875, half away from zero
    EXPECT_EQ(one.Lines()[7], u" }");

    // Positions wrap at 24 hours; thousandths are truncated.
    TBookmarkText late(1.0);
    late.Add({u"/a/b.flac"_s, 59.9999, 0.3, static_cast<std::int64_t>(90000 * 176400LL), 0});
    EXPECT_EQ(late.Lines().front(), u"[1:00:00.500] : b.flac <0:00:59.999～0:00:00.299>");

    EXPECT_THROW(bookmark.SaveToFile(dir.filePath(u"missing/folder/x.txt"_s)), Error);
}

TEST(TrackMarks, TwoDecimalsRoundHalvesAwayFromZero)
{
    EXPECT_EQ(FormatTwoDecimals(1.125), u"1.13");
    EXPECT_EQ(FormatTwoDecimals(-1.125), u"-1.13");
    EXPECT_EQ(FormatTwoDecimals(0.0), u"0.00");
    EXPECT_EQ(FormatTwoDecimals(2.675), u"2.67");   // the double lies below 2.675
    EXPECT_EQ(FormatTwoDecimals(30.0), u"30.00");
    EXPECT_EQ(FormatTwoDecimals(0.005), u"0.01");   // the double lies above 0.005
    EXPECT_EQ(FormatTwoDecimals(99999.999), u"100000.00");

    // Far beyond a 64-bit count: still a plain decimal, never garbage.
    const QString huge = FormatTwoDecimals(1e308);
    EXPECT_TRUE(huge.startsWith(u"1000000000000000"_s)) << huge.toStdString();
    EXPECT_TRUE(huge.endsWith(u".00"_s)) << huge.toStdString();
    EXPECT_EQ(huge.size(), 309 + 3);
    EXPECT_EQ(FormatTwoDecimals(-1e20), u"-100000000000000000000.00");
    EXPECT_EQ(FormatTwoDecimals(9.2e15), u"9200000000000000.00");
    TTrackMapJson json;
    json.Add({u"/m/a.mp3"_s, 0, 1e308, 0, 176400});
    json.Close();
    for (const QString& line : json.Lines())
        EXPECT_FALSE(line.contains(u".-"_s)) << line.toStdString();
}

// Whatever the file is called, the map stays valid JSON and says the name.
TEST(TrackMarks, HostileNamesGiveValidJson)
{
    const QStringList names{u"Say \"Hi\""_s, u"back\\slash"_s, u"tab\there"_s, u"new\nline"_s, u"bell\x07"_s,
                            u"<img src=x onerror=alert(1)> & $(rm) 'q'"_s, u"日本語 \u2028 sep"_s};
    TTrackMapJson json;
    for (const QString& name : names)
        json.Add({u"/m/"_s + name + u".mp3"_s, 0, 1, 0, 176400});
    json.Close();
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json.Lines().join(u"\r\n"_s).toUtf8(), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    ASSERT_EQ(doc.array().size(), names.size());
    for (int i = 0; i < names.size(); ++i) {
        EXPECT_EQ(doc.array()[i].toObject()[u"track"_s].toString(), names[i]);
        EXPECT_EQ(doc.array()[i].toObject()[u"absduration"_s].toString(), u"1.00");
    }
    // A name with quotes: each is preceded by a backslash, nothing else changes.
    EXPECT_EQ(json.Lines()[2], u"    \"track\":\"Say \\\"Hi\\\"\",");

    TBookmarkText bookmark(0);
    bookmark.Add({u"/m/Say \"Hi\".mp3"_s, 0, 1, 0, 0});
    EXPECT_EQ(bookmark.Lines().front(), u"[0:00:00.000] : Say \"Hi\".mp3 <0:00:00.000～0:00:01.000>");
}
