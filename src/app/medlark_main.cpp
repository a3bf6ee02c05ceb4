#include "model/Settings.h"
#include "ui/Application.h"
#include "ui/MainWindow.h"

int main(int argc, char* argv[])
{
    medlark::TMedlarkApplication app(argc, argv);
    medlark::TFormXFade window(medlark::SettingsFilePath());
    window.show();
    return QApplication::exec();
}
