#include "ui/MainWindow.h"

#include <QGuiApplication>
#include <QScreen>

namespace medlark {

TFormXFade::TFormXFade(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("FormXFade"));
    setWindowTitle(QStringLiteral("Medlark"));
    setFixedSize(kMainClientWidth, kMainClientHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
}

} // namespace medlark
