#include "model/ProjectFile.h"

#include "model/Error.h"
#include "model/IniText.h"
#include "model/NumberText.h"
#include "model/TrackList.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace medlark {

using namespace Qt::StringLiterals;

namespace {

double ReadTime(const TIniText& ini, const QString& section, const QString& key)
{
    return ParseNumber(ini.Value(section, key)).value_or(UNDEFINED_TIME);
}

} // namespace

QStringList UnsavablePaths(const TrackList& list)
{
    QStringList lines;
    for (int i = 0; i < list.Count(); ++i) {
        const QString& path = list.At(i).SourcePath;
        if (path.contains(u'\n') || path.contains(u'\r') || TrimControls(path) != path)
            lines << QStringLiteral("トラック %1: %2").arg(i + 1).arg(TrackTitle(path).simplified());
    }
    return lines;
}

void SaveProject(const TrackList& list, const QString& fileName)
{
    // INI text would change such a path on the way back (a line break starts
    // a new line, blanks at the ends are trimmed): nothing is written.
    const QStringList unsavable = UnsavablePaths(list);
    if (!unsavable.isEmpty())
        throw Error(u"次のトラックのファイル名には改行か、前後の空白・制御文字があるため、プロジェクトに保存できません。"
                    u"ファイル名を変えてから追加し直してください。\n"_s
                    + unsavable.join(u'\n'));
    TIniText ini;
    for (int i = 0; i < list.Count(); ++i) {
        const TrackEntry& entry = list.At(i);
        const QString section = QString::asprintf("%.04d", i + 1);
        ini.SetValue(section, QStringLiteral("FilePath"), entry.SourcePath);
        ini.SetValue(section, QStringLiteral("StartTime"), FormatNumber(entry.Times.StartTime));
        ini.SetValue(section, QStringLiteral("EndTime"), FormatNumber(entry.Times.EndTime));
        // Only where it is set: a list without gains keeps the file it always had.
        if (entry.Times.Gain != 0.0)
            ini.SetValue(section, QStringLiteral("Gain"), FormatNumber(entry.Times.Gain));
    }
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw CreateFileError(fileName, file.errorString());
    file.write(ini.ToUtf16Le());
    if (!file.commit())
        throw CreateFileError(fileName, file.errorString());
}

void LoadProject(TrackList& list, const QString& fileName, const std::function<void()>& beforeReplace)
{
    if (beforeReplace)
        beforeReplace();
    list.Clear();

    QFile file(fileName);
    if (!QFileInfo(fileName).isFile())
        return;
    if (!file.open(QIODevice::ReadOnly))
        throw OpenFileError(fileName, file.errorString());
    const TIniText ini = TIniText::FromUtf16Le(file.readAll());

    for (const QString& section : ini.SectionNames()) {
        TrackEntry* entry = list.AddTrackFile(ini.Value(section, QStringLiteral("FilePath")));
        if (entry == nullptr)
            continue;
        entry->SetTimes(ReadTime(ini, section, QStringLiteral("StartTime")),
                        ReadTime(ini, section, QStringLiteral("EndTime")));
        entry->Times.Gain = TrackGainOf(ParseNumber(ini.Value(section, QStringLiteral("Gain"))).value_or(0.0));
    }
}

bool IsProjectDrop(const QStringList& paths)
{
    return paths.size() == 1 && paths.front().endsWith(u".mlkd"_s, Qt::CaseInsensitive);
}

void DropPaths(TrackList& list, const QStringList& paths, const std::function<void()>& beforeReplace)
{
    if (IsProjectDrop(paths))
        LoadProject(list, paths.front(), beforeReplace);
    else
        list.AddTrackFiles(paths);
}

} // namespace medlark
