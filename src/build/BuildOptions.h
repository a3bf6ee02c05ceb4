#pragma once
// The options a build reads once, at its start, and the one way they are made
// from the settings: the window, medlark-render and the join preview all take
// them from BuildOptionsFrom, so that the same settings build (and play) the
// same medley everywhere.

#include "model/BuildMode.h"
#include "model/MedleySettings.h"

#include <QDate>
#include <QString>
#include <QStringList>

namespace medlark {

struct TSettings;

// The options a build reads once, at its start.
struct TBuildOptions final {
    TCrossFadeMode Mode = cfmMixed;
    QString OutputPath;           // the medley's WAV file, or the folder of single mode
    TMedleySettings Medley;       // crossfade, envelope, blanks
    bool WriteBookmark = true;
    bool WriteHtml = false;
    bool WriteJson = false;
    int EncoderTag = -1;          // tag of the chosen compression item (its ENCODERS line); -1 for none
    QString Quality = QStringLiteral("MD");   // LO, MD or HI
    QString AddonDir;             // the add-on folder; empty: found as usual
    QString TemplateDir;          // the template folder; empty: found as usual
    QDate Today = QDate::currentDate();   // names the publish folder
    QStringList ProtectedPaths;   // further inputs no output may replace (the project file)
    // Medley only: the MP4 video (with the chapters text), the cover it shows
    // (empty: a panel with the title), and the chapters text alone.
    bool ExportVideo = false;
    QString CoverImage;
    bool WriteChapters = false;

    bool operator==(const TBuildOptions&) const = default;
};

// The options the settings ask for: the mode, the crossfade, envelope and
// blanks, the side outputs, the encoder (looked up by its caption, or its
// executable's name, among the encoders of addonDir) and its quality, the
// video and its cover. Where the build writes, the day, the template folder,
// the protected paths and the chapters text alone are left to the caller.
TBuildOptions BuildOptionsFrom(const TSettings& settings, const QString& addonDir);

// A build with these options draws the video's pictures (it then needs a
// QGuiApplication).
bool DrawsVideoPictures(const TBuildOptions& options);

} // namespace medlark
