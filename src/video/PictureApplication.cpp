#include "video/PictureApplication.h"

#include <QGuiApplication>

namespace medlark {

std::unique_ptr<QCoreApplication> NewPictureApplication(int& argc, char** argv)
{
    // No window is ever shown; the pictures are drawn offscreen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return std::make_unique<QGuiApplication>(argc, argv);
}

} // namespace medlark
