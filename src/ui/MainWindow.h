#pragma once
// The main window: a fixed 784 x 599 client area, centred, with minimise and
// close buttons only.

#include <QWidget>

namespace medlark {

inline constexpr int kMainClientWidth = 784;
inline constexpr int kMainClientHeight = 599;

class TFormXFade final : public QWidget {
    Q_OBJECT
public:
    explicit TFormXFade(QWidget* parent = nullptr);
};

} // namespace medlark
