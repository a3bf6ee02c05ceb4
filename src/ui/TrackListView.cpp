#include "ui/TrackListView.h"

#include "model/TrackList.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QTextDocument>

namespace medlark {

TTrackListView::TTrackListView(QWidget* parent) : QListWidget(parent)
{
    setItemDelegate(new TCaptionDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setDragDropMode(QAbstractItemView::NoDragDrop);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
}

void TTrackListView::mousePressEvent(QMouseEvent* event)
{
    QListWidget::mousePressEvent(event);
    dragging_ = false;
    pressedRow_ = -1;
    if (event->button() == Qt::LeftButton) {
        pressedRow_ = row(itemAt(event->position().toPoint()));
        pressedAt_ = event->position().toPoint();
    }
}

void TTrackListView::mouseMoveEvent(QMouseEvent* event)
{
    if (pressedRow_ >= 0 && (event->buttons() & Qt::LeftButton)) {
        const QPoint d = event->position().toPoint() - pressedAt_;
        if (!dragging_ && (std::abs(d.x()) > 5 || std::abs(d.y()) > 5)) {
            dragging_ = true;
            viewport()->setCursor(Qt::DragMoveCursor);
        }
        if (dragging_)
            return;
    }
    QListWidget::mouseMoveEvent(event);
}

void TTrackListView::mouseReleaseEvent(QMouseEvent* event)
{
    if (dragging_) {
        viewport()->unsetCursor();
        const int target = row(itemAt(event->position().toPoint()));
        const int from = pressedRow_;
        dragging_ = false;
        pressedRow_ = -1;
        if (target >= 0 && target != from)
            Q_EMIT MoveRequested(from, target);
        return;
    }
    pressedRow_ = -1;
    QListWidget::mouseReleaseEvent(event);
}

void TCaptionDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    opt.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

    QTextDocument doc;
    doc.setDefaultFont(option.font);
    doc.setDocumentMargin(0);
    doc.setHtml(index.data(Qt::UserRole).toString());
    painter->save();
    painter->translate(option.rect.topLeft() + QPoint(kTrackCaptionLeft, kTrackCaptionTop));
    painter->setClipRect(QRect(0, 0, option.rect.width() - kTrackCaptionLeft, option.rect.height() - kTrackCaptionTop));
    doc.drawContents(painter);
    painter->restore();
}

QSize TCaptionDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    return {option.rect.width(), kTrackRowHeight};
}

} // namespace medlark
