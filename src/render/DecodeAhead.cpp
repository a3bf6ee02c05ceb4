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

TDecodeAhead::TDecodeAhead(const TrackList& list, const TLoudnessSettings& loudness)
    : list_(list), loudness_(loudness), thread_([this] { Run(); })
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
                if (!Put({Piece::Unsupported, {}, 0, {}, {}, {}}))
                    return;
                continue;
            }
            if (!Segment(i, source))
                return;
        }
    } catch (const Error& e) {
        Put({Piece::Failed, {}, 0, e.Message(), {}, {}});
    } catch (const std::bad_alloc&) {
        Put({Piece::Failed, {}, 0, QStringLiteral("メモリが不足しています"), {}, {}});
    } catch (const std::exception& e) {
        Put({Piece::Failed, {}, 0, QString::fromLocal8Bit(e.what()), {}, {}});
    }
}

bool TDecodeAhead::Segment(int index, SourceStream& source)
{
    const TrackEntry& entry = list_.At(index);
    const double start = entry.Times.StartTime;
    const double end = entry.Times.EndTime;
    std::optional<TLoudness> loudness = KnownSegmentLoudness(entry.SourcePath, start, end);
    // Matching needs the whole segment's loudness before its first frame:
    // the segment is held and measured as it is decoded.
    const bool measure = NeedsLoudness(loudness_) && !loudness;
    std::optional<TLeveller> leveller;
    if (!measure)
        leveller.emplace(LevelOf(loudness_, entry.Times.Gain, loudness));
    TLoudnessMeter meter(TLoudnessMeter::TMode::Integrated);
    PcmBlock held;

    PcmBlock pcm;
    bool open = true;
    auto hand = [&](const std::int16_t* samples, std::int64_t frames, bool last) {
        if (pcm.capacity() == 0) {
            std::lock_guard lock(mutex_);
            if (!spare_.empty()) {
                pcm = std::move(spare_.back());
                spare_.pop_back();
            }
        }
        if (pcm.empty())
            pcm.reserve(static_cast<size_t>(kPieceFrames + 8192) * kPcmChannels);
        if (samples != nullptr)
            leveller->Push(samples, frames, pcm);
        if (last)
            leveller->Finish(pcm);
        if (FrameCount(pcm) >= kPieceFrames || (last && !pcm.empty()))
            open = Put({Piece::Audio, std::exchange(pcm, {}), 0, {}, {}, {}});
        return open;
    };
    const std::int64_t result =
        DecodeSegmentTo(source, start, end, [&](const std::int16_t* samples, std::int64_t frames) {
            if (!measure)
                return hand(samples, frames, false);
            meter.Add(samples, frames);
            held.insert(held.end(), samples, samples + frames * kPcmChannels);
            return true;
        });
    if (measure) {
        if (result > 0) {
            loudness = meter.Result();
            RememberSegmentLoudness(entry.SourcePath, start, end, *loudness);
        }
        leveller.emplace(LevelOf(loudness_, entry.Times.Gain, loudness));
        for (std::int64_t at = 0; at < FrameCount(held) && open; at += kPieceFrames)
            hand(held.data() + at * kPcmChannels, std::min(kPieceFrames, FrameCount(held) - at), false);
        PcmBlock().swap(held);
    }
    if (!open || !hand(nullptr, 0, true))
        return false;
    return Put({Piece::Done, {}, result, {}, loudness, leveller->Level()});
}

} // namespace medlark
