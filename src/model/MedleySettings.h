#pragma once
// The values that shape a medley's sound: the crossfade, the fade curve, the
// blanks before and after, and loudness matching. The settings file, a build and the live medley hold
// them in this one record.

namespace medlark {

// The fade curve. The settings file and the envelope choice number them 0 and
// 1; any other number means none (every gain 1).
enum class TEnvelope { Linear, Sine, None };

inline TEnvelope EnvelopeOfNumber(int number)
{
    return number == 0 ? TEnvelope::Linear : number == 1 ? TEnvelope::Sine : TEnvelope::None;
}

// 0, 1, or -1 for none.
inline int EnvelopeNumber(TEnvelope envelope)
{
    return envelope == TEnvelope::Linear ? 0 : envelope == TEnvelope::Sine ? 1 : -1;
}

// Loudness matching: every segment brought to the target's integrated
// loudness (plus its own gain), the medley held to the true-peak ceiling.
inline constexpr double kMinLoudnessTarget = -40.0;   // LUFS
inline constexpr double kMaxLoudnessTarget = -5.0;
inline constexpr double kMinTruePeakCeiling = -12.0;  // dBTP
inline constexpr double kMaxTruePeakCeiling = 0.0;

struct TLoudnessSettings final {
    bool Match = false;
    double Target = -14.0;    // LUFS
    double Ceiling = -1.0;    // dBTP

    bool operator==(const TLoudnessSettings&) const = default;
};

struct TMedleySettings final {
    double CrossfadeTime = 10.0;   // seconds, 0.1 … 65535
    TEnvelope Envelope = TEnvelope::Linear;
    double BlankHead = 1.0;        // seconds, 0 … 10
    double BlankTail = 1.0;
    TLoudnessSettings Loudness;

    bool operator==(const TMedleySettings&) const = default;
};

} // namespace medlark
