#pragma once
// The track list on screen: one 45-pixel row per entry with its caption markup
// drawn as rich text 9 pixels from the top and 2 from the left; the segment's
// loudness at the right end of the title's line, the track's gain at the
// right end of the times' line. An entry dragged
// more than 5 pixels and released over another moves to that entry's index
// (below the last row: to the end); while dragging, a line shows where it
// will go. The Delete key asks for the selected entry's removal.

#include <QListWidget>
#include <QStyledItemDelegate>

namespace medlark {

// How a row is drawn.
inline constexpr int kTrackRowHeight = 45;
inline constexpr int kTrackCaptionTop = 9;
inline constexpr int kTrackCaptionLeft = 2;
// An item's texts beside its caption (Qt::UserRole): its segment's loudness
// ("−12.3 LUFS", "…" while measuring, "—" when it cannot be measured, empty
// without a segment) and its gain ("−6.0 dB", empty at 0 dB).
inline constexpr int kTrackLoudnessRole = Qt::UserRole + 1;
inline constexpr int kTrackGainRole = Qt::UserRole + 2;

class TTrackListView final : public QListWidget {
    Q_OBJECT
public:
    explicit TTrackListView(QWidget* parent);

    // Where an entry dragged from `from` and released at the point would go (-1: nowhere).
    int DropTarget(int from, const QPoint& at) const;

Q_SIGNALS:
    void MoveRequested(int from, int to);
    void DeleteRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int pressedRow_ = -1;
    QPoint pressedAt_;
    bool dragging_ = false;
    int dropRow_ = -1;   // shown while dragging
};

// Draws an item's caption markup (bold, font colour, font size).
class TCaptionDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

} // namespace medlark
