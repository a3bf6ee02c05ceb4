#pragma once
// How a segment's level is set before it is faded and mixed: its gain (the
// track's own, plus with loudness matching what brings it to the target), and,
// where the gain or matching could take it past full scale, the true-peak
// limiter. The build, the live medley and the editor's player all level a
// segment here, so that they hear and write the same frames.

#include "model/MedleySettings.h"
#include "render/Loudness.h"
#include "render/PcmBlock.h"
#include "render/TruePeakLimiter.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace medlark {

struct TSegmentLevel final {
    double GainDb = 0.0;
    bool Limit = false;
    double CeilingDb = -1.0;

    // Leaves every frame as it is.
    bool Identity() const { return GainDb == 0.0 && !Limit; }
    bool operator==(const TSegmentLevel&) const = default;
};

// Matching brings no segment further than this from its own loudness.
inline constexpr double kMaxMatchingGain = 24.0;

// The segment's level. With matching on: target - its integrated loudness +
// the track's gain, limited to the ceiling; a silent or unmeasured segment
// gets the track's gain alone. Off: the track's gain, limited (to the same
// ceiling) only when it raises the level.
TSegmentLevel LevelOf(const TLoudnessSettings& settings, double trackGainDb, const std::optional<TLoudness>& measured);

// Whether a segment needs its loudness measured before it can be levelled.
inline bool NeedsLoudness(const TLoudnessSettings& settings) { return settings.Match; }

// Levels a segment handed in pieces. Without the limiter every frame comes out
// at once (the gain applied in extended precision, rounded half to even);
// with it the output lags by the limiter's look-ahead until Finish.
class TLeveller final {
public:
    explicit TLeveller(const TSegmentLevel& level);

    // Appends the frames that are final to out.
    void Push(const std::int16_t* samples, std::int64_t frames, PcmBlock& out);
    void Finish(PcmBlock& out);

    // Frames before a frame that its level depends on: a leveller started this
    // many frames earlier gives that frame as one that ran from the start.
    std::int64_t HistoryFrames() const;
    const TSegmentLevel& Level() const { return level_; }

private:
    TSegmentLevel level_;
    long double gain_ = 1.0L;
    std::optional<TTruePeakLimiter> limiter_;
    std::vector<float> scaled_;
};

// "+1.5 dB", "−6.0 dB", "0.0 dB".
QString GainText(double db);

} // namespace medlark
