#include "build/BuildCheck.h"

#include "model/TrackList.h"

#include <algorithm>
#include <cmath>

namespace medlark {

using namespace Qt::StringLiterals;

QString NoTracksMessage()
{
    return u"1つ以上のトラックが必要です。"_s;
}

QStringList ValidateTracks(const TrackList& list, double crossfadeTime)
{
    const bool whole = std::isfinite(crossfadeTime) && std::trunc(crossfadeTime) == crossfadeTime;
    const long double halfCrossfade = whole ? static_cast<long double>(crossfadeTime) / 2.0L : 0.0L;

    QStringList lines;
    for (int i = 0; i < list.Count(); ++i) {
        const int k = i + 1;
        const long double s = list.At(i).Times.StartTime;
        const long double e = list.At(i).Times.EndTime;
        if (s < 0 && e < 0) {
            lines << QString::asprintf("%d", k) + u"番目のトラックの時間設定が未定義です"_s;
        } else if (s < 0) {
            lines << QString::asprintf("%d", k) + u"番目のトラックの開始時間が未設定です"_s;
        } else if (e < 0) {
            lines << QString::asprintf("%d", k) + u"番目のトラックの終了時間が未設定です"_s;
        } else {
            if (s > e)
                lines << QString::asprintf("%d", k) + u"番目のトラックの時間設定が不正です"_s;
            const long double epsilon =
                halfCrossfade != 0 ? halfCrossfade : std::max(std::min(std::fabs(s), std::fabs(e)) * 1e-16L, 1e-16L);
            if (std::fabs(e - s) <= epsilon)
                lines << QString::asprintf("%d", k) + u"番目のトラックの時間設定が短すぎます"_s;
        }
    }
    return lines;
}

QString ValidationMessage(const QStringList& lines)
{
    QString text = u"◇問題が見つかりました。修正して再試行してください。\r\n\r\n"_s;
    for (const QString& line : lines)
        text += line + u"\r\n"_s;
    return text;
}

} // namespace medlark
