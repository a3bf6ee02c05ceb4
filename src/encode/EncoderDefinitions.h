#pragma once
// The encoder definition file encoder.inf of the add-on folder: which encoders
// there are ("ENCODERS": executable=caption, in menu order), the extension each
// writes ("EXTENSION") and the parameter template of each quality
// ("PARAMETER-LO", "-MD", "-HI").

#include "model/IniText.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace medlark {

inline constexpr char kEncoderDefinitionFile[] = "encoder.inf";

class TEncoderDefinitions final {
public:
    TEncoderDefinitions() = default;
    // A missing or unreadable file gives empty lookups.
    explicit TEncoderDefinitions(const QString& path);

    // All stored lines of the section.
    QStringList GetEncoders(const QString& section) const;
    // Name of line index of "ENCODERS"; raises the list-index error beyond it.
    QString GetEncoderExe(int index) const;
    QString GetEncoderExtension(const QString& exe) const;
    QString GetParam(const QString& encoder, const QString& quality) const;

private:
    TIniText ini_;
};

// One entry of the compression menu after "なし": its caption and its tag, the
// index of its line in "ENCODERS".
struct TCompressionItem final {
    QString Caption;
    int Tag = -1;
    QString Executable;
};

// An encoder name that stays inside the add-on folder: no path separator, no "..".
bool IsPlainEncoderName(const QString& exe);

// The encoders whose executable is in the add-on folder, in menu order.
std::vector<TCompressionItem> CompressionMenuItems(const QString& addonDir);

// The tag of the first item whose caption is exactly text, or of the first
// whose executable is named text; -1 when none is.
int FindCompressionItem(const QString& addonDir, const QString& text);

// Quality codes of the three quality items (tags 1, 5, 10).
QString QualityCode(int qualityTag);

// The default encoder, used when the sound sheet needs a compressed copy and no
// encoder is chosen: the shipped AAC wrapper.
inline constexpr char kDefaultEncoder[] = "aac.sh";
inline constexpr char kDefaultExtension[] = ".m4a";
inline constexpr char kDefaultQuality[] = "MD";

// Where the shipped folders are: "./addon/" (or "./template/") in the current
// directory; else the folder of that name beside the executable; else in the
// installed data folder. Falls back to the first when none exists, so that
// errors name it. Always ends with "/".
QString AddonFolder();
QString TemplateFolder();
// The same search for any shipped folder ("docs" …).
QString ShippedFolder(const QString& name);

} // namespace medlark
