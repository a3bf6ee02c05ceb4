#include "ui/CrossfadeDiagram.h"

#include "model/NumberText.h"
#include "render/Mixing.h"
#include "ui/IconsAndBanner.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace medlark {

using namespace Qt::StringLiterals;

TCrossfadeDiagram::TCrossfadeDiagram(QWidget* parent) : QWidget(parent)
{
}

void TCrossfadeDiagram::SetValues(const TMedleySettings& medley)
{
    medley_ = medley;
    update();
}

void TCrossfadeDiagram::SetJoin(const QString& before, const QString& after)
{
    before_ = before;
    after_ = after;
    update();
}

void TCrossfadeDiagram::SetPlayhead(double secondsFromJoin)
{
    playhead_ = secondsFromJoin;
    update();
}

void TCrossfadeDiagram::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), Qt::white);

    // The time axis is schematic: blanks and crossfade get widths that follow
    // their values within sensible limits, the segments the rest.
    const double left = 14, right = width() - 14;
    const double top = 44, bottom = height() - 58;
    const double span = right - left;
    auto share = [](double seconds, double lo, double hi) { return lo + (hi - lo) * seconds / (seconds + 4.0); };
    const double headW = medley_.BlankHead > 0 ? share(medley_.BlankHead, 10, 60) : 0;
    const double tailW = medley_.BlankTail > 0 ? share(medley_.BlankTail, 10, 60) : 0;
    const double fadeW = share(medley_.CrossfadeTime, 24, 150);
    const double segW = (span - headW - tailW + fadeW) / 2;
    const double aStart = left + headW;
    const double aEnd = aStart + segW;
    const double bStart = aEnd - fadeW;
    const double bEnd = bStart + segW;

    // Gains of the chosen envelope, sampled.
    constexpr int steps = 64;
    auto gainIn = [this](int i) { return FadeInGain(i, steps + 1, medley_.Envelope); };
    auto gainOut = [this](int i) { return FadeOutGain(i, steps + 1, medley_.Envelope); };
    auto y = [&](double gain) { return bottom - (bottom - top) * gain; };

    auto segment = [&](double start, double end, const QColor& color) {
        QPainterPath path;
        path.moveTo(start, bottom);
        for (int i = 0; i <= steps; ++i)
            path.lineTo(start + fadeW * i / steps, y(gainIn(i)));
        for (int i = 0; i <= steps; ++i)
            path.lineTo(end - fadeW + fadeW * i / steps, y(gainOut(i)));
        path.lineTo(end, bottom);
        QColor fill = color;
        fill.setAlpha(70);
        p.setPen(QPen(color, 2));
        p.setBrush(fill);
        p.drawPath(path);
    };

    // Blanks.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xee, 0xf0, 0xf4));
    if (headW > 0)
        p.drawRect(QRectF(left, top, headW, bottom - top));
    if (tailW > 0)
        p.drawRect(QRectF(bEnd, top, tailW, bottom - top));
    segment(aStart, aEnd, kMedlarkBlue);
    segment(bStart, bEnd, QColor(0xe0, 0x7b, 0x22));

    // Axis and labels.
    p.setPen(QPen(QColor(0x88, 0x8f, 0x9c), 1));
    p.drawLine(QPointF(left, bottom), QPointF(right, bottom));
    QFont small = font();
    small.setPixelSize(11);
    p.setFont(small);
    p.setPen(kMedlarkInk);
    const double labelY = bottom + 6;
    auto label = [&](double x0, double x1, const QString& text) {
        p.drawText(QRectF(x0 - 40, labelY, x1 - x0 + 80, 18), Qt::AlignHCenter | Qt::AlignTop, text);
    };
    if (headW > 0)
        label(left, aStart, u"前 "_s + FormatNumber(medley_.BlankHead) + u" 秒"_s);
    if (tailW > 0)
        label(bEnd, right, u"後 "_s + FormatNumber(medley_.BlankTail) + u" 秒"_s);
    p.setPen(QPen(kMedlarkInk, 1, Qt::DashLine));
    p.drawLine(QPointF(bStart, top - 6), QPointF(bStart, bottom));
    p.drawLine(QPointF(aEnd, top - 6), QPointF(aEnd, bottom));
    p.setPen(kMedlarkInk);
    p.drawText(QRectF(bStart - 60, top - 26, fadeW + 120, 18), Qt::AlignHCenter | Qt::AlignBottom,
               u"クロス "_s + FormatNumber(medley_.CrossfadeTime) + u" 秒"_s);
    const bool join = !after_.isEmpty();
    const QFontMetrics metrics(small);
    p.setPen(kMedlarkBlue);
    p.drawText(QRectF(aStart, bottom + 24, segW, 18), Qt::AlignHCenter,
               join ? metrics.elidedText(before_, Qt::ElideRight, static_cast<int>(segW)) : u"トラック 1"_s);
    p.setPen(QColor(0xe0, 0x7b, 0x22));
    p.drawText(QRectF(bStart, bottom + 24, segW, 18), Qt::AlignHCenter,
               join ? metrics.elidedText(after_, Qt::ElideRight, static_cast<int>(segW)) : u"トラック 2"_s);
    if (join) {
        // The playhead: the crossfade's width stands for its length.
        const double x = std::clamp(bStart + playhead_ / std::max(medley_.CrossfadeTime, 0.1) * fadeW, left, right);
        p.setPen(QPen(QColor(0xe0, 0x30, 0x30), 2));
        p.drawLine(QPointF(x, top - 10), QPointF(x, bottom + 4));
    }
    p.setPen(QColor(0x6b, 0x72, 0x80));
    const QString curve = medley_.Envelope == TEnvelope::Linear ? u"エンベロープ: 直線"_s
                          : medley_.Envelope == TEnvelope::Sine ? u"エンベロープ: サインカーブ"_s
                                                                : u"エンベロープ: なし"_s;
    p.drawText(QRectF(left, 6, span, 16), Qt::AlignRight | Qt::AlignVCenter, curve);
}

} // namespace medlark
