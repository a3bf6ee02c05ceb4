#pragma once
// Encoder command lines, written as on Windows: blanks separate arguments,
// double quotes group, and a doubled double quote inside quotes is one quote.

#include <QString>
#include <QStringList>

namespace medlark {

// "text" with every double quote in it doubled.
QString QuoteArgument(const QString& text);

// Replaces every <NAME> by the value of the first line NAME=value of values
// (names without regard to case; empty when none). One pass, no escape; an
// unterminated "<" drops the rest.
QString ExpandPlaceholders(const QString& text, const QStringList& values);

// Sets NAME=value in place of the first line of that name, or appends it.
void SetValue(QStringList& values, const QString& name, const QString& value);

// "TITLE=" and the title between quotes, its quotes doubled. Line breaks, which
// would end the line, become blanks.
QString TitleVariable(const QString& title);

// Splits a command line into the program and its arguments.
QStringList SplitCommandLine(const QString& commandLine);

} // namespace medlark
