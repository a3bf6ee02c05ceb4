#include "ui/HtmlPopup.h"

namespace medlark {

THTMLPopup::THTMLPopup(QWidget* owner) : QLabel(owner, Qt::ToolTip | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("HTMLPopup1"));
    setTextFormat(Qt::RichText);
    setMargin(4);
    setStyleSheet(QStringLiteral("background: #fffbe6; color: #222; border: 1px solid #c9b96b;"));
    hide();
}

void THTMLPopup::ShowFor(QWidget* control, const QString& hint)
{
    setText(QStringLiteral("<b>") + hint.toHtmlEscaped() + QStringLiteral("</b>"));
    adjustSize();
    QWidget* window = control->window();
    const QPoint topLeft = window->mapToGlobal(QPoint(0, 0));
    const QPoint inWindow = control->mapTo(window, QPoint(0, 0));
    move(topLeft.x() + inWindow.x(), topLeft.y() + inWindow.y() + control->height());
    show();
    raise();
}

} // namespace medlark
