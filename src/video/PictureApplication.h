#pragma once
// The application object of a program without windows that may draw the
// video's pictures: text needs a QGuiApplication, on the offscreen platform.

#include <QCoreApplication>

#include <memory>

namespace medlark {

std::unique_ptr<QCoreApplication> NewPictureApplication(int& argc, char** argv);

} // namespace medlark
