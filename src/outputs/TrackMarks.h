#pragma once
// Where every track lies in a medley: the bookmark text (one line per track)
// and the JSON track map that the sound-sheet page reads.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <limits>

namespace medlark {

struct TTrackMark final {
    QString SourcePath;
    double StartTime = 0.0;          // in point in the source, seconds
    double EndTime = 0.0;            // out point in the source, seconds
    std::int64_t WrittenBytes = 0;   // medley PCM length before this segment is mixed in
    std::int64_t SegmentBytes = 0;   // this segment's PCM length
    // Where the segment begins in the medley: the written length less the
    // previous fade (the write position when it is placed); -1: WrittenBytes.
    std::int64_t PlacedBytes = -1;
    // Set when the build levelled the segment (its own gain or loudness
    // matching): the gain it applied, in dB, and its measured integrated
    // loudness (LUFS; -inf when silent, NaN when not measured).
    bool Levelled = false;
    double GainDb = 0.0;
    double Loudness = std::numeric_limits<double>::quiet_NaN();
};

// "[0:00:04.000] : Song A.mp3 <0:00:12.250～0:00:42.250>"; the position is where
// the segment begins in the medley plus half the crossfade time: the middle of
// the crossfade into the track.
class TBookmarkText final {
public:
    explicit TBookmarkText(double crossfadeTime) : crossfadeTime_(crossfadeTime) {}
    void Add(const TTrackMark& mark);
    const QStringList& Lines() const { return lines_; }
    void SaveToFile(const QString& fileName) const;

private:
    double crossfadeTime_;
    QStringList lines_;
};

// An array of objects with the title and four positions as two-decimal strings;
// a levelled segment's object ends with its "gain" and, when measured, its "loudness".
class TTrackMapJson final {
public:
    TTrackMapJson() : lines_{QStringLiteral("[")} {}
    void Add(const TTrackMark& mark);
    void Close();
    const QStringList& Lines() const { return lines_; }
    void SaveToFile(const QString& fileName) const;

private:
    QStringList lines_;
    int elements_ = 0;
};

// Two decimals, halves away from zero (1.125 -> "1.13").
QString FormatTwoDecimals(double value);

// The text of a JSON string value without its quotes: quotes, backslashes and
// control characters escaped; everything else as it is.
QString JsonEscape(const QString& text);

} // namespace medlark
