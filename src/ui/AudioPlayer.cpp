#include "ui/AudioPlayer.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>

#include <algorithm>

namespace medlark {

namespace {

// The sound output's buffer: playback starts once it is full, so this is
// the time from a play or a seek to the sound.
constexpr std::int64_t kSinkBufferFrames = kPcmRate / 25;   // 40 ms
// How far the frames written run ahead of the frame being heard. The
// output's word on what it has played comes in steps of up to 100 ms, so
// writing runs well ahead of it; what is written and not yet played is
// thrown away by a stop or a seek, never heard.
constexpr std::int64_t kWriteAheadFrames = kPcmRate / 2;
// How long the position runs on from the output's last word.
constexpr std::int64_t kMaxExtrapolationNs = 200000000;
// How often the output is topped up, and the end of playback looked for.
constexpr int kPumpMs = 10;

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

TAudioPlayer::TAudioPlayer(QObject* parent) : QObject(parent)
{
    pump_.setInterval(kPumpMs);
    connect(&pump_, &QTimer::timeout, this, &TAudioPlayer::Pump);
}

TAudioPlayer::~TAudioPlayer()
{
    pump_.stop();
    ReleaseOutput();
    feed_.reset();
}

void TAudioPlayer::ReleaseOutput()
{
    if (IsPlaying())
        Pause();
    StopOutput();
    delete sink_;
    sink_ = nullptr;
}

bool TAudioPlayer::Load(const QString& path)
{
    Unload();
    if (path.isEmpty())
        return false;
    SourceStream source = OpenSourceStream(path);
    if (!source)
        return false;
    LoadProgram(FileProgram(std::move(source)));
    return true;
}

void TAudioPlayer::LoadProgram(std::unique_ptr<TPcmProgram> program)
{
    Unload();
    feed_ = std::make_unique<TPlaybackFeed>(std::move(program));
    // Decoded frames after a dry spell are handed on at once.
    feed_->SetDataHandler([this] { QMetaObject::invokeMethod(this, &TAudioPlayer::Pump, Qt::QueuedConnection); });
    rest_ = 0;
    SetState(TState::Ready);
}

void TAudioPlayer::ReplaceProgram(std::unique_ptr<TPcmProgram> program)
{
    if (!IsOpen()) {
        LoadProgram(std::move(program));
        return;
    }
    const bool playing = IsPlaying();
    const std::int64_t here = Position();
    StopOutput();
    feed_ = std::make_unique<TPlaybackFeed>(std::move(program));
    feed_->SetDataHandler([this] { QMetaObject::invokeMethod(this, &TAudioPlayer::Pump, Qt::QueuedConnection); });
    if (playing)
        StartOutput(here);
    else
        rest_ = here;
}

void TAudioPlayer::Unload()
{
    StopOutput();
    feed_.reset();
    rest_ = 0;
    SetState(TState::Closed);
}

std::int64_t TAudioPlayer::Frames()
{
    return feed_ ? feed_->Frames() : 0;
}

std::int64_t TAudioPlayer::KnownFrames()
{
    return feed_ ? feed_->KnownFrames() : 0;
}

void TAudioPlayer::SetState(TState state)
{
    if (state_ == state)
        return;
    state_ = state;
    if (state == TState::Playing)
        pump_.start();
    else
        pump_.stop();
    Q_EMIT StateChanged();
}

void TAudioPlayer::Play()
{
    if (!IsOpen() || IsPlaying())
        return;
    std::int64_t from = rest_;
    const std::int64_t frames = KnownFrames();
    if (state_ == TState::Ended || (frames >= 0 && from >= frames))
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
    const std::int64_t frames = KnownFrames();
    const std::int64_t here = startFrame_ + HeardFrames();
    return frames >= 0 ? std::min(here, frames) : here;
}

void TAudioPlayer::Seek(std::int64_t frame)
{
    if (!IsOpen())
        return;
    // Held to the length once it is known; before, a seek past the end ends
    // playback when it gets there.
    const std::int64_t frames = KnownFrames();
    frame = std::clamp<std::int64_t>(frame, 0, frames >= 0 ? frames : INT64_MAX / 2);
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
    padding_ = 0;
    heard_ = 0;
    reported_ = 0;
    if (soundOutput_ && sink_ == nullptr) {
        const QAudioDevice output = QMediaDevices::defaultAudioOutput();
        if (!output.isNull() && output.isFormatSupported(PcmFormat())) {
            sink_ = new QAudioSink(output, PcmFormat(), this);
            sink_->setBufferSize(kSinkBufferFrames * kPcmFrameBytes);
            ApplyVolume();
        } else {
            LoseOutput();
        }
    }
    silent_ = !soundOutput_;
    if (silent_) {
        clock_.start();
        return;
    }
    // The output's stream opens on the next pump, so that a seek right after
    // a play (in the same turn of the event loop) is the first thing heard.
    feed_->Start(frame);
    QMetaObject::invokeMethod(this, &TAudioPlayer::Pump, Qt::QueuedConnection);
}

void TAudioPlayer::LoseOutput()
{
    soundOutput_ = false;
    Q_EMIT SoundOutputChanged(false);
}

void TAudioPlayer::StopOutput()
{
    if (sink_ != nullptr && out_ != nullptr)
        sink_->stop();
    out_ = nullptr;
    if (feed_)
        feed_->Halt();
    silent_ = false;
}

std::int64_t TAudioPlayer::HeardFrames()
{
    if (silent_)
        return clock_.nsecsElapsed() * kPcmRate / 1000000000;
    if (sink_ == nullptr || out_ == nullptr)
        return 0;
    // What the output says it has played: the frames written less those still
    // in its buffer and on their way to the speaker. Its word is refreshed
    // in steps, and between them held at what had been written at the last;
    // from the last change on, playing goes on in real time (for a while).
    const std::int64_t processed = sink_->processedUSecs() * kPcmRate / 1000000;
    if (processed != reported_) {
        reported_ = processed;
        reportedAt_.start();
    }
    std::int64_t heard = reported_;
    if (reported_ > 0)
        heard += std::min<std::int64_t>(reportedAt_.nsecsElapsed(), kMaxExtrapolationNs) * kPcmRate / 1000000000;
    heard_ = std::clamp<std::int64_t>(heard, heard_, handed_);
    return heard_;
}

void TAudioPlayer::Pump()
{
    if (!IsPlaying())
        return;
    const std::int64_t known = KnownFrames();
    if (silent_) {
        if (known < 0)
            return;
        const std::int64_t frames = known;
        if (startFrame_ + HeardFrames() >= frames) {
            rest_ = frames;
            StopOutput();
            SetState(TState::Ended);
        }
        return;
    }
    const std::int64_t frames = known >= 0 ? known : INT64_MAX / 2;
    if (out_ == nullptr)
        out_ = sink_->start();
    if (out_ == nullptr || (sink_->state() == QAudio::StoppedState && sink_->error() != QAudio::NoError)) {
        // The sound output went away: go on as a silent clock from here.
        const std::int64_t here = Position();
        StopOutput();
        LoseOutput();
        StartOutput(here);
        return;
    }
    const std::int64_t target = std::max<std::int64_t>(kWriteAheadFrames, sink_->bufferSize() / kPcmFrameBytes);
    const std::int64_t heard = HeardFrames();
    std::int64_t want = target - (handed_ + padding_ - heard);
    while (want > 0 && padding_ == 0) {
        const std::int64_t got = feed_->Read(chunk_.data(), std::min(want, kChunkFrames));
        if (got == 0)
            break;
        out_->write(reinterpret_cast<const char*>(chunk_.data()), got * kPcmFrameBytes);
        handed_ += got;
        want -= got;
    }
    if (!feed_->AtEnd())
        return;
    // The output starts playing once its buffer is full: at the end, silence
    // fills it so that the last frames are heard too.
    if (padding_ == 0) {
        std::fill(chunk_.begin(), chunk_.end(), std::int16_t{0});
        for (std::int64_t left = target; left > 0; left -= kChunkFrames)
            out_->write(reinterpret_cast<const char*>(chunk_.data()), std::min(left, kChunkFrames) * kPcmFrameBytes);
        padding_ = target;
    }
    if (heard >= handed_) {
        rest_ = std::min(startFrame_ + handed_, frames);
        StopOutput();
        SetState(TState::Ended);
    }
}
} // namespace medlark
