#include "ui/AudioPlayer.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>

#include <algorithm>

namespace medlark {

namespace {

// What the sound output holds ahead of the frame being heard.
constexpr std::int64_t kSinkBufferFrames = kPcmRate / 5;
// How often the end of playback and the output's failures are looked for.
constexpr int kWatchMs = 20;

QAudioFormat PcmFormat()
{
    QAudioFormat format;
    format.setSampleRate(kPcmRate);
    format.setChannelCount(kPcmChannels);
    format.setChannelConfig(QAudioFormat::ChannelConfigStereo);
    format.setSampleFormat(QAudioFormat::Int16);
    return format;
}

} // namespace

// What the sound output pulls from: the feed's decoded frames, counted.
class TAudioPlayer::TFeedDevice final : public QIODevice {
public:
    explicit TFeedDevice(TAudioPlayer* player) : QIODevice(player), player_(player) {}

    bool isSequential() const override { return true; }
    bool atEnd() const override { return player_->feed_ && player_->feed_->AtEnd(); }
    qint64 bytesAvailable() const override
    {
        return (player_->feed_ ? player_->feed_->Queued() * kPcmFrameBytes : 0) + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        if (!player_->feed_)
            return 0;
        const std::int64_t frames =
            player_->feed_->Read(reinterpret_cast<std::int16_t*>(data), maxSize / kPcmFrameBytes);
        player_->handed_ += frames;
        return frames * kPcmFrameBytes;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    TAudioPlayer* player_;
};

TAudioPlayer::TAudioPlayer(QObject* parent) : QObject(parent), device_(new TFeedDevice(this))
{
    device_->open(QIODevice::ReadOnly);
    watch_.setInterval(kWatchMs);
    connect(&watch_, &QTimer::timeout, this, &TAudioPlayer::Watch);
}

TAudioPlayer::~TAudioPlayer()
{
    watch_.stop();
    if (sink_ != nullptr)
        sink_->stop();
    feed_.reset();
}

bool TAudioPlayer::Load(const QString& path)
{
    Unload();
    if (path.isEmpty())
        return false;
    SourceStream source = OpenSourceStream(path);
    if (!source)
        return false;
    LoadProgram(FileProgram(std::move(source)), path);
    return true;
}

void TAudioPlayer::LoadProgram(std::unique_ptr<TPcmProgram> program, const QString& name)
{
    Unload();
    feed_ = std::make_unique<TPlaybackFeed>(std::move(program));
    feed_->SetDataHandler([device = device_] {
        QMetaObject::invokeMethod(device, [device] { Q_EMIT device->readyRead(); }, Qt::QueuedConnection);
    });
    path_ = name;
    rest_ = 0;
    SetState(TState::Ready);
}

void TAudioPlayer::Unload()
{
    StopOutput();
    feed_.reset();
    path_.clear();
    rest_ = 0;
    SetState(TState::Closed);
}

std::int64_t TAudioPlayer::Frames()
{
    return feed_ ? feed_->Frames() : 0;
}

void TAudioPlayer::SetState(TState state)
{
    if (state_ == state)
        return;
    state_ = state;
    watch_.setSingleShot(false);
    if (state == TState::Playing)
        watch_.start();
    else
        watch_.stop();
    Q_EMIT StateChanged();
}

void TAudioPlayer::Play()
{
    if (!IsOpen() || IsPlaying())
        return;
    std::int64_t from = rest_;
    if (state_ == TState::Ended || from >= Frames())
        from = 0;
    SetState(TState::Playing);
    StartOutput(from);
}

void TAudioPlayer::Pause()
{
    if (!IsPlaying())
        return;
    rest_ = Position();
    StopOutput();
    SetState(TState::Paused);
}

void TAudioPlayer::Stop()
{
    StopOutput();
    rest_ = 0;
    if (IsOpen())
        SetState(TState::Stopped);
}

std::int64_t TAudioPlayer::Position()
{
    if (!IsPlaying())
        return rest_;
    return std::min(startFrame_ + HeardFrames(), Frames());
}

void TAudioPlayer::Seek(std::int64_t frame)
{
    if (!IsOpen())
        return;
    frame = std::clamp<std::int64_t>(frame, 0, Frames());
    if (IsPlaying()) {
        StopOutput();
        StartOutput(frame);
    } else {
        rest_ = frame;
        if (state_ == TState::Ended)
            SetState(TState::Stopped);
    }
}

void TAudioPlayer::SetVolume(int volume)
{
    volume_ = std::clamp(volume, 0, 100);
    ApplyVolume();
}

void TAudioPlayer::ApplyVolume()
{
    if (sink_ == nullptr)
        return;
    // Full volume passes the samples on untouched.
    sink_->setVolume(volume_ >= 100 ? 1.0
                                    : QAudio::convertVolume(volume_ / 100.0, QAudio::LogarithmicVolumeScale,
                                                            QAudio::LinearVolumeScale));
}

void TAudioPlayer::StartOutput(std::int64_t frame)
{
    startFrame_ = frame;
    handed_ = 0;
    silent_ = false;
    if (soundOutput_ && sink_ == nullptr) {
        const QAudioDevice output = QMediaDevices::defaultAudioOutput();
        if (output.isNull() || !output.isFormatSupported(PcmFormat())) {
            soundOutput_ = false;
            Q_EMIT SoundOutputChanged(false);
        } else {
            sink_ = new QAudioSink(output, PcmFormat(), this);
            sink_->setBufferSize(kSinkBufferFrames * kPcmFrameBytes);
            ApplyVolume();
        }
    }
    if (sink_ != nullptr && soundOutput_) {
        feed_->Start(frame);
        sink_->start(device_);
        if (sink_->state() == QAudio::StoppedState && sink_->error() != QAudio::NoError) {
            feed_->Halt();
            soundOutput_ = false;
            Q_EMIT SoundOutputChanged(false);
        }
    }
    if (!soundOutput_) {
        silent_ = true;
        clock_.start();
    }
}

void TAudioPlayer::StopOutput()
{
    if (sink_ != nullptr && !silent_)
        sink_->stop();
    if (feed_)
        feed_->Halt();
    silent_ = false;
}

std::int64_t TAudioPlayer::HeardFrames()
{
    if (silent_)
        return clock_.nsecsElapsed() * kPcmRate / 1000000000;
    if (sink_ == nullptr)
        return 0;
    // The frames handed on less those still waiting in the output's buffer,
    // and no later than the output says it has played.
    const std::int64_t buffered =
        std::max<qsizetype>(0, sink_->bufferSize() - sink_->bytesFree()) / kPcmFrameBytes;
    const std::int64_t processed = sink_->processedUSecs() * kPcmRate / 1000000;
    return std::clamp<std::int64_t>(std::min(processed, handed_ - buffered), 0, handed_);
}

void TAudioPlayer::Watch()
{
    if (!IsPlaying())
        return;
    const std::int64_t frames = Frames();
    if (silent_) {
        if (startFrame_ + HeardFrames() >= frames) {
            rest_ = frames;
            StopOutput();
            SetState(TState::Ended);
        }
        return;
    }
    if (sink_->state() == QAudio::StoppedState && sink_->error() != QAudio::NoError) {
        // The sound output went away: go on as a silent clock from here.
        const std::int64_t here = Position();
        feed_->Halt();
        soundOutput_ = false;
        Q_EMIT SoundOutputChanged(false);
        StartOutput(here);
        return;
    }
    if (feed_->AtEnd() && (sink_->state() == QAudio::IdleState || HeardFrames() >= handed_)) {
        rest_ = std::min(startFrame_ + handed_, frames);
        StopOutput();
        SetState(TState::Ended);
    }
}

} // namespace medlark
