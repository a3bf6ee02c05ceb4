#include "render/PlaybackFeed.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

namespace medlark {

double SecondsOfFrame(std::int64_t frame)
{
    if (frame <= 0)
        return 0.0;
    frame = std::min(frame, kMaxPcmFrames);
    double t = static_cast<double>(static_cast<long double>(frame) / kPcmRate);
    // The quotient is rounded; step to the smallest double on the frame.
    while (FrameOfSeconds(t) < frame)
        t = std::nextafter(t, HUGE_VAL);
    for (double below = std::nextafter(t, 0.0); FrameOfSeconds(below) == frame; below = std::nextafter(t, 0.0))
        t = below;
    return t;
}

namespace {

class TFileProgram final : public TPcmProgram {
public:
    explicit TFileProgram(SourceStream source) : source_(std::move(source)) {}

    std::int64_t Frames() override
    {
        const double duration = source_.Duration();
        return duration < 0 ? 0 : FrameOfSeconds(duration);
    }

    void Render(std::int64_t from, const PcmSink& sink) override
    {
        const double start = SecondsOfFrame(from);
        // An out point far beyond any source: the segment runs to the end.
        DecodeSegmentTo(source_, start, start + 1.0e9, sink);
    }

private:
    SourceStream source_;
};

// The file with a track's level: the segment [in, out) levelled exactly as a
// build levels it (a leveller that starts at the in point and ends at the out
// point), the frames before and after it with the same level, as runs of their own.
class TLevelledFileProgram final : public TPcmProgram {
public:
    TLevelledFileProgram(SourceStream source, const TSegmentLevel& level, double start, double end)
        : source_(std::move(source)), level_(level)
    {
        in_ = FrameOfSeconds(start);
        out_ = in_ + FrameOfSeconds(end - start);
    }

    std::int64_t Frames() override
    {
        const double duration = source_.Duration();
        return duration < 0 ? 0 : FrameOfSeconds(duration);
    }

    void Render(std::int64_t from, const PcmSink& sink) override
    {
        // The run `from` lies in, started early enough for its leveller.
        std::int64_t runEnd = from < in_ ? in_ : from < out_ ? out_ : kMaxPcmFrames;
        const std::int64_t runStart = from < in_ ? 0 : from < out_ ? in_ : out_;
        std::int64_t at = std::max(runStart, from - TLeveller(level_).HistoryFrames());
        std::optional<TLeveller> leveller(level_);
        std::int64_t handed = at;   // the next frame the leveller gives
        bool open = true;
        auto give = [&]() {
            // Frames before `from` only warm the leveller up.
            const std::int64_t frames = FrameCount(levelled_);
            const std::int64_t skip = std::clamp<std::int64_t>(from - handed, 0, frames);
            handed += frames;
            if (frames > skip && !sink(levelled_.data() + skip * kPcmChannels, frames - skip))
                open = false;
            levelled_.clear();
            return open;
        };
        const double start = SecondsOfFrame(at);
        DecodeSegmentTo(source_, start, start + 1.0e9, [&](const std::int16_t* samples, std::int64_t frames) {
            while (frames > 0 && open) {
                const std::int64_t n = std::min(frames, runEnd - at);
                leveller->Push(samples, n, levelled_);
                at += n;
                samples += n * kPcmChannels;
                frames -= n;
                if (at == runEnd) {
                    // The run ends: its leveller hands on what it holds, the next run starts afresh.
                    leveller->Finish(levelled_);
                    leveller.emplace(level_);
                    runEnd = at < out_ ? out_ : kMaxPcmFrames;
                }
                give();
            }
            return open;
        });
        if (open) {
            leveller->Finish(levelled_);
            give();
        }
    }

private:
    SourceStream source_;
    TSegmentLevel level_;
    std::int64_t in_ = 0;
    std::int64_t out_ = 0;
    PcmBlock levelled_;
};

} // namespace

std::unique_ptr<TPcmProgram> FileProgram(SourceStream source)
{
    return std::make_unique<TFileProgram>(std::move(source));
}

std::unique_ptr<TPcmProgram> LevelledFileProgram(SourceStream source, const TSegmentLevel& level, double start,
                                                 double end)
{
    if (level.Identity() || !(start >= 0.0) || !(end > start))
        return level.Identity() ? FileProgram(std::move(source))
                                : std::make_unique<TLevelledFileProgram>(std::move(source), level, 0.0, 0.0);
    return std::make_unique<TLevelledFileProgram>(std::move(source), level, start, end);
}

TPlaybackFeed::TPlaybackFeed(std::unique_ptr<TPcmProgram> program, std::int64_t aheadFrames)
    : program_(std::move(program)),
      ring_(static_cast<size_t>(std::max<std::int64_t>(aheadFrames, 1024)) * kPcmChannels)
{
    thread_ = std::thread([this] { Run(); });
}

TPlaybackFeed::~TPlaybackFeed()
{
    {
        const std::lock_guard lock(mutex_);
        quit_ = true;
        ++generation_;
    }
    changed_.notify_all();
    thread_.join();
}

std::int64_t TPlaybackFeed::Frames()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return frames_ >= 0; });
    return frames_;
}

std::int64_t TPlaybackFeed::KnownFrames()
{
    const std::lock_guard lock(mutex_);
    return frames_;
}

void TPlaybackFeed::Start(std::int64_t frame)
{
    Restart(true, frame);
}

void TPlaybackFeed::Halt()
{
    Restart(false, 0);
}

void TPlaybackFeed::Restart(bool active, std::int64_t frame)
{
    {
        const std::lock_guard lock(mutex_);
        ++generation_;
        startFrame_ = std::max<std::int64_t>(frame, 0);
        active_ = active;
        ended_ = false;
        starved_ = false;
        head_ = 0;
        queued_ = 0;
    }
    changed_.notify_all();
}

std::int64_t TPlaybackFeed::Read(std::int16_t* dest, std::int64_t frames)
{
    std::int64_t copied = 0;
    {
        const std::lock_guard lock(mutex_);
        const auto capacity = static_cast<std::int64_t>(ring_.size()) / kPcmChannels;
        while (copied < frames && queued_ > 0) {
            const std::int64_t run = std::min({frames - copied, queued_, capacity - head_});
            std::memcpy(dest + copied * kPcmChannels, ring_.data() + head_ * kPcmChannels,
                        static_cast<size_t>(run) * kPcmFrameBytes);
            copied += run;
            head_ = (head_ + run) % capacity;
            queued_ -= run;
        }
        if (copied == 0 && frames > 0)
            starved_ = true;
    }
    if (copied > 0)
        changed_.notify_all();
    return copied;
}

std::int64_t TPlaybackFeed::Queued()
{
    const std::lock_guard lock(mutex_);
    return queued_;
}

bool TPlaybackFeed::AtEnd()
{
    const std::lock_guard lock(mutex_);
    return active_ && ended_ && queued_ == 0;
}

void TPlaybackFeed::Notify()
{
    if (handler_)
        handler_();
}

bool TPlaybackFeed::Put(std::uint64_t generation, const std::int16_t* samples, std::int64_t frames)
{
    while (frames > 0) {
        bool wake = false;
        {
            std::unique_lock lock(mutex_);
            const auto capacity = static_cast<std::int64_t>(ring_.size()) / kPcmChannels;
            changed_.wait(lock, [&] { return generation_ != generation || queued_ < capacity; });
            if (generation_ != generation)
                return false;
            const std::int64_t tail = (head_ + queued_) % capacity;
            const std::int64_t run = std::min({frames, capacity - queued_, capacity - tail});
            std::memcpy(ring_.data() + tail * kPcmChannels, samples, static_cast<size_t>(run) * kPcmFrameBytes);
            queued_ += run;
            samples += run * kPcmChannels;
            frames -= run;
            wake = starved_;
            starved_ = false;
        }
        if (wake)
            Notify();
    }
    return true;
}

void TPlaybackFeed::Run()
{
    const std::int64_t frames = program_->Frames();
    {
        const std::lock_guard lock(mutex_);
        frames_ = frames;
    }
    changed_.notify_all();

    std::uint64_t done = 0;   // the generation last rendered
    for (;;) {
        std::uint64_t generation = 0;
        std::int64_t from = 0;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return quit_ || (active_ && generation_ != done); });
            if (quit_)
                return;
            generation = done = generation_;
            from = startFrame_;
        }
        if (from < frames)
            program_->Render(from, [&](const std::int16_t* samples, std::int64_t count) {
                return Put(generation, samples, count);
            });
        bool reached = false;
        {
            const std::lock_guard lock(mutex_);
            if (generation_ == generation) {
                ended_ = true;
                reached = true;
            }
        }
        if (reached)
            Notify();
    }
}

} // namespace medlark
