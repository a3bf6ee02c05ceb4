#include "render/WaveformSummary.h"

#include "render/PcmBlock.h"
#include "render/PlaybackFeed.h"
#include "render/SourceStream.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <map>
#include <mutex>
#include <tuple>

namespace medlark {

TWaveformSummary::TWaveformSummary(std::int64_t capacity)
    : peaks_(static_cast<size_t>((std::max<std::int64_t>(capacity, 0) + kPeakBlockFrames - 1) / kPeakBlockFrames))
{
}

std::pair<bool, TPeak> TWaveformSummary::Peak(std::int64_t fromBlock, std::int64_t toBlock) const
{
    fromBlock = std::max<std::int64_t>(fromBlock, 0);
    toBlock = std::min(toBlock, ReadyBlocks());
    if (fromBlock >= toBlock)
        return {false, {}};
    TPeak peak = peaks_[static_cast<size_t>(fromBlock)];
    for (std::int64_t b = fromBlock + 1; b < toBlock; ++b) {
        const TPeak& p = peaks_[static_cast<size_t>(b)];
        peak.Min = std::min(peak.Min, p.Min);
        peak.Max = std::max(peak.Max, p.Max);
    }
    return {true, peak};
}

std::pair<std::int64_t, std::int64_t> ColumnBlocks(std::int64_t fromFrame, std::int64_t toFrame, int columns, int c)
{
    const std::int64_t first = std::max<std::int64_t>(fromFrame, 0) / kPeakBlockFrames;
    const std::int64_t last = std::max(first + 1, (toFrame + kPeakBlockFrames - 1) / kPeakBlockFrames);
    const std::int64_t count = last - first;
    columns = std::max(columns, 1);
    std::int64_t begin = first + count * c / columns;
    std::int64_t end = first + count * (c + 1) / columns;
    if (end <= begin)
        end = begin + 1;
    return {begin, end};
}

namespace {

struct TCacheKey final {
    QString Path;
    qint64 Size;
    qint64 Modified;
    bool operator<(const TCacheKey& o) const
    {
        return std::tie(Path, Size, Modified) < std::tie(o.Path, o.Size, o.Modified);
    }
};

std::mutex cacheMutex;
std::map<TCacheKey, std::shared_ptr<const TWaveformSummary>>& Cache()
{
    static std::map<TCacheKey, std::shared_ptr<const TWaveformSummary>> cache;
    return cache;
}

TCacheKey KeyOf(const QString& path)
{
    const QFileInfo info(path);
    return {info.absoluteFilePath(), info.size(), info.lastModified().toMSecsSinceEpoch()};
}

} // namespace

void ClearWaveformCache()
{
    const std::lock_guard lock(cacheMutex);
    Cache().clear();
}

TWaveformLoader::TWaveformLoader(const QString& path)
{
    {
        const std::lock_guard lock(cacheMutex);
        const auto found = Cache().find(KeyOf(path));
        if (found != Cache().end()) {
            summary_ = std::const_pointer_cast<TWaveformSummary>(found->second);
            finished_.store(true, std::memory_order_release);
            return;
        }
    }
    thread_ = std::thread([this, path] { Run(path); });
}

TWaveformLoader::~TWaveformLoader()
{
    cancel_.store(true);
    if (thread_.joinable())
        thread_.join();
}

std::shared_ptr<const TWaveformSummary> TWaveformLoader::Summary() const
{
    const std::lock_guard lock(mutex_);
    return summary_;
}

void TWaveformLoader::Run(const QString& path)
{
    const TCacheKey key = KeyOf(path);
    SourceStream source = OpenSourceStream(path);
    // Drawing starts before the exact length is known: room for what the
    // container states, with a margin. Where it states none, or understates,
    // the room is the exact length.
    const double stated = source ? source.StatedDuration() : -1.0;
    bool exact = stated <= 0;
    for (;;) {
        const double room = exact ? (source ? source.Duration() : -1.0) : stated * 1.01 + 2.0;
        if (!source || room < 0 || cancel_.load())
            break;
        auto summary = std::make_shared<TWaveformSummary>(FrameOfSeconds(room) + kPeakBlockFrames);
        {
            const std::lock_guard lock(mutex_);
            summary_ = summary;
        }
        const TFill filled = Summarise(source, *summary);
        if (filled == TFill::Full && !exact) {
            exact = true;
            continue;
        }
        if (filled == TFill::Complete) {
            summary->SetComplete();
            const std::lock_guard lock(cacheMutex);
            Cache()[key] = summary;
        }
        break;
    }
    finished_.store(true, std::memory_order_release);
}

TWaveformLoader::TFill TWaveformLoader::Summarise(SourceStream& source, TWaveformSummary& summary)
{
    const std::int64_t capacity = summary.Capacity();
    std::int64_t block = 0;
    std::int64_t inBlock = 0;   // frames of the current block seen
    std::int64_t frames = 0;
    TPeak peak;
    bool full = false;
    DecodeSegmentTo(source, 0.0, 1.0e9, [&](const std::int16_t* samples, std::int64_t count) {
        if (cancel_.load(std::memory_order_relaxed))
            return false;
        const std::int16_t* end = samples + count * kPcmChannels;
        while (samples < end) {
            if (block == capacity) {
                full = true;
                return false;
            }
            const std::int64_t take =
                std::min<std::int64_t>((end - samples) / kPcmChannels, kPeakBlockFrames - inBlock);
            const auto [lo, hi] = std::minmax_element(samples, samples + take * kPcmChannels);
            if (inBlock == 0) {
                peak = {*lo, *hi};
            } else {
                peak.Min = std::min(peak.Min, *lo);
                peak.Max = std::max(peak.Max, *hi);
            }
            samples += take * kPcmChannels;
            inBlock += take;
            frames += take;
            if (inBlock == kPeakBlockFrames) {
                summary.Fill(block++, peak);
                inBlock = 0;
                if (block % 64 == 0)
                    summary.SetReady(block, frames);
            }
        }
        return true;
    });
    if (cancel_.load())
        return TFill::Cancelled;
    if (full)
        return TFill::Full;
    if (inBlock > 0)
        summary.Fill(block++, peak);
    summary.SetReady(block, frames);
    return TFill::Complete;
}

} // namespace medlark
