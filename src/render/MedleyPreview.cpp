#include "render/MedleyPreview.h"

#include "model/TrackList.h"
#include "render/Loudness.h"
#include "render/Mixing.h"
#include "render/SegmentLevel.h"
#include "render/SourceStream.h"
#include "render/WavOutput.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <mutex>

namespace medlark {

namespace {

std::atomic<std::int64_t> decodedFrames{0};

} // namespace

double SourceLength(const QString& path)
{
    static std::mutex mutex;
    static std::map<QString, std::pair<QString, double>> cache;
    const QFileInfo info(path);
    const QString stamp = QString::number(info.size()) + u'@' + QString::number(info.lastModified().toMSecsSinceEpoch());
    {
        const std::lock_guard lock(mutex);
        const auto found = cache.find(info.absoluteFilePath());
        if (found != cache.end() && found->second.first == stamp)
            return found->second.second;
    }
    SourceStream source = OpenSourceStream(path);
    const double duration = source ? source.Duration() : -1.0;
    const std::lock_guard lock(mutex);
    cache[info.absoluteFilePath()] = {stamp, duration};
    return duration;
}

namespace {

// The frames the build's decoding gives for the segment: its length where the
// segment lies well inside the source, else counted by decoding it.
std::int64_t SegmentFrames(const QString& path, double start, double end)
{
    const double duration = SourceLength(path);
    const std::int64_t target = FrameOfSeconds(end - start);   // as the build's decoding counts them
    if (duration < 0 || target == 0)
        return 0;
    if (start >= 0 && start + 1.0 < duration && end + 1.0 < duration)
        return target;
    SourceStream source = OpenSourceStream(path);
    std::int64_t frames = 0;
    DecodeSegmentTo(source, start, end, [&](const std::int16_t*, std::int64_t n) {
        frames += n;
        return true;
    });
    return frames;
}

class TMedleyProgram final : public TPcmProgram {
public:
    TMedleyProgram(std::vector<TMedleyEntry> entries, const TMedleySettings& settings, TMedleyLayout layout,
                   std::int64_t from, std::int64_t to)
        : entries_(std::move(entries)), settings_(settings), crossfade_(SetCrossfadeTime(settings.CrossfadeTime)),
          layout_(std::move(layout)), from_(from), to_(to)
    {
    }

    std::int64_t Frames() override { return std::max<std::int64_t>(0, to_ - from_); }

    void Render(std::int64_t programFrame, const PcmSink& sink) override
    {
        const std::int64_t want = from_ + programFrame;   // the first medley frame to hand on
        if (want >= to_)
            return;
        // Frames a crossfade or more after where a segment begins owe nothing to
        // the segments before it: mixing starts at the last such segment.
        const std::int64_t x = crossfade_.Frames();
        size_t first = 0;
        for (size_t q = 0; q < layout_.Placed.size(); ++q)
            if (layout_.Placed[q].At + x <= want)
                first = q;
        OutputFile file = CreateMemoryFile(QStringLiteral("medlark-preview"));
        if (first == 0) {
            WriteHeader(file);
            WriteSilence(file, settings_.BlankHead);
        } else {
            file.SetPosition(kWavHeaderBytes + layout_.Placed[first].At * kPcmFrameBytes);
        }
        next_ = want;
        sink_ = &sink;
        stopped_ = false;

        TMedleyMixer mixer(file, crossfade_, settings_.Envelope);
        for (size_t q = first; q < layout_.Placed.size() && !stopped_; ++q) {
            const TMedleyLayout::TPlaced& placed = layout_.Placed[q];
            if (placed.At >= to_)
                break;
            const TMedleyEntry& entry = entries_[static_cast<size_t>(placed.Track)];
            TLeveller leveller(Level(entry));
            SourceStream source = OpenSourceStream(entry.SourcePath);
            mixer.Begin();
            // The first segment mixed is heard from `want` on: its frames before
            // that are left undecoded (silence in their place is shaped and
            // thrown away), where the source's frames are the segment's own;
            // the leveller starts early enough to level the first heard frame
            // as the build does.
            std::int64_t skip = 0;
            if (q == first && source.SourceRate() == kPcmRate)
                skip = std::clamp<std::int64_t>(want - placed.At, 0, placed.Frames - 1);
            skip -= std::min(skip, leveller.HistoryFrames());
            for (std::int64_t left = skip; left > 0;) {
                const std::int64_t n = std::min<std::int64_t>(left, kPiece);
                silence_.assign(static_cast<size_t>(n) * kPcmChannels, 0);
                mixer.Push(silence_.data(), n);
                left -= n;
            }
            std::int64_t remaining = placed.Frames - skip;
            const double in = skip == 0 ? entry.StartTime : SecondsOfFrame(FrameOfSeconds(entry.StartTime) + skip);
            const double out = skip == 0 ? entry.EndTime : entry.EndTime + 1.0;
            DecodeSegmentTo(source, in, out, [&](const std::int16_t* samples, std::int64_t n) {
                n = std::min(n, remaining);
                decodedFrames += n;
                levelled_.clear();
                leveller.Push(samples, n, levelled_);
                mixer.Push(levelled_.data(), FrameCount(levelled_));
                remaining -= n;
                return HandOn(file, file.Position()) && remaining > 0;
            });
            if (stopped_)
                return;
            levelled_.clear();
            leveller.Finish(levelled_);
            mixer.Push(levelled_.data(), FrameCount(levelled_));
            mixer.End();
            if (!HandOn(file, file.Position()))
                return;
        }
        // After the last segment: what it left, then the blank tail.
        file.SetPosition(std::max(file.Length(), kWavHeaderBytes + layout_.SegmentsEnd * kPcmFrameBytes));
        WriteSilence(file, settings_.BlankTail);
        HandOn(file, file.Length());
    }

private:
    // The segment's level as a build sets it; with matching on, its loudness is
    // measured first when it is not known yet.
    TSegmentLevel Level(const TMedleyEntry& entry)
    {
        std::optional<TLoudness> loudness;
        if (NeedsLoudness(settings_.Loudness))
            loudness = MeasureSegment(entry.SourcePath, entry.StartTime, entry.EndTime);   // the known one, if any
        return LevelOf(settings_.Loudness, entry.Gain, loudness);
    }

    // Hands on the medley's final frames up to the byte `end` of the file.
    bool HandOn(OutputFile& file, std::int64_t end)
    {
        const std::int64_t upTo = std::min<std::int64_t>((end - kWavHeaderBytes) / kPcmFrameBytes, to_);
        while (!stopped_ && next_ < upTo) {
            const std::int64_t n = std::min<std::int64_t>(upTo - next_, kPiece);
            buffer_.resize(static_cast<size_t>(n) * kPcmChannels);
            const std::int64_t got =
                ReadAt(file, kWavHeaderBytes + next_ * kPcmFrameBytes, buffer_.data(), n * kPcmFrameBytes);
            if (got < n * kPcmFrameBytes)
                std::fill(buffer_.begin() + got / 2, buffer_.end(), std::int16_t{0});
            if (!(*sink_)(buffer_.data(), n))
                stopped_ = true;
            next_ += n;
            // What was handed on is not needed again.
            Forget(file, (kWavHeaderBytes + next_ * kPcmFrameBytes) / 4096 * 4096);
        }
        if (next_ >= to_)
            stopped_ = true;
        return !stopped_;
    }

    static constexpr std::int64_t kPiece = 8192;

    std::vector<TMedleyEntry> entries_;
    TMedleySettings settings_;
    TCrossfade crossfade_;
    TMedleyLayout layout_;
    std::int64_t from_;
    std::int64_t to_;
    std::int64_t next_ = 0;
    const PcmSink* sink_ = nullptr;
    bool stopped_ = false;
    PcmBlock buffer_;
    PcmBlock silence_;
    PcmBlock levelled_;
};

} // namespace

std::vector<TMedleyEntry> MedleyEntries(const TrackList& list)
{
    std::vector<TMedleyEntry> entries;
    for (int i = 0; i < list.Count(); ++i)
        entries.push_back({list.At(i).SourcePath, list.At(i).Times.StartTime, list.At(i).Times.EndTime, list.At(i).Times.Gain});
    return entries;
}

TMedleyLayout LayOutMedley(const std::vector<TMedleyEntry>& entries, const TMedleySettings& settings)
{
    TMedleyLayout layout;
    layout.HeadFrames = static_cast<std::int64_t>(SilenceBlockCount(settings.BlankHead)) * (kSilenceBlockBytes / kPcmFrameBytes);
    std::int64_t at = layout.HeadFrames;
    layout.SegmentsEnd = at;
    const TCrossfade crossfade = SetCrossfadeTime(settings.CrossfadeTime);
    for (size_t i = 0; i < entries.size(); ++i) {
        const TMedleyEntry& e = entries[i];
        const std::int64_t n = SegmentFrames(e.SourcePath, e.StartTime, e.EndTime);
        if (n <= 1)
            continue;   // nothing to hear (or nothing a fade can shape): left out
        const std::int64_t x = CrossfadeFrames(crossfade, n * kPcmFrameBytes);
        layout.Placed.push_back({static_cast<int>(i), at, n, x});
        layout.SegmentsEnd = std::max(layout.SegmentsEnd, at + n);
        at += n - x;
    }
    layout.Frames = layout.SegmentsEnd
                  + static_cast<std::int64_t>(SilenceBlockCount(settings.BlankTail)) * (kSilenceBlockBytes / kPcmFrameBytes);
    return layout;
}

std::optional<std::pair<std::int64_t, std::int64_t>> JoinWindow(const TMedleyLayout& layout, int track)
{
    for (size_t q = 0; q < layout.Placed.size(); ++q) {
        const TMedleyLayout::TPlaced& p = layout.Placed[q];
        if (p.Track != track)
            continue;
        const std::int64_t from = q == 0 ? 0 : std::max<std::int64_t>(0, p.At - kJoinMarginFrames);
        return std::pair{from, std::min(layout.Frames, p.At + p.Fade + kJoinMarginFrames)};
    }
    return std::nullopt;
}

std::unique_ptr<TPcmProgram> MedleyProgram(std::vector<TMedleyEntry> entries, const TMedleySettings& settings,
                                           TMedleyLayout layout, std::int64_t from, std::int64_t to)
{
    return std::make_unique<TMedleyProgram>(std::move(entries), settings, std::move(layout), from, to);
}

std::int64_t MedleyPreviewDecodedFrames()
{
    return decodedFrames.load();
}

} // namespace medlark
