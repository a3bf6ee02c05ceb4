#include "ui/MediaPlayer.h"

#include "model/TimeText.h"
#include "ui/WaveformBar.h"

#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QSlider>
#include <QStyle>
#include <QToolButton>

#include <cmath>
#include <utility>

namespace medlark {

using namespace Qt::StringLiterals;

namespace {

enum class TTransportIcon { Play, Pause, Stop };

// Light pictures for the dark bar.
QIcon TransportIcon(TTransportIcon kind)
{
    QIcon icon;
    for (const auto& [mode, colour] : {std::pair{QIcon::Normal, QColor(230, 236, 245)},
                                       std::pair{QIcon::Disabled, QColor(110, 118, 132)}}) {
        QPixmap pixmap(32, 32);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        switch (kind) {
        case TTransportIcon::Play:
            p.drawPolygon(QPolygonF({QPointF(9, 6), QPointF(26, 16), QPointF(9, 26)}));
            break;
        case TTransportIcon::Pause:
            p.drawRect(QRectF(8, 6, 6, 20));
            p.drawRect(QRectF(18, 6, 6, 20));
            break;
        case TTransportIcon::Stop:
            p.drawRect(QRectF(8, 8, 16, 16));
            break;
        }
        p.end();
        icon.addPixmap(pixmap, mode);
    }
    return icon;
}

QToolButton* TransportButton(QWidget* parent, TTransportIcon icon, const QString& name)
{
    auto* button = new QToolButton(parent);
    button->setIcon(TransportIcon(icon));
    button->setIconSize(QSize(16, 16));
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setAccessibleName(name);
    button->setToolTip(name);
    return button;
}

} // namespace

void TWindowsMediaPlayer::TControls::play() { player_->engine_.Play(); }
void TWindowsMediaPlayer::TControls::stop() { player_->engine_.Stop(); }
void TWindowsMediaPlayer::TControls::pause() { player_->engine_.Pause(); }

double TWindowsMediaPlayer::TControls::currentPosition() const
{
    return SecondsOfFrame(player_->engine_.Position());
}

void TWindowsMediaPlayer::TControls::setCurrentPosition(double t)
{
    player_->engine_.Seek(std::isnan(t) ? 0 : t <= 0 ? 0 : FrameOfSeconds(t));
    player_->Refresh();
}

int TWindowsMediaPlayer::TSettings::volume() const { return player_->engine_.Volume(); }

void TWindowsMediaPlayer::TSettings::setVolume(int volume)
{
    player_->engine_.SetVolume(volume);
    const QSignalBlocker block(player_->volumeSlider_);
    player_->volumeSlider_->setValue(player_->engine_.Volume());
}

void TWindowsMediaPlayer::TPlaylist::clear() { player_->setURL(QString()); }

TWindowsMediaPlayer::TWindowsMediaPlayer(QWidget* parent) : QWidget(parent)
{
    controls.player_ = this;
    settings.player_ = this;
    currentPlaylist.player_ = this;

    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(40, 46, 58));
    pal.setColor(QPalette::WindowText, QColor(230, 236, 245));
    setPalette(pal);

    seekBar_ = new TWaveformBar(this);
    seekBar_->setObjectName(u"SeekBar"_s);
    seekBar_->OnSeek = [this](std::int64_t frame) {
        engine_.Seek(frame);
        Refresh();
    };
    // Play and pause are drawn once; the bar refreshes many times a second.
    playIcon_ = TransportIcon(TTransportIcon::Play);
    pauseIcon_ = TransportIcon(TTransportIcon::Pause);
    playButton_ = TransportButton(this, TTransportIcon::Play, u"再生 (Space)"_s);
    stopButton_ = TransportButton(this, TTransportIcon::Stop, u"停止"_s);
    connect(playButton_, &QToolButton::clicked, this, &TWindowsMediaPlayer::TogglePlay);
    connect(stopButton_, &QToolButton::clicked, this, [this] { controls.stop(); });

    timeText_ = new QLabel(this);
    QFont small = font();
    small.setPixelSize(11);
    timeText_->setFont(small);
    noOutput_ = new QLabel(u"音声出力なし"_s, this);
    noOutput_->setFont(small);
    noOutput_->setStyleSheet(u"color: #ffb060;"_s);
    noOutput_->setToolTip(u"サウンド出力が見つからないため、無音で再生位置だけを進めています"_s);
    noOutput_->hide();

    volumeIcon_ = new QLabel(this);
    volumeIcon_->setPixmap(style()->standardIcon(QStyle::SP_MediaVolume).pixmap(14, 14));
    volumeSlider_ = new QSlider(Qt::Horizontal, this);
    volumeSlider_->setRange(0, 100);
    volumeSlider_->setValue(engine_.Volume());
    volumeSlider_->setFocusPolicy(Qt::NoFocus);
    volumeSlider_->setAccessibleName(u"音量"_s);
    volumeSlider_->setToolTip(u"音量"_s);
    connect(volumeSlider_, &QSlider::valueChanged, this, [this](int v) { engine_.SetVolume(v); });

    connect(&engine_, &TAudioPlayer::StateChanged, this, &TWindowsMediaPlayer::Refresh);
    connect(&engine_, &TAudioPlayer::SoundOutputChanged, this, [this](bool on) { noOutput_->setVisible(!on); });
    tick_.setInterval(30);
    connect(&tick_, &QTimer::timeout, this, &TWindowsMediaPlayer::Refresh);
    lengthWait_.setInterval(20);
    connect(&lengthWait_, &QTimer::timeout, this, [this] {
        if (engine_.KnownFrames() >= 0)
            lengthWait_.stop();
        Refresh();
    });

    Layout();
    Refresh();
}

TWindowsMediaPlayer::~TWindowsMediaPlayer() = default;

void TWindowsMediaPlayer::setURL(const QString& url)
{
    url_ = url;
    engine_.Load(url);
    // The bar learns the length when the decoding thread has found it.
    seekBar_->SetSource(engine_.IsOpen() ? url : QString(), engine_.IsOpen() ? engine_.KnownFrames() : 0);
    if (engine_.IsOpen() && engine_.KnownFrames() < 0)
        lengthWait_.start();
    Refresh();
}

void TWindowsMediaPlayer::ReplaceProgram(std::unique_ptr<TPcmProgram> program)
{
    if (!engine_.IsOpen())
        return;
    engine_.ReplaceProgram(std::move(program));
    if (engine_.KnownFrames() < 0)
        lengthWait_.start();   // the new program finds the length again
    Refresh();
}

int TWindowsMediaPlayer::openState() const
{
    return engine_.IsOpen() ? kOpenStateMediaOpen : 0;
}

int TWindowsMediaPlayer::playState() const
{
    switch (engine_.State()) {
    case TAudioPlayer::TState::Closed: return 0;
    case TAudioPlayer::TState::Ready: return kPlayStateReady;
    case TAudioPlayer::TState::Stopped: return kPlayStateStopped;
    case TAudioPlayer::TState::Paused: return kPlayStatePaused;
    case TAudioPlayer::TState::Playing: return kPlayStatePlaying;
    case TAudioPlayer::TState::Ended: return kPlayStateMediaEnded;
    }
    return 0;
}

void TWindowsMediaPlayer::setUiMode(const QString& mode)
{
    uiMode_ = mode == u"mini" ? u"mini"_s : u"full"_s;
    Layout();
}

void TWindowsMediaPlayer::TogglePlay()
{
    if (engine_.IsPlaying())
        controls.pause();
    else
        controls.play();
}

void TWindowsMediaPlayer::SeekBy(double seconds)
{
    if (!engine_.IsOpen())
        return;
    const std::int64_t delta = FrameOfSeconds(std::abs(seconds));
    const std::int64_t here = engine_.Position();
    engine_.Seek(seconds < 0 ? std::max<std::int64_t>(0, here - delta) : here + delta);
    Refresh();
}

void TWindowsMediaPlayer::Layout()
{
    const bool mini = uiMode_ == u"mini";
    if (mini) {
        // Reduced bar: play/pause, stop and a smaller seek bar.
        playButton_->setGeometry(4, 20, 26, 26);
        stopButton_->setGeometry(32, 20, 26, 26);
        seekBar_->setGeometry(64, 12, 388, 42);
    } else {
        seekBar_->setGeometry(0, 0, 458, 38);
        playButton_->setGeometry(2, 39, 26, 26);
        stopButton_->setGeometry(30, 39, 26, 26);
        timeText_->setGeometry(62, 40, 190, 24);
        noOutput_->setGeometry(254, 40, 84, 24);
        volumeIcon_->setGeometry(344, 45, 14, 14);
        volumeSlider_->setGeometry(362, 40, 90, 24);
    }
    for (QWidget* w : std::initializer_list<QWidget*>{timeText_, volumeIcon_, volumeSlider_})
        w->setVisible(!mini);
    noOutput_->setVisible(!mini && !engine_.HasSoundOutput());
}

void TWindowsMediaPlayer::Refresh()
{
    const bool playing = engine_.IsPlaying();
    if (playing != showsPause_) {
        showsPause_ = playing;
        playButton_->setIcon(playing ? pauseIcon_ : playIcon_);
    }
    playButton_->setAccessibleName(playing ? u"一時停止"_s : u"再生"_s);
    playButton_->setEnabled(engine_.IsOpen());
    stopButton_->setEnabled(engine_.IsOpen());
    if (playing && !tick_.isActive())
        tick_.start();
    else if (!playing)
        tick_.stop();
    const std::int64_t position = engine_.IsOpen() ? engine_.Position() : 0;
    seekBar_->SetPlayhead(position);
    const std::int64_t frames = engine_.KnownFrames();
    if (frames >= 0 && seekBar_->Frames() != frames)
        seekBar_->SetLength(frames);
    timeText_->setText(!engine_.IsOpen() ? QString()
                       : frames < 0      ? FormatTimeCode(SecondsOfFrame(position))
                                         : FormatTimeCode(SecondsOfFrame(position)) + u" / "_s
                                          + FormatTimeCode(SecondsOfFrame(frames)));
    Q_EMIT PositionChanged();
}

} // namespace medlark
