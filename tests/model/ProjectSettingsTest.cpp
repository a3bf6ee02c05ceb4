#include "model/Error.h"
#include "model/IniText.h"
#include "model/ProjectFile.h"
#include "model/Settings.h"
#include "model/TrackList.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <cmath>

#include "TestFiles.h"

#include <gtest/gtest.h>

using namespace medlark;
using medlark::test::ReadAll;
using namespace Qt::StringLiterals;

namespace {

QString Touch(const QTemporaryDir& dir, const QString& name)
{
    QFile file(dir.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    return file.fileName();
}


void WriteUtf16(const QString& path, const QString& text)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\xFF\xFE" + QStringEncoder(QStringEncoder::Utf16LE).encode(text));
}

} // namespace

TEST(ProjectFile, SaveWritesTheExactLayoutAndLoadRestoresIt)
{
    QTemporaryDir dir;
    const QString song = Touch(dir, u"Song \"1\" & <x>.mp3"_s);
    const QString other = Touch(dir, u"Other.wav"_s);
    TrackList list;
    list.AddTrackFile(song)->SetTimes(12.5, 95.25);
    list.AddTrackFile(other);
    list.AddTrackFile(song)->SetTimes(0.3, 1.0 / 3);

    const QString path = dir.filePath(u"set.mlkd"_s);
    {
        QFile old(path);   // a longer old file: nothing of it survives
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(5000, 'z'));
    }
    SaveProject(list, path);
    const QString expected = u"[0001]\r\nFilePath="_s + song + u"\r\nStartTime=12.5\r\nEndTime=95.25\r\n\r\n"
                             u"[0002]\r\nFilePath="_s + other + u"\r\nStartTime=-1\r\nEndTime=-1\r\n\r\n"
                             u"[0003]\r\nFilePath="_s + song + u"\r\nStartTime=0.3\r\nEndTime=0.333333333333333\r\n\r\n"_s;
    EXPECT_EQ(ReadAll(path), "\xFF\xFE" + QStringEncoder(QStringEncoder::Utf16LE).encode(expected));

    TrackList loaded;
    bool told = false;
    loaded.AddTrackFile(other);
    LoadProject(loaded, path, [&] { told = true; });
    EXPECT_TRUE(told);
    ASSERT_EQ(loaded.Count(), 3);
    EXPECT_EQ(loaded.At(0).SourcePath, song);
    EXPECT_EQ(loaded.At(0).Times.StartTime, 12.5);
    EXPECT_EQ(loaded.At(2).Times.EndTime, 0.333333333333333);
    // Every loaded entry gets the timed caption, also without times.
    EXPECT_EQ(loaded.At(1).Caption,
              u"<b>Other</b><br><font color=\"#999999\"><font size=\"2\">0:00:00.000\uFF5E0:00:00.000</font></font>"_s);

    // An empty list saves as the mark alone and loads as an empty list.
    SaveProject(TrackList(), path);
    EXPECT_EQ(ReadAll(path), QByteArray("\xFF\xFE"));
    LoadProject(loaded, path);
    EXPECT_EQ(loaded.Count(), 0);
}

TEST(ProjectFile, LoadSkipsGoneFilesAndBadTimesInFileOrder)
{
    QTemporaryDir dir;
    const QString a = Touch(dir, u"A.mp3"_s);
    const QString b = Touch(dir, u"B.mp3"_s);
    const QString path = dir.filePath(u"hand.mlkd"_s);
    WriteUtf16(path, u"[b]\r\nFilePath="_s + b + u"\r\nStartTime=abc\r\nendtime = 7\r\n"
                     u"[gone]\r\nFilePath="_s + dir.filePath(u"gone.mp3"_s) + u"\r\nStartTime=1\r\n"
                     u"[a]\r\nStartTime=2\r\nFilePath="_s + a + u"\r\n"
                     u"[nopath]\r\nStartTime=3\r\n"_s);
    TrackList list;
    LoadProject(list, path);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.At(0).SourcePath, b);
    EXPECT_EQ(list.At(0).Times.StartTime, -1.0);
    EXPECT_EQ(list.At(0).Times.EndTime, 7.0);
    EXPECT_EQ(list.At(1).SourcePath, a);
    EXPECT_EQ(list.At(1).Times.StartTime, 2.0);
    EXPECT_EQ(list.At(1).Times.EndTime, -1.0);

    // A name with no file behind it empties the list.
    LoadProject(list, dir.filePath(u"nothing.mlkd"_s));
    EXPECT_EQ(list.Count(), 0);

    // An unreadable file empties the list and says so.
    list.AddTrackFile(a);
    QFile::setPermissions(path, QFileDevice::Permissions());
    if (!QFile(path).open(QIODevice::ReadOnly)) {   // root reads anything
        EXPECT_THROW(LoadProject(list, path), Error);
        EXPECT_EQ(list.Count(), 0);
    }
    // An unwritable place raises the creation error and leaves the list alone.
    list.AddTrackFile(a);
    EXPECT_THROW(SaveProject(list, dir.filePath(u"no/such/folder.mlkd"_s)), Error);
    EXPECT_GE(list.Count(), 1);
}

// Names that INI text cannot hold are refused before anything is written:
// a line break would inject keys, blanks at the ends would be trimmed away.
TEST(ProjectFile, GainIsWrittenOnlyWhenSetAndBadValuesReadAsZero)
{
    QTemporaryDir dir;
    const QString song = Touch(dir, u"Song.flac"_s);
    TrackList list;
    list.AddTrackFile(song)->SetTimes(1, 2);
    list.AddTrackFile(song)->SetTimes(3, 4);
    list.At(1).Times.Gain = -6.0;
    const QString path = dir.filePath(u"gain.mlkd"_s);
    SaveProject(list, path);
    const QString expected = u"[0001]\r\nFilePath="_s + song + u"\r\nStartTime=1\r\nEndTime=2\r\n\r\n"
                             u"[0002]\r\nFilePath="_s + song + u"\r\nStartTime=3\r\nEndTime=4\r\nGain=-6\r\n\r\n"_s;
    EXPECT_EQ(ReadAll(path), "\xFF\xFE" + QStringEncoder(QStringEncoder::Utf16LE).encode(expected));
    TrackList loaded;
    LoadProject(loaded, path);
    ASSERT_EQ(loaded.Count(), 2);
    EXPECT_EQ(loaded.At(0).Times.Gain, 0.0);
    EXPECT_EQ(loaded.At(1).Times.Gain, -6.0);

    // Out of range, not a number, empty: 0; the rest of the file loads. In
    // range values keep to the 0.1 dB grid.
    WriteUtf16(path, u"[a]\r\nFilePath="_s + song + u"\r\nStartTime=1\r\nEndTime=2\r\nGain=30\r\n"
                     u"[b]\r\nFilePath="_s + song + u"\r\nGain=loud\r\nStartTime=5\r\n"
                     u"[c]\r\nFilePath="_s + song + u"\r\nGain=\r\n"
                     u"[d]\r\nFilePath="_s + song + u"\r\nGain=-24\r\n"
                     u"[e]\r\nFilePath="_s + song + u"\r\nGain=1.26\r\n"
                     u"[f]\r\nFilePath="_s + song + u"\r\nGain=-0.01\r\n"_s);
    LoadProject(loaded, path);
    ASSERT_EQ(loaded.Count(), 6);
    EXPECT_EQ(loaded.At(0).Times.Gain, 0.0);
    EXPECT_EQ(loaded.At(0).Times.EndTime, 2.0);
    EXPECT_EQ(loaded.At(1).Times.Gain, 0.0);
    EXPECT_EQ(loaded.At(1).Times.StartTime, 5.0);
    EXPECT_EQ(loaded.At(2).Times.Gain, 0.0);
    EXPECT_EQ(loaded.At(3).Times.Gain, -24.0);
    EXPECT_DOUBLE_EQ(loaded.At(4).Times.Gain, 1.3);
    EXPECT_FALSE(std::signbit(loaded.At(5).Times.Gain));   // rounds to 0, written as no key
    SaveProject(loaded, path);
    const QByteArray saved = ReadAll(path);
    EXPECT_EQ(QString::fromUtf16(reinterpret_cast<const char16_t*>(saved.constData() + 2), (saved.size() - 2) / 2)
                  .count(u"Gain="_s),
              2);
}

TEST(ProjectFile, PathsThatWouldChangeOnTheWayBackAreRefused)
{
    QTemporaryDir dir;
    const QString project = dir.filePath(u"set.mlkd"_s);
    TrackList good;
    good.AddTrackFile(Touch(dir, u"fine.wav"_s))->SetTimes(1, 2);
    SaveProject(good, project);
    const QByteArray before = ReadAll(project);

    for (const QString& name : {u"x.wav\nStartTime=0\nEndTime=9999"_s, u"a\nb.wav"_s, u"tail.wav "_s,
                                u"cr\rname.wav"_s, u"tab.wav\t"_s}) {
        TrackList list;
        list.AddTrackFile(Touch(dir, u"ok.wav"_s))->SetTimes(0, 1);
        ASSERT_NE(list.AddTrackFile(Touch(dir, name)), nullptr) << name.toStdString();
        try {
            SaveProject(list, project);
            ADD_FAILURE() << "saved " << name.toStdString();
        } catch (const Error& e) {
            EXPECT_TRUE(e.Message().contains(u"トラック 2: "_s)) << e.Message().toStdString();
            EXPECT_FALSE(e.Message().contains(u"トラック 1: "_s)) << e.Message().toStdString();
        }
        EXPECT_EQ(ReadAll(project), before) << name.toStdString();
    }
    // Inner blanks (a name starting with one is inside the path) and other
    // characters are fine, and come back as they were.
    TrackList list;
    const QString odd = Touch(dir, u" a  b \"q\" <&> $(x) ;=[s].wav"_s);
    list.AddTrackFile(odd)->SetTimes(3, 4);
    SaveProject(list, project);
    TrackList back;
    LoadProject(back, project);
    ASSERT_EQ(back.Count(), 1);
    EXPECT_EQ(back.At(0).SourcePath, odd);
}

TEST(ProjectFile, DropLoadsOneProjectOrAddsEverything)
{
    QTemporaryDir dir;
    const QString song = Touch(dir, u"Song.mp3"_s);
    const QString project = dir.filePath(u"Set.MLKD"_s);
    TrackList list;
    list.AddTrackFile(song)->SetTimes(1, 2);
    SaveProject(list, project);

    EXPECT_TRUE(IsProjectDrop({project}));
    EXPECT_FALSE(IsProjectDrop({project, song}));
    EXPECT_FALSE(IsProjectDrop({song}));

    TrackList target;
    DropPaths(target, {project, song});
    EXPECT_EQ(target.Count(), 2);   // both as tracks
    DropPaths(target, {project});
    ASSERT_EQ(target.Count(), 1);   // replaced by the project
    EXPECT_EQ(target.At(0).Times.EndTime, 2.0);
}

TEST(Settings, FirstRunWritesAllSeventeenKeys)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"sub/config.ini"_s);
    TSettings s;
    LoadSettings(s, path);   // no file: built-in values stand
    EXPECT_TRUE(s.WriteDetailText);
    ASSERT_TRUE(SaveSettings(s, path));
    const TIniText ini = TIniText::FromBytes(ReadAll(path));
    EXPECT_EQ(ini.Lines(u"General"_s),
              (QStringList{u"CrossDuration=10"_s, u"EnvelopeType=0"_s, u"WriteDetailText=1"_s,
                           u"BlankDurationHead=1"_s, u"BlankDurationTail=1"_s, u"PlayerVolume=-1"_s,
                           u"CrossTypeA=1"_s, u"CrossTypeB=0"_s, u"WriteJsonFile=0"_s, u"ExportHTMLs=0"_s,
                           u"Compression=なし"_s, u"CompressionLevel=5"_s,
                           u"ExportVideo=0"_s, u"CoverImage="_s, u"MatchLoudness=0"_s, u"LoudnessTarget=-14"_s,
                           u"TruePeakCeiling=-1"_s}));
    EXPECT_TRUE(ReadAll(path).startsWith("\xFF\xFE[\0G\0"));
}

TEST(Settings, KeysAreReadWithTheirDefaultsBoundsAndRadioRules)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"config.ini"_s);
    WriteUtf16(path, u"[General]\r\n"_s);
    TSettings s;
    LoadSettings(s, path);
    EXPECT_FALSE(s.WriteDetailText);   // the key's default differs from the control's
    EXPECT_EQ(s.Medley.CrossfadeTime, 10.0);
    EXPECT_EQ(s.Medley.BlankHead, 1.0);
    EXPECT_TRUE(s.CrossTypeA);
    EXPECT_FALSE(s.CrossTypeB);
    EXPECT_EQ(s.Compression, u"なし");
    EXPECT_EQ(s.CompressionLevel, 5);

    WriteUtf16(path, u"[Mine]\r\nkeep=1\r\n[General]\r\nCrossDuration=0\r\nBlankDurationHead=25\r\nBlankDurationTail=-3\r\n"
                     u"CompressionLevel=7\r\nCrossTypeA=0\r\nCrossTypeB=0\r\nWriteJsonFile=2\r\nEnvelopeType=0x1\r\n"
                     u"PlayerVolume=40\r\nCompression=MP3 (lame)\r\nExtra=stays\r\n"_s);
    s = TSettings();
    LoadSettings(s, path);
    EXPECT_EQ(s.Medley.CrossfadeTime, 0.1);
    EXPECT_EQ(s.Medley.BlankHead, 10.0);
    EXPECT_EQ(s.Medley.BlankTail, 0.0);
    EXPECT_EQ(s.CompressionLevel, 5);
    EXPECT_FALSE(s.CrossTypeA);
    EXPECT_FALSE(s.CrossTypeB);
    EXPECT_TRUE(s.WriteJsonFile);
    EXPECT_EQ(s.Medley.Envelope, TEnvelope::Sine);
    EXPECT_EQ(s.PlayerVolume, 40);
    EXPECT_EQ(s.Compression, u"MP3 (lame)");

    ASSERT_TRUE(SaveSettings(s, path));
    const TIniText ini = TIniText::FromBytes(ReadAll(path));
    EXPECT_EQ(ini.Value(u"Mine"_s, u"keep"_s), u"1");
    EXPECT_EQ(ini.Value(u"General"_s, u"Extra"_s), u"stays");
    EXPECT_EQ(ini.Value(u"General"_s, u"CrossTypeA"_s), u"0");
    EXPECT_EQ(ini.Value(u"General"_s, u"CrossTypeB"_s), u"0");
    EXPECT_EQ(ini.Value(u"General"_s, u"WriteJsonFile"_s), u"1");
    EXPECT_EQ(ini.Value(u"General"_s, u"CrossDuration"_s), u"0.1");
    // Existing keys keep their place; the missing ones are added at the end.
    EXPECT_EQ(ini.Lines(u"General"_s),
              (QStringList{u"CrossDuration=0.1"_s, u"BlankDurationHead=10"_s, u"BlankDurationTail=0"_s,
                           u"CompressionLevel=5"_s, u"CrossTypeA=0"_s, u"CrossTypeB=0"_s, u"WriteJsonFile=1"_s,
                           u"EnvelopeType=1"_s, u"PlayerVolume=40"_s, u"Compression=MP3 (lame)"_s, u"Extra=stays"_s,
                           u"WriteDetailText=0"_s, u"ExportHTMLs=0"_s, u"ExportVideo=0"_s, u"CoverImage="_s,
                           u"MatchLoudness=0"_s, u"LoudnessTarget=-14"_s, u"TruePeakCeiling=-1"_s}));

    // The video's keys: a flag and a text kept as it is.
    WriteUtf16(path, u"[General]\r\nExportVideo=3\r\nCoverImage=/a b/カバー;#1.png\r\n"_s);
    LoadSettings(s, path);
    EXPECT_TRUE(s.ExportVideo);
    EXPECT_EQ(s.CoverImage, u"/a b/カバー;#1.png");
    ASSERT_TRUE(SaveSettings(s, path));
    EXPECT_EQ(TIniText::FromBytes(ReadAll(path)).Value(u"General"_s, u"ExportVideo"_s), u"1");
    EXPECT_EQ(TIniText::FromBytes(ReadAll(path)).Value(u"General"_s, u"CoverImage"_s), u"/a b/カバー;#1.png");

    // Loudness matching: a flag and two numbers held to their ranges; text
    // that is not a number takes the default.
    WriteUtf16(path, u"[General]\r\nMatchLoudness=1\r\nLoudnessTarget=-16.5\r\nTruePeakCeiling=3\r\n"_s);
    LoadSettings(s, path);
    EXPECT_TRUE(s.Medley.Loudness.Match);
    EXPECT_EQ(s.Medley.Loudness.Target, -16.5);
    EXPECT_EQ(s.Medley.Loudness.Ceiling, 0.0);
    WriteUtf16(path, u"[General]\r\nLoudnessTarget=-99\r\nTruePeakCeiling=loud\r\n"_s);
    s = TSettings();
    LoadSettings(s, path);
    EXPECT_FALSE(s.Medley.Loudness.Match);
    EXPECT_EQ(s.Medley.Loudness.Target, -40.0);
    EXPECT_EQ(s.Medley.Loudness.Ceiling, -1.0);

    // Single mode wins over concatenated.
    WriteUtf16(path, u"[General]\r\nCrossTypeA=1\r\nCrossTypeB=1\r\n"_s);
    LoadSettings(s, path);
    EXPECT_FALSE(s.CrossTypeA);
    EXPECT_TRUE(s.SingleMode());

    // A file that cannot be written is reported, not raised.
    EXPECT_FALSE(SaveSettings(s, dir.filePath(u"config.ini/inside"_s)));
}
