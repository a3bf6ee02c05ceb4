#pragma once
// Fade envelopes and the crossfade medley. Gains are computed frame by frame in
// 80-bit arithmetic; a fade-in reaches exactly 1 on its last frame and a
// fade-out ends at 0, and the two add up to 1 at every frame of an overlap.

#include "model/MedleySettings.h"
#include "render/PcmBlock.h"

#include <cstdint>

namespace medlark {

class OutputFile;

// The crossfade length, set once at the start of a build (or of a rendering of
// the live medley) and handed to everything that fades. Bytes are 4 x
// Trunc(time x 44100), formed in extended precision (0.3 s -> 52 916 bytes);
// held in 64 bits so that crossfades of hours stay exact.
struct TCrossfade final {
    double Time = 0.0;
    std::int64_t Bytes = 0;

    std::int64_t Frames() const { return Bytes / kPcmFrameBytes; }
};
TCrossfade SetCrossfadeTime(double seconds);

// Fade length in frames of a medley segment: the crossfade, lowered to the
// segment's own length.
std::int64_t CrossfadeFrames(const TCrossfade& crossfade, std::int64_t segmentBytes);

// Gain at frame i of a fade over x frames (1 throughout for TEnvelope::None). A fade over one frame divides 0 by 0
// and raises the invalid-operation error.
double FadeInGain(std::int64_t i, std::int64_t x, TEnvelope envelope);
double FadeOutGain(std::int64_t i, std::int64_t x, TEnvelope envelope);

// Rounds to the nearest integer, halves to even, then clamps to 16 bits.
std::int16_t ClampSample(long double value);

void ApplyFadeIn(PcmBlock& segment, std::int64_t x, TEnvelope envelope);
void ApplyFadeOut(PcmBlock& segment, std::int64_t x, TEnvelope envelope);
// Adds the tail's frames onto the segment's first frames, saturating.
void AddTail(PcmBlock& segment, const PcmBlock& tail);

// The medley. A segment arrives in pieces (Begin, Push…, End) and is written
// as soon as its frames are final: fade-in, the previous segment's faded tail
// added on, and, for the last X frames once the length is known, the fade-out.
// The file then holds exactly what the whole-segment step (ApplyFadeIn, AddTail,
// ApplyFadeOut, PlaceSegment) writes, while only the last X frames are held.
class TMedleyMixer final {
public:
    TMedleyMixer(OutputFile& file, const TCrossfade& crossfade, TEnvelope envelope);

    void Begin();
    void Push(const std::int16_t* samples, std::int64_t frames);
    // Shapes and writes what is held, starts its flush, steps the write position back by
    // the fade and keeps the faded end as the next tail. Returns the segment's
    // length in bytes. A one-frame segment raises the invalid-operation error;
    // a segment of no frames changes nothing (the tail stays for the next).
    std::int64_t End();

    const PcmBlock& Tail() const { return tail_; }

private:
    std::int64_t HeldFrames() const { return FrameCount(held_) - head_; }
    // Shapes the first `count` held frames for a fade of x frames over a
    // segment of n frames (n < 0: length not known yet, no fade-out) and writes them.
    void Release(std::int64_t count, std::int64_t x, std::int64_t n);

    OutputFile& file_;
    TCrossfade crossfade_;
    TEnvelope envelope_;
    PcmBlock tail_;
    PcmBlock held_;              // frames not yet written, from frame head_ on
    std::int64_t head_ = 0;
    std::int64_t received_ = 0;  // frames of the segment so far
    std::int64_t released_ = 0;  // frames of the segment written
};

// Writes the segment at the write position, flushes, steps back 4 x X bytes and
// keeps the segment's last X frames as the new tail. An empty segment changes nothing.
void PlaceSegment(OutputFile& file, const PcmBlock& segment, std::int64_t x, PcmBlock& tail);

// Single mode: fade in over the first X frames, out over the last X frames
// (or, for segments shorter than 2X, by position from the end).
void ShapeSingle(PcmBlock& segment, std::int64_t x, TEnvelope envelope);

} // namespace medlark
