#include "render/StreamMeter.h"

#include "render/TruePeakLimiter.h"

#include <exception>

namespace medlark {

namespace {

// About 24 s waiting at most: the writer is held up only when the meter lags far behind.
constexpr std::int64_t kMaxQueuedFrames = 1 << 20;

} // namespace

TStreamMeter::TStreamMeter()
    : loudness_(TLoudnessMeter::TMode::Integrated), thread_([this] { Run(); })
{
}

TStreamMeter::~TStreamMeter()
{
    {
        const std::lock_guard lock(mutex_);
        quit_ = true;
        queue_.clear();
    }
    changed_.notify_all();
    thread_.join();
}

void TStreamMeter::Add(const std::int16_t* samples, std::int64_t frames)
{
    if (frames <= 0)
        return;
    PcmBlock block(samples, samples + frames * kPcmChannels);
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return failed_ || queuedFrames_ < kMaxQueuedFrames; });
    if (failed_)
        return;
    queuedFrames_ += frames;
    queue_.push_back(std::move(block));
    lock.unlock();
    changed_.notify_all();
}

std::optional<TLoudness> TStreamMeter::Result()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return failed_ || (queue_.empty() && !busy_); });
    if (failed_)
        return std::nullopt;
    // The thread waits for more meanwhile: the meters are not in use.
    return TLoudness{loudness_.Result().Integrated, peak_.TruePeak()};
}

void TStreamMeter::Run()
{
    for (;;) {
        PcmBlock block;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return quit_ || !queue_.empty(); });
            if (quit_)
                return;
            block = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
        }
        bool failed = false;
        try {
            loudness_.Add(block.data(), FrameCount(block));
            peak_.Add(block.data(), FrameCount(block));
        } catch (const std::exception&) {
            failed = true;   // the report is left out; the medley is not affected
        }
        {
            const std::lock_guard lock(mutex_);
            queuedFrames_ -= FrameCount(block);
            busy_ = false;
            if (failed) {
                failed_ = true;
                queue_.clear();
                queuedFrames_ = 0;
            }
        }
        changed_.notify_all();
    }
}

} // namespace medlark
