#include "model/NumberText.h"

#include "model/IniText.h"

#include <QRegularExpression>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace medlark {

using namespace Qt::StringLiterals;

QString FormatNumber(double value)
{
    if (value == 0.0 || !std::isfinite(value))
        return QStringLiteral("0");

    // 15 significant digits: d.dddddddddddddde±x
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", value);
    const QString sci = QString::fromLatin1(buf);
    const bool negative = sci.startsWith(u'-');
    const qsizetype e = sci.indexOf(u'e');
    QString digits = sci.mid(negative ? 1 : 0, e - (negative ? 1 : 0)).remove(u'.');
    const int exponent = sci.mid(e + 1).toInt();
    while (digits.size() > 1 && digits.endsWith(u'0'))
        digits.chop(1);

    QString text;
    if (exponent < -5 || exponent >= 15) {
        text = digits.left(1);
        if (digits.size() > 1)
            text += u'.' + digits.mid(1);
        text += u'E' + QString::number(exponent);
    } else if (exponent >= 0) {
        const qsizetype whole = exponent + 1;
        if (digits.size() <= whole)
            text = digits + QString(whole - digits.size(), u'0');
        else
            text = digits.left(whole) + u'.' + digits.mid(whole);
    } else {
        text = u"0."_s + QString(-exponent - 1, u'0') + digits;
    }
    return negative ? u'-' + text : text;
}

std::optional<double> ParseNumber(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"));
    const QString t = TrimControls(text);
    if (!form.match(t).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<int> ParseInteger(const QString& text)
{
    QString t = TrimControls(text);
    bool negative = false;
    if (t.startsWith(u'-') || t.startsWith(u'+')) {
        negative = t.startsWith(u'-');
        t.remove(0, 1);
    }
    int base = 10;
    if (t.startsWith(u"0x", Qt::CaseInsensitive)) {
        base = 16;
        t.remove(0, 2);
    } else if (t.startsWith(u'$')) {
        base = 16;
        t.remove(0, 1);
    }
    static const QRegularExpression dec(QStringLiteral("^\\d+$"));
    static const QRegularExpression hex(QStringLiteral("^[0-9a-fA-F]+$"));
    if (!(base == 10 ? dec : hex).match(t).hasMatch())
        return std::nullopt;
    bool ok = false;
    const qlonglong v = t.toLongLong(&ok, base);
    if (!ok)
        return std::nullopt;
    const qlonglong signedValue = negative ? -v : v;
    if (base == 16 && !negative && v <= 0xFFFFFFFFLL)   // hexadecimal spells the 32 bits
        return static_cast<int>(static_cast<quint32>(v));
    if (signedValue < std::numeric_limits<int>::min() || signedValue > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(signedValue);
}

} // namespace medlark
