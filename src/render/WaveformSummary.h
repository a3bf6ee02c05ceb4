#pragma once
// Waveform summaries for drawing audio: the lowest and highest sample of both
// channels per block of 256 frames, made from the build's own decoding on a
// background thread and kept per file (path, size, modification time) for the
// run. A summary fills from the start while it is made; what is filled can be
// drawn at once.

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace medlark {

class SourceStream;

inline constexpr std::int64_t kPeakBlockFrames = 256;

struct TPeak final {
    std::int16_t Min = 0;
    std::int16_t Max = 0;
    bool operator==(const TPeak&) const = default;
};

class TWaveformSummary final {
public:
    // Room for `capacity` frames; the length is set when the summary is complete.
    explicit TWaveformSummary(std::int64_t capacity);

    // Frames summarised: all the file has once complete.
    std::int64_t Frames() const { return frames_.load(std::memory_order_acquire); }
    std::int64_t Blocks() const { return (Frames() + kPeakBlockFrames - 1) / kPeakBlockFrames; }
    std::int64_t Capacity() const { return static_cast<std::int64_t>(peaks_.size()); }
    // Blocks filled so far, from the first on.
    std::int64_t ReadyBlocks() const { return ready_.load(std::memory_order_acquire); }
    bool Complete() const { return complete_.load(std::memory_order_acquire); }

    // Lowest and highest sample over the ready blocks of [fromBlock, toBlock);
    // {false, …} when none of them is ready.
    std::pair<bool, TPeak> Peak(std::int64_t fromBlock, std::int64_t toBlock) const;

    // Filling, by the one thread that makes the summary.
    void Fill(std::int64_t block, TPeak peak) { peaks_[static_cast<size_t>(block)] = peak; }
    void SetReady(std::int64_t blocks, std::int64_t frames)
    {
        frames_.store(frames, std::memory_order_release);
        ready_.store(blocks, std::memory_order_release);
    }
    void SetComplete() { complete_.store(true, std::memory_order_release); }

private:
    std::atomic<std::int64_t> frames_{0};
    std::vector<TPeak> peaks_;
    std::atomic<std::int64_t> ready_{0};
    std::atomic<bool> complete_{false};
};

// The whole blocks column c of `columns` stands for, in a view of the frames
// [fromFrame, toFrame): the view's blocks shared out so that every column has
// at least one and neighbours meet without a gap.
std::pair<std::int64_t, std::int64_t> ColumnBlocks(std::int64_t fromFrame, std::int64_t toFrame, int columns, int c);

// Makes the summary of one file on a thread of its own, or finds it made
// already. Destroying the loader cancels the work and waits for its thread.
class TWaveformLoader final {
public:
    explicit TWaveformLoader(const QString& path);
    TWaveformLoader(const TWaveformLoader&) = delete;
    TWaveformLoader& operator=(const TWaveformLoader&) = delete;
    ~TWaveformLoader();

    // Null until the file is open (and for a file that does not open).
    std::shared_ptr<const TWaveformSummary> Summary() const;
    // The work has ended: the summary is complete, or the file does not open.
    bool Finished() const { return finished_.load(std::memory_order_acquire); }

private:
    enum class TFill { Complete, Full, Cancelled };
    void Run(const QString& path);
    TFill Summarise(SourceStream& source, TWaveformSummary& summary);

    std::atomic<bool> cancel_{false};
    std::atomic<bool> finished_{false};
    mutable std::mutex mutex_;   // guards summary_
    std::shared_ptr<TWaveformSummary> summary_;
    std::thread thread_;
};

// Forgets every summary kept for the run.
void ClearWaveformCache();

} // namespace medlark
