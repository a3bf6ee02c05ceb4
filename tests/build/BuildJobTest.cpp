#include "build/BuildJob.h"

#include "build/BuildCheck.h"
#include "model/TimeText.h"
#include "model/TrackList.h"
#include "render/Mixing.h"
#include "render/SourceStream.h"
#include "render/WavOutput.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include "Fixtures.h"
#include "TestFiles.h"
#include "build/TestBuild.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include <sys/stat.h>

using namespace medlark;
using namespace medlark::test;
using namespace Qt::StringLiterals;

namespace {

// Prompts not scripted are answered No: a track that fails stops the build, an
// existing track file is kept.
TTestUser ScriptedUser()
{
    return TTestUser(TSkipAnswer::Stop, TOverwriteAnswer::Skip);
}

QString NotAudio(const QTemporaryDir& dir)
{
    QFile file(dir.filePath(u"broken \"2\".mp3"_s));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not audio at all");
    return file.fileName();
}

// The test build with the bookmark text and the JSON track map.
TBuildOptions MedleyOptions(const QString& output)
{
    TBuildOptions o = TestOptions(output);
    o.WriteBookmark = true;
    o.WriteJson = true;
    return o;
}

constexpr std::int64_t kSecond = kPcmRate;

} // namespace

TEST(BuildJob, MedleySkipsAnUnopenableTrackWhenToldTo)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(u"publish_261208_01"_s);
    const QString source = SignalWav();
    TrackList list;
    list.AddTrackFile(source)->SetTimes(1.0, 4.0);
    list.AddTrackFile(NotAudio(dir))->SetTimes(0, 2);
    list.AddTrackFile(source)->SetTimes(4.0, 7.0);

    TTestUser user = ScriptedUser();
    user.skipAnswers = {TSkipAnswer::Skip};
    const QString output = dir.filePath(u"a.wav"_s);
    const TBuildOutcome outcome = RunBuildJob(MedleyOptions(output), list, user);
    EXPECT_TRUE(outcome.ThreadError.isEmpty()) << outcome.ThreadError.toStdString();
    EXPECT_FALSE(outcome.CancelMark);
    EXPECT_EQ(user.prompts, QStringList{u"unsupported: 対応していない形式です: broken \"2\".mp3\r\nこのトラックを飛ばして続けますか？"_s});
    EXPECT_EQ(user.Positions(), (std::vector<int>{0, 1, 1, 3}));
    EXPECT_EQ(user.reports, (QStringList{u"progress 0/2"_s, u"encoding off"_s, u"progress 1/2"_s, u"progress 1/2"_s,
                                         u"progress 3/2"_s, u"encoding off"_s}));

    // Head 0.5 s, 3 s and 3 s overlapped by 1 s, tail 0.3 s.
    const PcmBlock pcm = ReadWavPcm(output);
    EXPECT_EQ(FrameCount(pcm), kSecond / 2 + 5 * kSecond + kSecond * 3 / 10);
    // Away from the fades the medley is the sources' own samples.
    SourceStream stream = OpenSourceStream(source);
    PcmBlock original;
    DecodeSegment(stream, original, 0, 8);
    EXPECT_EQ(FirstMismatch(pcm, 2 * kSecond, original, 2 * kSecond + kSecond / 2, 1000), -1);
    EXPECT_EQ(FirstMismatch(pcm, 4 * kSecond, original, 5 * kSecond + kSecond / 2, 1000), -1);

    // Side outputs in the next free publish folder, two entries each.
    const QString publish = dir.filePath(u"publish_261208_02/"_s);
    EXPECT_EQ(ReadAll(publish + u"a.txt"_s),
              "\xEF\xBB\xBF" + u"[0:00:01.000] : signal_8.wav <0:00:01.000～0:00:04.000>\r\n"
                               u"[0:00:03.000] : signal_8.wav <0:00:04.000～0:00:07.000>\r\n"_s.toUtf8());
    const QByteArray json = ReadAll(publish + u"a.json"_s);
    EXPECT_TRUE(json.contains("\"absbegin\":\"3.50\",")) << json.constData();   // where the first segment ends
    EXPECT_TRUE(json.contains("\"absduration\":\"3.00\","));
    EXPECT_EQ(json.count("\"track\""), 2);
}

TEST(BuildJob, MedleyStoppedAtAPromptIsStillFinished)
{
    QTemporaryDir dir;
    const QString source = SignalWav();
    TrackList list;
    list.AddTrackFile(source)->SetTimes(1.0, 3.0);
    list.AddTrackFile(source)->SetTimes(8.5, 9.0);   // beyond the end: nothing to cut
    list.AddTrackFile(source)->SetTimes(4.0, 7.0);

    TTestUser user = ScriptedUser();
    user.skipAnswers = {TSkipAnswer::Stop};
    const QString output = dir.filePath(u"b.wav"_s);
    const TBuildOutcome outcome = RunBuildJob(MedleyOptions(output), list, user);
    EXPECT_TRUE(outcome.ThreadError.isEmpty());
    EXPECT_TRUE(outcome.CancelMark);
    ASSERT_EQ(user.prompts.size(), 1);
    EXPECT_TRUE(user.prompts[0].startsWith(u"cut: 音源から切り出しできませんました: signal_8.wav"_s));
    EXPECT_EQ(user.Positions(), (std::vector<int>{0, 1}));

    // Track 1 whole (its fade-out is kept), then the tail.
    const QByteArray wav = ReadAll(output);
    EXPECT_EQ(wav.size(), kWavHeaderBytes + (kSecond / 2 + 2 * kSecond + kSecond * 3 / 10) * 4);
    const QString publish = dir.filePath(u"publish_261208_01/"_s);
    EXPECT_EQ(ReadAll(publish + u"b.json"_s).count("\"track\""), 1);
    EXPECT_EQ(ReadAll(publish + u"b.txt"_s).count("\r\n"), 1);
}

TEST(BuildJob, EveryTrackSkippedLeavesBlanksAndEmptySideOutputs)
{
    QTemporaryDir dir;
    TrackList list;
    list.AddTrackFile(NotAudio(dir))->SetTimes(0, 2);
    TTestUser user = ScriptedUser();
    user.skipAnswers = {TSkipAnswer::Skip};
    const QString output = dir.filePath(u"mix.final.wav"_s);
    EXPECT_FALSE(RunBuildJob(MedleyOptions(output), list, user).CancelMark);
    EXPECT_EQ(ReadAll(output).size(), kWavHeaderBytes + (kSecond / 2 + kSecond * 3 / 10) * 4);
    const QString publish = dir.filePath(u"publish_261208_01/"_s);
    EXPECT_EQ(ReadAll(publish + u"mix.final.txt"_s), QByteArray("\xEF\xBB\xBF"));
    EXPECT_EQ(ReadAll(publish + u"mix.final.json"_s), QByteArray("\xEF\xBB\xBF[\r\n]\r\n"));

    // With every side output off no publish folder is made.
    TBuildOptions quiet = MedleyOptions(dir.filePath(u"quiet.wav"_s));
    quiet.WriteBookmark = quiet.WriteJson = false;
    quiet.Today = QDate(2027, 1, 2);
    RunBuildJob(quiet, list, user);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(u"publish_270102_01"_s)));
}

TEST(BuildJob, ErrorsEndTheBuildWithTheirMessage)
{
    QTemporaryDir dir;
    TrackList list;
    list.AddTrackFile(SignalWav())->SetTimes(1, 2);
    TTestUser user = ScriptedUser();
    const QString output = dir.filePath(u"no folder/x.wav"_s);
    const TBuildOutcome outcome = RunBuildJob(MedleyOptions(output), list, user);
    EXPECT_TRUE(outcome.ThreadError.startsWith(u"ファイル \""_s + output + u"\" を作成できません。"_s))
        << outcome.ThreadError.toStdString();
    EXPECT_TRUE(user.reports.empty());   // ended before the first track
}

TEST(BuildJob, SingleModeWritesFadedTrackFilesAndAsksBeforeOverwriting)
{
    QTemporaryDir dir;
    const QString source = SignalWav();
    TrackList list;
    list.AddTrackFile(source)->SetTimes(1.0, 2.0);
    list.AddTrackFile(source)->SetTimes(2.0, 2.5);
    list.AddTrackFile(source)->SetTimes(3.0, 3.5);
    {
        QFile existing(dir.filePath(u"Track_02.wav"_s));
        ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
        existing.write("keep me");
    }
    TBuildOptions options = TestOptions(dir.path());
    options.Mode = cfmSingle;
    options.Medley = {0.1, TEnvelope::Linear, 1.0, 1.0, {}};

    TTestUser user = ScriptedUser();
    user.overwriteAnswers = {TOverwriteAnswer::Skip};
    TBuildOutcome outcome = RunBuildJob(options, list, user);
    EXPECT_FALSE(outcome.CancelMark);
    EXPECT_EQ(user.prompts, QStringList{u"overwrite: Track_02.wavは既に存在します。上書きしますか？"_s});
    EXPECT_EQ(user.Positions(), (std::vector<int>{0, 0, 1, 2}));
    EXPECT_EQ(ReadAll(dir.filePath(u"Track_02.wav"_s)), QByteArray("keep me"));
    const QByteArray first = ReadAll(dir.filePath(u"Track_01.wav"_s));
    ASSERT_EQ(first.size(), 529244);   // 1 s of audio between 1 s blanks
    EXPECT_EQ(ReadAll(dir.filePath(u"Track_03.wav"_s)).size(), kWavHeaderBytes + (2 * kSecond + kSecond / 2) * 4);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(u"publish_261208_01"_s)));

    // The track is faded in over 0.1 s: silent first frame, whole samples after the fade.
    const PcmBlock pcm = ReadWavPcm(dir.filePath(u"Track_01.wav"_s));
    SourceStream stream = OpenSourceStream(source);
    PcmBlock original;
    DecodeSegment(stream, original, 1.0, 2.0);
    EXPECT_EQ(pcm[static_cast<size_t>(2 * kSecond)], 0);
    EXPECT_EQ(FirstMismatch(pcm, kSecond + 5000, original, 5000, 30000), -1);

    // Cancel stops the build after track 1.
    user = ScriptedUser();
    user.overwriteAnswers = {TOverwriteAnswer::Stop};
    outcome = RunBuildJob(options, list, user);
    EXPECT_TRUE(outcome.CancelMark);
    EXPECT_EQ(user.Positions(), (std::vector<int>{0}));

    // An empty list writes nothing and completes.
    user = ScriptedUser();
    QTemporaryDir empty;
    options.OutputPath = empty.path();
    outcome = RunBuildJob(options, TrackList(), user);
    EXPECT_FALSE(outcome.CancelMark);
    EXPECT_TRUE(outcome.ThreadError.isEmpty());
    EXPECT_TRUE(QDir(empty.path()).isEmpty());
}

TEST(BuildJob, PublishFolderNamesAndManyTrackNumbers)
{
    QTemporaryDir dir;
    const QDate day(2026, 12, 8);
    EXPECT_EQ(NextFreeFolderName(dir.path(), day), dir.path() + u"/publish_261208_01"_s);
    for (int i = 1; i <= 99; ++i)
        QDir(dir.path()).mkdir(QString::asprintf("publish_261208_%02d", i));
    EXPECT_EQ(NextFreeFolderName(dir.path(), day), dir.path() + u"/publish_261208_100"_s);
    QFile file(dir.path() + u"/publish_261208_100"_s);   // a file of that name is no folder
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    EXPECT_EQ(NextFreeFolderName(dir.path(), day), dir.path() + u"/publish_261208_100"_s);
}

TEST(BuildCheck, LinesForEveryProblemInListOrder)
{
    QTemporaryDir dir;
    const QString path = SignalWav();
    TrackList list;
    list.AddTrackFile(path);                          // 1: neither time
    list.AddTrackFile(path)->SetTimes(10, 8);         // 2: reversed and short
    list.AddTrackFile(path)->SetTimes(-1, 5);         // 3: no in point
    list.AddTrackFile(path)->SetTimes(5, -1);         // 4: no out point
    list.AddTrackFile(path)->SetTimes(1, 4);          // 5: exactly half the crossfade
    list.AddTrackFile(path)->SetTimes(1, 4.01);       // 6: fine
    const QStringList lines = ValidateTracks(list, 6.0);
    EXPECT_EQ(lines, (QStringList{u"1番目のトラックの時間設定が未定義です"_s, u"2番目のトラックの時間設定が不正です"_s,
                                  u"2番目のトラックの時間設定が短すぎます"_s, u"3番目のトラックの開始時間が未設定です"_s,
                                  u"4番目のトラックの終了時間が未設定です"_s, u"5番目のトラックの時間設定が短すぎます"_s}));
    EXPECT_EQ(ValidationMessage(lines.mid(0, 2)),
              u"◇問題が見つかりました。修正して再試行してください。\r\n\r\n1番目のトラックの時間設定が未定義です\r\n"
              u"2番目のトラックの時間設定が不正です\r\n"_s);

    // A crossfade that is no whole number: only practically equal times are too short.
    TrackList other;
    other.AddTrackFile(path)->SetTimes(2, 2.5);
    other.AddTrackFile(path)->SetTimes(3, 3);
    other.AddTrackFile(path)->SetTimes(1e6, 1e6 + 1e-9);
    EXPECT_EQ(ValidateTracks(other, 6.5), QStringList{u"2番目のトラックの時間設定が短すぎます"_s});
    EXPECT_EQ(ValidateTracks(other, 1.000001), QStringList{u"2番目のトラックの時間設定が短すぎます"_s});
    // A whole one: half of it.
    EXPECT_EQ(ValidateTracks(other, 1.0), (QStringList{u"1番目のトラックの時間設定が短すぎます"_s,
                                                       u"2番目のトラックの時間設定が短すぎます"_s,
                                                       u"3番目のトラックの時間設定が短すぎます"_s}));
    EXPECT_EQ(NoTracksMessage(), u"1つ以上のトラックが必要です。");
}

namespace {

QString Probe(const QString& path, const QString& entry)
{
    QProcess probe;
    probe.start(u"ffprobe"_s, {u"-v"_s, u"error"_s, u"-show_entries"_s, entry, u"-of"_s,
                               u"default=noprint_wrappers=1:nokey=1"_s, path});
    probe.waitForFinished(30000);
    return QString::fromUtf8(probe.readAllStandardOutput()).trimmed();
}

} // namespace

TEST(BuildJob, MedleyWithTheSoundSheetLeavesACompressedCopyAndThePage)
{
    QTemporaryDir dir;
    TrackList list;
    list.AddTrackFile(SignalWav())->SetTimes(1.0, 4.0);
    list.AddTrackFile(SignalWav())->SetTimes(4.0, 7.0);
    TBuildOptions options = MedleyOptions(dir.filePath(u"My \"mix\".wav"_s));
    options.WriteJson = false;   // the sound sheet writes the track map anyway
    options.WriteHtml = true;    // and, with no encoder chosen, encodes with the default
    TTestUser user = ScriptedUser();
    const TBuildOutcome outcome = RunBuildJob(options, list, user);
    ASSERT_TRUE(outcome.ThreadError.isEmpty()) << outcome.ThreadError.toStdString();
    EXPECT_EQ(user.reports[1], u"encoding on");
    EXPECT_EQ(user.reports.back(), u"encoding off");

    const QString publish = dir.filePath(u"publish_261208_01/"_s);
    const QString copy = publish + u"My \"mix\".m4a"_s;
    SourceStream stream = OpenSourceStream(copy);
    ASSERT_TRUE(stream) << "no playable copy";
    EXPECT_NEAR(stream.Duration(), 0.5 + 5 + 0.3, 0.1);
    EXPECT_EQ(Probe(copy, u"format_tags=title"_s), u"My \"mix\"");
    EXPECT_TRUE(QFileInfo::exists(publish + u"My \"mix\".json"_s));
    const QString page = QString::fromUtf8(ReadAll(publish + u"soundsheet.html"_s));
    EXPECT_TRUE(page.contains(u"id=\"snd01\" data-file=\"My &quot;mix&quot;.m4a\" data-json=\"My &quot;mix&quot;.json\" "
                              u"data-offset=\"1\""_s)) << page.toStdString();
    EXPECT_TRUE(QFileInfo::exists(publish + u"soundsheet.css"_s));
    EXPECT_TRUE(QFileInfo::exists(publish + u"playing.png"_s));
}

TEST(BuildJob, SingleModeEncodesEveryTrackWithItsTitleAsOneArgument)
{
    QTemporaryDir dir;
    const QString hostile = dir.filePath(u"it's \"x\" <script>alert(1)</script> $(touch pwned) back\\slash\nline.wav"_s)
                                .replace(u"</script>"_s, u"<\\script>"_s);
    ASSERT_TRUE(QFile::copy(SignalWav(), hostile));
    TrackList list;
    list.AddTrackFile(hostile)->SetTimes(1.0, 2.0);
    list.AddTrackFile(SignalWav())->SetTimes(2.0, 3.5);
    QDir().mkpath(dir.filePath(u"out"_s));
    TBuildOptions options = MedleyOptions(dir.filePath(u"out"_s));
    options.Mode = cfmSingle;
    options.WriteHtml = true;
    options.EncoderTag = 1;   // mp3.sh
    options.Quality = u"LO"_s;
    TTestUser user = ScriptedUser();
    const TBuildOutcome outcome = RunBuildJob(options, list, user);
    ASSERT_TRUE(outcome.ThreadError.isEmpty()) << outcome.ThreadError.toStdString();

    const QString publish = dir.filePath(u"out/publish_261208_01/"_s);
    for (const char* name : {"Track_01.mp3", "Track_02.mp3"})
        EXPECT_TRUE(OpenSourceStream(publish + QString::fromLatin1(name))) << name;
    const QString title = TrackTitle(hostile);
    EXPECT_EQ(Probe(publish + u"Track_01.mp3"_s, u"format_tags=title"_s), QString(title).replace(u'\n', u' '));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(u"pwned"_s)));
    EXPECT_FALSE(QFileInfo::exists(u"pwned"_s));

    const QString page = QString::fromUtf8(ReadAll(publish + u"soundsheet.html"_s));
    EXPECT_TRUE(page.contains(u"id=\"snd02\" data-file=\"Track_02.mp3\""_s));
    EXPECT_FALSE(page.contains(u"<script>alert"_s));
    EXPECT_TRUE(page.contains(u"&lt;script&gt;alert(1)&lt;\\script&gt;"_s));
    EXPECT_EQ(page.count(u"<script>"_s), 1);   // the page's own
}

TEST(BuildJob, TemplateAndDefinitionProblemsEndTheBuild)
{
    QTemporaryDir dir;
    TrackList list;
    list.AddTrackFile(SignalWav())->SetTimes(1, 2);
    TBuildOptions options = MedleyOptions(dir.filePath(u"x.wav"_s));
    options.TemplateDir = dir.filePath(u"gone/"_s);
    TTestUser user = ScriptedUser();
    TBuildOutcome outcome = RunBuildJob(options, list, user);
    EXPECT_TRUE(outcome.ThreadError.contains(u"header.html は開けません。"_s)) << outcome.ThreadError.toStdString();
    EXPECT_TRUE(user.reports.empty());

    options = MedleyOptions(dir.filePath(u"y.wav"_s));
    options.EncoderTag = 17;
    outcome = RunBuildJob(options, list, user);
    EXPECT_EQ(outcome.ThreadError, u"リストのインデックスが範囲を超えています (17)");
}

namespace {

// The files a folder holds, temporary ones included.
QStringList FilesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

} // namespace

// A build that fails leaves the file it would have replaced byte for byte as
// it was, and no half-written file; a complete one (a stop included) replaces it.
TEST(BuildJob, OutputsReplaceTheirFileOnlyWhenComplete)
{
    QTemporaryDir dir;
    const QString output = dir.filePath(u"medley.wav"_s);
    {
        QFile old(output);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("the old medley, to be kept");
    }
    const QByteArray before = ReadAll(output);
    const QString source = SignalWav();

    // An error at a later track (a segment of one frame cannot be faded).
    TrackList failing;
    failing.AddTrackFile(source)->SetTimes(1.0, 3.0);
    failing.AddTrackFile(source)->SetTimes(4.0, 4.0 + 1.5 / kPcmRate);
    TTestUser user = ScriptedUser();
    TBuildOptions quiet = MedleyOptions(output);
    quiet.WriteBookmark = quiet.WriteJson = false;
    TBuildOutcome outcome = RunBuildJob(quiet, failing, user);
    EXPECT_FALSE(outcome.ThreadError.isEmpty());
    EXPECT_EQ(ReadAll(output), before);
    EXPECT_EQ(FilesIn(dir.path()), QStringList{u"medley.wav"_s});

    // A stop at a prompt: the medley of the tracks done is complete and takes the name.
    TrackList stopped;
    stopped.AddTrackFile(source)->SetTimes(1.0, 3.0);
    stopped.AddTrackFile(NotAudio(dir));
    user.skipAnswers = {TSkipAnswer::Stop};
    outcome = RunBuildJob(quiet, stopped, user);
    EXPECT_TRUE(outcome.CancelMark);
    const QByteArray wav = ReadAll(output);
    ASSERT_EQ(wav.size(), kWavHeaderBytes + (kSecond / 2 + 2 * kSecond + kSecond * 3 / 10) * 4);
    quint32 dataSize = 0;
    std::memcpy(&dataSize, wav.constData() + 40, 4);
    EXPECT_EQ(dataSize, static_cast<quint32>(wav.size() - kWavHeaderBytes));

    // A full disk, where a small file system can be mounted here.
    QTemporaryDir mountPoint;
    QProcess mount;
    mount.start(u"mount"_s, {u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=400k"_s, u"tmpfs"_s, mountPoint.path()});
    if (mount.waitForFinished(10000) && mount.exitStatus() == QProcess::NormalExit && mount.exitCode() == 0) {
        const QString small = mountPoint.filePath(u"small.wav"_s);
        {
            QFile old(small);
            ASSERT_TRUE(old.open(QIODevice::WriteOnly));
            old.write(before);
        }
        TrackList big;
        big.AddTrackFile(source)->SetTimes(0.0, 7.0);   // 1.2 MB of PCM
        TBuildOptions onSmall = quiet;
        onSmall.OutputPath = small;
        outcome = RunBuildJob(onSmall, big, user);
        EXPECT_TRUE(outcome.ThreadError.contains(u"small.wav"_s)) << outcome.ThreadError.toStdString();
        EXPECT_EQ(ReadAll(small), before);
        EXPECT_EQ(FilesIn(mountPoint.path()), QStringList{u"small.wav"_s});
        QProcess::execute(u"umount"_s, {mountPoint.path()});
    }
}

// Outputs that would replace an input, or that are no file, are refused
// before anything is written.
TEST(BuildJob, OutputsThatAreInputsOrNoFileAreRefused)
{
    QTemporaryDir dir;
    const QString source = dir.filePath(u"source.wav"_s);
    QFile::copy(SignalWav(), source);
    const QByteArray original = ReadAll(source);
    const QString project = dir.filePath(u"set.mlkd"_s);
    {
        QFile file(project);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("project");
    }
    const QString fifo = dir.filePath(u"pipe.wav"_s);
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QDir().mkpath(dir.filePath(u"folder.wav"_s));

    TrackList list;
    list.AddTrackFile(source)->SetTimes(1.0, 6.0);
    TTestUser user = ScriptedUser();
    const QString linked = dir.filePath(u"link.wav"_s);
    QFile::link(source, linked);
    for (const auto& [output, expected] :
         {std::pair{source, u"トラック 1 の音源です"_s}, std::pair{dir.filePath(u"./sub/../source.wav"_s), u"トラック 1 の音源です"_s},
          std::pair{linked, u"トラック 1 の音源です"_s}, std::pair{project, u"プロジェクトファイルです"_s},
          std::pair{fifo, u"通常のファイルではない"_s}, std::pair{dir.filePath(u"folder.wav"_s), u"通常のファイルではない"_s}}) {
        QDir().mkpath(dir.filePath(u"sub"_s));
        TBuildOptions options = MedleyOptions(output);
        options.ProtectedPaths = {project};
        const TBuildOutcome outcome = RunBuildJob(options, list, user);
        EXPECT_TRUE(outcome.ThreadError.contains(expected)) << outcome.ThreadError.toStdString();
        EXPECT_TRUE(user.reports.empty());
    }
    EXPECT_EQ(ReadAll(source), original);
    EXPECT_EQ(ReadAll(project), QByteArray("project"));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(u"publish_261208_01"_s)));
    EXPECT_EQ(FilesIn(dir.path()), (QStringList{u"link.wav"_s, u"pipe.wav"_s, u"set.mlkd"_s, u"source.wav"_s}));

    // Single mode: a track file that would be a source is refused as well.
    TrackList named;
    const QString trackFile = dir.filePath(u"Track_01.wav"_s);
    QFile::copy(SignalWav(), trackFile);
    named.AddTrackFile(trackFile)->SetTimes(1.0, 2.0);
    TBuildOptions single = MedleyOptions(dir.path());
    single.Mode = cfmSingle;
    EXPECT_TRUE(RunBuildJob(single, named, user).ThreadError.contains(u"トラック 1 の音源です"_s));
    EXPECT_EQ(ReadAll(trackFile), ReadAll(SignalWav()));
}

// A publish folder that cannot be made ends the build before any audio.
TEST(BuildJob, APublishFolderThatCannotBeMadeEndsTheBuildFirst)
{
    QTemporaryDir dir;
    const QString output = dir.filePath(u"m.wav"_s);
    // A file where the publish folder would go.
    {
        QFile blocker(dir.filePath(u"publish_261208_01"_s));
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    TBuildOptions options = MedleyOptions(output);
    TrackList list;
    list.AddTrackFile(SignalWav())->SetTimes(1.0, 2.0);
    TTestUser user = ScriptedUser();
    const TBuildOutcome outcome = RunBuildJob(options, list, user);
    EXPECT_TRUE(outcome.ThreadError.startsWith(u"フォルダー \""_s + dir.filePath(u"publish_261208_01"_s)
                                               + u"\" を作成できません。"_s))
        << outcome.ThreadError.toStdString();
    EXPECT_FALSE(QFileInfo::exists(output));
    EXPECT_EQ(FilesIn(dir.path()), QStringList{u"publish_261208_01"_s});
}
