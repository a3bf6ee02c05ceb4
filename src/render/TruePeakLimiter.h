#pragma once
// A look-ahead limiter that holds the true peak (the peak between samples, found
// by oversampling) of 44.1 kHz stereo at or below a ceiling, and hands on the
// limited frames in the PCM block format without a sample ever clipping.
//
// Its output is an exact function of a bounded stretch of its input: frame t
// out depends only on the input frames from t - kHistoryFrames to
// t + kLookaheadFrames (frames before the first pushed one and after Finish
// count as silence). So a limiter started kHistoryFrames before any frame, and
// fed the same input from there, gives that frame bit for bit as a limiter that
// ran from the start: a preview can join a build's limited stream anywhere.

#include "render/PcmBlock.h"

#include <cstdint>
#include <memory>

namespace medlark {

class TTruePeakLimiter final {
public:
    static const std::int64_t kLookaheadFrames;
    static const std::int64_t kHistoryFrames;

    // ceilingDbtp: the highest true peak allowed, in dB below full scale (-1.0
    // typical; from -60 to 0, else Error). Where nothing needs limiting (the
    // true peak 0.2 dB or more below the ceiling, and about 100 ms since it
    // was not), the output is the input rounded to nearest, halves to even.
    explicit TTruePeakLimiter(double ceilingDbtp);
    TTruePeakLimiter(TTruePeakLimiter&&) noexcept;
    TTruePeakLimiter& operator=(TTruePeakLimiter&&) noexcept;
    ~TTruePeakLimiter();

    // Input: interleaved stereo frames in the 16-bit scale (full scale is 32768),
    // any value, also beyond full scale (NaN counts as silence). Appends to out
    // the frames that are final, in order: the output lags the input by
    // kLookaheadFrames, so that once n frames have been pushed in all,
    // max(0, n - kLookaheadFrames) have come out; output frame k is input frame k.
    void Push(const float* samples, std::int64_t frames, PcmBlock& out);
    // The input has ended: appends the frames still held (the output then has
    // exactly as many frames as were pushed). What is pushed next is a stream
    // of its own, as in a new limiter.
    void Finish(PcmBlock& out);

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// The true peak of the PCM block format as the limiter's detector finds it:
// the louder channel, the samples and three points between each two. What a
// limiter held to a ceiling reads at or below it; a fraction of libebur128's
// cost, for measuring a whole medley as it is written.
class TTruePeakMeter final {
public:
    TTruePeakMeter();
    TTruePeakMeter(TTruePeakMeter&&) noexcept;
    TTruePeakMeter& operator=(TTruePeakMeter&&) noexcept;
    ~TTruePeakMeter();

    void Add(const std::int16_t* samples, std::int64_t frames);
    // dBTP of what was added, silence after it; -inf for digital silence.
    double TruePeak() const;

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace medlark
