#include "outputs/HtmlBuilder.h"

#include "model/Error.h"
#include "model/IniText.h"
#include "outputs/TextFile.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace medlark {

using namespace Qt::StringLiterals;

namespace {

QString WithSeparator(const QString& dir)
{
    return dir.endsWith(u'/') ? dir : dir + u'/';
}

// The lines of a template file, decoded by its byte-order mark.
QStringList TemplateLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw OpenFileError(path, file.errorString());
    static const QRegularExpression breaks(QStringLiteral("\r\n|\r|\n"));
    QStringList lines = DecodeText(file.readAll()).split(breaks);
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

QString HtmlEscape(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'&': out += u"&amp;"_s; break;
        case u'<': out += u"&lt;"_s; break;
        case u'>': out += u"&gt;"_s; break;
        case u'"': out += u"&quot;"_s; break;
        case u'\'': out += u"&#39;"_s; break;
        default: out += c;
        }
    }
    return out;
}

const QStringList& THTMLBuilder::AssetNames()
{
    static const QStringList names{u"jwplayer.flash.swf"_s, u"jwplayer.html5.js"_s, u"jwplayer.js"_s,
                                   u"jquery-2.0.3.min.js"_s, u"playing.png"_s, u"soundsheet.css"_s};
    return names;
}

THTMLBuilder::THTMLBuilder(const QString& baseDir, const QString& buildDir, TCrossFadeMode mode)
    : FBaseDir(WithSeparator(baseDir)), FBuildDir(WithSeparator(buildDir)), FRunMode(mode)
{
    FHTML = TemplateLines(FBaseDir + u"header.html"_s);
}

void THTMLBuilder::Write(const QString& title, const QString& soundFileName, const TVariables& vars)
{
    const QString templateName = FRunMode == cfmSingle ? u"single.html"_s : u"mixed.html"_s;
    QString block;
    for (const QString& line : TemplateLines(FBaseDir + templateName))
        block += line + u"\r\n"_s;

    const QString ident = QString::asprintf("snd%.02d", Fc++);
    const QString file = QDir(FBuildDir).relativeFilePath(soundFileName).replace(u'\\', u'/');
    block.replace(u"<!--IDENT-->"_s, ident);
    block.replace(u"<!--FILE-->"_s, HtmlEscape(file));
    block.replace(u"<!--TITLE-->"_s, HtmlEscape(title));
    for (const auto& [name, value] : vars.Items())
        block.replace(u"<!--"_s + name + u"-->"_s, HtmlEscape(value));
    FHTML << block;
}

void THTMLBuilder::Publish(const QString& htmlFileName)
{
    FHTML << TemplateLines(FBaseDir + u"footer.html"_s);
    // Every item is followed by CR LF; a block already ends with one, so an
    // empty line follows each block.
    SaveUtf8Lines(FHTML, FBuildDir + htmlFileName);
    for (const QString& asset : AssetNames())
        QFile::copy(FBaseDir + asset, FBuildDir + asset);   // never over an existing file
}

} // namespace medlark
