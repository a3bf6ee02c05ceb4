#include "ui/WaveformBar.h"

#include "render/PcmBlock.h"
#include "render/Mixing.h"
#include "render/PlaybackFeed.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace medlark {

namespace {

constexpr std::int64_t kMinFramesPerPixel = kPcmRate / 100;   // 10 ms
constexpr int kMarkerGrip = 4;

} // namespace

TWaveformBar::TWaveformBar(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
    poll_.setInterval(40);
    connect(&poll_, &QTimer::timeout, this, &TWaveformBar::Poll);
}

TWaveformBar::~TWaveformBar() = default;

void TWaveformBar::SetSource(const QString& path, std::int64_t frames)
{
    loader_.reset();   // cancels the summary being made
    summary_.reset();
    drawnReady_ = -1;
    frames_ = std::max<std::int64_t>(frames, 0);
    viewFrom_ = 0;
    viewTo_ = frames_;
    playhead_ = 0;
    dragging_ = TMarker::None;
    if (!path.isEmpty()) {
        loader_ = std::make_unique<TWaveformLoader>(path);
        poll_.start();
        Poll();
    } else {
        poll_.stop();
    }
    update();
}

void TWaveformBar::SetLength(std::int64_t frames)
{
    frames_ = std::max<std::int64_t>(frames, 0);
    viewFrom_ = 0;
    viewTo_ = frames_;
    update();
}

void TWaveformBar::Poll()
{
    if (!loader_) {
        poll_.stop();
        return;
    }
    // The loader may start over with more room; draw from its latest summary.
    summary_ = loader_->Summary();
    const std::int64_t ready = summary_ ? summary_->ReadyBlocks() : -1;
    if (ready != drawnReady_) {
        drawnReady_ = ready;
        update();
    }
    if (loader_->Finished())
        poll_.stop();
}

void TWaveformBar::SetPlayhead(std::int64_t frame)
{
    if (frame == playhead_)
        return;
    const int before = XOf(playhead_);
    playhead_ = frame;
    FollowPlayhead();
    const int after = XOf(playhead_);
    if (before != after) {
        update(QRect(before - 1, 0, 3, height()));
        update(QRect(after - 1, 0, 3, height()));
    }
}

void TWaveformBar::FollowPlayhead()
{
    const std::int64_t span = viewTo_ - viewFrom_;
    if (span <= 0 || span >= frames_ || (playhead_ >= viewFrom_ && playhead_ < viewTo_))
        return;
    // Zoomed in and the playhead left the view: turn the page.
    viewFrom_ = std::clamp<std::int64_t>(playhead_ - span / 10, 0, frames_ - span);
    viewTo_ = viewFrom_ + span;
    update();
}

void TWaveformBar::SetPoints(double in, double out)
{
    in_ = in;
    out_ = out;
    update();
}

void TWaveformBar::SetFade(double crossfadeSeconds, TEnvelope envelope)
{
    crossfade_ = SetCrossfadeTime(crossfadeSeconds);
    envelope_ = envelope;
    update();
}

std::int64_t TWaveformBar::FrameAt(int x) const
{
    if (width() <= 0)
        return 0;
    const long double f = viewFrom_ + static_cast<long double>(viewTo_ - viewFrom_) * x / width();
    return std::clamp<std::int64_t>(static_cast<std::int64_t>(std::llround(f)), 0, frames_);
}

int TWaveformBar::XOf(std::int64_t frame) const
{
    if (viewTo_ <= viewFrom_)
        return 0;
    const long double x = static_cast<long double>(frame - viewFrom_) * width() / (viewTo_ - viewFrom_);
    return static_cast<int>(std::clamp<long double>(std::floor(x), -100000, 100000));
}

void TWaveformBar::Zoom(double factor, int x)
{
    if (frames_ <= 0 || width() <= 0)
        return;
    const std::int64_t anchor = FrameAt(x);
    const std::int64_t minSpan = std::min<std::int64_t>(frames_, kMinFramesPerPixel * width());
    const auto span = std::clamp<std::int64_t>(std::llround(static_cast<double>(viewTo_ - viewFrom_) * factor),
                                               minSpan, frames_);
    const auto left = static_cast<std::int64_t>(std::llround(static_cast<double>(span) * x / width()));
    viewFrom_ = std::clamp<std::int64_t>(anchor - left, 0, frames_ - span);
    viewTo_ = viewFrom_ + span;
    update();
}

void TWaveformBar::resizeEvent(QResizeEvent*)
{
    update();
}

TWaveformBar::TMarker TWaveformBar::MarkerAt(int x) const
{
    if (out_ >= 0 && std::abs(XOf(FrameOfSeconds(out_)) - x) <= kMarkerGrip)
        return TMarker::Out;
    if (in_ >= 0 && std::abs(XOf(FrameOfSeconds(in_)) - x) <= kMarkerGrip)
        return TMarker::In;
    return TMarker::None;
}

void TWaveformBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || frames_ <= 0)
        return;
    const int x = static_cast<int>(event->position().x());
    dragging_ = MarkerAt(x);
    if (dragging_ != TMarker::None) {
        dragFrame_ = FrameAt(x);
        update();
        return;
    }
    seeking_ = true;
    if (OnSeek)
        OnSeek(FrameAt(x));
}

void TWaveformBar::mouseMoveEvent(QMouseEvent* event)
{
    const int x = static_cast<int>(event->position().x());
    if (dragging_ != TMarker::None) {
        dragFrame_ = FrameAt(x);
        update();
    } else if (seeking_) {
        if (OnSeek)
            OnSeek(FrameAt(x));
    } else {
        setCursor(MarkerAt(x) != TMarker::None ? Qt::SizeHorCursor : Qt::PointingHandCursor);
    }
}

void TWaveformBar::mouseReleaseEvent(QMouseEvent* event)
{
    seeking_ = false;
    if (dragging_ == TMarker::None)
        return;
    const TMarker marker = dragging_;
    dragging_ = TMarker::None;
    dragFrame_ = FrameAt(static_cast<int>(event->position().x()));
    update();
    if (OnMarkerMoved)
        OnMarkerMoved(marker, SecondsOfFrame(dragFrame_));
}

void TWaveformBar::wheelEvent(QWheelEvent* event)
{
    const int steps = event->angleDelta().y() / 120;
    if (steps == 0)
        return;
    Zoom(std::pow(0.8, steps), static_cast<int>(event->position().x()));
    event->accept();
}

void TWaveformBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const int w = width();
    const int h = height();
    p.fillRect(rect(), QColor(28, 34, 46));
    if (frames_ <= 0) {
        p.setPen(QColor(90, 100, 120));
        p.drawLine(0, h / 2, w, h / 2);
        return;
    }

    // The segment and its faded ends.
    const bool inSet = in_ >= 0;
    const bool outSet = out_ >= 0;
    const std::int64_t inFrame = inSet ? FrameOfSeconds(in_) : 0;
    const std::int64_t outFrame = outSet ? FrameOfSeconds(out_) : frames_;
    std::int64_t shownIn = inFrame;
    std::int64_t shownOut = outFrame;
    if (dragging_ == TMarker::In)
        shownIn = dragFrame_;
    else if (dragging_ == TMarker::Out)
        shownOut = dragFrame_;
    if ((inSet || outSet || dragging_ != TMarker::None) && shownOut > shownIn) {
        const int x0 = XOf(shownIn);
        const int x1 = XOf(shownOut);
        p.fillRect(QRect(x0, 0, x1 - x0, h), QColor(52, 78, 120));
        // What a build fades: in over the first X frames and out over the last
        // X, with X the crossfade lowered to the segment's length.
        const std::int64_t fade = CrossfadeFrames(crossfade_, (shownOut - shownIn) * kPcmFrameBytes);
        if (fade > 1) {
            p.setRenderHint(QPainter::Antialiasing);
            const int f0 = XOf(shownIn + fade);
            const int f1 = XOf(shownOut - fade);
            auto zone = [&](int from, int to, bool rising) {
                // The gain curve across the zone; above it the audio is shaded.
                QPolygonF curve;
                const int n = std::max(2, std::abs(to - from));
                for (int i = 0; i <= n; ++i) {
                    const double u = static_cast<double>(i) / n;
                    const auto frame = std::min(fade - 1, static_cast<std::int64_t>(u * static_cast<double>(fade - 1)));
                    const double g = rising ? FadeInGain(frame, fade, envelope_) : FadeOutGain(frame, fade, envelope_);
                    curve << QPointF(from + (to - from) * u, (1 - g) * h);
                }
                QPainterPath shade;
                shade.moveTo(from, 0);
                for (const QPointF& point : curve)
                    shade.lineTo(point);
                shade.lineTo(to, 0);
                shade.closeSubpath();
                p.fillPath(shade, QColor(28, 34, 46, 150));
                p.setPen(QPen(QColor(255, 214, 120, 200), 1));
                p.drawPolyline(curve);
            };
            zone(x0, f0, true);
            zone(f1, x1, false);
            p.setRenderHint(QPainter::Antialiasing, false);
        }
    }

    // The waveform, column by column, as far as the summary is made.
    const int mid = h / 2;
    if (summary_) {
        const double scale = (h / 2 - 1) / (kSampleMax + 1.0);
        p.setPen(QColor(126, 200, 255));
        for (int c = 0; c < w; ++c) {
            const auto [from, to] = ColumnBlocks(viewFrom_, viewTo_, w, c);
            const auto [ready, peak] = summary_->Peak(from, to);
            if (!ready)
                break;
            const int top = mid - static_cast<int>(std::lround(peak.Max * scale));
            const int bottom = mid - static_cast<int>(std::lround(peak.Min * scale));
            p.drawLine(c, top, c, std::max(top, bottom));
        }
    }
    p.setPen(QColor(90, 110, 140));
    p.drawLine(0, mid, w, mid);

    // Markers: in (green) and out (orange), each with a flag at the top.
    auto marker = [&](std::int64_t frame, const QColor& colour, bool in) {
        const int x = XOf(frame);
        p.setPen(QPen(colour, 1));
        p.drawLine(x, 0, x, h);
        const QPolygon flag = in ? QPolygon({QPoint(x, 0), QPoint(x + 6, 0), QPoint(x, 6)})
                                 : QPolygon({QPoint(x, 0), QPoint(x - 6, 0), QPoint(x, 6)});
        p.setBrush(colour);
        p.drawPolygon(flag);
    };
    if (inSet || dragging_ == TMarker::In)
        marker(shownIn, QColor(90, 220, 120), true);
    if (outSet || dragging_ == TMarker::Out)
        marker(shownOut, QColor(255, 150, 60), false);

    // The playhead.
    p.setPen(QPen(QColor(255, 80, 80), 1));
    const int x = XOf(playhead_);
    p.drawLine(x, 0, x, h);

    // While zoomed, where the view lies in the file.
    if (viewTo_ - viewFrom_ < frames_) {
        const int a = static_cast<int>(static_cast<long double>(viewFrom_) * w / frames_);
        const int b = std::max(a + 2, static_cast<int>(static_cast<long double>(viewTo_) * w / frames_));
        p.fillRect(QRect(a, h - 2, b - a, 2), QColor(255, 255, 255, 140));
    }
}

} // namespace medlark
