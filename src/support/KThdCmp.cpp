#include "support/KThdCmp.h"

#include "model/Error.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace medlark {

namespace {

QThread::Priority ToQt(TThreadPriority p)
{
    switch (p) {
    case tpIdle: return QThread::IdlePriority;
    case tpLowest: return QThread::LowestPriority;
    case tpLower: return QThread::LowPriority;
    case tpNormal: return QThread::NormalPriority;
    case tpHigher: return QThread::HighPriority;
    case tpHighest: return QThread::HighestPriority;
    case tpTimeCritical: return QThread::TimeCriticalPriority;
    }
    return QThread::NormalPriority;
}

bool OnUiThread(const QObject* object)
{
    return QThread::currentThread() == object->thread();
}

} // namespace

TKThdComp::TKThdComp(QObject* owner) : QObject(owner)
{
}

TKThdComp::~TKThdComp()
{
    // A running component must not be destroyed; should it happen, wait for the
    // worker rather than leave it relaying to a dead object.
    if (FThread && FThread->isRunning()) {
        stopRequested_ = true;
        while (FThread && !FThread->wait(10))
            QCoreApplication::processEvents();
    }
}

void TKThdComp::Start()
{
    if (FRunning)
        throw Error(QStringLiteral("スレッドを２重に起動できません"));
    if (!OnExecute)
        return;
    FRunning = true;
    stopRequested_ = false;
    FThread = QThread::create([this] {
        if (!stopRequested_) {
            try {
                OnExecute(this);
            } catch (...) {
                // An error escaping the work ends the run silently.
            }
        }
        // The end relay runs on the user-interface thread; the worker waits for it.
        QMetaObject::invokeMethod(this, [this] { EndRelay(); }, Qt::BlockingQueuedConnection);
    });
    connect(FThread, &QThread::finished, FThread, &QObject::deleteLater);
    FThread->start(ToQt(Priority));
}

void TKThdComp::EndRelay()
{
    FRunning = false;
    if (OnTerminate)
        OnTerminate(this);
}

void TKThdComp::Terminate()
{
    if (FRunning)
        stopRequested_ = true;
}

bool TKThdComp::Terminated() const
{
    return !FRunning || stopRequested_;
}

void TKThdComp::AsyncEvent(std::function<void()> call)
{
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

void TKThdComp::Synchronize(const std::function<void()>& call)
{
    if (OnUiThread(this))
        call();
    else
        QMetaObject::invokeMethod(this, call, Qt::BlockingQueuedConnection);
}

} // namespace medlark
