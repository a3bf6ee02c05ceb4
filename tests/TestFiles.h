#pragma once
// Small file helpers shared by the tests.

#include <QByteArray>
#include <QFile>
#include <QString>

namespace medlark::test {

// The whole file, or nothing when it cannot be read.
inline QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace medlark::test
