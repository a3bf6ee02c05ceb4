#include "outputs/HtmlBuilder.h"

#include "model/Error.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "TestFiles.h"

#include <gtest/gtest.h>

using namespace medlark;
using namespace Qt::StringLiterals;

namespace {

class TemplateFolder : public testing::Test {
protected:
    void SetUp() override
    {
        base_ = dir_.path() + u"/template/"_s;
        build_ = dir_.path() + u"/publish_261208_01/"_s;
        QDir().mkpath(base_);
        QDir().mkpath(build_);
        Write(u"header.html"_s, "<html>\n<body>");   // LF ends, no final break
        Write(u"mixed.html"_s, "<div id=\"<!--IDENT-->\" data-json=\"<!--JSON-->\" data-offset=\"<!--OFFSET-->\">\r\n"
                               "<a href=\"<!--FILE-->\"><!--TITLE--></a>\r\n</div>\r\n");
        Write(u"single.html"_s, "<p id=\"<!--IDENT-->\"><!--TITLE--> <!--TITLE--> <!--FILE--></p>");
        Write(u"footer.html"_s, "</body>\r\n</html>\r\n");
        Write(u"soundsheet.css"_s, "p{}");
        Write(u"playing.png"_s, "png");
    }

    void Write(const QString& name, const QByteArray& bytes, const QString& folder = {})
    {
        QFile file((folder.isEmpty() ? base_ : folder) + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    static QByteArray Read(const QString& path) { return test::ReadAll(path); }

    QTemporaryDir dir_;
    QString base_;
    QString build_;
};

} // namespace

TEST_F(TemplateFolder, SingleModePageHasOneBlockPerTrack)
{
    THTMLBuilder html(base_, build_.chopped(1), cfmSingle);
    EXPECT_EQ(html.BuildDirectory(), build_);
    for (int i = 1; i <= 3; ++i)
        html.Write(QString::asprintf("Song %d", i), build_ + QString::asprintf("Track_%02d.m4a", i), {});
    html.Publish(u"soundsheet.html"_s);
    EXPECT_EQ(Read(build_ + u"soundsheet.html"_s),
              "\xEF\xBB\xBF<html>\r\n<body>\r\n"
              "<p id=\"snd01\">Song 1 Song 1 Track_01.m4a</p>\r\n\r\n"
              "<p id=\"snd02\">Song 2 Song 2 Track_02.m4a</p>\r\n\r\n"
              "<p id=\"snd03\">Song 3 Song 3 Track_03.m4a</p>\r\n\r\n"
              "</body>\r\n</html>\r\n");
    EXPECT_EQ(Read(build_ + u"playing.png"_s), "png");
    EXPECT_EQ(Read(build_ + u"soundsheet.css"_s), "p{}");
}

TEST_F(TemplateFolder, MedleyBlockGetsOffsetAndJsonAndEscapedValues)
{
    Write(u"soundsheet.css"_s, "mine", build_);   // an existing asset stays
    Write(u"soundsheet.html"_s, "old page", build_);
    THTMLBuilder html(base_, build_, cfmMixed);
    html.Write(u"<!--OFFSET--> & <!--FILE-->"_s, build_ + u"sub/mix \"1\" <b>.m4a"_s,
               {{u"OFFSET"_s, u"6.5"_s}, {u"JSON"_s, u"mix.json"_s}, {u"EXTRA"_s, u"<script>alert('x')</script>"_s}});
    ASSERT_EQ(html.Items().size(), 3);
    EXPECT_EQ(html.Items()[2],
              u"<div id=\"snd01\" data-json=\"mix.json\" data-offset=\"6.5\">\r\n"
              u"<a href=\"sub/mix &quot;1&quot; &lt;b&gt;.m4a\">&lt;!--OFFSET--&gt; &amp; &lt;!--FILE--&gt;</a>\r\n"
              u"</div>\r\n"_s);
    html.Publish(u"soundsheet.html"_s);
    EXPECT_EQ(Read(build_ + u"soundsheet.css"_s), "mine");
    EXPECT_TRUE(Read(build_ + u"soundsheet.html"_s).startsWith("\xEF\xBB\xBF<html>"));
    EXPECT_EQ(HtmlEscape(u"<script>alert(\"x\") & 'y'</script>"_s),
              u"&lt;script&gt;alert(&quot;x&quot;) &amp; &#39;y&#39;&lt;/script&gt;");
    EXPECT_EQ(HtmlEscape(u"Plain title 日本語"_s), u"Plain title 日本語");
}

TEST_F(TemplateFolder, MissingTemplatesRaiseTheOpenError)
{
    try {
        THTMLBuilder html(dir_.path() + u"/none"_s, build_, cfmMixed);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_TRUE(e.Message().startsWith(u"ファイル "_s + dir_.path() + u"/none/header.html は開けません。"_s))
            << e.what();
    }
    QFile::remove(base_ + u"footer.html"_s);
    THTMLBuilder html(base_, build_, cfmMixed);
    html.Write(QString(), build_ + u"a.m4a"_s, {});
    EXPECT_THROW(html.Publish(u"soundsheet.html"_s), Error);
    EXPECT_FALSE(QFileInfo::exists(build_ + u"soundsheet.html"_s));
    EXPECT_FALSE(QFileInfo::exists(build_ + u"playing.png"_s));
}

// The shipped templates keep every value out of script text.
TEST(ShippedTemplates, ValuesOnlyInTextAndAttributes)
{
    const QString base = QStringLiteral(MEDLARK_SOURCE_DIR "/template/");
    for (const char* name : {"header.html", "mixed.html", "single.html", "footer.html", "soundsheet.css", "playing.png"})
        EXPECT_TRUE(QFileInfo(base + QString::fromLatin1(name)).isFile()) << name;
    QFile footer(base + u"footer.html"_s);
    ASSERT_TRUE(footer.open(QIODevice::ReadOnly));
    EXPECT_FALSE(footer.readAll().contains("<!--"));
    for (const char* name : {"mixed.html", "single.html"}) {
        QFile block(base + QString::fromLatin1(name));
        ASSERT_TRUE(block.open(QIODevice::ReadOnly));
        const QByteArray text = block.readAll();
        EXPECT_FALSE(text.contains("<script")) << name;
        EXPECT_TRUE(text.contains("\"<!--FILE-->\"")) << name;   // inside a quoted attribute
    }
}
