#include "render/DecodeAhead.h"

#include "model/Error.h"
#include "model/TrackList.h"
#include "render/SourceStream.h"

#include <algorithm>
#include <new>
#include <utility>

namespace medlark {

namespace {

// Pieces of about 6 s (1 MiB), at most four of them waiting. Large pieces keep
// the threads from waking each other often, which is costly in a virtual machine.
constexpr std::int64_t kPieceFrames = 1 << 18;
constexpr std::int64_t kMaxQueuedFrames = 4 * kPieceFrames;

} // namespace

TDecodeAhead::TDecodeAhead(const TrackList& list, bool measure)
    : list_(list), measure_(measure), thread_([this] { Run(); })
{
}

TDecodeAhead::~TDecodeAhead()
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

TDecodeAhead::Piece TDecodeAhead::Next()
{
    std::unique_lock lock(mutex_);
    ++waiting_;
    changed_.wait(lock, [this] { return !pieces_.empty(); });
    --waiting_;
    Piece piece = std::move(pieces_.front());
    pieces_.pop_front();
    queuedFrames_ -= FrameCount(piece.pcm);
    const bool wake = waiting_ > 0;
    lock.unlock();
    if (wake)
        changed_.notify_all();
    return piece;
}

void TDecodeAhead::Recycle(PcmBlock&& pcm)
{
    pcm.clear();
    std::lock_guard lock(mutex_);
    spare_.push_back(std::move(pcm));
}

bool TDecodeAhead::Put(Piece piece)
{
    std::unique_lock lock(mutex_);
    ++waiting_;
    changed_.wait(lock, [this] { return stop_ || queuedFrames_ < kMaxQueuedFrames; });
    --waiting_;
    if (stop_)
        return false;
    queuedFrames_ += FrameCount(piece.pcm);
    pieces_.push_back(std::move(piece));
    const bool wake = waiting_ > 0;
    lock.unlock();
    if (wake)
        changed_.notify_all();
    return true;
}

void TDecodeAhead::Run()
{
    try {
        for (int i = 0; i < list_.Count(); ++i) {
            const TrackEntry& entry = list_.At(i);
            SourceStream source = OpenSourceStream(entry.SourcePath);
            if (!source) {
                if (!Put({Piece::Unsupported, {}, 0, {}, {}}))
                    return;
                continue;
            }
            if (!Segment(i, source))
                return;
        }
    } catch (const Error& e) {
        Put({Piece::Failed, {}, 0, e.Message(), {}});
    } catch (const std::bad_alloc&) {
        Put({Piece::Failed, {}, 0, QStringLiteral("メモリが不足しています"), {}});
    } catch (const std::exception& e) {
        Put({Piece::Failed, {}, 0, QString::fromLocal8Bit(e.what()), {}});
    }
}

bool TDecodeAhead::Segment(int index, SourceStream& source)
{
    const TrackEntry& entry = list_.At(index);
    const double start = entry.Times.StartTime;
    const double end = entry.Times.EndTime;
    std::optional<TLoudness> loudness;
    if (measure_)
        loudness = KnownSegmentLoudness(entry.SourcePath, start, end);
    // Measured here, from what is decoded for the build anyway.
    std::optional<TLoudnessMeter> meter;
    if (measure_ && !loudness)
        meter.emplace(TLoudnessMeter::TMode::Integrated);

    PcmBlock pcm;
    bool open = true;
    const std::int64_t result =
        DecodeSegmentTo(source, start, end, [&](const std::int16_t* samples, std::int64_t frames) {
            if (meter)
                meter->Add(samples, frames);
            if (pcm.capacity() == 0) {
                std::lock_guard lock(mutex_);
                if (!spare_.empty()) {
                    pcm = std::move(spare_.back());
                    spare_.pop_back();
                }
            }
            if (pcm.empty())
                pcm.reserve(static_cast<size_t>(kPieceFrames + 8192) * kPcmChannels);
            pcm.insert(pcm.end(), samples, samples + frames * kPcmChannels);
            if (FrameCount(pcm) >= kPieceFrames)
                open = Put({Piece::Audio, std::exchange(pcm, {}), 0, {}, {}});
            return open;
        });
    if (!open || (!pcm.empty() && !Put({Piece::Audio, std::move(pcm), 0, {}, {}})))
        return false;
    if (meter && result > 0) {
        loudness = meter->Result();
        RememberSegmentLoudness(entry.SourcePath, start, end, *loudness);
    }
    return Put({Piece::Done, {}, result, {}, loudness});
}

} // namespace medlark
