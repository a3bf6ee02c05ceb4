#pragma once
// Medlark's own pictures, drawn with QPainter: the buttons' icons, the
// program's icon and the banner at the top of the window.

#include <QColor>
#include <QIcon>
#include <QWidget>

namespace medlark {

// The program's blue and its ink, for everything it draws.
inline const QColor kMedlarkBlue(0x2f, 0x6f, 0xde);
inline const QColor kMedlarkInk(0x33, 0x3a, 0x48);

enum class TPicture { OpenFiles, Delete, LoadProject, SaveProject, Help, Random, Build, TimeFrom, TimeTo };
QIcon PictureIcon(TPicture picture, int size = 24);
QIcon AppIcon();

class TBanner final : public QWidget {
    Q_OBJECT
public:
    explicit TBanner(QWidget* parent);

protected:
    void paintEvent(QPaintEvent*) override;
};

} // namespace medlark
