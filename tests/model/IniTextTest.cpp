#include "model/IniText.h"
#include "model/NumberText.h"

#include <QStringEncoder>

#include <gtest/gtest.h>

using namespace medlark;
using namespace Qt::StringLiterals;

TEST(IniText, LineRulesAndCaseInsensitiveLookups)
{
    const TIniText ini = TIniText::FromText(
        u"stray=before any section\r\n"
        "[encoders]\n"
        "  a.exe = Caption A  \r"
        "; a comment\r\n"
        "\r\n"
        "no equals sign here\r\n"
        "c.exe=x=y\r\n"
        "\t[ EXTENSION ]\t\r\n"
        "QAAC.EXE=.m4a\r\n"
        "[Encoders]\r\n"
        "hidden.exe=second section of the same name\r\n"_s);
    EXPECT_EQ(ini.Lines(u"ENCODERS"_s), (QStringList{u"a.exe=Caption A"_s, u"no equals sign here"_s, u"c.exe=x=y"_s}));
    EXPECT_EQ(TIniText::NameOf(u"no equals sign here"_s), u"");
    EXPECT_EQ(TIniText::ValueOf(u"c.exe=x=y"_s), u"x=y");
    EXPECT_EQ(ini.Value(u"Encoders"_s, u"A.EXE"_s), u"Caption A");
    EXPECT_EQ(ini.Value(u"extension"_s, u"qaac.exe"_s), u".m4a");
    EXPECT_EQ(ini.Value(u"encoders"_s, u"hidden.exe"_s), u"");   // the second section is unreachable
    EXPECT_EQ(ini.Value(u"missing"_s, u"x"_s), u"");
    EXPECT_TRUE(ini.Lines(u"missing"_s).isEmpty());
}

TEST(IniText, DecodingFollowsTheByteOrderMarkThenUtf8ThenCp932)
{
    const QString text = u"[General]\r\nCompression=日本語\r\n"_s;
    const QByteArray utf8 = text.toUtf8();
    EXPECT_EQ(TIniText::FromBytes(utf8).Value(u"general"_s, u"compression"_s), u"日本語");
    EXPECT_EQ(TIniText::FromBytes("\xEF\xBB\xBF" + utf8).Value(u"general"_s, u"compression"_s), u"日本語");
    const QByteArray utf16 = QStringEncoder(QStringEncoder::Utf16LE).encode(text);
    EXPECT_EQ(TIniText::FromBytes("\xFF\xFE" + utf16).Value(u"general"_s, u"compression"_s), u"日本語");
    EXPECT_EQ(TIniText::FromUtf16Le(utf16).Value(u"general"_s, u"compression"_s), u"日本語");
    const QByteArray utf16be = QStringEncoder(QStringEncoder::Utf16BE).encode(text);
    EXPECT_EQ(TIniText::FromBytes("\xFE\xFF" + utf16be).Value(u"general"_s, u"compression"_s), u"日本語");
    // 日本語 in Shift_JIS / CP932 is not valid UTF-8.
    const QByteArray sjis = "[General]\r\nCompression=\x93\xfa\x96\x7b\x8c\xea\r\n";
    EXPECT_EQ(TIniText::FromBytes(sjis).Value(u"general"_s, u"compression"_s), u"日本語");
    // The project reader reads UTF-16 LE whatever the bytes are.
    EXPECT_TRUE(TIniText::FromUtf16Le(utf8).SectionNames().isEmpty());
}

TEST(IniText, WriterKeepsPlacesAndAppendsNewKeysAndSections)
{
    TIniText ini = TIniText::FromText(u"[Other]\r\nkeep=me\r\n[GENERAL]\r\nFoo = 1\r\nCrossDuration=3\r\n"_s);
    ini.SetValue(u"General"_s, u"crossduration"_s, u"6.5"_s);
    ini.SetValue(u"General"_s, u"EnvelopeType"_s, u"1"_s);
    ini.SetValue(u"Third"_s, u"x"_s, u"y"_s);
    EXPECT_EQ(ini.ToText(), u"[Other]\r\nkeep=me\r\n\r\n[GENERAL]\r\nFoo=1\r\nCrossDuration=6.5\r\nEnvelopeType=1\r\n\r\n"
                            "[Third]\r\nx=y\r\n\r\n"_s);
    const QByteArray bytes = ini.ToUtf16Le();
    EXPECT_TRUE(bytes.startsWith("\xFF\xFE[\0"));
    EXPECT_EQ(TIniText::FromUtf16Le(bytes).ToText(), ini.ToText());
    EXPECT_EQ(TIniText().ToUtf16Le(), QByteArray("\xFF\xFE"));
}

TEST(NumberText, FifteenSignificantDigitsAndExponentForm)
{
    EXPECT_EQ(FormatNumber(12), u"12");
    EXPECT_EQ(FormatNumber(83.45), u"83.45");
    EXPECT_EQ(FormatNumber(-1), u"-1");
    EXPECT_EQ(FormatNumber(0), u"0");
    EXPECT_EQ(FormatNumber(6.5), u"6.5");
    EXPECT_EQ(FormatNumber(0.1), u"0.1");
    EXPECT_EQ(FormatNumber(0.3), u"0.3");
    EXPECT_EQ(FormatNumber(1.0 / 3), u"0.333333333333333");
    EXPECT_EQ(FormatNumber(123456.789012345678), u"123456.789012346");
    EXPECT_EQ(FormatNumber(0.00001), u"0.00001");
    EXPECT_EQ(FormatNumber(0.000001), u"1E-6");
    EXPECT_EQ(FormatNumber(-0.0000015), u"-1.5E-6");
    EXPECT_EQ(FormatNumber(1e15), u"1E15");
    EXPECT_EQ(FormatNumber(999999999999999.0), u"999999999999999");
    EXPECT_EQ(FormatNumber(1.5e20), u"1.5E20");
    EXPECT_EQ(FormatNumber(65535), u"65535");
    for (double v : {0.1, 83.45, 59.9999, 3725.5, 1e-7, 12345.678901234, -0.5})
        EXPECT_EQ(ParseNumber(FormatNumber(v)), v);
}

TEST(NumberText, ParsingAcceptsDecimalsOnly)
{
    EXPECT_EQ(ParseNumber(u" 12.5 "_s), 12.5);
    EXPECT_EQ(ParseNumber(u"-1"_s), -1.0);
    EXPECT_EQ(ParseNumber(u"1E-6"_s), 1e-6);
    EXPECT_EQ(ParseNumber(u".5"_s), 0.5);
    EXPECT_EQ(ParseNumber(u"5."_s), 5.0);
    for (const QString& bad : {u"abc"_s, u""_s, u"1,5"_s, u"inf"_s, u"nan"_s, u"0x10"_s, u"1e999"_s, u"12abc"_s})
        EXPECT_FALSE(ParseNumber(bad).has_value()) << bad.toStdString();

    EXPECT_EQ(ParseInteger(u"5"_s), 5);
    EXPECT_EQ(ParseInteger(u" -12 "_s), -12);
    EXPECT_EQ(ParseInteger(u"0x1F"_s), 31);
    EXPECT_EQ(ParseInteger(u"$ff"_s), 255);
    for (const QString& bad : {u"7.0"_s, u""_s, u"x"_s, u"99999999999"_s, u"0x"_s})
        EXPECT_FALSE(ParseInteger(bad).has_value()) << bad.toStdString();
}
