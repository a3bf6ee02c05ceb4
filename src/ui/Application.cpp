#include "ui/Application.h"

#include "model/Error.h"
#include "ui/UiServices.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <new>

namespace medlark {

TMedlarkApplication::TMedlarkApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Medlark"));
    setApplicationVersion(QStringLiteral(MEDLARK_VERSION));
    setDesktopFileName(QStringLiteral("medlark"));
    InstallQtTranslations(*this);
}

int InstallQtTranslations(QCoreApplication& app)
{
    int installed = 0;
    for (const char* catalogue : {"qtbase", "qtmultimedia"}) {
        auto* translator = new QTranslator(&app);
        if (translator->load(QLocale(QLocale::Japanese, QLocale::Japan), QString::fromLatin1(catalogue),
                             QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
            QCoreApplication::installTranslator(translator);
            ++installed;
        } else {
            delete translator;
        }
    }
    return installed;
}

bool TMedlarkApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const Error& e) {
        ReportError(nullptr, e.Message());
    } catch (const std::bad_alloc&) {
        ReportError(nullptr, QStringLiteral("メモリが不足しています"));
    } catch (const std::exception& e) {
        ReportError(nullptr, QString::fromLocal8Bit(e.what()));
    }
    return false;
}

} // namespace medlark
