#include "render/Loudness.h"

#include "render/SourceStream.h"

#include <ebur128.h>

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <map>
#include <mutex>
#include <new>
#include <tuple>

namespace medlark {

namespace {

struct TStateDeleter final {
    void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
};
using TStatePtr = std::unique_ptr<ebur128_state, TStateDeleter>;

} // namespace

class TLoudnessMeter::Impl final {
public:
    explicit Impl(TMode mode) : truePeak_(mode == TMode::IntegratedAndTruePeak)
    {
        const int flags = EBUR128_MODE_I | (truePeak_ ? EBUR128_MODE_TRUE_PEAK : 0);
        state_.reset(ebur128_init(kPcmChannels, kPcmRate, flags));
        // The library fails only for want of memory (the channels and rate are fixed).
        if (!state_)
            throw std::bad_alloc();
    }

    void Add(const std::int16_t* samples, std::int64_t frames)
    {
        if (frames <= 0)
            return;
        if (ebur128_add_frames_short(state_.get(), samples, static_cast<size_t>(frames)) != EBUR128_SUCCESS)
            throw std::bad_alloc();
    }

    TLoudness Result() const
    {
        TLoudness result;
        // -HUGE_VAL when no block passes the gates: the -inf of silence.
        double integrated = -std::numeric_limits<double>::infinity();
        ebur128_loudness_global(state_.get(), &integrated);
        result.Integrated = integrated;
        if (!truePeak_) {
            result.TruePeak = std::numeric_limits<double>::quiet_NaN();
            return result;
        }
        // Relative to 1.0, which for 16-bit input is 32768.
        double peak = 0.0;
        for (unsigned channel = 0; channel < kPcmChannels; ++channel) {
            double channelPeak = 0.0;
            if (ebur128_true_peak(state_.get(), channel, &channelPeak) == EBUR128_SUCCESS)
                peak = std::max(peak, channelPeak);
        }
        result.TruePeak = peak > 0.0 ? 20.0 * std::log10(peak) : -std::numeric_limits<double>::infinity();
        return result;
    }

private:
    TStatePtr state_;
    bool truePeak_;
};

TLoudnessMeter::TLoudnessMeter(TMode mode) : impl_(std::make_unique<Impl>(mode)) {}
TLoudnessMeter::TLoudnessMeter(TLoudnessMeter&&) noexcept = default;
TLoudnessMeter& TLoudnessMeter::operator=(TLoudnessMeter&&) noexcept = default;
TLoudnessMeter::~TLoudnessMeter() = default;

void TLoudnessMeter::Add(const std::int16_t* samples, std::int64_t frames) { impl_->Add(samples, frames); }
TLoudness TLoudnessMeter::Result() const { return impl_->Result(); }

namespace {

// Which segment of which file: the file by its absolute path, the segment by
// its in and out point exactly as given.
struct TSegmentKey final {
    QString Path;
    double Start = 0.0;
    double End = 0.0;

    bool operator<(const TSegmentKey& other) const
    {
        return std::tie(Path, Start, End) < std::tie(other.Path, other.Start, other.End);
    }
};

// The file's state when it was measured: a rewritten file differs in one of them.
struct TFileStamp final {
    std::int64_t Size = -1;
    std::int64_t Modified = 0;   // ms since the epoch

    bool operator==(const TFileStamp&) const = default;
};

struct TKnown final {
    TFileStamp Stamp;
    TLoudness Loudness;
};

class TSegmentCache final {
public:
    std::optional<TLoudness> Find(const TSegmentKey& key, const TFileStamp& stamp)
    {
        const std::lock_guard lock(mutex_);
        const auto found = known_.find(key);
        if (found == known_.end() || found->second.Stamp != stamp)
            return std::nullopt;
        return found->second.Loudness;
    }

    void Keep(TSegmentKey key, const TFileStamp& stamp, const TLoudness& loudness)
    {
        const std::lock_guard lock(mutex_);
        known_.insert_or_assign(std::move(key), TKnown{stamp, loudness});
    }

private:
    std::mutex mutex_;
    std::map<TSegmentKey, TKnown> known_;
};

TSegmentCache& SegmentCache()
{
    static TSegmentCache cache;
    return cache;
}

// The key and the file's present stamp; nothing for a path that is no regular
// file, and for times no decode reaches (NaN would also break the key's order).
std::optional<std::pair<TSegmentKey, TFileStamp>> Identify(const QString& path, double start, double end)
{
    if (!std::isfinite(start) || !std::isfinite(end) || path.isEmpty())
        return std::nullopt;
    const QFileInfo info(path);
    if (!info.isFile())
        return std::nullopt;
    return std::pair{TSegmentKey{info.absoluteFilePath(), start, end},
                     TFileStamp{info.size(), info.lastModified().toMSecsSinceEpoch()}};
}

} // namespace

std::optional<TLoudness> KnownSegmentLoudness(const QString& path, double start, double end)
{
    const auto id = Identify(path, start, end);
    if (!id)
        return std::nullopt;
    return SegmentCache().Find(id->first, id->second);
}

void RememberSegmentLoudness(const QString& path, double start, double end, const TLoudness& loudness)
{
    if (auto id = Identify(path, start, end))
        SegmentCache().Keep(std::move(id->first), id->second, loudness);
}

std::optional<TLoudness> MeasureSegment(const QString& path, double start, double end,
                                        const std::function<bool()>& shouldStop)
{
    // Stamped before decoding: a file rewritten meanwhile no longer matches
    // what is kept.
    auto id = Identify(path, start, end);
    if (!id)
        return std::nullopt;
    if (auto known = SegmentCache().Find(id->first, id->second))
        return known;
    if (shouldStop && shouldStop())
        return std::nullopt;

    SourceStream source = OpenSourceStream(path);
    TLoudnessMeter meter(TLoudnessMeter::TMode::IntegratedAndTruePeak);
    bool stopped = false;
    const auto measure = [&](const std::int16_t* samples, std::int64_t frames) {
        if (shouldStop && shouldStop()) {
            stopped = true;
            return false;
        }
        meter.Add(samples, frames);
        return true;
    };
    const std::int64_t decoded = DecodeSegmentTo(source, start, end, measure);
    // -1: the file does not decode; 0: the in point lies at or past its end.
    if (decoded <= 0 || stopped)
        return std::nullopt;
    const TLoudness loudness = meter.Result();
    SegmentCache().Keep(std::move(id->first), id->second, loudness);
    return loudness;
}

QString LoudnessText(const std::optional<TLoudness>& loudness)
{
    if (!loudness)
        return QStringLiteral("\u2014");
    if (loudness->Silent())
        return QStringLiteral("\u2212\u221E LUFS");
    return OneDecimalText(loudness->Integrated) + QStringLiteral(" LUFS");
}

QString OneDecimalText(double value)
{
    const double tenths = std::round(value * 10.0);
    const QString digits = QString::number(std::abs(tenths) / 10.0, 'f', 1);
    return (tenths < 0.0 ? QStringLiteral("\u2212") : QString()) + digits;
}

QString TruePeakText(double dbtp)
{
    if (std::isnan(dbtp))
        return QStringLiteral("\u2014");
    if (dbtp == -std::numeric_limits<double>::infinity())
        return QStringLiteral("\u2212\u221E dBTP");
    return OneDecimalText(dbtp) + QStringLiteral(" dBTP");
}

} // namespace medlark
