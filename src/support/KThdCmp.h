#pragma once
// TKThdComp runs one piece of work on a fresh worker thread per Start and tells
// its owner on the user-interface thread when the work has ended. The worker can
// reach the user-interface thread by AsyncEvent (queued, in order, no waiting)
// and Synchronize (runs there and waits for the result).

#include <QObject>
#include <QPointer>
#include <QRecursiveMutex>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <functional>


namespace medlark {

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TKThdComp final : public QObject {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(TKThdComp* sender)>;
    using TKThdAsyncEvent = std::function<void(TKThdComp* sender, std::uintptr_t wParam, std::intptr_t lParam)>;
    using TKThdSyncEvent = std::function<void(TKThdComp* sender, std::uintptr_t wParam, std::intptr_t lParam,
                                              std::intptr_t& result)>;

    explicit TKThdComp(QObject* owner = nullptr);
    ~TKThdComp() override;

    TNotifyEvent OnExecute;
    TNotifyEvent OnTerminate;
    TKThdAsyncEvent OnAsyncEvent;
    TKThdSyncEvent OnSynchronize;
    TThreadPriority Priority = tpNormal;
    std::intptr_t Tag = 0;   // the owner's

    // Raises "スレッドを２重に起動できません" while running; does nothing without OnExecute.
    void Start();
    // Sets the stop request of the running work; the work polls Terminated().
    void Terminate();
    bool Running() const { return FRunning; }
    bool Terminated() const;

    void CriticalEnter() { FCriticalSection.lock(); }
    void CriticalLeave() { FCriticalSection.unlock(); }

    void AsyncEvent(std::uintptr_t wParam, std::intptr_t lParam);
    std::intptr_t Synchronize(std::uintptr_t wParam, std::intptr_t lParam);

private:
    void EndRelay();

    QRecursiveMutex FCriticalSection;
    QPointer<QThread> FThread;   // deletes itself after its run
    bool FRunning = false;
    std::atomic<bool> stopRequested_{false};
};

} // namespace medlark
