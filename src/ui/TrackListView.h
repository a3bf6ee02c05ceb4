#pragma once
// The track list on screen: one 45-pixel row per entry with its caption markup
// drawn as rich text 9 pixels from the top and 2 from the left. An entry dragged
// more than 5 pixels and released over another moves to that entry's index.

#include <QListWidget>
#include <QStyledItemDelegate>

namespace medlark {

class TTrackListView final : public QListWidget {
    Q_OBJECT
public:
    explicit TTrackListView(QWidget* parent);

Q_SIGNALS:
    void MoveRequested(int from, int to);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int pressedRow_ = -1;
    QPoint pressedAt_;
    bool dragging_ = false;
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
