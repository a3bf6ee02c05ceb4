#include "ui/IconsAndBanner.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>
#include <cmath>

namespace medlark {

using namespace Qt::StringLiterals;

namespace {

QPixmap Draw(TPicture picture, int size, bool enabled = true)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 24.0, size / 24.0);
    QPen pen(kMedlarkInk, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);

    auto note = [&](QPointF at) {
        p.setBrush(kMedlarkInk);
        p.drawEllipse(at, 3.0, 2.4);
        p.drawLine(at + QPointF(2.8, 0), at + QPointF(2.8, -11));
        p.drawLine(at + QPointF(2.8, -11), at + QPointF(7, -8.5));
        p.setBrush(Qt::NoBrush);
    };
    auto badge = [&](QColor color, bool plus) {
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawEllipse(QPointF(17.5, 17.5), 5.5, 5.5);
        p.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(14.8, 17.5), QPointF(20.2, 17.5));
        if (plus)
            p.drawLine(QPointF(17.5, 14.8), QPointF(17.5, 20.2));
        p.setPen(pen);
    };
    auto folder = [&]() {
        QPainterPath path;
        path.moveTo(2.5, 6);
        path.lineTo(9, 6);
        path.lineTo(11, 8.5);
        path.lineTo(20.5, 8.5);
        path.lineTo(20.5, 19);
        path.lineTo(2.5, 19);
        path.closeSubpath();
        p.setBrush(QColor(0xf3, 0xc9, 0x5c));
        p.drawPath(path);
        p.setBrush(Qt::NoBrush);
    };

    switch (picture) {
    case TPicture::OpenFiles:
        note(QPointF(8, 17));
        badge(QColor(0x2e, 0x9d, 0x4f), true);
        break;
    case TPicture::Delete:
        note(QPointF(8, 17));
        badge(QColor(0xd0, 0x3b, 0x3b), false);
        break;
    case TPicture::LoadProject:
        folder();
        p.setPen(QPen(kMedlarkBlue, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawLine(QPointF(11.5, 16.5), QPointF(11.5, 10.5));
        p.drawPolyline(QPolygonF({QPointF(8.5, 13), QPointF(11.5, 10), QPointF(14.5, 13)}));
        break;
    case TPicture::SaveProject: {
        p.setBrush(QColor(0xe8, 0xee, 0xf8));
        p.drawRoundedRect(QRectF(3.5, 3.5, 17, 17), 2, 2);
        p.setBrush(kMedlarkBlue);
        p.setPen(Qt::NoPen);
        p.drawRect(QRectF(7, 3.5, 10, 6));
        p.setPen(pen);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(7, 13, 10, 7.5));
        break;
    }
    case TPicture::Help:
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 220));
        p.drawEllipse(QPointF(12, 12), 10, 10);
        p.setPen(kMedlarkBlue);
        {
            QFont f = p.font();
            f.setPixelSize(15);
            f.setBold(true);
            p.setFont(f);
        }
        p.drawText(QRectF(0, 0, 24, 24), Qt::AlignCenter, u"?"_s);
        break;
    case TPicture::Random:
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(3, 3, 18, 18), 4, 4);
        p.setBrush(kMedlarkInk);
        for (const QPointF& dot : {QPointF(8, 8), QPointF(12, 12), QPointF(16, 16), QPointF(16, 8), QPointF(8, 16)})
            p.drawEllipse(dot, 1.4, 1.4);
        break;
    case TPicture::TimeFrom:
    case TPicture::TimeTo: {
        // A bracket opening (in point) or closing (out point) the segment, with an arrow into it.
        const bool in = picture == TPicture::TimeFrom;
        const QColor colour = enabled ? (in ? QColor(0x2e, 0xa0, 0x5a) : QColor(0xe0, 0x7a, 0x22)) : QColor(0xa8, 0xac, 0xb4);
        p.setPen(QPen(colour, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const qreal x = in ? 6 : 18;
        const qreal lip = in ? 4 : -4;
        p.drawPolyline(QPolygonF({QPointF(x + lip, 4), QPointF(x, 4), QPointF(x, 20), QPointF(x + lip, 20)}));
        p.setPen(QPen(enabled ? kMedlarkInk : QColor(0xb8, 0xbc, 0xc4), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const qreal tip = in ? 20 : 4;
        p.drawLine(QPointF(x + lip * 0.75, 12), QPointF(tip, 12));
        p.drawPolyline(QPolygonF({QPointF(tip - lip * 0.9, 8.5), QPointF(tip, 12), QPointF(tip - lip * 0.9, 15.5)}));
        break;
    }
    case TPicture::Build: {
        // Two overlapping fades.
        p.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(2, 19), QPointF(7, 6), QPointF(12, 6), QPointF(17, 19)}));
        p.setPen(QPen(QColor(0xbf, 0xe3, 0xff), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(12, 19), QPointF(17, 6), QPointF(22, 6)}));
        break;
    }
    }
    return pixmap;
}

} // namespace

QIcon PictureIcon(TPicture picture, int size)
{
    QIcon icon;
    icon.addPixmap(Draw(picture, size));
    icon.addPixmap(Draw(picture, size * 2));
    if (picture == TPicture::TimeFrom || picture == TPicture::TimeTo) {
        // The in and out buttons have a picture of their own when disabled.
        icon.addPixmap(Draw(picture, size, false), QIcon::Disabled);
        icon.addPixmap(Draw(picture, size * 2, false), QIcon::Disabled);
    }
    return icon;
}

QIcon AppIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 24.0, size / 24.0);
        p.setPen(Qt::NoPen);
        p.setBrush(kMedlarkBlue);
        p.drawRoundedRect(QRectF(1, 1, 22, 22), 5, 5);
        p.end();
        QPixmap mark = Draw(TPicture::Build, size);
        QPainter q(&pixmap);
        q.drawPixmap(0, 0, mark);
        icon.addPixmap(pixmap);
    }
    return icon;
}

TBanner::TBanner(QWidget* parent) : QWidget(parent)
{
}

void TBanner::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, width(), 0);
    g.setColorAt(0, QColor(0x1f, 0x2b, 0x47));
    g.setColorAt(1, kMedlarkBlue);
    p.fillRect(rect(), g);

    // A faint medley of waves behind the name.
    for (int k = 0; k < 3; ++k) {
        QPainterPath wave;
        const double base = height() * (0.55 + 0.12 * k);
        wave.moveTo(0, base);
        for (int x = 0; x <= width(); x += 4)
            wave.lineTo(x, base + std::sin(x / (38.0 + 9 * k) + k) * (7 - k * 2));
        p.setPen(QPen(QColor(255, 255, 255, 28 + 10 * k), 1.5));
        p.drawPath(wave);
    }

    QFont title = font();
    title.setPixelSize(30);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(22, 8, 300, 38), Qt::AlignLeft | Qt::AlignVCenter, u"Medlark"_s);
    QFont tagline = font();
    tagline.setPixelSize(12);
    p.setFont(tagline);
    p.setPen(QColor(255, 255, 255, 210));
    p.drawText(QRect(24, 44, 520, 20), Qt::AlignLeft | Qt::AlignVCenter,
               u"クロスフェードでつなぐメドレー作成ツール"_s);
}

} // namespace medlark
