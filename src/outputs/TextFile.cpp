#include "outputs/TextFile.h"

#include "model/Error.h"

#include <QSaveFile>

namespace medlark {

void SaveUtf8Lines(const QStringList& lines, const QString& path)
{
    QByteArray bytes("\xEF\xBB\xBF");
    for (const QString& line : lines)
        bytes += line.toUtf8() + "\r\n";
    SaveBytes(bytes, path);
}

void SaveBytes(const QByteArray& bytes, const QString& path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw CreateFileError(path, file.errorString());
    file.write(bytes);
    if (!file.commit())
        throw CreateFileError(path, file.errorString());
}

QString OneLine(QString text)
{
    for (QChar& c : text)
        if (c == u'\r' || c == u'\n' || c == u'\t')
            c = u' ';
    return text;
}

} // namespace medlark
