#pragma once
// The one sample format inside Medlark: interleaved signed 16-bit stereo at
// 44 100 Hz, 4-byte frames. Byte counts handed between stages are whole frames.

#include <cstdint>
#include <vector>

namespace medlark {

using PcmBlock = std::vector<std::int16_t>;

inline constexpr int kPcmRate = 44100;
inline constexpr int kPcmChannels = 2;
inline constexpr int kPcmFrameBytes = 4;
inline constexpr int kPcmBytesPerSecond = kPcmRate * kPcmFrameBytes;   // 176 400

inline std::int64_t ByteCount(const PcmBlock& block)
{
    return static_cast<std::int64_t>(block.size()) * 2;
}

inline std::int64_t FrameCount(const PcmBlock& block)
{
    return static_cast<std::int64_t>(block.size()) / kPcmChannels;
}

} // namespace medlark
