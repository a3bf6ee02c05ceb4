#pragma once
// The preview player's engine: plays a source file through the build's own
// decoding into the sound output (44.1 kHz stereo 16-bit), with a position that
// is the frame being heard. Without a sound output it runs as a silent clock in
// real time. Knows nothing of any window.

#include "render/PlaybackFeed.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>

class QAudioSink;
class QIODevice;

namespace medlark {

class TAudioPlayer final : public QObject {
    Q_OBJECT
public:
    enum class TState { Closed, Ready, Stopped, Paused, Playing, Ended };

    explicit TAudioPlayer(QObject* parent = nullptr);
    ~TAudioPlayer() override;

    // Opens a source file without playing it; false (and closed) when it does
    // not decode. The empty path unloads.
    bool Load(const QString& path);
    // Plays a program of PCM instead of a file.
    void LoadProgram(std::unique_ptr<TPcmProgram> program);
    // Puts another program in the place of the one loaded, at the same frame
    // and in the same state: playing goes on from the frame being heard (a
    // moment is decoded afresh), a paused or stopped player stays where it
    // was. Without anything loaded, as LoadProgram.
    void ReplaceProgram(std::unique_ptr<TPcmProgram> program);
    void Unload();

    TState State() const { return state_; }
    bool IsOpen() const { return state_ != TState::Closed; }
    bool IsPlaying() const { return state_ == TState::Playing; }
    // Length in frames (waits for the decoding thread to find it); 0 when closed.
    std::int64_t Frames();
    // The length when it is known already, -1 before (0 when closed).
    std::int64_t KnownFrames();

    void Play();    // from the position; from the start after the end
    void Pause();   // keeps the position
    void Stop();    // ends playback, position 0

    // The frame being heard now while playing, the frame playback resumes at otherwise.
    std::int64_t Position();
    // Seeks to the frame, held to 0 … the length.
    void Seek(std::int64_t frame);

    int Volume() const { return volume_; }   // 0 … 100
    void SetVolume(int volume);              // held to 0 … 100

    // Pauses and closes the sound output (a later play opens it again). Its
    // closing processes pending events, so the owner calls this while its
    // widgets are whole, not from the middle of their destruction.
    void ReleaseOutput();

    // A sound output could be opened (false: playback is a silent clock).
    bool HasSoundOutput() const { return soundOutput_; }

Q_SIGNALS:
    void StateChanged();
    void SoundOutputChanged(bool available);

private:
    void SetState(TState state);
    void StartOutput(std::int64_t frame);
    void StopOutput();
    void LoseOutput();
    // Tops the output up from the feed; ends playback at the end.
    void Pump();
    std::int64_t HeardFrames();
    void ApplyVolume();

    static constexpr std::int64_t kChunkFrames = 2048;

    std::unique_ptr<TPlaybackFeed> feed_;
    QAudioSink* sink_ = nullptr;
    QIODevice* out_ = nullptr;       // the output's buffer while it plays
    PcmBlock chunk_ = PcmBlock(kChunkFrames * kPcmChannels);
    QTimer pump_;
    QElapsedTimer clock_;            // the silent clock
    TState state_ = TState::Closed;
    std::int64_t rest_ = 0;          // position while not playing
    std::int64_t startFrame_ = 0;    // where the current playback started
    std::int64_t handed_ = 0;        // frames written to the output since then
    std::int64_t padding_ = 0;       // silence written after the end
    std::int64_t heard_ = 0;         // frames heard since then, as last told
    std::int64_t reported_ = 0;      // the output's last word on what it played
    QElapsedTimer reportedAt_;       // since that word changed
    int volume_ = 50;
    bool soundOutput_ = true;
    bool silent_ = false;            // the current playback runs on the silent clock
};

} // namespace medlark
