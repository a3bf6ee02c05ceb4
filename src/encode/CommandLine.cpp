#include "encode/CommandLine.h"

namespace medlark {

using namespace Qt::StringLiterals;

QString QuoteArgument(const QString& text)
{
    QString quoted = text;
    quoted.replace(u'"', u"\"\""_s);
    return u'"' + quoted + u'"';
}

QString ExpandPlaceholders(const QString& text, const TVariables& values)
{
    QString result;
    QString name;
    bool reading = false;
    for (const QChar c : text) {
        if (!reading) {
            if (c == u'<') {
                name.clear();
                reading = true;
            } else {
                result += c;
            }
        } else if (c == u'>') {
            result += values.Value(name);
            reading = false;
        } else {
            name += c;
        }
    }
    return result;
}

QString QuotedTitle(const QString& title)
{
    QString oneLine = title;
    oneLine.replace(u'\r', u' ').replace(u'\n', u' ');
    return QuoteArgument(oneLine);
}

QStringList SplitCommandLine(const QString& commandLine)
{
    QStringList args;
    QString current;
    bool inQuotes = false;
    bool hasArg = false;
    for (qsizetype i = 0; i < commandLine.size(); ++i) {
        const QChar c = commandLine[i];
        if (c == u'"') {
            hasArg = true;
            if (inQuotes && i + 1 < commandLine.size() && commandLine[i + 1] == u'"') {
                current += u'"';
                ++i;
            } else {
                inQuotes = !inQuotes;
            }
        } else if (!inQuotes && (c == u' ' || c == u'\t')) {
            if (hasArg)
                args << current;
            current.clear();
            hasArg = false;
        } else {
            current += c;
            hasArg = true;
        }
    }
    if (hasArg)
        args << current;
    return args;
}

} // namespace medlark
