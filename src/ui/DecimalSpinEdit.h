#pragma once
// A decimal number box that shows whole values without a decimal point ("6")
// and others in their shortest form ("6.5"), held to its range.

#include "model/NumberText.h"

#include <QDoubleSpinBox>

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

} // namespace medlark
