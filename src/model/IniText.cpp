#include "model/IniText.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace medlark {

using namespace Qt::StringLiterals;

QString TrimControls(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first].unicode() <= u' ')
        ++first;
    while (last > first && text[last - 1].unicode() <= u' ')
        --last;
    return text.mid(first, last - first);
}

QString DecodeText(const QByteArray& bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    if (bytes.startsWith("\xFF\xFE"))
        return QStringDecoder(QStringDecoder::Utf16LE).decode(bytes.mid(2));
    if (bytes.startsWith("\xFE\xFF"))
        return QStringDecoder(QStringDecoder::Utf16BE).decode(bytes.mid(2));

    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder cp932("Shift_JIS");
    if (cp932.isValid())
        return cp932.decode(bytes);
    return QString::fromLatin1(bytes);
}

TIniText TIniText::FromText(const QString& text)
{
    TIniText ini;
    Section* current = nullptr;
    qsizetype start = 0;
    const qsizetype n = text.size();
    while (start <= n) {
        qsizetype end = start;
        while (end < n && text[end] != u'\r' && text[end] != u'\n')
            ++end;
        const QString line = TrimControls(text.mid(start, end - start));
        if (end < n && text[end] == u'\r' && end + 1 < n && text[end + 1] == u'\n')
            ++end;
        start = end + 1;

        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']') && line.size() >= 2) {
            current = &ini.Add(TrimControls(line.mid(1, line.size() - 2)));
            continue;
        }
        if (current == nullptr)
            continue;
        const qsizetype eq = line.indexOf(u'=');
        current->lines << (eq < 0 ? line : TrimControls(line.left(eq)) + u'=' + TrimControls(line.mid(eq + 1)));
    }
    return ini;
}

TIniText TIniText::FromBytes(const QByteArray& bytes)
{
    return FromText(DecodeText(bytes));
}

TIniText TIniText::FromUtf16Le(const QByteArray& bytes)
{
    const QByteArray body = bytes.startsWith("\xFF\xFE") ? bytes.mid(2) : bytes;
    return FromText(QStringDecoder(QStringDecoder::Utf16LE).decode(body));
}

TIniText::Section& TIniText::Add(const QString& name)
{
    sections_.push_back({name, {}});
    const QString key = name.toCaseFolded();
    if (!index_.contains(key))   // an earlier section of the name stays the one found
        index_.insert(key, sections_.size() - 1);
    return sections_.back();
}

const TIniText::Section* TIniText::Find(const QString& name) const
{
    const auto found = index_.constFind(name.toCaseFolded());
    return found == index_.cend() ? nullptr : &sections_[found.value()];
}

QStringList TIniText::SectionNames() const
{
    QStringList names;
    for (const Section& s : sections_)
        names << s.name;
    return names;
}

QStringList TIniText::Lines(const QString& section) const
{
    const Section* s = Find(section);
    return s ? s->lines : QStringList();
}

QString TIniText::NameOf(const QString& line)
{
    const qsizetype eq = line.indexOf(u'=');
    return eq < 0 ? QString() : line.left(eq);
}

QString TIniText::ValueOf(const QString& line)
{
    const qsizetype eq = line.indexOf(u'=');
    return eq < 0 ? QString() : line.mid(eq + 1);
}

QString TIniText::Value(const QString& section, const QString& key) const
{
    if (const Section* s = Find(section))
        for (const QString& line : s->lines)
            if (NameOf(line).compare(key, Qt::CaseInsensitive) == 0)
                return ValueOf(line);
    return {};
}

void TIniText::SetValue(const QString& section, const QString& key, const QString& value)
{
    auto* s = const_cast<Section*>(Find(section));
    if (s == nullptr)
        s = &Add(section);
    for (QString& line : s->lines) {
        const QString name = NameOf(line);
        if (name.compare(key, Qt::CaseInsensitive) == 0 && line.contains(u'=')) {
            line = name + u'=' + value;
            return;
        }
    }
    s->lines << key + u'=' + value;
}

QString TIniText::ToText() const
{
    QString text;
    qsizetype size = 0;
    for (const Section& s : sections_) {
        size += s.name.size() + 6;
        for (const QString& line : s.lines)
            size += line.size() + 2;
    }
    text.reserve(size);
    for (const Section& s : sections_) {
        text += u"["_s + s.name + u"]\r\n"_s;
        for (const QString& line : s.lines)
            text += line + u"\r\n"_s;
        text += u"\r\n"_s;
    }
    return text;
}

QByteArray TIniText::ToUtf16Le() const
{
    return QByteArray("\xFF\xFE", 2) + QStringEncoder(QStringEncoder::Utf16LE).encode(ToText());
}

} // namespace medlark
