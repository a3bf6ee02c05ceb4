#pragma once
// Chapters of a medley: one per track, the first at 0:00 and every later one
// at the middle of the crossfade into its track (where the bookmark text puts
// it). Written as a chapters text for video descriptions and as an ffmetadata
// file that encoders embed.

#include "outputs/TrackMarks.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace medlark {

struct TChapter final {
    double Start = 0.0;   // seconds into the medley
    double End = 0.0;     // the next chapter's start; the medley's end for the last
    QString Title;
};

// The chapters of the tracks placed in a medley of medleyBytes PCM bytes
// (header excluded). Starts never go backwards and never pass the end.
std::vector<TChapter> MedleyChapters(const std::vector<TTrackMark>& marks, double crossfadeTime,
                                     std::int64_t medleyBytes);

// "m:ss" below an hour, "h:mm:ss" from an hour on; whole seconds, truncated.
QString ChapterTimeText(double seconds);

// "m:ss title", a line per chapter.
QStringList ChapterLines(const std::vector<TChapter>& chapters);

// The video sites' chapter rules the list breaks (the first at 0:00, at least
// three chapters, each at least 10 s long), as sentences; empty when it keeps them.
QStringList ChapterRuleBreaks(const std::vector<TChapter>& chapters);

// The ";FFMETADATA1" text: a [CHAPTER] per chapter in milliseconds, with the
// title's special characters escaped. Lines end in LF; no byte-order mark.
QByteArray FfMetadata(const std::vector<TChapter>& chapters);

// Writes FfMetadata to path; raises the file-creation error when it cannot.
void SaveFfMetadata(const std::vector<TChapter>& chapters, const QString& path);

} // namespace medlark
