#include "model/TimeText.h"

#include <cmath>

namespace medlark {

QString FormatTimeCode(double t)
{
    if (!std::isfinite(t) || t < 0.0)
        return QStringLiteral("0:00:00.000");

    const long double exact = t;
    const long double whole = std::trunc(exact);
    // Thousandths from the exact fraction: the 80-bit product keeps 0.3 below 300.
    const auto ms = static_cast<int>(std::trunc((exact - whole) * 1000.0L));
    const auto clock = static_cast<long>(std::fmod(whole, 86400.0L));

    return QString::asprintf("%ld:%02ld:%02ld.%03d", clock / 3600, clock / 60 % 60, clock % 60, ms);
}

QString FormatSpan(double s, double e)
{
    if (!(e >= s) || !std::isfinite(e - s))
        return QStringLiteral("??? sec.");
    // One decimal, halves rounded away from zero as the classic formatter does.
    const long double tenths = std::floor((static_cast<long double>(e) - s) * 10.0L + 0.5L);
    return QString::asprintf("%.1Lf sec.", tenths / 10.0L);
}

QString TrackTitle(const QString& path)
{
    const QString name = path.mid(path.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? name : name.left(dot);
}

QString UndefinedCaption(const QString& path)
{
    return QStringLiteral("<b>%1</b><br><font color=\"#999999\"><font size=\"2\">Undefine</font></font>")
        .arg(TrackTitle(path));
}

QString TimedCaption(const QString& path, double start, double end)
{
    return QStringLiteral("<b>%1</b><br><font color=\"#999999\"><font size=\"2\">%2\uFF5E%3</font></font>")
        .arg(TrackTitle(path), FormatTimeCode(start), FormatTimeCode(end));
}

} // namespace medlark
