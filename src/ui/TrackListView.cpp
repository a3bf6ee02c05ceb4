#include "ui/TrackListView.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QtMath>

namespace medlark {

using namespace Qt::StringLiterals;

namespace {

// The loudness and the gain end this far from the row's right edge, and the
// caption stops this far before them.
constexpr int kTrackExtraRight = 3;
constexpr int kTrackExtraGap = 6;

} // namespace

TTrackListView::TTrackListView(QWidget* parent) : QListWidget(parent)
{
    setItemDelegate(new TCaptionDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setDragDropMode(QAbstractItemView::NoDragDrop);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
}

int TTrackListView::DropTarget(int from, const QPoint& at) const
{
    if (from < 0 || count() == 0)
        return -1;
    const int over = row(itemAt(at));
    if (over >= 0)
        return over;
    // Below the last row: to the end.
    const QRect last = visualItemRect(item(count() - 1));
    return at.y() > last.bottom() ? count() - 1 : -1;
}

void TTrackListView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier) {
        Q_EMIT DeleteRequested();
        return;
    }
    QListWidget::keyPressEvent(event);
}

void TTrackListView::paintEvent(QPaintEvent* event)
{
    QListWidget::paintEvent(event);
    if (!dragging_ || dropRow_ < 0 || dropRow_ == pressedRow_)
        return;
    // The entry goes below the row it is dropped on when it comes from above, else above it.
    const QRect target = visualItemRect(item(dropRow_));
    const int y = dropRow_ > pressedRow_ ? target.bottom() : target.top();
    QPainter p(viewport());
    p.setPen(QPen(palette().color(QPalette::Highlight), 2));
    p.drawLine(2, y, viewport()->width() - 3, y);
    p.setBrush(palette().color(QPalette::Highlight));
    p.drawEllipse(QPoint(4, y), 3, 3);
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
        if (dragging_) {
            const int target = DropTarget(pressedRow_, event->position().toPoint());
            if (target != dropRow_) {
                dropRow_ = target;
                viewport()->update();
            }
            return;
        }
    }
    QListWidget::mouseMoveEvent(event);
}

void TTrackListView::mouseReleaseEvent(QMouseEvent* event)
{
    if (dragging_) {
        viewport()->unsetCursor();
        const int from = pressedRow_;
        const int target = DropTarget(from, event->position().toPoint());
        dragging_ = false;
        pressedRow_ = -1;
        dropRow_ = -1;
        viewport()->update();
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
    QString html = index.data(Qt::UserRole).toString();
    const bool selected = option.state & QStyle::State_Selected;
    if (selected) {
        // On the selection's colour the title takes its text colour and the grey times a light one.
        const QString text = option.palette.color(QPalette::HighlightedText).name();
        html = u"<font color=\""_s + text + u"\">"_s + html.replace(u"#999999"_s, u"#dbe6f6"_s) + u"</font>"_s;
    }
    doc.setHtml(html);
    doc.size();   // lays the caption out

    // The loudness at the end of the first line, the gain at the end of the
    // second; the caption gives way to them.
    QFont small = option.font;
    small.setPixelSize(10);
    const QFontMetrics metrics(small);
    const QString loudness = index.data(kTrackLoudnessRole).toString();
    const QString gain = index.data(kTrackGainRole).toString();
    const int width = option.rect.width() - kTrackCaptionLeft - kTrackExtraRight;
    const int height = option.rect.height() - kTrackCaptionTop;
    auto room = [&](const QString& text) {
        return text.isEmpty() ? width + kTrackExtraRight : width - metrics.horizontalAdvance(text) - kTrackExtraGap;
    };
    const QTextLayout* layout = doc.begin().layout();
    const QTextLine first = layout != nullptr && layout->lineCount() > 0 ? layout->lineAt(0) : QTextLine();
    const QTextLine second = layout != nullptr && layout->lineCount() > 1 ? layout->lineAt(1) : QTextLine();
    const int split = first.isValid() ? qCeil(first.y() + first.height()) : height;
    QRegion clip(0, 0, room(loudness), split);
    clip += QRegion(0, split, room(gain), height - split);

    painter->save();
    painter->translate(option.rect.topLeft() + QPoint(kTrackCaptionLeft, kTrackCaptionTop));
    painter->setClipRegion(clip);
    doc.drawContents(painter);
    painter->setClipRect(QRect(0, 0, width + kTrackExtraRight, height));
    painter->setFont(small);
    painter->setPen(QColor(selected ? u"#dbe6f6"_s : u"#7d8794"_s));
    auto extra = [&](const QString& text, const QTextLine& line, qreal fallbackBaseline) {
        if (text.isEmpty())
            return;
        const qreal baseline = line.isValid() ? line.y() + line.ascent() : fallbackBaseline;
        painter->drawText(QPointF(width - metrics.horizontalAdvance(text), baseline), text);
    };
    extra(loudness, first, metrics.ascent());
    extra(gain, second, split + metrics.ascent());
    painter->restore();
}

QSize TCaptionDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    return {option.rect.width(), kTrackRowHeight};
}

} // namespace medlark
