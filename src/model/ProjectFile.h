#pragma once
// Project files (*.mlkd): the track list as UTF-16 LE INI text, one section per
// entry ("0001", "0002", …) with FilePath, StartTime and EndTime.

#include <QString>
#include <QStringList>

#include <functional>

namespace medlark {

class TrackList;

// Writes the whole list, replacing the file atomically (a crash never leaves
// half a project). Raises the file-creation error when it cannot be written,
// and refuses (writing nothing) a list whose paths INI text cannot hold.
void SaveProject(const TrackList& list, const QString& fileName);

// The tracks whose paths hold a line break, or blanks or control characters
// at either end, as "トラック N: title" lines.
QStringList UnsavablePaths(const TrackList& list);

// Replaces the list from fileName. beforeReplace runs first (the window switches
// its editor off). A name without a file gives an empty list; entries whose
// files are gone are skipped; a time that is missing or not a number is -1.
// An unreadable file empties the list and raises the file-open error.
void LoadProject(TrackList& list, const QString& fileName, const std::function<void()>& beforeReplace = {});

// Drop rule: exactly one path ending in ".mlkd" (any case) loads that project;
// anything else adds every path as a track.
bool IsProjectDrop(const QStringList& paths);
void DropPaths(TrackList& list, const QStringList& paths, const std::function<void()>& beforeReplace = {});

} // namespace medlark
