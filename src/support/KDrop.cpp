#include "support/KDrop.h"

#include <QAbstractScrollArea>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace medlark {

TKAddDrop::TKAddDrop(QObject* owner) : QObject(owner)
{
}

TKAddDrop::~TKAddDrop()
{
    if (control_)
        Attach(false);
}

QWidget* TKAddDrop::DropSurface() const
{
    // A scrolling list receives drops on its viewport.
    if (auto* area = qobject_cast<QAbstractScrollArea*>(control_.data()))
        return area->viewport();
    return control_;
}

void TKAddDrop::Attach(bool attach)
{
    QWidget* surface = DropSurface();
    if (surface == nullptr)
        return;
    if (attach) {
        surface->installEventFilter(this);
        if (surface != control_)
            control_->installEventFilter(this);
    } else {
        surface->removeEventFilter(this);
        control_->removeEventFilter(this);
    }
    surface->setAcceptDrops(attach && active_);
    control_->setAcceptDrops(attach && active_);
}

void TKAddDrop::SetControl(QWidget* control)
{
    if (control == control_)
        return;
    if (control_)
        Attach(false);
    control_ = control;
    if (control_)
        Attach(true);
}

void TKAddDrop::SetActive(bool active)
{
    if (active == active_)
        return;
    active_ = active;
    if (control_) {
        DropSurface()->setAcceptDrops(active_);
        control_->setAcceptDrops(active_);
    }
}

bool TKAddDrop::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDropEvent*>(event);
        if (!active_ || !drag->mimeData()->hasUrls())
            return false;
        drag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        if (!active_ || !drop->mimeData()->hasUrls())
            return false;
        lastDropFiles_.clear();
        for (const QUrl& url : drop->mimeData()->urls())
            if (url.isLocalFile())
                lastDropFiles_ << url.toLocalFile();
        drop->acceptProposedAction();
        if (OnDropFiles)
            OnDropFiles(this, control_, lastDropFiles_);
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}

} // namespace medlark
