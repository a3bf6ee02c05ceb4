#pragma once
// Encoder command lines, written as on Windows: blanks separate arguments,
// double quotes group, and a doubled double quote inside quotes is one quote.

#include "model/Variables.h"

#include <QString>
#include <QStringList>

namespace medlark {

// "text" with every double quote in it doubled.
QString QuoteArgument(const QString& text);

// Replaces every <NAME> by its value (names without regard to case; empty
// when there is none). One pass, no escape; an unterminated "<" drops the rest.
QString ExpandPlaceholders(const QString& text, const TVariables& values);

// The value of TITLE: the title between quotes, its quotes doubled and its
// line breaks blanks, so that it stays one argument on one line.
QString QuotedTitle(const QString& title);

// Splits a command line into the program and its arguments.
QStringList SplitCommandLine(const QString& commandLine);

} // namespace medlark
