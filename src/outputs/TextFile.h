#pragma once
// Text files written for other programs: UTF-8 after the byte-order mark, CR LF
// after every line, the last one included. An existing file is replaced.

#include <QString>
#include <QStringList>

namespace medlark {

// Raises the file-creation error when the file cannot be written.
void SaveUtf8Lines(const QStringList& lines, const QString& path);

// Replaces path with bytes as they are, atomically; raises the file-creation
// error when the file cannot be written.
void SaveBytes(const QByteArray& bytes, const QString& path);

// A title on one line: line breaks and tabs become blanks.
QString OneLine(QString text);

} // namespace medlark
