#pragma once
// The player's seek bar: the loaded file's waveform (min and max per column,
// from a summary made in the background), the playhead, the in and out points
// as markers with the segment between them highlighted, and the zones a build
// fades over the crossfade time. A click or drag seeks, a marker can be
// dragged, the wheel zooms around the pointer down to about 10 ms a pixel.

#include "model/MedleySettings.h"
#include "render/Mixing.h"
#include "render/WaveformSummary.h"

#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

namespace medlark {

class TWaveformBar final : public QWidget {
    Q_OBJECT
public:
    enum class TMarker { None, In, Out };

    explicit TWaveformBar(QWidget* parent);
    ~TWaveformBar() override;

    // A new file (the empty path: none) of `frames` frames (negative: not
    // known yet); its summary is made in the background, cancelling the one before.
    void SetSource(const QString& path, std::int64_t frames);
    // The length, once known.
    void SetLength(std::int64_t frames);
    void SetPlayhead(std::int64_t frame);
    // In and out points in seconds, negative when not set.
    void SetPoints(double in, double out);
    void SetFade(double crossfadeSeconds, TEnvelope envelope);

    std::int64_t Frames() const { return frames_; }
    std::int64_t ViewFrom() const { return viewFrom_; }
    std::int64_t ViewTo() const { return viewTo_; }
    // The frame under column x of the view, and back.
    std::int64_t FrameAt(int x) const;
    int XOf(std::int64_t frame) const;
    // Zooms by factor (below 1: in) keeping the frame under x in place.
    void Zoom(double factor, int x);
    const TWaveformSummary* Summary() const { return summary_.get(); }

    std::function<void(std::int64_t frame)> OnSeek;
    // A marker dropped at a new place (seconds).
    std::function<void(TMarker marker, double seconds)> OnMarkerMoved;

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void Poll();
    TMarker MarkerAt(int x) const;
    void FollowPlayhead();

    std::unique_ptr<TWaveformLoader> loader_;
    std::shared_ptr<const TWaveformSummary> summary_;
    QTimer poll_;
    std::int64_t frames_ = 0;
    std::int64_t viewFrom_ = 0;
    std::int64_t viewTo_ = 0;
    std::int64_t playhead_ = 0;
    std::int64_t drawnReady_ = -1;
    double in_ = -1;
    double out_ = -1;
    TCrossfade crossfade_ = SetCrossfadeTime(10);
    TEnvelope envelope_ = TEnvelope::Linear;
    TMarker dragging_ = TMarker::None;
    std::int64_t dragFrame_ = 0;
    bool seeking_ = false;
};

} // namespace medlark
