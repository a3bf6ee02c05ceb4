#pragma once
// The one sample format inside Medlark: interleaved signed 16-bit stereo at
// 44 100 Hz, 4-byte frames. Byte counts handed between stages are whole frames.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace medlark {

using PcmBlock = std::vector<std::int16_t>;

inline constexpr int kPcmRate = 44100;
inline constexpr int kPcmChannels = 2;
inline constexpr int kPcmFrameBytes = 4;
inline constexpr int kPcmBytesPerSecond = kPcmRate * kPcmFrameBytes;   // 176 400
// The range of a sample.
inline constexpr int kSampleMin = std::numeric_limits<std::int16_t>::min();
inline constexpr int kSampleMax = std::numeric_limits<std::int16_t>::max();

// Beyond any real length (about 719 years): frame counts stay far from overflow,
// also as byte counts.
inline constexpr std::int64_t kMaxPcmFrames = 1'000'000'000'000'000;

// The frame a time falls on, and the frames a length holds: Trunc(seconds x
// 44100), the product formed in extended precision from the double. Times
// that are not positive (NaN included) give 0.
inline std::int64_t FrameOfSeconds(double seconds)
{
    if (!(seconds > 0.0))
        return 0;
    const long double frames = std::trunc(static_cast<long double>(seconds) * kPcmRate);
    return static_cast<std::int64_t>(std::min(frames, static_cast<long double>(kMaxPcmFrames)));
}

inline std::int64_t ByteCount(const PcmBlock& block)
{
    return static_cast<std::int64_t>(block.size()) * 2;
}

inline std::int64_t FrameCount(const PcmBlock& block)
{
    return static_cast<std::int64_t>(block.size()) / kPcmChannels;
}

} // namespace medlark
