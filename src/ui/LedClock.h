#pragma once
// A clock drawn as seven-segment LEDs: "hh:nn:ss" of a 24-hour day, lit
// segments shading from RGB(132, 172, 255) to navy, unlit ones RGB(223, 223, 223).

#include <QWidget>

namespace medlark {

class TLedClock final : public QWidget {
    Q_OBJECT
public:
    explicit TLedClock(QWidget* parent);

    // Seconds after midnight (wrapping at a day).
    void SetSeconds(long long seconds);
    long long Seconds() const { return seconds_; }
    QString Text() const;   // "hh:nn:ss"

protected:
    void paintEvent(QPaintEvent*) override;

private:
    long long seconds_ = 0;
};

} // namespace medlark
