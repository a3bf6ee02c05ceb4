#pragma once
// Decoding of source audio files into the PCM block format.
//
// Time 0 of a source is the first sample that a straight-through decode of the
// whole file delivers (encoder delay already removed). A segment starting at
// `start` seconds begins at source frame Trunc(start x source rate); its PCM equals
// the same frames of a straight-through decode converted to 44.1 kHz stereo s16.
// Segments are reached by seeking with a decoder pre-roll, never by decoding
// everything before the in point.

#include "render/PcmBlock.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace medlark {

class SourceStream final {
public:
    SourceStream();   // the empty stream: no file could be opened
    SourceStream(SourceStream&&) noexcept;
    SourceStream& operator=(SourceStream&&) noexcept;
    ~SourceStream();

    explicit operator bool() const { return impl_ != nullptr; }

    // Sample rate and channel count of the source (0 for the empty stream).
    int SourceRate() const;
    int SourceChannels() const;

    // Exact length in seconds: the frames a straight-through decode delivers,
    // divided by the source rate. Reads the file's packets on first use (and
    // decodes it only where the container's packet durations are not exact).
    // -1 for the empty stream.
    double Duration();
    // The length the container states, read from its header: at once, but
    // not to the sample (and -1 when it states none).
    double StatedDuration() const;

    class Impl;

private:
    explicit SourceStream(std::unique_ptr<Impl> impl);
    friend SourceStream OpenSourceStream(const QString& path);
    friend std::int64_t DecodeSegment(SourceStream& source, PcmBlock& dest, double start, double end);
    friend std::int64_t DecodeSegmentTo(SourceStream& source, double start, double end,
                                        const std::function<bool(const std::int16_t*, std::int64_t)>& sink);

    std::unique_ptr<Impl> impl_;
};

// Opens any file FFmpeg decodes that has an audio stream. A missing file, one
// without audio, or one whose audio does not decode gives the empty stream.
SourceStream OpenSourceStream(const QString& path);

// Appends to dest the PCM of the segment from start for (end - start) seconds:
// exactly Trunc((end - start) x 44100) frames when the source has that much after
// the in point, what it still has otherwise. Returns
//   -1 for the empty stream,
//    0 when the in point cannot be reached (at or past the end; nothing appended),
//   >0 otherwise: the bytes the converter delivered, which may exceed what was
//      appended by up to one decoded frame.
std::int64_t DecodeSegment(SourceStream& source, PcmBlock& dest, double start, double end);

// The same segment handed on in order, in pieces of whole frames, as it is
// decoded. The sink returns false to stop early. Returns as DecodeSegment; when
// the in point cannot be reached the sink is never called.
using PcmSink = std::function<bool(const std::int16_t* samples, std::int64_t frames)>;
std::int64_t DecodeSegmentTo(SourceStream& source, double start, double end, const PcmSink& sink);

} // namespace medlark
