#pragma once
// A decimal number box that shows whole values without a decimal point ("6")
// and others in their shortest form ("6.5"), held to its range.

#include "model/NumberText.h"

#include <QDoubleSpinBox>

#include <cmath>

namespace medlark {

class TDecimalSpinEdit final : public QDoubleSpinBox {
    Q_OBJECT
public:
    TDecimalSpinEdit(double minimum, double maximum, double value, QWidget* parent)
        : QDoubleSpinBox(parent)
    {
        setDecimals(6);
        setRange(minimum, maximum);
        setSingleStep(0.1);   // PageUp/PageDown move ten steps: 1.0
        setValue(value);
        setAccelerated(true);
    }

    QString textFromValue(double value) const override { return FormatNumber(value); }
    double valueFromText(const QString& text) const override { return ParseNumber(text).value_or(value()); }
    QValidator::State validate(QString& text, int&) const override
    {
        if (text.isEmpty() || text == QStringLiteral(".") || ParseNumber(text).has_value())
            return QValidator::Acceptable;
        return QValidator::Invalid;
    }
};

// A number box with one decimal always shown ("-14.0"), held to its range;
// with signed on, positive values show their plus sign ("+1.5"). A typed
// minus may be the real minus sign.
class TFixedSpinEdit final : public QDoubleSpinBox {
    Q_OBJECT
public:
    TFixedSpinEdit(double minimum, double maximum, double step, double value, bool showPlus, QWidget* parent)
        : QDoubleSpinBox(parent), showPlus_(showPlus)
    {
        setDecimals(1);
        setRange(minimum, maximum);
        setSingleStep(step);
        setValue(value);
        setAccelerated(true);
    }

    QString textFromValue(double value) const override
    {
        const double rounded = std::round(value * 10.0) / 10.0;
        const QString text = QString::number(rounded == 0.0 ? 0.0 : rounded, 'f', 1);
        return showPlus_ && rounded > 0.0 ? QStringLiteral("+") + text : text;
    }
    double valueFromText(const QString& text) const override
    {
        return Parse(text).value_or(value());
    }
    QValidator::State validate(QString& text, int&) const override
    {
        const QString bare = Bare(text);
        if (bare.isEmpty() || bare == QStringLiteral("-") || bare == QStringLiteral("+") || bare == QStringLiteral(".")
            || bare == QStringLiteral("-.") || bare == QStringLiteral("+."))
            return QValidator::Intermediate;
        const std::optional<double> number = Parse(text);
        if (!number)
            return QValidator::Invalid;
        return *number >= minimum() && *number <= maximum() ? QValidator::Acceptable : QValidator::Intermediate;
    }

private:
    QString Bare(const QString& text) const
    {
        QString bare = text.trimmed();
        bare.replace(QChar(0x2212), QLatin1Char('-'));
        if (!suffix().isEmpty() && bare.endsWith(suffix().trimmed()))
            bare.chop(suffix().trimmed().size());
        return bare.trimmed();
    }
    std::optional<double> Parse(const QString& text) const { return ParseNumber(Bare(text)); }

    bool showPlus_;
};

} // namespace medlark
