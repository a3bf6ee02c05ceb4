#pragma once
// Failures are raised as Error, carrying the message the user will see.

#include <QString>

#include <stdexcept>

namespace medlark {

class Error : public std::runtime_error {
public:
    explicit Error(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message) {}

    const QString& Message() const noexcept { return message_; }

private:
    QString message_;
};

// "ファイル "<path>" を作成できません。<reason>"
inline Error CreateFileError(const QString& path, const QString& reason)
{
    return Error(QStringLiteral("ファイル \"%1\" を作成できません。%2").arg(path, reason));
}

// "ファイル <path> は開けません。 <reason> "
inline Error OpenFileError(const QString& path, const QString& reason)
{
    return Error(QStringLiteral("ファイル %1 は開けません。 %2 ").arg(path, reason));
}

} // namespace medlark
