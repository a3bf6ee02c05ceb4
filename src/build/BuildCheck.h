#pragma once
// The check a build runs first: every problem of every entry, at once, in list order.

#include <QString>
#include <QStringList>

namespace medlark {

class TrackList;

// "1つ以上のトラックが必要です。" — a medley needs at least one track.
QString NoTracksMessage();

// One or two lines per entry that is not fit for a build. A segment is too short
// when its length is at most half the crossfade time, where that is a whole
// number of seconds; with any other crossfade, only practically equal times are.
QStringList ValidateTracks(const TrackList& list, double crossfadeTime);

// The message box text for the lines of ValidateTracks.
QString ValidationMessage(const QStringList& lines);

} // namespace medlark
