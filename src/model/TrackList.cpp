#include "model/TrackList.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace medlark {

double TrackGainOf(double value)
{
    if (!(value >= kMinTrackGain && value <= kMaxTrackGain))
        return 0.0;
    const double stepped = std::round(value * 10.0) / 10.0;
    return stepped == 0.0 ? 0.0 : stepped;   // never -0
}

void TrackEntry::SetTimes(double start, double end)
{
    Times.StartTime = start;
    Times.EndTime = end;
    Caption = TimedCaption(SourcePath, start, end);
}

TrackEntry* TrackList::AddTrackFile(const QString& path)
{
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return nullptr;
    auto entry = std::make_unique<TrackEntry>();
    entry->SourcePath = path;
    entry->Caption = UndefinedCaption(path);
    entries_.push_back(std::move(entry));
    return entries_.back().get();
}

void TrackList::AddTrackFiles(const QStringList& paths)
{
    for (const QString& path : paths)
        AddTrackFile(path);
}

void TrackList::Move(int from, int to)
{
    const int n = Count();
    if (from < 0 || from >= n || to < 0 || to >= n || from == to)
        return;
    auto first = entries_.begin();
    if (from < to)
        std::rotate(first + from, first + from + 1, first + to + 1);
    else
        std::rotate(first + to, first + from, first + from + 1);
}

void TrackList::Select(int index)
{
    for (int i = 0; i < Count(); ++i)
        entries_[static_cast<size_t>(i)]->Selected = (i == index);
}

int TrackList::SelectedIndex() const
{
    for (int i = 0; i < Count(); ++i)
        if (entries_[static_cast<size_t>(i)]->Selected)
            return i;
    return -1;
}

void TrackList::RemoveSelected()
{
    for (int i = Count() - 1; i >= 0; --i)
        if (entries_[static_cast<size_t>(i)]->Selected)
            entries_.erase(entries_.begin() + i);
}

void TrackList::Clear()
{
    entries_.clear();
}

} // namespace medlark
