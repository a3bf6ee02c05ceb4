#include "ui/LedClock.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <array>

namespace medlark {

namespace {

// Segments a … g of each digit, as bits 0 … 6.
constexpr std::array<int, 10> kDigitSegments = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

// One segment of a digit cell w × h with the stroke t, as a six-sided bar.
QPainterPath Segment(int index, qreal w, qreal h, qreal t)
{
    const qreal m = h / 2;
    QPainterPath path;
    auto horizontal = [&](qreal y) {
        path.moveTo(t / 2, y);
        path.lineTo(t, y - t / 2);
        path.lineTo(w - t, y - t / 2);
        path.lineTo(w - t / 2, y);
        path.lineTo(w - t, y + t / 2);
        path.lineTo(t, y + t / 2);
        path.closeSubpath();
    };
    auto vertical = [&](qreal x, qreal y0, qreal y1) {
        path.moveTo(x, y0 + t / 2);
        path.lineTo(x + t / 2, y0 + t);
        path.lineTo(x + t / 2, y1 - t);
        path.lineTo(x, y1 - t / 2);
        path.lineTo(x - t / 2, y1 - t);
        path.lineTo(x - t / 2, y0 + t);
        path.closeSubpath();
    };
    switch (index) {
    case 0: horizontal(t / 2); break;
    case 1: vertical(w - t / 2, 0, m); break;
    case 2: vertical(w - t / 2, m, h); break;
    case 3: horizontal(h - t / 2); break;
    case 4: vertical(t / 2, m, h); break;
    case 5: vertical(t / 2, 0, m); break;
    default: horizontal(m); break;
    }
    return path;
}

} // namespace

TLedClock::TLedClock(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setAccessibleName(Text());
}

void TLedClock::SetSeconds(long long seconds)
{
    seconds %= 86400;
    if (seconds < 0)
        seconds += 86400;
    if (seconds == seconds_)
        return;
    seconds_ = seconds;
    setAccessibleName(Text());
    update();
}

QString TLedClock::Text() const
{
    return QStringLiteral("%1:%2:%3")
        .arg(seconds_ / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds_ / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds_ % 60, 2, 10, QLatin1Char('0'));
}

void TLedClock::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const QString text = Text();
    const qreal h = height() - 4;
    const qreal digitW = h * 0.5;
    const qreal colonW = h * 0.22;
    const qreal gap = h * 0.12;
    const qreal t = h * 0.13;
    const qreal total = 6 * digitW + 2 * colonW + 7 * gap;
    qreal x = (width() - total) / 2;
    const qreal y = 2;

    QLinearGradient lit(0, y, 0, y + h);
    lit.setColorAt(0, QColor(132, 172, 255));
    lit.setColorAt(1, QColor(0, 0, 128));
    const QColor unlit(223, 223, 223);

    for (const QChar c : text) {
        if (c == u':') {
            p.setBrush(lit);
            const qreal d = t * 0.9;
            p.drawEllipse(QRectF(x + (colonW - d) / 2, y + h * 0.3 - d / 2, d, d));
            p.drawEllipse(QRectF(x + (colonW - d) / 2, y + h * 0.7 - d / 2, d, d));
            x += colonW + gap;
            continue;
        }
        const int bits = kDigitSegments[static_cast<size_t>(c.digitValue())];
        p.save();
        // A slight slant, as LED displays have.
        p.translate(x, y);
        p.shear(-0.08, 0);
        p.translate(h * 0.04, 0);
        QLinearGradient local(0, 0, 0, h);   // the same shading, in the digit's own frame
        local.setStops(lit.stops());
        for (int s = 0; s < 7; ++s) {
            p.setBrush((bits >> s & 1) != 0 ? QBrush(local) : QBrush(unlit));
            p.drawPath(Segment(s, digitW, h, t));
        }
        p.restore();
        x += digitW + gap;
    }
}

} // namespace medlark
