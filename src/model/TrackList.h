#pragma once
// The track list: the whole of a project. Each entry names one source file and
// the segment of it (in point to out point, in seconds) that goes into the medley.
// The entry at index i is track number i + 1.

#include "model/TimeText.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace medlark {

// The track's own gain in dB: -24 … +24 in steps of 0.1.
inline constexpr double kMinTrackGain = -24.0;
inline constexpr double kMaxTrackGain = 24.0;
// The gain a stored value stands for: held to the 0.1 dB grid; 0 for anything
// that is not a number in range.
double TrackGainOf(double value);

// In and out point of one entry (-1.0 when not set) and its own gain.
struct TSetData final {
    double StartTime = UNDEFINED_TIME;
    double EndTime = UNDEFINED_TIME;
    double Gain = 0.0;
};

struct TrackEntry final {
    QString SourcePath;   // exactly as given (dialog, drop or project file)
    QString Caption;      // rich-text caption, see UndefinedCaption / TimedCaption
    TSetData Times;
    bool Selected = false;

    // Stores both times and switches the caption to its timed form for good.
    void SetTimes(double start, double end);
};

class TrackList final {
public:
    // Appends an entry for path; returns nullptr (and changes nothing) when no
    // regular file exists there. The format is not examined.
    TrackEntry* AddTrackFile(const QString& path);
    // Adds every path in order; paths without a file are skipped silently.
    void AddTrackFiles(const QStringList& paths);

    int Count() const { return static_cast<int>(entries_.size()); }
    const TrackEntry& At(int index) const { return *entries_.at(static_cast<size_t>(index)); }
    TrackEntry& At(int index) { return *entries_.at(static_cast<size_t>(index)); }

    // Moves the entry at from to index to; the entries in between shift by one.
    void Move(int from, int to);
    // Selects the entry at index (or none for -1); at most one is selected.
    void Select(int index);
    int SelectedIndex() const;
    void RemoveSelected();
    void Clear();

private:
    std::vector<std::unique_ptr<TrackEntry>> entries_;
};

} // namespace medlark
