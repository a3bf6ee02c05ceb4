#pragma once
// Hearing the joins before building: the medley around the join into a track
// ("つなぎ目を試聴"), or from there to the end ("ここから通しで再生"), rendered
// live from the current list and settings by the build's own mixer and played
// on a player of its own. Knows nothing of any window.

#include "render/MedleyPreview.h"
#include "ui/AudioPlayer.h"

#include <QObject>
#include <QTimer>

#include <atomic>
#include <thread>

namespace medlark {

class TJoinPreview final : public QObject {
    Q_OBJECT
public:
    enum class TKind { Join, PlayThrough };

    explicit TJoinPreview(QObject* parent = nullptr);
    ~TJoinPreview() override;

    // Plays the join into list track `track` (or the medley from there on).
    // False when that track is not heard in the medley (it would be skipped).
    bool Start(TKind kind, const std::vector<TMedleyEntry>& entries, const TMedleySettings& settings, int track);
    void Stop();
    bool IsPlaying() const { return player_.IsPlaying(); }
    TKind Kind() const { return kind_; }

    // Finds the sources' lengths in the background, so that a start is quick.
    void Prepare(const std::vector<TMedleyEntry>& entries);

    TAudioPlayer& Player() { return player_; }
    // The medley frame being heard now.
    std::int64_t MedleyFrame();
    const TMedleyLayout& Layout() const { return layout_; }

Q_SIGNALS:
    // While playing, about 30 times a second: the titles of the two tracks of
    // the join being heard and the playhead in seconds from where its crossfade begins.
    void Heard(const QString& before, const QString& after, double secondsFromJoin);
    void Started();
    void Stopped();

private:
    void Tick();

    TAudioPlayer player_;
    TMedleyLayout layout_;
    std::vector<TMedleyEntry> entries_;
    std::int64_t from_ = 0;
    TKind kind_ = TKind::Join;
    QTimer tick_;
    std::thread prepare_;
    std::atomic<bool> cancelPrepare_{false};
};

} // namespace medlark
