#pragma once
// The embedded preview player: the operations the in/out editor, the settings
// and the main window's closing rely on, in the shape of the media-player
// control they were written for (URL, openState, playState, uiMode, controls,
// settings, currentPlaylist), with its own transport bar. Playing is done by
// TAudioPlayer on the build's own decoding; positions are seconds whose frame
// Trunc(t x 44100) is the frame a build cuts there.

#include "ui/AudioPlayer.h"

#include <QIcon>
#include <QTimer>
#include <QWidget>

class QLabel;
class QSlider;
class QToolButton;

namespace medlark {

class TWaveformBar;

inline constexpr int kOpenStateMediaOpen = 13;
inline constexpr int kPlayStateStopped = 1;
inline constexpr int kPlayStatePaused = 2;
inline constexpr int kPlayStatePlaying = 3;
inline constexpr int kPlayStateMediaEnded = 8;
inline constexpr int kPlayStateReady = 10;

class TWindowsMediaPlayer final : public QWidget {
    Q_OBJECT
public:
    explicit TWindowsMediaPlayer(QWidget* parent);
    ~TWindowsMediaPlayer() override;

    class TControls final {
    public:
        void play();
        void stop();    // ends playback; the position returns to 0
        void pause();   // keeps the position
        double currentPosition() const;
        // Seeks to the frame of t; a negative t seeks to 0, one past the end to the end.
        void setCurrentPosition(double t);

    private:
        friend class TWindowsMediaPlayer;
        TWindowsMediaPlayer* player_ = nullptr;
    };
    class TSettings final {
    public:
        int volume() const;
        void setVolume(int volume);   // held to 0 … 100

    private:
        friend class TWindowsMediaPlayer;
        TWindowsMediaPlayer* player_ = nullptr;
    };
    class TPlaylist final {
    public:
        void clear();

    private:
        friend class TWindowsMediaPlayer;
        TWindowsMediaPlayer* player_ = nullptr;
    };

    TControls controls;
    TSettings settings;
    TPlaylist currentPlaylist;

    QString URL() const { return url_; }
    // A path loads the file without playing it; the empty text unloads.
    void setURL(const QString& url);
    // Plays the open file through another program (the same file, levelled),
    // keeping the position and whether it plays. Nothing while no file is open.
    void ReplaceProgram(std::unique_ptr<TPcmProgram> program);
    int openState() const;   // 13 when open
    int playState() const;   // 3 while playing
    QString uiMode() const { return uiMode_; }
    void setUiMode(const QString& mode);   // "full" or "mini"

    TAudioPlayer& Engine() { return engine_; }
    TWaveformBar* SeekBar() const { return seekBar_; }
    QToolButton* PlayButton() const { return playButton_; }
    QToolButton* StopButton() const { return stopButton_; }
    QLabel* TimeText() const { return timeText_; }
    QSlider* VolumeSlider() const { return volumeSlider_; }
    QLabel* NoOutputText() const { return noOutput_; }

    // Play or pause, as the transport bar's first button.
    void TogglePlay();
    // Seeks by a number of seconds from the position.
    void SeekBy(double seconds);

Q_SIGNALS:
    void PositionChanged();

private:
    void Layout();
    void Refresh();

    TAudioPlayer engine_;
    QString url_;
    QString uiMode_ = QStringLiteral("full");
    TWaveformBar* seekBar_;
    QToolButton* playButton_;
    QToolButton* stopButton_;
    QLabel* timeText_;
    QLabel* volumeIcon_;
    QSlider* volumeSlider_;
    QLabel* noOutput_;
    QIcon playIcon_;
    QIcon pauseIcon_;
    bool showsPause_ = false;
    QTimer tick_;
    QTimer lengthWait_;   // until the file's length is known
};

} // namespace medlark
