#include "render/SegmentLevel.h"

#include <algorithm>
#include <cmath>

namespace medlark {

TSegmentLevel LevelOf(const TLoudnessSettings& settings, double trackGainDb, const std::optional<TLoudness>& measured)
{
    TSegmentLevel level;
    level.CeilingDb = settings.Ceiling;
    level.GainDb = trackGainDb;
    if (settings.Match) {
        level.Limit = true;
        if (measured && !measured->Silent())
            level.GainDb += std::clamp(settings.Target - measured->Integrated, -kMaxMatchingGain, kMaxMatchingGain);
    } else {
        level.Limit = trackGainDb > 0.0;
    }
    return level;
}

TLeveller::TLeveller(const TSegmentLevel& level) : level_(level)
{
    gain_ = std::pow(10.0L, static_cast<long double>(level.GainDb) / 20.0L);
    if (level.Limit)
        limiter_.emplace(level.CeilingDb);
}

void TLeveller::Push(const std::int16_t* samples, std::int64_t frames, PcmBlock& out)
{
    const size_t count = static_cast<size_t>(frames) * kPcmChannels;
    if (level_.Identity()) {
        out.insert(out.end(), samples, samples + count);
        return;
    }
    if (!limiter_) {
        // A gain at or below 0 dB: the products round back into 16 bits.
        const size_t at = out.size();
        out.resize(at + count);
        for (size_t i = 0; i < count; ++i)
            out[at + i] = static_cast<std::int16_t>(std::lrint(static_cast<long double>(samples[i]) * gain_));
        return;
    }
    scaled_.resize(count);
    const float gain = static_cast<float>(gain_);
    for (size_t i = 0; i < count; ++i)
        scaled_[i] = static_cast<float>(samples[i]) * gain;
    limiter_->Push(scaled_.data(), frames, out);
}

void TLeveller::Finish(PcmBlock& out)
{
    if (limiter_)
        limiter_->Finish(out);
}

std::int64_t TLeveller::HistoryFrames() const
{
    return limiter_ ? TTruePeakLimiter::kHistoryFrames : 0;
}

QString GainText(double db)
{
    return (std::round(db * 10.0) > 0.0 ? QStringLiteral("+") : QString()) + OneDecimalText(db) + QStringLiteral(" dB");
}

} // namespace medlark
