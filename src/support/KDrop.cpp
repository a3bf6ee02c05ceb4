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
    if (FControl)
        Attach(false);
}

QWidget* TKAddDrop::DropSurface() const
{
    // A scrolling list receives drops on its viewport.
    if (auto* area = qobject_cast<QAbstractScrollArea*>(FControl.data()))
        return area->viewport();
    return FControl;
}

void TKAddDrop::Attach(bool attach)
{
    QWidget* surface = DropSurface();
    if (surface == nullptr)
        return;
    if (attach) {
        surface->installEventFilter(this);
        if (surface != FControl)
            FControl->installEventFilter(this);
    } else {
        surface->removeEventFilter(this);
        FControl->removeEventFilter(this);
    }
    surface->setAcceptDrops(attach && FActive);
    FControl->setAcceptDrops(attach && FActive);
}

void TKAddDrop::SetControl(QWidget* control)
{
    if (control == FControl)
        return;
    if (FControl)
        Attach(false);
    FControl = control;
    if (FControl)
        Attach(true);
}

void TKAddDrop::SetActive(bool active)
{
    if (active == FActive)
        return;
    FActive = active;
    if (FControl) {
        DropSurface()->setAcceptDrops(FActive);
        FControl->setAcceptDrops(FActive);
    }
}

bool TKAddDrop::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDropEvent*>(event);
        if (!FActive || !drag->mimeData()->hasUrls())
            return false;
        drag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        if (!FActive || !drop->mimeData()->hasUrls())
            return false;
        FLastDropFiles.clear();
        for (const QUrl& url : drop->mimeData()->urls())
            if (url.isLocalFile())
                FLastDropFiles << url.toLocalFile();
        drop->acceptProposedAction();
        if (OnDropFiles)
            OnDropFiles(this, FControl, FLastDropFiles);
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}

} // namespace medlark
