#include "ui/JoinPreview.h"

#include "model/TimeText.h"
#include "render/SourceStream.h"

namespace medlark {

using namespace Qt::StringLiterals;

TJoinPreview::TJoinPreview(QObject* parent) : QObject(parent)
{
    tick_.setInterval(33);
    connect(&tick_, &QTimer::timeout, this, &TJoinPreview::Tick);
    connect(&player_, &TAudioPlayer::StateChanged, this, [this] {
        if (!player_.IsPlaying() && tick_.isActive()) {
            tick_.stop();
            Q_EMIT Stopped();
        }
    });
}

TJoinPreview::~TJoinPreview()
{
    cancelPrepare_ = true;
    if (prepare_.joinable())
        prepare_.join();
    player_.ReleaseOutput();
}

void TJoinPreview::Prepare(const std::vector<TMedleyEntry>& entries)
{
    cancelPrepare_ = true;
    if (prepare_.joinable())
        prepare_.join();
    cancelPrepare_ = false;
    prepare_ = std::thread([this, entries] {
        for (const TMedleyEntry& e : entries) {
            if (cancelPrepare_)
                return;
            SourceLength(e.SourcePath);   // kept for the run
        }
    });
}

bool TJoinPreview::Start(TKind kind, const std::vector<TMedleyEntry>& entries, const TMedleySettings& settings, int track)
{
    Stop();
    entries_ = entries;
    layout_ = LayOutMedley(entries_, settings);
    const auto window = JoinWindow(layout_, track);
    if (!window)
        return false;
    kind_ = kind;
    from_ = window->first;
    const std::int64_t to = kind == TKind::Join ? window->second : layout_.Frames;
    player_.LoadProgram(MedleyProgram(entries_, settings, layout_, from_, to));
    player_.Play();
    tick_.start();
    Q_EMIT Started();
    Tick();
    return true;
}

void TJoinPreview::Stop()
{
    if (player_.IsOpen())
        player_.Unload();
    if (tick_.isActive()) {
        tick_.stop();
        Q_EMIT Stopped();
    }
}

std::int64_t TJoinPreview::MedleyFrame()
{
    return from_ + player_.Position();
}

void TJoinPreview::Tick()
{
    if (!player_.IsPlaying() || layout_.Placed.empty())
        return;
    const std::int64_t f = MedleyFrame();
    // The join being heard: the last one whose window has begun.
    size_t q = 0;
    for (size_t i = 0; i < layout_.Placed.size(); ++i)
        if (layout_.Placed[i].At - kJoinMarginFrames <= f)
            q = i;
    const auto& here = layout_.Placed[q];
    const QString after = TrackTitle(entries_[static_cast<size_t>(here.Track)].SourcePath);
    const QString before =
        q == 0 ? u"(先頭)"_s : TrackTitle(entries_[static_cast<size_t>(layout_.Placed[q - 1].Track)].SourcePath);
    Q_EMIT Heard(before, after, static_cast<double>(f - here.At) / kPcmRate);
}

} // namespace medlark
