#pragma once
// TKThdComp runs one piece of work on a fresh worker thread per Start and tells
// its owner on the user-interface thread when the work has ended. The worker can
// run calls on the user-interface thread: AsyncEvent (queued, in order, no
// waiting) and Synchronize (runs there and waits until it has run).

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

    explicit TKThdComp(QObject* owner = nullptr);
    ~TKThdComp() override;

    TNotifyEvent OnExecute;
    TNotifyEvent OnTerminate;
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

    // Runs call on the user-interface thread after the calls posted before it;
    // returns at once. Callable from any thread.
    void AsyncEvent(std::function<void()> call);
    // Runs call on the user-interface thread and returns once it has run
    // (what it hands back, it writes through its captures). On that thread
    // itself the call runs at once.
    void Synchronize(const std::function<void()>& call);

private:
    void EndRelay();

    QRecursiveMutex FCriticalSection;
    QPointer<QThread> FThread;   // deletes itself after its run
    bool FRunning = false;
    std::atomic<bool> stopRequested_{false};
};

} // namespace medlark
