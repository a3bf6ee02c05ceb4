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

TWaveformSummary::TWaveformSummary(std::int64_t frames)
    : frames_(std::max<std::int64_t>(frames, 0)),
      peaks_(static_cast<size_t>((frames_ + kPeakBlockFrames - 1) / kPeakBlockFrames))
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
            hasSummary_.store(true, std::memory_order_release);
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
    return hasSummary_.load(std::memory_order_acquire) ? summary_ : nullptr;
}

void TWaveformLoader::Run(const QString& path)
{
    const TCacheKey key = KeyOf(path);
    SourceStream source = OpenSourceStream(path);
    const double duration = source ? source.Duration() : -1.0;
    if (!source || duration < 0 || cancel_.load()) {
        finished_.store(true, std::memory_order_release);
        return;
    }
    summary_ = std::make_shared<TWaveformSummary>(FrameOfSeconds(duration));
    hasSummary_.store(true, std::memory_order_release);

    TWaveformSummary& summary = *summary_;
    const std::int64_t blocks = summary.Blocks();
    std::int64_t block = 0;
    std::int64_t inBlock = 0;   // frames of the current block seen
    TPeak peak;
    DecodeSegmentTo(source, 0.0, duration + 1.0, [&](const std::int16_t* samples, std::int64_t frames) {
        if (cancel_.load(std::memory_order_relaxed))
            return false;
        const std::int16_t* end = samples + frames * kPcmChannels;
        while (samples < end && block < blocks) {
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
            if (inBlock == kPeakBlockFrames) {
                summary.Fill(block++, peak);
                inBlock = 0;
                if (block % 64 == 0)
                    summary.SetReady(block);
            }
        }
        return block < blocks;
    });
    if (cancel_.load()) {
        finished_.store(true, std::memory_order_release);
        return;
    }
    if (inBlock > 0 && block < blocks)
        summary.Fill(block++, peak);
    summary.SetReady(block);
    summary.SetComplete();
    {
        const std::lock_guard lock(cacheMutex);
        Cache()[key] = summary_;
    }
    finished_.store(true, std::memory_order_release);
}

} // namespace medlark
