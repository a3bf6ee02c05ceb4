#include "outputs/TextFile.h"

#include "model/Error.h"

#include <QSaveFile>

namespace medlark {

void SaveUtf8Lines(const QStringList& lines, const QString& path)
{
    QByteArray bytes("\xEF\xBB\xBF");
    for (const QString& line : lines)
        bytes += line.toUtf8() + "\r\n";
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw CreateFileError(path, file.errorString());
    file.write(bytes);
    if (!file.commit())
        throw CreateFileError(path, file.errorString());
}

} // namespace medlark
