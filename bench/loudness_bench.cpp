// CPU time of the true-peak limiter, per hour of audio: ten minutes of
// synthetic music (chords, a bass line, a kick and hi-hats), mastered loud so
// that it is limited most of the time, and the same music 20 dB down, below
// the ceiling, where the limiter only has to find that out.
//   loudness_bench [minutes]     (10 without)

#include "render/TruePeakLimiter.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <numbers>
#include <random>
#include <vector>

using namespace medlark;

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr std::int64_t kChunk = 4096;   // frames per push, as a build hands them on

double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// A beat every half second: a new chord and bass note each bar of four beats,
// a kick on each beat, a hi-hat between. Stereo by panning the parts apart.
class Music final {
public:
    explicit Music(double gain) : gain_(gain) {}

    void Next(float* out, std::int64_t frames)
    {
        static constexpr std::array<std::array<double, 3>, 4> kChords{{
            {261.63, 329.63, 392.00}, {220.00, 261.63, 329.63}, {174.61, 220.00, 261.63}, {196.00, 246.94, 293.66}}};
        static constexpr std::array<double, 4> kBass{65.41, 55.00, 43.65, 49.00};
        for (std::int64_t i = 0; i < frames; ++i, ++frame_) {
            const double t = static_cast<double>(frame_) / kPcmRate;
            const std::int64_t beatLength = kPcmRate / 2;
            const std::int64_t beat = frame_ / beatLength;
            const double sinceBeat = static_cast<double>(frame_ % beatLength) / kPcmRate;
            const size_t bar = static_cast<size_t>((beat / 4) % 4);
            double left = 0.0;
            double right = 0.0;
            for (size_t k = 0; k < 3; ++k) {
                const double f = kChords[bar][k];
                // A little harmonic content, so that there is treble too.
                const double v = std::sin(kTwoPi * f * t) + 0.3 * std::sin(kTwoPi * 3 * f * t)
                                 + 0.15 * std::sin(kTwoPi * 7 * f * t);
                left += v * (0.25 + 0.1 * static_cast<double>(k));
                right += v * (0.45 - 0.1 * static_cast<double>(k));
            }
            const double bass = std::sin(kTwoPi * kBass[bar] * t);
            const double kick = std::sin(kTwoPi * (50.0 + 100.0 * std::exp(-sinceBeat * 40.0)) * sinceBeat)
                                * std::exp(-sinceBeat * 8.0);
            const double sinceOffBeat = sinceBeat >= 0.25 ? sinceBeat - 0.25 : 1.0;
            // Noise through a first difference: a bright hiss.
            const double white = noise_(random_);
            const double hat = (white - lastNoise_) * std::exp(-sinceOffBeat * 60.0);
            lastNoise_ = white;
            left += 0.8 * bass + 1.2 * kick + 0.5 * hat;
            right += 0.8 * bass + 1.2 * kick + 0.35 * hat;
            out[2 * i] = static_cast<float>(left * gain_);
            out[2 * i + 1] = static_cast<float>(right * gain_);
        }
    }

private:
    double gain_;
    std::int64_t frame_ = 0;
    std::mt19937 random_{12345};
    std::uniform_real_distribution<double> noise_{-1.0, 1.0};
    double lastNoise_ = 0.0;
};

struct Result final {
    double cpuSeconds = 0.0;
    double limitedShare = 0.0;   // frames not passed unchanged
    double peak = 0.0;           // highest input sample, relative to full scale
};

Result Run(double gain, std::int64_t frames)
{
    Music music(gain);
    TTruePeakLimiter limiter(-1.0);
    std::vector<float> in(static_cast<size_t>(kChunk) * kPcmChannels);
    // The input of the frames the output has not caught up with yet.
    std::vector<float> pending;
    PcmBlock out;
    Result result;
    std::int64_t changed = 0;
    const auto compare = [&] {
        const size_t n = out.size();
        for (size_t i = 0; i + 1 < n; i += 2)
            if (out[i] != std::lrint(pending[i]) || out[i + 1] != std::lrint(pending[i + 1]))
                ++changed;
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(n));
        out.clear();
    };
    for (std::int64_t done = 0; done < frames; done += kChunk) {
        const std::int64_t n = std::min(kChunk, frames - done);
        music.Next(in.data(), n);
        for (std::int64_t i = 0; i < n * kPcmChannels; ++i)
            result.peak = std::max(result.peak, std::fabs(static_cast<double>(in[static_cast<size_t>(i)])) / 32768.0);
        pending.insert(pending.end(), in.begin(), in.begin() + n * kPcmChannels);
        const double t0 = CpuSeconds();
        limiter.Push(in.data(), n, out);
        result.cpuSeconds += CpuSeconds() - t0;
        compare();
    }
    const double t0 = CpuSeconds();
    limiter.Finish(out);
    result.cpuSeconds += CpuSeconds() - t0;
    compare();
    result.limitedShare = static_cast<double>(changed) / static_cast<double>(frames);
    return result;
}

void Report(const char* name, double gain, double minutes)
{
    const std::int64_t frames = static_cast<std::int64_t>(minutes * 60.0 * kPcmRate);
    const Result r = Run(gain, frames);
    std::printf("%-6s input peak %+5.1f dBFS, %5.1f %% of frames limited: %6.3f s CPU for %.0f min, %6.2f s per hour\n",
                name, 20.0 * std::log10(r.peak), 100.0 * r.limitedShare, r.cpuSeconds, minutes,
                r.cpuSeconds * 60.0 / minutes);
}

} // namespace

int main(int argc, char* argv[])
{
    const double minutes = argc > 1 ? std::atof(argv[1]) : 10.0;
    if (!(minutes > 0.0)) {
        std::fprintf(stderr, "usage: loudness_bench [minutes]\n");
        return 1;
    }
    std::printf("true-peak limiter at -1 dBTP, %.0f minutes of 44.1 kHz stereo each:\n", minutes);
    Report("loud", 22000.0, minutes);
    Report("quiet", 2000.0, minutes);
    return 0;
}
