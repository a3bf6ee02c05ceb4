#pragma once
// The medley as a build would write it, rendered live in memory to be heard:
// any region of it, from the current track list and settings, by the build's
// own decoding and mixer, so that the frames played are the bytes a build
// writes at those positions. Only the segments a region needs are decoded.

#include "model/MedleySettings.h"
#include "render/PlaybackFeed.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace medlark {

class TrackList;

struct TMedleyEntry final {
    QString SourcePath;
    double StartTime = 0;
    double EndTime = 0;
    double Gain = 0;   // the track's own gain, dB
};

std::vector<TMedleyEntry> MedleyEntries(const TrackList& list);

// Where the heard tracks lie in the medley, in frames after the header.
// Tracks whose source cannot be opened or cut are left out, as a build that
// was told to skip them leaves them out.
struct TMedleyLayout final {
    struct TPlaced final {
        int Track = 0;               // index in the list
        std::int64_t At = 0;         // where its segment begins in the medley
        std::int64_t Frames = 0;     // the segment's length
        std::int64_t Fade = 0;       // its fade length
    };
    std::vector<TPlaced> Placed;
    std::int64_t HeadFrames = 0;
    std::int64_t SegmentsEnd = 0;    // the furthest frame the segments reach
    std::int64_t Frames = 0;         // the whole medley, blank tail included
};

// Reads each source's exact length (kept per file for the run) and decodes a
// segment only where it reaches to within a second of its source's end.
TMedleyLayout LayOutMedley(const std::vector<TMedleyEntry>& entries, const TMedleySettings& settings);

// How much is heard before the previous segment's fade-out and after the fade-in.
inline constexpr std::int64_t kJoinMarginFrames = 3 * kPcmRate;

// The join into the list's track `track`: from 3 s before the previous
// segment's fade-out begins (the medley's start for the first heard track) to
// 3 s after this segment's fade-in ends. Nothing when the track is left out.
std::optional<std::pair<std::int64_t, std::int64_t>> JoinWindow(const TMedleyLayout& layout, int track);

// The medley's frames [from, to) as a program to play: program frame 0 is
// medley frame `from`.
std::unique_ptr<TPcmProgram> MedleyProgram(std::vector<TMedleyEntry> entries, const TMedleySettings& settings,
                                           TMedleyLayout layout, std::int64_t from, std::int64_t to);

// A source's exact length in seconds (-1 when it does not open), kept per
// file (path, size, modification time) for the run.
double SourceLength(const QString& path);

// Counts, for the benchmark: source frames the decoder delivered since the start.
std::int64_t MedleyPreviewDecodedFrames();

} // namespace medlark
