#pragma once
// Message boxes and file dialogs go through one service, so that tests can
// answer them; the application's error report uses it too.

#include <QMessageBox>
#include <QString>
#include <QStringList>

class QWidget;

namespace medlark {

class TUiServices {
public:
    virtual ~TUiServices() = default;

    // Returns the pressed button.
    virtual QMessageBox::StandardButton MessageBox(QWidget* owner, const QString& text, const QString& caption,
                                                   QMessageBox::Icon icon, QMessageBox::StandardButtons buttons);
    virtual QStringList OpenFileNames(QWidget* owner, const QString& filter);
    virtual QString OpenFileName(QWidget* owner, const QString& filter);
    // Asks before replacing an existing file; adds defaultSuffix to a bare name.
    virtual QString SaveFileName(QWidget* owner, const QString& filter, const QString& defaultSuffix);
    virtual QString ExistingDirectory(QWidget* owner, const QString& caption, const QString& title);
    virtual void OpenUrl(const QString& url);

    // The one in use; tests put their own in place.
    static TUiServices& Instance();
    static void SetInstance(TUiServices* services);
};

// Delphi-style dialog filters ("Description|*.a;*.b|…") as Qt name filters.
QString QtFilter(const QString& pipeFilter);

// The application's error report: a box titled "Medlark" with an error icon,
// the message followed by "." when its last character sorts above ".".
QString ErrorReportText(const QString& message);
void ReportError(QWidget* owner, const QString& message);

} // namespace medlark
