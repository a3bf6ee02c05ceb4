#include "ui/MainWindow.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Medlark"));
    QApplication::setApplicationVersion(QStringLiteral(MEDLARK_VERSION));

    medlark::TFormXFade window;
    window.show();
    return QApplication::exec();
}
