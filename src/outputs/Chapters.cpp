#include "outputs/Chapters.h"

#include "model/TimeText.h"
#include "outputs/TextFile.h"

#include <algorithm>
#include <cmath>

namespace medlark {

using namespace Qt::StringLiterals;

namespace {

constexpr long double kBytesPerSecond = 176400.0L;

long long WholeSeconds(double seconds)
{
    // A hair above, so that a start computed as 9.9999999 from 10 s reads 10.
    return static_cast<long long>(std::floor(std::max(0.0, seconds) + 1e-9));
}

long long Milliseconds(double seconds)
{
    return std::llround(std::max(0.0, seconds) * 1000.0);
}

// ffmetadata escapes '=', ';', '#', '\' and line breaks with a backslash.
QString MetadataEscape(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        if (c == u'=' || c == u';' || c == u'#' || c == u'\\' || c == u'\n')
            out += u'\\';
        out += c;
    }
    return out;
}

} // namespace

std::vector<TChapter> MedleyChapters(const std::vector<TTrackMark>& marks, double crossfadeTime,
                                     std::int64_t medleyBytes)
{
    const auto total = static_cast<double>(std::max<std::int64_t>(0, medleyBytes) / kBytesPerSecond);
    std::vector<TChapter> chapters;
    for (const TTrackMark& mark : marks) {
        const std::int64_t placed = mark.PlacedBytes >= 0 ? mark.PlacedBytes : mark.WrittenBytes;
        double start = chapters.empty() ? 0.0 : static_cast<double>(placed / kBytesPerSecond + crossfadeTime / 2.0L);
        if (!chapters.empty())
            start = std::clamp(start, chapters.back().Start, total);
        // On one line: a line break would end the chapter's line.
        chapters.push_back({start, total, OneLine(TrackTitle(mark.SourcePath))});
    }
    for (std::size_t i = 0; i + 1 < chapters.size(); ++i)
        chapters[i].End = chapters[i + 1].Start;
    return chapters;
}

QString ChapterTimeText(double seconds)
{
    const long long whole = WholeSeconds(seconds);
    const long long h = whole / 3600, m = whole / 60 % 60, s = whole % 60;
    if (h > 0)
        return QString::asprintf("%lld:%02lld:%02lld", h, m, s);
    return QString::asprintf("%lld:%02lld", m, s);
}

QStringList ChapterLines(const std::vector<TChapter>& chapters)
{
    QStringList lines;
    for (const TChapter& chapter : chapters)
        lines << ChapterTimeText(chapter.Start) + u' ' + chapter.Title;
    return lines;
}

QStringList ChapterRuleBreaks(const std::vector<TChapter>& chapters)
{
    QStringList breaks;
    if (!chapters.empty() && WholeSeconds(chapters.front().Start) != 0)
        breaks << u"最初のチャプターが 0:00 から始まっていません。"_s;
    if (chapters.size() < 3)
        breaks << QStringLiteral("チャプターが %1 つしかありません (3 つ以上必要です)。").arg(chapters.size());
    for (std::size_t i = 0; i < chapters.size(); ++i) {
        // As a video site reads the list: whole seconds from one line to the next.
        const long long length = WholeSeconds(chapters[i].End) - WholeSeconds(chapters[i].Start);
        if (length < 10)
            breaks << QStringLiteral("チャプター %1「%2」が %3 秒しかありません (10 秒以上必要です)。")
                          .arg(i + 1)
                          .arg(chapters[i].Title)
                          .arg(length);
    }
    return breaks;
}

QByteArray FfMetadata(const std::vector<TChapter>& chapters)
{
    QByteArray text(";FFMETADATA1\n");
    for (const TChapter& chapter : chapters) {
        text += "[CHAPTER]\nTIMEBASE=1/1000\n";
        text += "START=" + QByteArray::number(Milliseconds(chapter.Start)) + "\n";
        text += "END=" + QByteArray::number(Milliseconds(chapter.End)) + "\n";
        text += "title=" + MetadataEscape(chapter.Title).toUtf8() + "\n";
    }
    return text;
}

void SaveFfMetadata(const std::vector<TChapter>& chapters, const QString& path)
{
    SaveBytes(FfMetadata(chapters), path);
}

} // namespace medlark
