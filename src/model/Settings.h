#pragma once
// The settings file config.ini: build options and the preview volume, section
// "General", seventeen keys. The record holds what the window's controls hold.

#include "model/MedleySettings.h"

#include <QString>

namespace medlark {

inline constexpr char16_t kCompressionNone[] = u"なし";

struct TSettings final {
    // CrossDuration (0.1 … 65535), EnvelopeType (0 linear, 1 sine curve, -1
    // none selected), BlankDurationHead and BlankDurationTail (0 … 10);
    // MatchLoudness, LoudnessTarget (-40 … -5 LUFS), TruePeakCeiling (-12 … 0 dBTP).
    TMedleySettings Medley;
    bool WriteDetailText = true;      // bookmark text
    int PlayerVolume = -1;            // 0 … 100; negative leaves the player's own
    bool CrossTypeA = true;           // concatenated mode item checked
    bool CrossTypeB = false;          // single mode item checked
    bool WriteJsonFile = false;
    bool ExportHTMLs = false;
    QString Compression = QString::fromUtf16(kCompressionNone);   // caption of the chosen entry
    int CompressionLevel = 5;         // 1, 5 or 10
    bool ExportVideo = false;         // the medley's MP4 video (and its chapters text)
    QString CoverImage;               // the video's cover picture; empty: a panel with the title

    bool SingleMode() const { return CrossTypeB; }
};

// Where config.ini lives: beside the executable when it is there already or that
// folder is writable, else $XDG_CONFIG_HOME/medlark/config.ini.
QString SettingsFilePath();

// Applies the file to the record as the controls take it (bounds, radio items,
// key defaults). A missing file leaves the record as it is.
void LoadSettings(TSettings& settings, const QString& path);

// Writes the seventeen keys, keeping every other key and section of the file, and
// replaces the file atomically. Returns false when it could not be written.
bool SaveSettings(const TSettings& settings, const QString& path);

} // namespace medlark
