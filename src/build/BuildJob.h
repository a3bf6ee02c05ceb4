#pragma once
// The body of a build, independent of any window: reads the track list in order,
// decodes, shapes and writes each segment, leaves the side outputs, and talks to
// its user only through TBuildUser.

#include "build/BuildOptions.h"
#include "build/BuildUser.h"
#include "render/Loudness.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace medlark {

class TrackList;

QString SkipUnsupportedText(const QString& sourcePath);
QString SkipCutFailedText(const QString& sourcePath);
QString OverwriteText(const QString& destination);

// How a build ended: CancelMark when the user stopped it at a prompt, the error
// message when an error ended it (the error wins). The audio can be done while
// some compressed copies failed: they are listed.
struct TCopyFailure final {
    QString Dest;
    QString Reason;
};
struct TBuildOutcome final {
    bool CancelMark = false;
    QString ThreadError;
    std::vector<TCopyFailure> FailedCopies;
    bool SheetPublished = false;
    QStringList Notes;   // what the completion should also say (chapter rules, an unreadable cover)
    std::optional<TLoudness> MedleyLoudness;   // the medley's, when one was written with matching on
};

// The report of the failed copies, for the completion message ("" when none failed).
QString FailedCopiesText(const TBuildOutcome& outcome);
// "メドレーの音量: −14.0 LUFS、トゥルーピーク −1.2 dBTP" ("" when nothing was measured).
QString MedleyLoudnessText(const TBuildOutcome& outcome);
// The medley's loudness, the notes and the failed copies, for the completion message ("" when there are none).
QString CompletionDetails(const TBuildOutcome& outcome);

TBuildOutcome RunBuildJob(const TBuildOptions& options, const TrackList& list, TBuildUser& user);

// base + "/publish_" + yymmdd + "_NN": the first of _01, _02, … that is not an existing folder.
QString NextFreeFolderName(const QString& baseFolder, const QDate& date);

} // namespace medlark
