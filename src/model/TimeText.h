#pragma once
// The text forms of times shown and written everywhere: time codes, segment
// lengths, track titles and the two-line caption markup of a track row.

#include <QString>

namespace medlark {

// A time of -1.0 marks "not set"; a time is set when it is 0 or more.
inline constexpr double UNDEFINED_TIME = -1.0;

inline bool IsTimeSet(double t) { return t >= 0.0; }

// "H:MM:SS.mmm" with the hour wrapping at 24; the thousandths are truncated
// from the exact value (0.3 -> "0:00:00.299"). Times of -1 or less (not set),
// and anything else that is not a real position, give "0:00:00.000".
QString FormatTimeCode(double t);

// "12.5 sec." for an out point e at or after the in point s, "??? sec." otherwise.
QString FormatSpan(double s, double e);

// The file name of path without its last extension ("Song.01.mp3" -> "Song.01").
QString TrackTitle(const QString& path);

// Caption of a row that has never had times.
QString UndefinedCaption(const QString& path);

// Caption of a row with times: bold title, then "in～out" in small grey text.
QString TimedCaption(const QString& path, double start, double end);

} // namespace medlark
