#pragma once
// Loudness of the PCM block format as ITU-R BS.1770-4 with EBU R128 gating
// measures it (integrated loudness, LUFS) and its true peak (dBTP), by
// libebur128; and the measured loudness of a track's segment, kept per segment
// (path, size, modification time, in and out point) for the run.

#include "render/PcmBlock.h"

#include <QString>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>

namespace medlark {

struct TLoudness final {
    // -inf for silence (nothing above the gate).
    double Integrated = -std::numeric_limits<double>::infinity();
    // dBTP; -inf for digital silence. NaN when true peak was not measured.
    double TruePeak = -std::numeric_limits<double>::infinity();

    bool Silent() const { return !std::isfinite(Integrated); }
    bool operator==(const TLoudness&) const = default;
};

class TLoudnessMeter final {
public:
    enum class TMode { Integrated, IntegratedAndTruePeak };
    explicit TLoudnessMeter(TMode mode = TMode::IntegratedAndTruePeak);
    TLoudnessMeter(TLoudnessMeter&&) noexcept;
    TLoudnessMeter& operator=(TLoudnessMeter&&) noexcept;
    ~TLoudnessMeter();

    // Interleaved stereo frames in the PCM block format.
    void Add(const std::int16_t* samples, std::int64_t frames);
    // What has been added so far; the meter goes on measuring after it.
    TLoudness Result() const;

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// The segment's loudness when it has been measured in this run (by
// MeasureSegment or RememberSegmentLoudness) and the file has not changed since
// (the same size and modification time). A segment is its file's absolute path
// with the in and out point exactly as given. Safe to call from any thread.
std::optional<TLoudness> KnownSegmentLoudness(const QString& path, double start, double end);
// Keeps a measurement made elsewhere (a build measures what it decodes anyway);
// nothing is kept for a path that is not a file.
void RememberSegmentLoudness(const QString& path, double start, double end, const TLoudness& loudness);
// The known loudness, else decodes the segment as a build does (DecodeSegmentTo,
// with its treatment of points before 0 or past the end) and measures its
// loudness and true peak; nothing when the source cannot be opened or the in
// point not reached. Kept as above. shouldStop is polled before the decoding
// and between its pieces (a stop gives nothing and keeps nothing).
std::optional<TLoudness> MeasureSegment(const QString& path, double start, double end,
                                        const std::function<bool()>& shouldStop = {});

// One decimal, halves away from zero, with a real minus sign: "−1.2", "0.0"
// (what rounds to zero has no sign), "3.4".
QString OneDecimalText(double value);
// "−12.3 LUFS" (with a real minus sign), "−∞ LUFS" for silence, "—" when not measured.
QString LoudnessText(const std::optional<TLoudness>& loudness);
// "−1.2 dBTP", "−∞ dBTP" for digital silence, "—" when not measured.
QString TruePeakText(double dbtp);

} // namespace medlark
