#include "render/TruePeakLimiter.h"

#include "model/Error.h"

#include <QString>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

// How it works. Every frame q gets the gain it needs, the ceiling over the
// highest of its two samples and the three points a quarter, a half and three
// quarters of a frame after them, interpolated per channel by a windowed sinc;
// 1 when that peak is below the ceiling. The gain that is applied is then:
//
//   attack   the lowest needed gain over a window around each frame, smoothed
//            by two moving averages of kAttackAverage frames, so that it comes
//            down over 127 frames (2.9 ms) before a peak and is at or below the
//            peak's gain from kGuard frames before it to kGuard frames after;
//   hold     the lowest of that over the last kHoldFrames (46 ms);
//   release  the held gain smoothed by two moving averages of kReleaseAverage
//            frames, taken where it is below the held gain: the gain goes back
//            up along an S-curve over 46 ms once a peak has been held.
//
// Gains are integers (unity is 2^24), the averages exact sums in 64 bits and the
// minima sliding-window minima, so each stage is a function of a fixed stretch
// of the needed gains, and those of a fixed stretch of the input: nothing
// depends on where the stream started or on how it was cut into pushes. The
// interpolator is a plain FIR in single precision, the same operations in the
// same order for every frame, vectorised across frames (this file is built
// without contraction into fused multiply-adds).

namespace medlark {

namespace {

// The detector: 4x oversampling, 48 taps for each of the three points between
// two samples (a Kaiser window of beta 7: flat within 0.005 dB up to 20 kHz).
constexpr int kTaps = 48;
constexpr int kHalfTaps = kTaps / 2;
constexpr double kKaiserBeta = 7.0;

// Gains in fixed point.
constexpr int kGainBits = 24;
constexpr std::int32_t kUnity = std::int32_t{1} << kGainBits;

constexpr int kAttackAverage = 64;
constexpr int kAttackFrames = 2 * (kAttackAverage - 1);   // the span of the two averages, less one
constexpr int kGuard = 4;
// The needed gains the attack's minimum spans: a frame's peak lies between it
// and the next frame, and both are held at its gain kGuard frames beyond.
constexpr int kAttackMinimum = kAttackFrames + 2 * kGuard + 2;
constexpr int kHoldFrames = 2048;
constexpr int kReleaseAverage = 1024;
// The hold is at least as long as the release's averages span: then the held
// gain never rises while the release curve is still coming down to it, and the
// gain has no steps.
static_assert(kHoldFrames >= 2 * kReleaseAverage - 1);
// After this many frames in a row that need no limiting, every stage holds
// unity only, and stays so as long as frames need none.
constexpr int kSettleFrames = kAttackMinimum + 2 * kAttackAverage + kHoldFrames + 2 * kReleaseAverage;

// The ceiling aimed at lies this far below the one asked for: room for the
// rounding to 16 bits, for the points of the true peak between those the
// detector looks at, and for meters whose interpolators ripple above unity
// (libebur128's reads up to 0.11 dB high near 15 kHz).
constexpr double kMarginDb = 0.2;
constexpr double kLowestCeilingDb = -60.0;

// Input beyond this (512 times full scale) is taken as this; NaN as silence.
constexpr float kInputLimit = 16777216.0f;
// Never a sample at full scale.
constexpr long kOutputLimit = kSampleMax - 1;

// The detector works through blocks of this many frames, and skips a block
// whose samples are all so low that no point between them can reach the
// ceiling.
constexpr int kBlock = 64;
constexpr int kLanes = 8;

// Input is taken in pieces of at most this many frames.
constexpr std::int64_t kPiece = 8192;

using Lanes = float __attribute__((vector_size(kLanes * sizeof(float))));

// The coefficients, folded: the half-frame point is symmetric about the middle
// of the window, and the quarter and three-quarter points mirror each other, so
// each pair of taps m and kTaps - 1 - m enters through its sum and difference.
struct Coefficients final {
    // Half-frame point, on the pair's sum.
    std::array<float, kHalfTaps> half;
    // The sum of the quarter and three-quarter points, on the pair's sum; and
    // their difference, on the pair's difference.
    std::array<float, kHalfTaps> outerSum;
    std::array<float, kHalfTaps> outerDifference;
    // No point can come out above the highest sample of the window times this.
    double bound = 0.0;
};

double BesselI0(double x)
{
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; term > 1e-17 * sum; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

// Taps for the point `fraction` of a frame after the window's sample kHalfTaps - 1,
// normalised to unity at DC.
std::array<double, kTaps> PhaseTaps(double fraction)
{
    std::array<double, kTaps> taps{};
    double sum = 0.0;
    for (int m = 0; m < kTaps; ++m) {
        const double u = fraction + (kHalfTaps - 1) - m;   // distance from the tap's sample
        const double x = std::numbers::pi * u;
        const double sinc = u == 0.0 ? 1.0 : std::sin(x) / x;
        const double r = u / kHalfTaps;
        const double window = BesselI0(kKaiserBeta * std::sqrt(std::max(0.0, 1.0 - r * r))) / BesselI0(kKaiserBeta);
        taps[static_cast<size_t>(m)] = sinc * window;
        sum += taps[static_cast<size_t>(m)];
    }
    for (double& t : taps)
        t /= sum;
    return taps;
}

Coefficients MakeCoefficients()
{
    const std::array<double, kTaps> quarter = PhaseTaps(0.25);
    const std::array<double, kTaps> half = PhaseTaps(0.5);
    Coefficients c;
    double outerBound = 0.0;
    double halfBound = 0.0;
    for (int m = 0; m < kHalfTaps; ++m) {
        const size_t i = static_cast<size_t>(m);
        const size_t mirror = static_cast<size_t>(kTaps - 1 - m);
        // The three-quarter point's tap m is the quarter point's tap kTaps - 1 - m.
        c.half[i] = static_cast<float>(half[i]);
        c.outerSum[i] = static_cast<float>(quarter[i] + quarter[mirror]);
        c.outerDifference[i] = static_cast<float>(quarter[i] - quarter[mirror]);
        // The detector takes max(|y1|, |y3|) as (|y1 + y3| + |y1 - y3|) / 2, and
        // each pair's sum and difference are at most twice the highest sample.
        outerBound += std::fabs(c.outerSum[i]) + std::fabs(c.outerDifference[i]);
        halfBound += 2.0 * std::fabs(c.half[i]);
    }
    // With room for the rounding of the single-precision sums.
    c.bound = std::max({1.0, outerBound, halfBound}) * 1.001;
    return c;
}

const Coefficients& TheCoefficients()
{
    static const Coefficients coefficients = MakeCoefficients();
    return coefficients;
}

// One lane of the detector or eight side by side: the same operations either
// way. All of it is inlined into Peaks, which is also built for AVX2 (where
// eight lanes are passed in other registers).
struct OneLane final {
    using T = float;
    [[gnu::always_inline]] static T Load(const float* p) { return *p; }
    [[gnu::always_inline]] static T Coefficient(const float* c, int m) { return c[m]; }
    [[gnu::always_inline]] static void Store(float* p, T v) { *p = v; }
};

struct EightLanes final {
    using T = Lanes;
    [[gnu::always_inline]] static T Load(const float* p)
    {
        T v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    [[gnu::always_inline]] static T Coefficient(const float* c, int m) { return T{} + c[m]; }
    [[gnu::always_inline]] static void Store(float* p, T v) { std::memcpy(p, &v, sizeof v); }
};

template <typename V>
[[gnu::always_inline]] inline typename V::T Magnitude(typename V::T v)
{
    return v < 0.0f ? -v : v;
}

template <typename V>
[[gnu::always_inline]] inline typename V::T Larger(typename V::T a, typename V::T b)
{
    return a > b ? a : b;
}

// The peak of one channel over the frame whose window of kTaps samples starts at x.
template <typename V>
[[gnu::always_inline]] inline typename V::T ChannelPeak(const Coefficients& c, const float* x)
{
    using T = typename V::T;
    T half{};
    T outerSum{};
    T outerDifference{};
    for (int m = 0; m < kHalfTaps; ++m) {
        const T a = V::Load(x + m);
        const T b = V::Load(x + (kTaps - 1 - m));
        const T sum = a + b;
        const T difference = a - b;
        half += V::Coefficient(c.half.data(), m) * sum;
        outerSum += V::Coefficient(c.outerSum.data(), m) * sum;
        outerDifference += V::Coefficient(c.outerDifference.data(), m) * difference;
    }
    const T outer = (Magnitude<V>(outerSum) + Magnitude<V>(outerDifference)) * 0.5f;
    const T sample = Magnitude<V>(V::Load(x + (kHalfTaps - 1)));
    return Larger<V>(sample, Larger<V>(Magnitude<V>(half), outer));
}

template <typename V>
[[gnu::always_inline]] inline void FramePeaks(const Coefficients& c, const float* left, const float* right,
                                              float* peak)
{
    V::Store(peak, Larger<V>(ChannelPeak<V>(c, left), ChannelPeak<V>(c, right)));
}

// Peaks of `frames` frames; left and right start at the first frame's window.
// Built for AVX2 as well, taken where the processor has it: the results are
// the same, lane for lane.
[[gnu::target_clones("avx2", "default")]]
void Peaks(const Coefficients& c, const float* left, const float* right, int frames, float* peak)
{
    int i = 0;
    for (; i + kLanes <= frames; i += kLanes)
        FramePeaks<EightLanes>(c, left + i, right + i, peak + i);
    for (; i < frames; ++i)
        FramePeaks<OneLane>(c, left + i, right + i, peak + i);
}

float HighestMagnitude(const float* x, int count)
{
    float high = 0.0f;
    for (int i = 0; i < count; ++i)
        high = std::max(high, std::fabs(x[i]));
    return high;
}

float Sanitised(float v)
{
    if (!(v == v))
        return 0.0f;
    return std::clamp(v, -kInputLimit, kInputLimit);
}

// The smallest of the last `window` values pushed; before any, the window holds unity.
class SlidingMinimum final {
public:
    explicit SlidingMinimum(int window) : window_(window)
    {
        size_t capacity = 1;
        while (capacity < static_cast<size_t>(window))
            capacity *= 2;
        slots_.resize(capacity);
        mask_ = capacity - 1;
    }

    std::int32_t Push(std::int32_t value)
    {
        // The front has left the window.
        if (head_ != tail_ && slots_[head_ & mask_].index <= count_ - window_)
            ++head_;
        while (head_ != tail_ && slots_[(tail_ - 1) & mask_].value >= value)
            --tail_;
        slots_[tail_ & mask_] = {count_, value};
        ++tail_;
        ++count_;
        return slots_[head_ & mask_].value;
    }

private:
    struct Slot final {
        std::int64_t index;
        std::int32_t value;
    };
    std::int64_t window_;
    std::vector<Slot> slots_;
    size_t mask_ = 0;
    size_t head_ = 0;
    size_t tail_ = 0;
    std::int64_t count_ = 0;
};

// The mean, rounded down, of the last kLength values pushed; before any, unity.
template <int kLength>
class MovingAverage final {
    static_assert((kLength & (kLength - 1)) == 0, "the mean is a shift");

public:
    MovingAverage() { values_.fill(kUnity); }

    std::int32_t Push(std::int32_t value)
    {
        sum_ += value - values_[position_];
        values_[position_] = value;
        position_ = (position_ + 1) & (kLength - 1);
        return static_cast<std::int32_t>(sum_ >> std::countr_zero(static_cast<unsigned>(kLength)));
    }

private:
    std::array<std::int32_t, kLength> values_;
    std::int64_t sum_ = std::int64_t{kLength} * kUnity;
    size_t position_ = 0;
};

std::int16_t Scaled(float sample, std::int32_t gain)
{
    // Exact: a float times a gain of at most 25 bits fits a double's mantissa.
    const double value = static_cast<double>(sample) * gain * (1.0 / kUnity);
    return static_cast<std::int16_t>(std::clamp(std::lrint(value), -kOutputLimit, kOutputLimit));
}

} // namespace

// The detector looks kHalfTaps frames ahead, and the attack kGuard + kAttackFrames more.
const std::int64_t TTruePeakLimiter::kLookaheadFrames = kHalfTaps + kGuard + kAttackFrames;
// Back: the release's averages and the hold, the attack's span behind a frame
// (kAttackFrames + kGuard + 1) and the detector's window (kHalfTaps - 1).
const std::int64_t TTruePeakLimiter::kHistoryFrames = 2 * (kReleaseAverage - 1) + (kHoldFrames - 1)
                                                      + kAttackFrames + kGuard + 1 + kHalfTaps - 1;

class TTruePeakLimiter::Impl final {
public:
    explicit Impl(double ceilingDbtp)
        : threshold_(static_cast<float>(32768.0 * std::pow(10.0, (ceilingDbtp - kMarginDb) / 20.0))),
          coefficients_(TheCoefficients())
    {
        Reset();
    }

    void Push(const float* samples, std::int64_t frames, PcmBlock& out)
    {
        while (frames > 0) {
            const std::int64_t piece = std::min(frames, kPiece);
            Append(samples, piece);
            Run(out);
            samples += piece * kPcmChannels;
            frames -= piece;
            pushed_ += piece;
        }
    }

    void Finish(PcmBlock& out)
    {
        // Silence after the end, as far as the last frame looks ahead.
        const std::int64_t pushed = pushed_;
        for (std::int64_t left = kLookaheadFrames; left > 0;) {
            const std::int64_t piece = std::min(left, kPiece);
            left_.resize(left_.size() + static_cast<size_t>(piece), 0.0f);
            right_.resize(right_.size() + static_cast<size_t>(piece), 0.0f);
            received_ += piece;
            left -= piece;
        }
        end_ = pushed;
        Run(out);
        Reset();
    }

private:
    void Reset()
    {
        // Silence before the start: as much as the first frame the detector
        // looks at has in its window.
        first_ = -(kTaps - 1);
        received_ = 0;
        pushed_ = 0;
        end_ = kMaxPcmFrames;
        detected_ = -kHalfTaps;
        left_.assign(static_cast<size_t>(kTaps - 1), 0.0f);
        right_.assign(static_cast<size_t>(kTaps - 1), 0.0f);
        attackMinimum_ = SlidingMinimum(kAttackMinimum);
        attack1_ = {};
        attack2_ = {};
        hold_ = SlidingMinimum(kHoldFrames);
        release1_ = {};
        release2_ = {};
        calm_ = kSettleFrames;
    }

    void Append(const float* samples, std::int64_t frames)
    {
        const size_t at = left_.size();
        left_.resize(at + static_cast<size_t>(frames));
        right_.resize(at + static_cast<size_t>(frames));
        for (std::int64_t i = 0; i < frames; ++i) {
            left_[at + static_cast<size_t>(i)] = Sanitised(samples[2 * i]);
            right_[at + static_cast<size_t>(i)] = Sanitised(samples[2 * i + 1]);
        }
        received_ += frames;
    }

    // Finds the needed gain of every frame whose window has come in, takes each
    // through the stages and hands on the frames that are then final.
    void Run(PcmBlock& out)
    {
        // Frame q's window runs to q + kHalfTaps.
        const std::int64_t last = received_ - 1 - kHalfTaps;
        if (last < detected_)
            return;
        const int count = static_cast<int>(last - detected_ + 1);
        peaks_.resize(static_cast<size_t>(count));
        for (int start = 0; start < count; start += kBlock) {
            const int frames = std::min(kBlock, count - start);
            const size_t window = static_cast<size_t>(detected_ + start - (kHalfTaps - 1) - first_);
            const float* left = left_.data() + window;
            const float* right = right_.data() + window;
            float* peak = peaks_.data() + start;
            const int span = frames + kTaps - 1;
            const float high = std::max(HighestMagnitude(left, span), HighestMagnitude(right, span));
            if (static_cast<double>(high) * coefficients_.bound <= threshold_)
                std::fill(peak, peak + frames, 0.0f);
            else
                Peaks(coefficients_, left, right, frames, peak);
        }
        const size_t before = out.size();
        out.resize(before + static_cast<size_t>(count) * kPcmChannels);
        std::int16_t* write = out.data() + before;
        for (int i = 0; i < count; ++i)
            write = Step(NeededGain(peaks_[static_cast<size_t>(i)]), write);
        out.resize(static_cast<size_t>(write - out.data()));
        detected_ = last + 1;
        Discard();
    }

    std::int32_t NeededGain(float peak) const
    {
        if (peak <= threshold_)
            return kUnity;
        return static_cast<std::int32_t>(static_cast<double>(threshold_) / peak * kUnity);
    }

    // The needed gain of the next frame in; writes one frame to out when there
    // is one final (the frame kGuard + kAttackFrames before), and returns where
    // the next goes.
    std::int16_t* Step(std::int32_t needed, std::int16_t* out)
    {
        std::int32_t gain = kUnity;
        // Settled, unity stays unity: the stages' sums and windows would only
        // take in unity for unity, wherever they stand.
        if (needed != kUnity || calm_ < kSettleFrames) {
            calm_ = needed == kUnity ? calm_ + 1 : 0;
            const std::int32_t attack = attack2_.Push(attack1_.Push(attackMinimum_.Push(needed)));
            const std::int32_t held = hold_.Push(attack);
            const std::int32_t release = release2_.Push(release1_.Push(held));
            gain = std::min(held, release);
        }
        const std::int64_t frame = detected_ + stepped_ - kGuard - kAttackFrames;
        ++stepped_;
        if (frame < 0 || frame >= end_)
            return out;
        const size_t at = static_cast<size_t>(frame - first_);
        out[0] = Scaled(left_[at], gain);
        out[1] = Scaled(right_[at], gain);
        return out + kPcmChannels;
    }

    // Drops the input no stage needs any more.
    void Discard()
    {
        stepped_ = 0;
        const std::int64_t keep = std::min(detected_ - (kHalfTaps - 1), detected_ - kGuard - kAttackFrames);
        const std::int64_t drop = keep - first_;
        if (drop < 4 * kPiece)
            return;
        left_.erase(left_.begin(), left_.begin() + static_cast<std::ptrdiff_t>(drop));
        right_.erase(right_.begin(), right_.begin() + static_cast<std::ptrdiff_t>(drop));
        first_ = keep;
    }

    float threshold_;
    const Coefficients& coefficients_;

    // The input from frame first_ on, one channel each.
    std::vector<float> left_;
    std::vector<float> right_;
    std::int64_t first_ = 0;
    // Frames come in (real and the silence after Finish) and pushed (real).
    std::int64_t received_ = 0;
    std::int64_t pushed_ = 0;
    // The frames handed on end here (at Finish).
    std::int64_t end_ = 0;
    // The next frame whose needed gain is to be found, and how many of this
    // run's have gone through the stages.
    std::int64_t detected_ = 0;
    std::int64_t stepped_ = 0;
    std::vector<float> peaks_;
    // Frames in a row that needed no limiting, up to kSettleFrames.
    int calm_ = kSettleFrames;

    SlidingMinimum attackMinimum_{kAttackMinimum};
    MovingAverage<kAttackAverage> attack1_;
    MovingAverage<kAttackAverage> attack2_;
    SlidingMinimum hold_{kHoldFrames};
    MovingAverage<kReleaseAverage> release1_;
    MovingAverage<kReleaseAverage> release2_;
};

TTruePeakLimiter::TTruePeakLimiter(double ceilingDbtp)
{
    if (!(ceilingDbtp <= 0.0 && ceilingDbtp >= kLowestCeilingDb))
        throw Error(QStringLiteral("リミッターの上限 %1 dBTP は −60 から 0 までの値でなければなりません。")
                        .arg(ceilingDbtp));
    impl_ = std::make_unique<Impl>(ceilingDbtp);
}

TTruePeakLimiter::TTruePeakLimiter(TTruePeakLimiter&&) noexcept = default;
TTruePeakLimiter& TTruePeakLimiter::operator=(TTruePeakLimiter&&) noexcept = default;
TTruePeakLimiter::~TTruePeakLimiter() = default;

void TTruePeakLimiter::Push(const float* samples, std::int64_t frames, PcmBlock& out)
{
    impl_->Push(samples, frames, out);
}

void TTruePeakLimiter::Finish(PcmBlock& out)
{
    impl_->Finish(out);
}

} // namespace medlark
