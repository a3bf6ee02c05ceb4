#pragma once
// Measures a stream of the PCM block format, a medley as it is written, on a
// thread of its own: its integrated loudness by libebur128 and its true peak
// by the limiter's detector. Adding hands the frames over and returns; the
// thread that writes goes on while they are measured.

#include "render/Loudness.h"
#include "render/PcmBlock.h"
#include "render/TruePeakLimiter.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace medlark {

class TStreamMeter final {
public:
    TStreamMeter();
    TStreamMeter(const TStreamMeter&) = delete;
    TStreamMeter& operator=(const TStreamMeter&) = delete;
    ~TStreamMeter();   // stops the thread and waits for it

    // Waits only when much is still to be measured.
    void Add(const std::int16_t* samples, std::int64_t frames);
    // Everything added, measured; nothing when the measuring failed (memory).
    std::optional<TLoudness> Result();

private:
    void Run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<PcmBlock> queue_;
    std::int64_t queuedFrames_ = 0;
    bool busy_ = false;   // the thread is measuring a block taken from the queue
    bool quit_ = false;
    bool failed_ = false;
    TLoudnessMeter loudness_;
    TTruePeakMeter peak_;
    std::thread thread_;   // last: starts once the rest is in place
};

} // namespace medlark
