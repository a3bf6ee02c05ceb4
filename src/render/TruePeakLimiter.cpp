#include "render/TruePeakLimiter.h"

#include "model/Error.h"

#include <QString>

#include <algorithm>
#include <array>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <vector>

// How it works. Every frame q gets the gain it needs: the ceiling aimed at
// (kMarginDb below the one asked for) over the highest of its two samples and
// the three points a quarter, a half and three quarters of a frame after them,
// interpolated per channel by a windowed sinc; 1 when that peak is below the
// ceiling. The gain that is applied, to both channels, is then:
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
// without contraction into fused multiply-adds). The two shortcuts change
// nothing in the output: the interpolator skips blocks whose samples cannot
// reach the ceiling between them, and the stages are skipped while they hold
// unity and take in unity.

namespace medlark {

namespace {

// Every operation rounds to its type, on any path through the code (no x87
// excess precision, which would also spoil the rounding in Scaled).
static_assert(FLT_EVAL_METHOD == 0, "float and double arithmetic must not be carried out in extended precision");

// The detector: kFactor points per frame, the sample and kFactor - 1 between it
// and the next, each interpolated by 48 taps (a Kaiser window of beta 7: flat
// within 0.005 dB up to 20 kHz).
constexpr int kFactor = 4;
static_assert(kFactor % 2 == 0 && kFactor >= 2);
// The points between come in mirrored pairs (a quarter and three quarters of
// a frame on), and the middle one.
constexpr int kPairs = kFactor / 2 - 1;
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
// (libebur128's reads up to 0.11 dB high near 15 kHz, and two limited segments
// crossfaded over noise bursts near 20 kHz 0.2 dB above the detector).
constexpr double kMarginDb = 0.3;
constexpr double kLowestCeilingDb = -60.0;

// Input beyond this (512 times full scale) is taken as this; NaN as silence.
constexpr float kInputLimit = 16777216.0f;

// The detector works through blocks of this many frames, and skips a block
// whose samples are all so low that no point between them can reach the
// ceiling.
constexpr int kBlock = 64;

// Input is taken in pieces of at most this many frames.
constexpr std::int64_t kPiece = 8192;

// Frames side by side in the detector: four in SSE registers, eight in AVX ones.
using Lanes4 = float __attribute__((vector_size(4 * sizeof(float))));
using Lanes8 = float __attribute__((vector_size(8 * sizeof(float))));

// The coefficients, folded: the middle point is symmetric about the middle of
// the window, and the points of a mirrored pair mirror each other, so each pair
// of taps m and kTaps - 1 - m enters through its sum and difference.
template <typename T>
struct FoldedTaps final {
    // The middle point, on the taps' sum.
    std::array<T, kHalfTaps> middle;
    // The sum of a pair of points, on the taps' sum; and their difference, on
    // the taps' difference.
    std::array<std::array<T, kHalfTaps>, kPairs> pairSum;
    std::array<std::array<T, kHalfTaps>, kPairs> pairDifference;
};

struct Coefficients final {
    FoldedTaps<float> one;
    // The same, each in all lanes.
    FoldedTaps<Lanes4> lanes4;
    FoldedTaps<Lanes8> lanes8;
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
    Coefficients c;
    FoldedTaps<float>& one = c.one;
    const std::array<double, kTaps> middle = PhaseTaps(0.5);
    double bound = 0.0;
    for (size_t m = 0; m < kHalfTaps; ++m) {
        one.middle[m] = static_cast<float>(middle[m]);
        // Each sum of two samples is at most twice the highest.
        bound += 2.0 * std::fabs(one.middle[m]);
    }
    for (size_t k = 0; k < kPairs; ++k) {
        const std::array<double, kTaps> first = PhaseTaps(static_cast<double>(k + 1) / kFactor);
        double pairBound = 0.0;
        for (size_t m = 0; m < kHalfTaps; ++m) {
            // The second point's tap m is the first one's tap kTaps - 1 - m.
            const size_t mirror = kTaps - 1 - m;
            one.pairSum[k][m] = static_cast<float>(first[m] + first[mirror]);
            one.pairDifference[k][m] = static_cast<float>(first[m] - first[mirror]);
            // The detector takes max(|y1|, |y2|) as (|y1 + y2| + |y1 - y2|) / 2.
            pairBound += std::fabs(one.pairSum[k][m]) + std::fabs(one.pairDifference[k][m]);
        }
        bound = std::max(bound, pairBound);
    }
    // With room for the rounding of the single-precision sums.
    c.bound = std::max(1.0, bound) * 1.001;
    for (size_t m = 0; m < kHalfTaps; ++m) {
        c.lanes4.middle[m] = Lanes4{} + one.middle[m];
        c.lanes8.middle[m] = Lanes8{} + one.middle[m];
        for (size_t k = 0; k < kPairs; ++k) {
            c.lanes4.pairSum[k][m] = Lanes4{} + one.pairSum[k][m];
            c.lanes4.pairDifference[k][m] = Lanes4{} + one.pairDifference[k][m];
            c.lanes8.pairSum[k][m] = Lanes8{} + one.pairSum[k][m];
            c.lanes8.pairDifference[k][m] = Lanes8{} + one.pairDifference[k][m];
        }
    }
    return c;
}

const Coefficients& TheCoefficients()
{
    static const Coefficients coefficients = MakeCoefficients();
    return coefficients;
}

// One lane of the detector, four or eight side by side: the same operations
// in each lane. All of it is inlined into the loops below, the eight lanes only
// into the one built for AVX2 (so no function passes them, and the file is
// built without the warning that doing so without AVX would change the ABI).
struct OneLane final {
    using T = float;
    static constexpr int kWidth = 1;
    [[gnu::always_inline]] static T Load(const float* p) { return *p; }
    [[gnu::always_inline]] static const FoldedTaps<T>& Taps(const Coefficients& c) { return c.one; }
    [[gnu::always_inline]] static void Store(float* p, T v) { *p = v; }
};

template <typename Vector, int kLanes, FoldedTaps<Vector> Coefficients::*kMember>
struct SideBySide final {
    using T = Vector;
    static constexpr int kWidth = kLanes;
    [[gnu::always_inline]] static T Load(const float* p)
    {
        T v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    [[gnu::always_inline]] static const FoldedTaps<T>& Taps(const Coefficients& c) { return c.*kMember; }
    [[gnu::always_inline]] static void Store(float* p, T v) { std::memcpy(p, &v, sizeof v); }
};

using FourLanes = SideBySide<Lanes4, 4, &Coefficients::lanes4>;
using EightLanes = SideBySide<Lanes8, 8, &Coefficients::lanes8>;

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
    const FoldedTaps<T>& taps = V::Taps(c);
    T middle{};
    std::array<T, kPairs> sums{};
    std::array<T, kPairs> differences{};
    for (size_t m = 0; m < kHalfTaps; ++m) {
        const T a = V::Load(x + m);
        const T b = V::Load(x + (kTaps - 1 - m));
        const T sum = a + b;
        const T difference = a - b;
        middle += taps.middle[m] * sum;
        for (size_t k = 0; k < kPairs; ++k) {
            sums[k] += taps.pairSum[k][m] * sum;
            differences[k] += taps.pairDifference[k][m] * difference;
        }
    }
    T peak = Larger<V>(Magnitude<V>(V::Load(x + (kHalfTaps - 1))), Magnitude<V>(middle));
    for (size_t k = 0; k < kPairs; ++k)
        peak = Larger<V>(peak, (Magnitude<V>(sums[k]) + Magnitude<V>(differences[k])) * 0.5f);
    return peak;
}

template <typename V>
[[gnu::always_inline]] inline void FramePeaks(const Coefficients& c, const float* left, const float* right,
                                              float* peak)
{
    V::Store(peak, Larger<V>(ChannelPeak<V>(c, left), ChannelPeak<V>(c, right)));
}

// Peaks of `frames` frames; left and right start at the first frame's window.
template <typename V>
[[gnu::always_inline]] inline void PeaksBy(const Coefficients& c, const float* left, const float* right, int frames,
                                           float* peak)
{
    int i = 0;
    for (; i + V::kWidth <= frames; i += V::kWidth)
        FramePeaks<V>(c, left + i, right + i, peak + i);
    for (; i < frames; ++i)
        FramePeaks<OneLane>(c, left + i, right + i, peak + i);
}

void PeaksByFour(const Coefficients& c, const float* left, const float* right, int frames, float* peak)
{
    PeaksBy<FourLanes>(c, left, right, frames, peak);
}

#if defined(__x86_64__) || defined(__i386__)
[[gnu::target("avx2")]] void PeaksByEight(const Coefficients& c, const float* left, const float* right, int frames,
                                          float* peak)
{
    PeaksBy<EightLanes>(c, left, right, frames, peak);
}
#endif

// Eight frames at a time where the processor has AVX2: the results are the
// same either way, lane for lane.
void Peaks(const Coefficients& c, const float* left, const float* right, int frames, float* peak)
{
#if defined(__x86_64__) || defined(__i386__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) {
        PeaksByEight(c, left, right, frames, peak);
        return;
    }
#endif
    PeaksByFour(c, left, right, frames, peak);
}

// The highest magnitude of count samples (none NaN): their bits without the
// sign, compared as integers, which order them as the numbers they stand for.
float HighestMagnitude(const float* x, int count)
{
    using Bits4 = std::int32_t __attribute__((vector_size(4 * sizeof(std::int32_t))));
    constexpr std::int32_t kMagnitude = 0x7fffffff;
    Bits4 high{};
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        Bits4 v;
        std::memcpy(&v, x + i, sizeof v);
        v &= kMagnitude;
        high = v > high ? v : high;
    }
    std::int32_t highest = std::max(std::max(high[0], high[1]), std::max(high[2], high[3]));
    for (; i < count; ++i) {
        std::int32_t v;
        std::memcpy(&v, x + i, sizeof v);
        highest = std::max(highest, v & kMagnitude);
    }
    return std::bit_cast<float>(highest);
}

float Sanitised(float v)
{
    if (!(v == v))
        return 0.0f;
    return std::clamp(v, -kInputLimit, kInputLimit);
}

// The extreme (by Pick: the larger or the smaller of two) of each value and
// the kWindow - 1 before it. The values come in blocks of kWindow: the window
// of a value is the part of its block up to it, whose extreme runs along, and
// the rest of the block before, whose extremes from each value to the block's
// end are found once the block is complete. Three picks a value, no searching.
template <typename T, int kWindow, typename Pick>
class SlidingExtreme final {
public:
    // silence: what the values before the first are; neutral: what no value
    // is beyond (for the end of a block).
    SlidingExtreme(T silence, T neutral)
    {
        block_.fill(silence);
        suffix_.fill(silence);
        suffix_[kWindow] = neutral;
    }

    void Run(const T* in, int count, T* out)
    {
        // In locals: out could alias the members.
        const Pick pick;
        T prefix = prefix_;
        int position = position_;
        for (int i = 0; i < count; ++i) {
            const T value = in[i];
            block_[static_cast<size_t>(position)] = value;
            prefix = position == 0 ? value : pick(prefix, value);
            out[i] = pick(suffix_[static_cast<size_t>(position + 1)], prefix);
            if (++position == kWindow) {
                Complete();
                position = 0;
            }
        }
        prefix_ = prefix;
        position_ = position;
    }

private:
    void Complete()
    {
        const Pick pick;
        T extreme = block_[kWindow - 1];
        suffix_[kWindow - 1] = extreme;
        for (int j = kWindow - 2; j >= 0; --j) {
            extreme = pick(extreme, block_[static_cast<size_t>(j)]);
            suffix_[static_cast<size_t>(j)] = extreme;
        }
    }

    std::array<T, kWindow> block_;
    std::array<T, kWindow + 1> suffix_;
    T prefix_{};
    int position_ = 0;
};

struct PickSmaller final {
    std::int32_t operator()(std::int32_t a, std::int32_t b) const { return a < b ? a : b; }
};

// Two moving averages in a row: the mean, rounded down, of each value and the
// kLength - 1 before it, and the same of those means. Before the first value,
// unity.
template <int kLength>
class TwoAverages final {
    static_assert((kLength & (kLength - 1)) == 0, "the mean is a shift");

public:
    TwoAverages()
    {
        first_.fill(kUnity);
        second_.fill(kUnity);
    }

    void Run(const std::int32_t* in, int count, std::int32_t* out)
    {
        // In locals: out could alias the members.
        constexpr int kShift = std::countr_zero(static_cast<unsigned>(kLength));
        std::int64_t firstSum = firstSum_;
        std::int64_t secondSum = secondSum_;
        size_t position = position_;
        for (int i = 0; i < count; ++i) {
            const std::int32_t value = in[i];
            firstSum += value - first_[position];
            first_[position] = value;
            const auto mean = static_cast<std::int32_t>(firstSum >> kShift);
            secondSum += mean - second_[position];
            second_[position] = mean;
            position = (position + 1) & (kLength - 1);
            out[i] = static_cast<std::int32_t>(secondSum >> kShift);
        }
        firstSum_ = firstSum;
        secondSum_ = secondSum;
        position_ = position;
    }

private:
    std::array<std::int32_t, kLength> first_;
    std::array<std::int32_t, kLength> second_;
    std::int64_t firstSum_ = std::int64_t{kLength} * kUnity;
    std::int64_t secondSum_ = std::int64_t{kLength} * kUnity;
    size_t position_ = 0;
};

// A sample times its gain, to nearest, halves to even, within the 16 bits less
// full scale. The product is exact (a float times a gain of at most 25 bits fits
// a double's mantissa), and so is the rounding: adding and taking away 1.5 x
// 2^52 leaves the nearest integer in the rounding mode, which is to nearest;
// the same as lrint, in a form that vectorises.
[[gnu::always_inline]] inline std::int16_t Scaled(float sample, double gain)
{
    constexpr double kLimit = kSampleMax - 1;
    constexpr double kRound = 0x1.8p52;
    const double value = std::min(std::max(static_cast<double>(sample) * gain, -kLimit), kLimit);
    return static_cast<std::int16_t>((value + kRound) - kRound);
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
        attackMinimum_ = std::make_unique<AttackMinimum>(kUnity, kUnity);
        attack_ = std::make_unique<TwoAverages<kAttackAverage>>();
        hold_ = std::make_unique<Hold>(kUnity, kUnity);
        release_ = std::make_unique<TwoAverages<kReleaseAverage>>();
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

    // Finds the needed gain of every frame whose window has come in, takes them
    // through the stages and hands on the frames that are then final.
    void Run(PcmBlock& out)
    {
        // Frame q's window runs to q + kHalfTaps.
        const std::int64_t last = received_ - 1 - kHalfTaps;
        if (last < detected_)
            return;
        const int count = static_cast<int>(last - detected_ + 1);
        peaks_.resize(static_cast<size_t>(count));
        const bool quiet = Detect(peaks_.data(), count);
        gains_.resize(static_cast<size_t>(count));
        if (quiet && calm_ >= kSettleFrames) {
            // The stages hold unity only, and would take in unity for unity:
            // they can stand as they are.
            std::fill(gains_.begin(), gains_.end(), kUnity);
        } else {
            Stages(count);
        }
        Emit(count, out);
        detected_ = last + 1;
        Discard();
    }

    // The peaks of this run's frames; whether all are below the ceiling.
    bool Detect(float* peak, int count)
    {
        bool quiet = true;
        for (int start = 0; start < count; start += kBlock) {
            const int frames = std::min(kBlock, count - start);
            const size_t window = static_cast<size_t>(detected_ + start - (kHalfTaps - 1) - first_);
            const float* left = left_.data() + window;
            const float* right = right_.data() + window;
            const int span = frames + kTaps - 1;
            const float high = std::max(HighestMagnitude(left, span), HighestMagnitude(right, span));
            if (static_cast<double>(high) * coefficients_.bound <= threshold_) {
                std::fill(peak + start, peak + start + frames, 0.0f);
                continue;
            }
            Peaks(coefficients_, left, right, frames, peak + start);
            for (int i = start; i < start + frames; ++i)
                quiet = quiet && peak[i] <= threshold_;
        }
        return quiet;
    }

    void Stages(int count)
    {
        const size_t n = static_cast<size_t>(count);
        frameGains_.resize(n);
        needed_.resize(n);
        held_.resize(n);
        // Attack: the lowest gain the frames over the window need, two averages.
        for (size_t i = 0; i < n; ++i)
            frameGains_[i] = NeededGain(peaks_[i]);
        attackMinimum_->Run(frameGains_.data(), count, needed_.data());
        attack_->Run(needed_.data(), count, gains_.data());
        // Hold, and release from what is held.
        hold_->Run(gains_.data(), count, held_.data());
        release_->Run(held_.data(), count, gains_.data());
        for (size_t i = 0; i < n; ++i)
            gains_[i] = std::min(gains_[i], held_[i]);

        // Frames in a row that needed no limiting, up to the end of this run.
        size_t calm = 0;
        while (calm < n && needed_[n - 1 - calm] == kUnity)
            ++calm;
        calm_ = calm == n ? std::min<std::int64_t>(kSettleFrames, calm_ + count) : static_cast<std::int64_t>(calm);
    }

    std::int32_t NeededGain(float peak) const
    {
        if (peak <= threshold_)
            return kUnity;
        return static_cast<std::int32_t>(static_cast<double>(threshold_) / peak * kUnity);
    }

    // This run's gains belong to the frames kGuard + kAttackFrames before its
    // needed gains.
    void Emit(int count, PcmBlock& out)
    {
        const std::int64_t from = std::max<std::int64_t>(0, detected_ - kGuard - kAttackFrames);
        const std::int64_t to = std::min(end_, detected_ + count - kGuard - kAttackFrames);
        if (to <= from)
            return;
        const size_t before = out.size();
        out.resize(before + static_cast<size_t>(to - from) * kPcmChannels);
        std::int16_t* write = out.data() + before;
        const std::int32_t* gain = gains_.data() + (from - (detected_ - kGuard - kAttackFrames));
        const float* left = left_.data() + (from - first_);
        const float* right = right_.data() + (from - first_);
        for (std::int64_t i = 0; i < to - from; ++i) {
            const double g = gain[i] * (1.0 / kUnity);
            write[2 * i] = Scaled(left[i], g);
            write[2 * i + 1] = Scaled(right[i], g);
        }
    }

    // Drops the input no stage needs any more.
    void Discard()
    {
        const std::int64_t keep = std::min(detected_ - (kHalfTaps - 1), detected_ - kGuard - kAttackFrames);
        const std::int64_t drop = keep - first_;
        if (drop < 4 * kPiece)
            return;
        left_.erase(left_.begin(), left_.begin() + static_cast<std::ptrdiff_t>(drop));
        right_.erase(right_.begin(), right_.begin() + static_cast<std::ptrdiff_t>(drop));
        first_ = keep;
    }

    using AttackMinimum = SlidingExtreme<std::int32_t, kAttackMinimum, PickSmaller>;
    using Hold = SlidingExtreme<std::int32_t, kHoldFrames, PickSmaller>;

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
    // The next frame whose needed gain is to be found.
    std::int64_t detected_ = 0;

    // The stages.
    std::unique_ptr<AttackMinimum> attackMinimum_;
    std::unique_ptr<TwoAverages<kAttackAverage>> attack_;
    std::unique_ptr<Hold> hold_;
    std::unique_ptr<TwoAverages<kReleaseAverage>> release_;
    // Frames in a row that needed no limiting, up to kSettleFrames.
    std::int64_t calm_ = kSettleFrames;

    // This run's peaks, gains and working space.
    std::vector<float> peaks_;
    std::vector<std::int32_t> frameGains_;
    std::vector<std::int32_t> needed_;
    std::vector<std::int32_t> held_;
    std::vector<std::int32_t> gains_;
};

class TTruePeakMeter::Impl final {
public:
    Impl() : coefficients_(TheCoefficients())
    {
        // Silence before the first frame, as the detector's window reaches back.
        left_.assign(static_cast<size_t>(kTaps - 1), 0.0f);
        right_.assign(static_cast<size_t>(kTaps - 1), 0.0f);
    }

    void Add(const std::int16_t* samples, std::int64_t frames)
    {
        for (std::int64_t done = 0; done < frames;) {
            const std::int64_t piece = std::min(frames - done, kPiece);
            for (std::int64_t i = 0; i < piece; ++i) {
                left_.push_back(samples[2 * (done + i)]);
                right_.push_back(samples[2 * (done + i) + 1]);
            }
            Detect(left_, right_, highest_);
            // Keep the window of the next frame.
            const auto keep = static_cast<std::ptrdiff_t>(kTaps - 1);
            left_.erase(left_.begin(), left_.end() - keep);
            right_.erase(right_.begin(), right_.end() - keep);
            done += piece;
        }
    }

    double TruePeak() const
    {
        // The last frames' windows, with the silence after them.
        std::vector<float> left = left_;
        std::vector<float> right = right_;
        left.resize(left.size() + kHalfTaps, 0.0f);
        right.resize(right.size() + kHalfTaps, 0.0f);
        float highest = highest_;
        Detect(left, right, highest);
        return highest > 0.0f ? 20.0 * std::log10(static_cast<double>(highest) / 32768.0)
                              : -std::numeric_limits<double>::infinity();
    }

private:
    // The peaks of the frames whose windows lie in left and right (the first
    // frame at kHalfTaps - 1), raising highest; blocks too low to raise it are passed by.
    void Detect(const std::vector<float>& left, const std::vector<float>& right, float& highest) const
    {
        const int count = static_cast<int>(left.size()) - (kTaps - 1);
        for (int start = 0; start < count; start += kBlock) {
            const int frames = std::min(kBlock, count - start);
            const int span = frames + kTaps - 1;
            const float high = std::max(HighestMagnitude(left.data() + start, span),
                                        HighestMagnitude(right.data() + start, span));
            if (static_cast<double>(high) * coefficients_.bound <= highest)
                continue;
            peaks_.resize(static_cast<size_t>(frames));
            Peaks(coefficients_, left.data() + start, right.data() + start, frames, peaks_.data());
            for (const float peak : peaks_)
                highest = std::max(highest, peak);
        }
    }

    const Coefficients& coefficients_;
    std::vector<float> left_;
    std::vector<float> right_;
    float highest_ = 0.0f;
    mutable std::vector<float> peaks_;
};

TTruePeakMeter::TTruePeakMeter() : impl_(std::make_unique<Impl>()) {}
TTruePeakMeter::TTruePeakMeter(TTruePeakMeter&&) noexcept = default;
TTruePeakMeter& TTruePeakMeter::operator=(TTruePeakMeter&&) noexcept = default;
TTruePeakMeter::~TTruePeakMeter() = default;

void TTruePeakMeter::Add(const std::int16_t* samples, std::int64_t frames)
{
    impl_->Add(samples, frames);
}

double TTruePeakMeter::TruePeak() const
{
    return impl_->TruePeak();
}

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
