#include "encode/CommandLine.h"
#include "encode/EncoderDefinitions.h"

#include "model/Error.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace medlark;
using namespace Qt::StringLiterals;

TEST(CommandLine, PlaceholdersExpandInOnePass)
{
    TVariables values{{u"TITLE"_s, QuotedTitle(u"My \"Best\" Song"_s)}, {u"input"_s, u"ignored"_s}};
    values.Set(u"INPUT"_s, QuoteArgument(u"/a b/x.wav"_s));
    values.Set(u"OUTPUT"_s, QuoteArgument(u"/p/x.m4a"_s));
    // The job's source replaces the value given under that name, whatever its case.
    ASSERT_EQ(values.Items().size(), 3u);
    EXPECT_EQ(values.Value(u"Input"_s), u"\"/a b/x.wav\"");
    EXPECT_EQ(ExpandPlaceholders(u"./addon/q.exe <INPUT> <OUTPUT>"_s, values),
              u"./addon/q.exe \"/a b/x.wav\" \"/p/x.m4a\"");
    EXPECT_EQ(ExpandPlaceholders(u"-t <title> <output>"_s, values), u"-t \"My \"\"Best\"\" Song\" \"/p/x.m4a\"");
    EXPECT_EQ(ExpandPlaceholders(u"a<MISSING>b"_s, values), u"ab");
    EXPECT_EQ(ExpandPlaceholders(u"x <TITLE"_s, values), u"x ");           // unterminated: dropped
    EXPECT_EQ(ExpandPlaceholders(u"<<INPUT>"_s, values), u"");              // "<" belongs to the name
    EXPECT_EQ(ExpandPlaceholders(u"no placeholders > here"_s, values), u"no placeholders > here");
    // A value is inserted as it is, never expanded again.
    const TVariables tricky{{u"TITLE"_s, u"<INPUT>"_s}, {u"INPUT"_s, u"secret"_s}};
    EXPECT_EQ(ExpandPlaceholders(u"<TITLE>"_s, tricky), u"<INPUT>");
    // A value holding "=" or a line break stays whole.
    const TVariables whole{{u"CHAPTERS"_s, QuoteArgument(u"/m/a=b\nc.ffmetadata"_s)}};
    EXPECT_EQ(ExpandPlaceholders(u"x <CHAPTERS>"_s, whole), u"x \"/m/a=b\nc.ffmetadata\"");
}

TEST(CommandLine, SplitFollowsTheQuotingItWasWrittenWith)
{
    EXPECT_EQ(SplitCommandLine(u"  prog   a\tb  "_s), (QStringList{u"prog"_s, u"a"_s, u"b"_s}));
    EXPECT_EQ(SplitCommandLine(u"prog \"a b\" \"\" x\"y z\""_s),
              (QStringList{u"prog"_s, u"a b"_s, u""_s, u"xy z"_s}));
    EXPECT_EQ(SplitCommandLine(u"prog \"say \"\"hi\"\"\""_s), (QStringList{u"prog"_s, u"say \"hi\""_s}));
    EXPECT_TRUE(SplitCommandLine(u"   "_s).isEmpty());
    EXPECT_EQ(QuotedTitle(u"a \"b\"\r\nc"_s), u"\"a \"\"b\"\"  c\"");

    // Whatever a title or path holds, quoting and splitting give it back whole.
    for (const QString& hostile : {u"My \"Best\" Song"_s, u"$(touch x); rm -rf / &"_s, u"back\\slash\\"_s,
                                   u"new\nline"_s, u"<script>alert('x')</script>"_s, u"\"\""_s, u"\""_s,
                                   u"  spaced  "_s, u"日本語 のタイトル"_s, QString()}) {
        const QStringList args = SplitCommandLine(u"/addon/enc.sh "_s + QuoteArgument(hostile) + u" tail"_s);
        ASSERT_EQ(args.size(), 3) << hostile.toStdString();
        EXPECT_EQ(args[1], hostile);
        EXPECT_EQ(args[2], u"tail");
    }
}

TEST(EncoderDefinitions, LookupsAndTheCompressionMenu)
{
    QTemporaryDir dir;
    const QString addon = dir.path() + u"/addon/"_s;
    QDir().mkpath(addon);
    QFile inf(addon + u"encoder.inf"_s);
    ASSERT_TRUE(inf.open(QIODevice::WriteOnly));
    inf.write("\xEF\xBB\xBF[encoders]\r\na.exe=A\r\n; comment\r\n\r\nb.exe = B \r\nno equals\r\nc.exe=C=see\r\n"
              "[EXTENSION]\r\nA.EXE=.m4a\r\nc.exe=ogg\r\n[PARAMETER-MD]\r\nc.exe=<INPUT> -o <OUTPUT>\r\n");
    inf.close();
    for (const char* exe : {"a.exe", "c.exe"}) {
        QFile f(addon + QString::fromLatin1(exe));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }

    const TEncoderDefinitions d(addon + u"encoder.inf"_s);
    EXPECT_EQ(d.GetEncoders(u"ENCODERS"_s), (QStringList{u"a.exe=A"_s, u"b.exe=B"_s, u"no equals"_s, u"c.exe=C=see"_s}));
    EXPECT_EQ(d.GetEncoderExe(3), u"c.exe");
    EXPECT_EQ(d.GetEncoderExe(2), u"");
    EXPECT_EQ(d.GetEncoderExtension(u"a.exe"_s), u".m4a");
    EXPECT_EQ(d.GetEncoderExtension(u"b.exe"_s), u"");
    EXPECT_EQ(d.GetParam(u"C.EXE"_s, u"md"_s), u"<INPUT> -o <OUTPUT>");
    EXPECT_EQ(d.GetParam(u"c.exe"_s, u"HI"_s), u"");
    try {
        d.GetEncoderExe(4);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.Message(), u"リストのインデックスが範囲を超えています (4)");
    }

    // Only encoders whose executable is there; tags keep their line index.
    const auto items = CompressionMenuItems(addon);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].Caption, u"A");
    EXPECT_EQ(items[0].Tag, 0);
    EXPECT_EQ(items[1].Caption, u"C=see");
    EXPECT_EQ(items[1].Tag, 3);
    EXPECT_EQ(items[1].Executable, u"c.exe");
    EXPECT_EQ(FindCompressionItem(addon, u"C=see"_s), 3);
    EXPECT_EQ(FindCompressionItem(addon, u"a.exe"_s), 0);
    EXPECT_EQ(FindCompressionItem(addon, u"B"_s), -1);
    EXPECT_EQ(FindCompressionItem(addon, u"a"_s), -1);   // captions match exactly
    EXPECT_TRUE(CompressionMenuItems(dir.path() + u"/nothing/"_s).empty());

    EXPECT_EQ(QualityCode(1), u"LO");
    EXPECT_EQ(QualityCode(5), u"MD");
    EXPECT_EQ(QualityCode(10), u"HI");
}

// The shipped definitions name executables that ship beside them.
TEST(EncoderDefinitions, ShippedAddonsAreComplete)
{
    const QString addon = QStringLiteral(MEDLARK_SOURCE_DIR "/addon/");
    const auto items = CompressionMenuItems(addon);
    ASSERT_EQ(items.size(), 4u);
    const TEncoderDefinitions d(addon + u"encoder.inf"_s);
    for (const auto& item : items) {
        const QString exe = d.GetEncoderExe(item.Tag);
        EXPECT_EQ(item.Executable, exe);
        EXPECT_TRUE(QFileInfo(addon + exe).isExecutable()) << exe.toStdString();
        EXPECT_TRUE(d.GetEncoderExtension(exe).startsWith(u'.'));
        for (const char* q : {"LO", "MD", "HI"})
            EXPECT_TRUE(d.GetParam(exe, QString::fromLatin1(q)).contains(u"<OUTPUT>"_s));
    }
    EXPECT_EQ(d.GetEncoderExe(0), QString::fromLatin1(kDefaultEncoder));
    EXPECT_EQ(d.GetEncoderExtension(QString::fromLatin1(kDefaultEncoder)), QString::fromLatin1(kDefaultExtension));
}
