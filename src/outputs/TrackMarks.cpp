#include "outputs/TrackMarks.h"

#include "model/TimeText.h"
#include "outputs/TextFile.h"

#include <QFileInfo>

#include <cmath>
#include <cstdlib>

namespace medlark {

using namespace Qt::StringLiterals;

namespace {

constexpr long double kBytesPerSecond = 176400.0L;

} // namespace

QString FormatTwoDecimals(double value)
{
    if (!std::isfinite(value))
        return QStringLiteral("0.00");
    // value x 100 is exact in 80 bits, so the halves are the value's own.
    const long double hundredths = std::round(static_cast<long double>(value) * 100.0L);
    const bool negative = hundredths < 0;
    const long double magnitude = std::fabs(hundredths);
    if (magnitude >= 1.0e18L) {
        // Beyond 64-bit counts: every digit, written out in full (the cents are 0 at this size).
        return QString::asprintf("%s%.0Lf.00", negative ? "-" : "", std::floor(magnitude / 100.0L));
    }
    const auto whole = static_cast<unsigned long long>(std::floor(magnitude / 100.0L));
    const auto cents = static_cast<int>(magnitude - static_cast<long double>(whole) * 100.0L);
    return QString::asprintf("%s%llu.%02d", negative ? "-" : "", whole, cents);
}

QString JsonEscape(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'"': out += u"\\\""_s; break;
        case u'\\': out += u"\\\\"_s; break;
        case u'\b': out += u"\\b"_s; break;
        case u'\f': out += u"\\f"_s; break;
        case u'\n': out += u"\\n"_s; break;
        case u'\r': out += u"\\r"_s; break;
        case u'\t': out += u"\\t"_s; break;
        default:
            if (c.unicode() < 0x20)
                out += QString::asprintf("\\u%04x", c.unicode());
            else
                out += c;
        }
    }
    return out;
}

void TBookmarkText::Add(const TTrackMark& mark)
{
    const std::int64_t placed = mark.PlacedBytes >= 0 ? mark.PlacedBytes : mark.WrittenBytes;
    const auto position = static_cast<double>(placed / kBytesPerSecond + crossfadeTime_ / 2.0L);
    lines_ << u"["_s + FormatTimeCode(position) + u"] : "_s + QFileInfo(mark.SourcePath).fileName() + u" <"_s
                  + FormatTimeCode(mark.StartTime) + u"\uFF5E"_s + FormatTimeCode(mark.EndTime) + u">"_s;
}

void TBookmarkText::SaveToFile(const QString& fileName) const
{
    SaveUtf8Lines(lines_, fileName);
}

void TTrackMapJson::Add(const TTrackMark& mark)
{
    auto seconds = [](std::int64_t bytes) { return static_cast<double>(bytes / kBytesPerSecond); };
    lines_ << u"  {"_s
           << u"    \"track\":\""_s + JsonEscape(TrackTitle(mark.SourcePath)) + u"\","_s
           << u"    \"absbegin\":\""_s + FormatTwoDecimals(seconds(mark.WrittenBytes)) + u"\","_s
           << u"    \"absduration\":\""_s + FormatTwoDecimals(seconds(mark.SegmentBytes)) + u"\","_s
           << u"    \"srcbegin\":\""_s + FormatTwoDecimals(mark.StartTime) + u"\","_s
           << u"    \"srcduration\":\""_s + FormatTwoDecimals(mark.EndTime - mark.StartTime) + u"\""_s;
    if (mark.Levelled) {
        lines_.last() += u',';
        lines_ << u"    \"gain\":\""_s + FormatTwoDecimals(mark.GainDb) + u"\""_s;
        if (!std::isnan(mark.Loudness)) {
            lines_.last() += u',';
            lines_ << u"    \"loudness\":\""_s + (std::isfinite(mark.Loudness) ? FormatTwoDecimals(mark.Loudness) : u"-inf"_s)
                          + u"\""_s;
        }
    }
    lines_ << u"  },"_s;
    ++elements_;
}

void TTrackMapJson::Close()
{
    if (elements_ > 0) {
        lines_.removeLast();
        lines_ << u" }"_s;
    }
    lines_ << u"]"_s;
}

void TTrackMapJson::SaveToFile(const QString& fileName) const
{
    SaveUtf8Lines(lines_, fileName);
}

} // namespace medlark
