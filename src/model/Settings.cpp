#include "model/Settings.h"

#include "model/IniText.h"
#include "model/NumberText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace medlark {

namespace {

const QString kGeneral = QStringLiteral("General");

double ReadNumber(const TIniText& ini, const char* key, double fallback)
{
    return ParseNumber(ini.Value(kGeneral, QString::fromLatin1(key))).value_or(fallback);
}

int ReadInteger(const TIniText& ini, const char* key, int fallback)
{
    return ParseInteger(ini.Value(kGeneral, QString::fromLatin1(key))).value_or(fallback);
}

bool ReadFlag(const TIniText& ini, const char* key, bool fallback)
{
    return ReadInteger(ini, key, fallback ? 1 : 0) != 0;
}

QString Flag(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

} // namespace

QString SettingsFilePath()
{
    const QString exeDir = QCoreApplication::applicationDirPath();
    const QString beside = QDir(exeDir).filePath(QStringLiteral("config.ini"));
    if (!exeDir.isEmpty() && (QFileInfo::exists(beside) || QFileInfo(exeDir).isWritable()))
        return beside;
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("medlark/config.ini"));
}

void LoadSettings(TSettings& s, const QString& path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return;
    const TIniText ini = TIniText::FromBytes(file.readAll());

    s.Medley.CrossfadeTime = std::clamp(ReadNumber(ini, "CrossDuration", 10.0), 0.1, 65535.0);
    s.Medley.Envelope = EnvelopeOfNumber(ReadInteger(ini, "EnvelopeType", 0));
    s.WriteDetailText = ReadFlag(ini, "WriteDetailText", false);
    s.Medley.BlankHead = std::clamp(ReadNumber(ini, "BlankDurationHead", 1.0), 0.0, 10.0);
    s.Medley.BlankTail = std::clamp(ReadNumber(ini, "BlankDurationTail", 1.0), 0.0, 10.0);
    const int volume = ReadInteger(ini, "PlayerVolume", -1);
    if (volume >= 0)
        s.PlayerVolume = volume;
    // Two radio items of one group: checking one unchecks the other,
    // unchecking one touches nothing.
    auto check = [&s](bool& item, bool& other, bool on) {
        if (on) {
            item = true;
            other = false;
        } else {
            item = false;
        }
    };
    check(s.CrossTypeA, s.CrossTypeB, ReadFlag(ini, "CrossTypeA", true));
    check(s.CrossTypeB, s.CrossTypeA, ReadFlag(ini, "CrossTypeB", false));
    s.WriteJsonFile = ReadFlag(ini, "WriteJsonFile", false);
    s.ExportHTMLs = ReadFlag(ini, "ExportHTMLs", false);
    // Matched against the compression menu's captions by the window; "なし"
    // stands when nothing matches.
    s.Compression = ini.Value(kGeneral, QStringLiteral("Compression"));
    if (s.Compression.isEmpty())
        s.Compression = QString::fromUtf16(kCompressionNone);
    const int level = ReadInteger(ini, "CompressionLevel", 5);
    if (level == 1 || level == 5 || level == 10)
        s.CompressionLevel = level;
    s.ExportVideo = ReadFlag(ini, "ExportVideo", false);
    s.CoverImage = ini.Value(kGeneral, QStringLiteral("CoverImage"));
    s.Medley.Loudness.Match = ReadFlag(ini, "MatchLoudness", false);
    s.Medley.Loudness.Target =
        std::clamp(ReadNumber(ini, "LoudnessTarget", -14.0), kMinLoudnessTarget, kMaxLoudnessTarget);
    s.Medley.Loudness.Ceiling =
        std::clamp(ReadNumber(ini, "TruePeakCeiling", -1.0), kMinTruePeakCeiling, kMaxTruePeakCeiling);
}

bool SaveSettings(const TSettings& s, const QString& path)
{
    TIniText ini;
    {
        QFile existing(path);
        if (existing.open(QIODevice::ReadOnly))
            ini = TIniText::FromBytes(existing.readAll());
    }
    auto set = [&ini](const char* key, const QString& value) {
        ini.SetValue(kGeneral, QString::fromLatin1(key), value);
    };
    set("CrossDuration", FormatNumber(s.Medley.CrossfadeTime));
    set("EnvelopeType", QString::number(EnvelopeNumber(s.Medley.Envelope)));
    set("WriteDetailText", Flag(s.WriteDetailText));
    set("BlankDurationHead", FormatNumber(s.Medley.BlankHead));
    set("BlankDurationTail", FormatNumber(s.Medley.BlankTail));
    set("PlayerVolume", QString::number(s.PlayerVolume));
    set("CrossTypeA", Flag(s.CrossTypeA));
    set("CrossTypeB", Flag(s.CrossTypeB));
    set("WriteJsonFile", Flag(s.WriteJsonFile));
    set("ExportHTMLs", Flag(s.ExportHTMLs));
    if (!s.Compression.isEmpty())
        set("Compression", s.Compression);
    if (s.CompressionLevel > 0)
        set("CompressionLevel", QString::number(s.CompressionLevel));
    set("ExportVideo", Flag(s.ExportVideo));
    set("CoverImage", s.CoverImage);
    set("MatchLoudness", Flag(s.Medley.Loudness.Match));
    set("LoudnessTarget", FormatNumber(s.Medley.Loudness.Target));
    set("TruePeakCeiling", FormatNumber(s.Medley.Loudness.Ceiling));

    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(ini.ToUtf16Le());
    return file.commit();
}

} // namespace medlark
