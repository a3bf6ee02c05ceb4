#pragma once
// Measures the loudness of the list's segments in the background, one at a
// time on a thread of its own, so that the rows and the editor can show it
// without the window ever waiting. What it measures goes into the engine's
// cache (KnownSegmentLoudness), where the build finds it too; segments the
// engine cannot measure are remembered here, to be shown as such.

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace medlark {

struct TSegmentKey final {
    QString Path;
    double Start = 0;
    double End = 0;

    bool operator==(const TSegmentKey&) const = default;
};

class TSegmentMeasurer final : public QObject {
    Q_OBJECT
public:
    // Wanted segments wait this long after the last request, so that a run of
    // edits (a marker dragged, a key held) measures only the points it ends at.
    static constexpr int kDebounceMs = 300;

    explicit TSegmentMeasurer(QObject* parent = nullptr);
    ~TSegmentMeasurer() override;   // as Stop

    // The segments to measure, the most wanted first. Replaces what was asked
    // for before: a measurement under way that is no longer wanted is given up.
    // Segments known already or found unmeasurable are left out.
    void Request(const std::vector<TSegmentKey>& wanted);
    // The segment could not be measured (its file does not decode, or ends
    // before the in point), and the file has not changed since.
    bool Unmeasurable(const TSegmentKey& key) const;
    // A segment is being measured now.
    bool Measuring() const;
    // Gives up what is under way, for good, and waits for the thread.
    void Stop();

Q_SIGNALS:
    // A segment was measured (its loudness is in the engine's cache now) or
    // found unmeasurable. On the user-interface thread.
    void Measured(const TSegmentKey& key);

private:
    struct TFailed final {
        TSegmentKey Key;
        qint64 Size = -1;
        QDateTime Modified;
    };

    void Dispatch();
    void Run();
    void Delivered(const TSegmentKey& key, bool measured);

    QTimer debounce_;
    std::vector<TSegmentKey> pending_;   // waiting for the debounce
    std::vector<TFailed> failed_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<TSegmentKey> queue_;
    std::optional<TSegmentKey> current_;
    std::atomic<bool> quit_{false};
    std::atomic<bool> abandon_{false};   // the current measurement is no longer wanted
    std::thread thread_;
};

} // namespace medlark
