#pragma once
// Numbers in INI text: written with up to 15 significant digits, no trailing
// zeros and no point when no digit follows ("12", "83.45", "-1"); magnitudes
// below 0.00001 and numbers with more than 15 integer digits in exponent form
// ("1E-6", "1.5E20"). This is also how a crossfade time is shown as text.

#include <QString>

#include <optional>

namespace medlark {

QString FormatNumber(double value);

// A decimal number with optional sign, point and exponent, surrounding spaces
// allowed; nothing else (no "inf", "nan", hex or thousands separators).
std::optional<double> ParseNumber(const QString& text);

// A 32-bit integer in decimal, or hexadecimal after "0x" or "$".
std::optional<int> ParseInteger(const QString& text);

} // namespace medlark
