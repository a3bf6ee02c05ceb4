#pragma once
// The desktop application: errors that escape an event handler end in the
// application's error report, and the program goes on.

#include <QApplication>

namespace medlark {

class TMedlarkApplication final : public QApplication {
    Q_OBJECT
public:
    TMedlarkApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Qt's own texts (Yes/No/Cancel, the file dialogs) in Japanese, as the rest of
// the window; returns how many catalogues were found.
int InstallQtTranslations(QCoreApplication& app);

} // namespace medlark
