#include "ui/UiServices.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QUrl>

#include <algorithm>

namespace medlark {

using namespace Qt::StringLiterals;

namespace {
TUiServices* g_services = nullptr;
}

QMessageBox::StandardButton TUiServices::MessageBox(QWidget* owner, const QString& text, const QString& caption,
                                                    QMessageBox::Icon icon, QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, caption, text, buttons, owner);
    // The whole text on screen: the text label is as wide as its longest line
    // (in the font it is drawn with), and never narrower than the caption needs.
    if (auto* label = box.findChild<QLabel*>(u"qt_msgbox_label"_s)) {
        label->ensurePolished();
        int widest = 220;
        for (const QString& line : text.split(u'\n'))
            widest = std::max(widest, label->fontMetrics().horizontalAdvance(line) + 8);
        label->setMinimumWidth(std::min(widest, 900));
        label->setWordWrap(widest > 900);
    }
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QStringList TUiServices::OpenFileNames(QWidget* owner, const QString& filter)
{
    return QFileDialog::getOpenFileNames(owner, QString(), QString(), QtFilter(filter));
}

QString TUiServices::OpenFileName(QWidget* owner, const QString& filter)
{
    return QFileDialog::getOpenFileName(owner, QString(), QString(), QtFilter(filter));
}

QString TUiServices::SaveFileName(QWidget* owner, const QString& filter, const QString& defaultSuffix)
{
    QFileDialog dialog(owner, QString(), QString(), QtFilter(filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(defaultSuffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().front()
                                                                                   : QString();
}

QString TUiServices::ExistingDirectory(QWidget* owner, const QString& caption, const QString& title)
{
    QFileDialog dialog(owner, caption);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setLabelText(QFileDialog::FileName, title);
    return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().front()
                                                                                   : QString();
}

void TUiServices::OpenUrl(const QString& url)
{
    QDesktopServices::openUrl(QUrl(url));
}

TUiServices& TUiServices::Instance()
{
    static TUiServices standard;
    return g_services ? *g_services : standard;
}

void TUiServices::SetInstance(TUiServices* services)
{
    g_services = services;
}

QString QtFilter(const QString& pipeFilter)
{
    const QStringList parts = pipeFilter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(u';', u' ');
        // Qt shows the patterns itself; keep the description as it is written.
        filters << parts[i] + u" ("_s + patterns + u')';
    }
    return filters.join(u";;"_s);
}

QString ErrorReportText(const QString& message)
{
    if (!message.isEmpty() && message.back() > u'.')
        return message + u'.';
    return message;
}

void ReportError(QWidget* owner, const QString& message)
{
    TUiServices::Instance().MessageBox(owner ? owner : QApplication::activeWindow(), ErrorReportText(message),
                                       u"Medlark"_s, QMessageBox::Critical, QMessageBox::Ok);
}

} // namespace medlark
