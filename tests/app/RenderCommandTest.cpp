// medlark-render run as a user runs it, on files made here.

#include "build/BuildJob.h"
#include "model/ProjectFile.h"
#include "model/TrackList.h"
#include "outputs/TrackMarks.h"
#include "render/Loudness.h"
#include "render/PcmBlock.h"
#include "render/TruePeakLimiter.h"
#include "render/WavOutput.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringEncoder>
#include <QTemporaryDir>

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace medlark;
using medlark::test::ReadAll;
using namespace Qt::StringLiterals;

namespace {

struct Result {
    int exitCode = -1;
    QString out;
    QString err;
};

class RenderCommand : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        tone_ = WriteTone(u"tone.wav"_s, 6.0);
        settings_ = Path(u"config.ini"_s);
        WriteSettings(u"[General]\r\nCrossDuration=1\r\nBlankDurationHead=0.5\r\nBlankDurationTail=0.5\r\n"
                      u"WriteDetailText=1\r\nWriteJsonFile=1\r\n"_s);
    }

    QString Path(const QString& name) const { return dir_.filePath(name); }

    QString WriteTone(const QString& name, double seconds) const
    {
        const auto frames = static_cast<std::int64_t>(seconds * kPcmRate);
        PcmBlock pcm(static_cast<size_t>(frames) * 2);
        for (std::int64_t i = 0; i < frames; ++i)
            pcm[static_cast<size_t>(2 * i)] = pcm[static_cast<size_t>(2 * i + 1)] =
                static_cast<std::int16_t>(8000 * std::sin(static_cast<double>(i) * 0.05));
        OutputFile file = CreateOutputFile(Path(name));
        WriteHeader(file);
        file.Write(pcm.data(), ByteCount(pcm));
        FinishWav(file);
        return Path(name);
    }

    void WriteSettings(const QString& text) const
    {
        QFile file(settings_);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("\xFF\xFE" + QStringEncoder(QStringEncoder::Utf16LE).encode(text));
    }

    QString Project(const std::vector<std::tuple<QString, double, double>>& tracks) const
    {
        TrackList list;
        for (const auto& [path, in, out] : tracks) {
            TrackEntry* entry = list.AddTrackFile(path);
            EXPECT_NE(entry, nullptr);
            entry->SetTimes(in, out);
        }
        const QString project = Path(u"set.mlkd"_s);
        SaveProject(list, project);
        return project;
    }

    Result Run(QStringList args, const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) const
    {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(dir_.path());
        process.setStandardInputFile(QProcess::nullDevice());
        args.prepend(settings_);
        args.prepend(u"--settings"_s);
        process.start(QStringLiteral(MEDLARK_RENDER_EXE), args);
        EXPECT_TRUE(process.waitForFinished(120000));
        return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

    static qint64 Size(const QString& path) { return QFileInfo(path).size(); }

    static TLoudness MeasureWav(const QString& path)
    {
        const QByteArray bytes = ReadAll(path).mid(kWavHeaderBytes);
        TLoudnessMeter meter;
        meter.Add(reinterpret_cast<const std::int16_t*>(bytes.constData()), bytes.size() / kPcmFrameBytes);
        return meter.Result();
    }

    // The line that reports a medley's loudness.
    static QString ReportOf(const QString& path)
    {
        const QByteArray bytes = ReadAll(path).mid(kWavHeaderBytes);
        TTruePeakMeter peak;   // the medley's true peak as the build reads it
        peak.Add(reinterpret_cast<const std::int16_t*>(bytes.constData()), bytes.size() / kPcmFrameBytes);
        TBuildOutcome outcome;
        outcome.MedleyLoudness = TLoudness{MeasureWav(path).Integrated, peak.TruePeak()};
        return MedleyLoudnessText(outcome) + u"\n"_s;
    }

    QTemporaryDir dir_;
    QString tone_;
    QString settings_;
};

} // namespace

TEST_F(RenderCommand, BuildsAMedleyWithItsSideOutputs)
{
    const QString project = Project({{tone_, 1.0, 3.0}, {tone_, 2.0, 5.0}});
    const Result r = Run({project, u"mix.wav"_s});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, u"完了しました。\n");   // without matching, nothing is measured
    // 0.5 + 2 + 3 - 1 + 0.5 seconds.
    EXPECT_EQ(Size(Path(u"mix.wav"_s)), kWavHeaderBytes + 5 * kPcmBytesPerSecond);
    const QStringList publish = QDir(dir_.path()).entryList({u"publish_*"_s}, QDir::Dirs);
    ASSERT_EQ(publish.size(), 1);
    EXPECT_TRUE(QFileInfo::exists(Path(publish[0] + u"/mix.txt"_s)));
    EXPECT_TRUE(QFileInfo::exists(Path(publish[0] + u"/mix.json"_s)));

    // Flags override the settings file.
    const Result plain = Run({u"--no-json"_s, u"--no-bookmark"_s, u"--crossfade"_s, u"0.5"_s, u"--head"_s, u"0"_s,
                              u"--tail"_s, u"0"_s, u"--envelope"_s, u"sine"_s, project, u"plain.wav"_s});
    EXPECT_EQ(plain.exitCode, 0) << plain.err.toStdString();
    EXPECT_EQ(Size(Path(u"plain.wav"_s)), kWavHeaderBytes + kPcmBytesPerSecond * 9 / 2);
    EXPECT_EQ(QDir(dir_.path()).entryList({u"publish_*"_s}, QDir::Dirs).size(), 1);
}

// Audio needs no display: with a platform that does not exist, a build without
// the video (copies and sound sheet included) runs as usual and looks for no
// display platform at all (Qt's plugin loader says what it loads); the video's
// pictures are drawn offscreen whatever the environment says.
TEST_F(RenderCommand, BuildsWithoutADisplayPlatform)
{
    const QString project = Project({{tone_, 1.0, 3.0}, {tone_, 2.0, 5.0}});
    QProcessEnvironment nowhere = QProcessEnvironment::systemEnvironment();
    nowhere.insert(u"QT_QPA_PLATFORM"_s, u"medlark-no-such-platform"_s);
    nowhere.insert(u"QT_DEBUG_PLUGINS"_s, u"1"_s);
    const QString platformPlugins = u"QPlatformIntegrationFactoryInterface"_s;
    const Result audio = Run({u"--encoder"_s, u"mp3.sh"_s, u"--html"_s, project, u"mix.wav"_s}, nowhere);
    EXPECT_EQ(audio.exitCode, 0) << audio.err.toStdString();
    EXPECT_EQ(audio.out, u"完了しました。\n");
    EXPECT_FALSE(audio.err.contains(platformPlugins)) << "a display platform was loaded for audio";
    EXPECT_EQ(Size(Path(u"mix.wav"_s)), kWavHeaderBytes + 5 * kPcmBytesPerSecond);
    const QStringList publish = QDir(dir_.path()).entryList({u"publish_*"_s}, QDir::Dirs);
    ASSERT_EQ(publish.size(), 1);
    EXPECT_GT(Size(Path(publish[0] + u"/mix.mp3"_s)), 10000);

    const Result video = Run({u"--video"_s, u"--no-bookmark"_s, u"--no-json"_s, project, u"film.wav"_s}, nowhere);
    EXPECT_EQ(video.exitCode, 0) << video.err.toStdString();
    const QStringList both = QDir(dir_.path()).entryList({u"publish_*"_s}, QDir::Dirs);
    ASSERT_EQ(both.size(), 2);
    EXPECT_GT(Size(Path(both[1] + u"/film.mp4"_s)), 1000);
    EXPECT_TRUE(video.err.contains(platformPlugins));   // the pictures' text needs one
}

TEST_F(RenderCommand, EncodesAndPublishesTheSoundSheet)
{
    const QString project = Project({{tone_, 1.0, 3.0}, {tone_, 2.0, 5.0}});
    const Result r = Run({u"--encoder"_s, u"mp3.sh"_s, u"--quality"_s, u"lo"_s, u"--html"_s, project, u"mix.wav"_s});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList publish = QDir(dir_.path()).entryList({u"publish_*"_s}, QDir::Dirs);
    ASSERT_EQ(publish.size(), 1);
    const QString folder = Path(publish[0]) + u'/';
    EXPECT_GT(Size(folder + u"mix.mp3"_s), 10000);
    EXPECT_GT(Size(folder + u"soundsheet.html"_s), 1000);
    EXPECT_TRUE(QFileInfo::exists(folder + u"mix.json"_s));

    // The settings file's compression caption is the default; "none" turns it off.
    WriteSettings(u"[General]\r\nCrossDuration=1\r\nWriteDetailText=0\r\nCompression=Ogg Vorbis (.ogg)\r\n"_s);
    EXPECT_EQ(Run({project, u"second.wav"_s}).exitCode, 0);
    EXPECT_EQ(QDir(dir_.path()).entryList({u"publish_*"_s}, QDir::Dirs).size(), 2);
    const QString second = Path(QDir(dir_.path()).entryList({u"publish_*"_s}, QDir::Dirs).last()) + u'/';
    EXPECT_GT(Size(second + u"second.ogg"_s), 10000);
    EXPECT_EQ(Run({u"--encoder"_s, u"none"_s, project, u"third.wav"_s}).exitCode, 0);
    EXPECT_EQ(QDir(dir_.path()).entryList({u"publish_*"_s}, QDir::Dirs).size(), 2);   // nothing to publish
}

TEST_F(RenderCommand, VideoAndChaptersFlags)
{
    const QString project = Project({{tone_, 0.0, 3.0}, {tone_, 1.0, 4.0}});
    // The chapters text alone; two chapters of under 10 s break the video sites' rules.
    const Result r = Run({u"--chapters"_s, u"--no-bookmark"_s, u"--no-json"_s, project, u"mix.wav"_s});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(u"チャプターが 2 つしかありません"_s)) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(u"QStandardPaths"_s)) << r.err.toStdString();
    const QStringList publish = QDir(dir_.path()).entryList({u"publish_*"_s}, QDir::Dirs);
    ASSERT_EQ(publish.size(), 1);
    EXPECT_EQ(QDir(Path(publish[0])).entryList(QDir::Files), QStringList{u"mix.chapters.txt"_s});
    // 0.5 + 3 - 1 + 0.5: the second track's chapter in the middle of the crossfade.
    EXPECT_EQ(ReadAll(Path(publish[0] + u"/mix.chapters.txt"_s)), "\xEF\xBB\xBF" "0:00 tone\r\n0:03 tone\r\n");

    // The video, with a cover.
    QImage cover(40, 30, QImage::Format_RGB32);
    cover.fill(Qt::red);
    ASSERT_TRUE(cover.save(Path(u"cover.jpg"_s)));
    const Result video = Run({u"--video"_s, u"--cover"_s, u"cover.jpg"_s, project, u"film.wav"_s});
    EXPECT_EQ(video.exitCode, 0) << video.err.toStdString();
    const QString second = Path(QDir(dir_.path()).entryList({u"publish_*"_s}, QDir::Dirs).last()) + u'/';
    EXPECT_GT(Size(second + u"film.mp4"_s), 1000);
    EXPECT_TRUE(QFileInfo::exists(second + u"film.chapters.txt"_s));

    EXPECT_EQ(Run({u"--video"_s, u"--no-video"_s, project, u"x.wav"_s}).exitCode, 2);
    EXPECT_EQ(Run({u"--video"_s, u"--cover"_s, u"missing.png"_s, project, u"x.wav"_s}).exitCode, 1);
    EXPECT_FALSE(QFileInfo::exists(Path(u"x.wav"_s)));
}

TEST_F(RenderCommand, ProblemsAreAnsweredByFlagOrStopTheBuild)
{
    QFile broken(Path(u"broken.mp3"_s));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("no audio here");
    broken.close();
    const QString project = Project({{tone_, 1.0, 3.0}, {broken.fileName(), 0, 2}, {tone_, 2.0, 4.0}});

    const Result stopped = Run({project, u"stopped.wav"_s});   // no terminal, no flag: stop
    EXPECT_EQ(stopped.exitCode, 3);
    EXPECT_EQ(stopped.out, u"途中終了しました。\n");
    EXPECT_TRUE(stopped.err.contains(u"対応していない形式です: broken.mp3\nこのトラックを飛ばして続けますか？"_s))
        << stopped.err.toStdString();
    EXPECT_EQ(Size(Path(u"stopped.wav"_s)), kWavHeaderBytes + 3 * kPcmBytesPerSecond);

    const Result skipped = Run({u"--on-problem"_s, u"skip"_s, project, u"skipped.wav"_s});
    EXPECT_EQ(skipped.exitCode, 0);
    EXPECT_EQ(Size(Path(u"skipped.wav"_s)), kWavHeaderBytes + 4 * kPcmBytesPerSecond);
}

TEST_F(RenderCommand, SingleModeAsksBeforeOverwriting)
{
    const QString project = Project({{tone_, 1.0, 2.0}, {tone_, 3.0, 4.5}});
    const QString out = Path(u"tracks"_s);
    Result r = Run({u"--single"_s, project, out});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(Size(out + u"/Track_01.wav"_s), kWavHeaderBytes + 2 * kPcmBytesPerSecond);
    EXPECT_EQ(Size(out + u"/Track_02.wav"_s), kWavHeaderBytes + kPcmBytesPerSecond * 5 / 2);

    QFile::resize(out + u"/Track_01.wav"_s, 100);
    r = Run({u"--single"_s, u"--overwrite"_s, u"no"_s, project, out});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(Size(out + u"/Track_01.wav"_s), 100);
    r = Run({u"--single"_s, project, out});   // nobody to ask: cancel
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(Size(out + u"/Track_01.wav"_s), 100);
    r = Run({u"--single"_s, u"--overwrite"_s, u"yes"_s, project, out});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(Size(out + u"/Track_01.wav"_s), kWavHeaderBytes + 2 * kPcmBytesPerSecond);

    // The settings file's mode is the default.
    WriteSettings(u"[General]\r\nCrossTypeB=1\r\nCrossDuration=1\r\nBlankDurationHead=0\r\nBlankDurationTail=0\r\n"_s);
    r = Run({u"--overwrite"_s, u"yes"_s, project, out});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(Size(out + u"/Track_02.wav"_s), kWavHeaderBytes + kPcmBytesPerSecond * 3 / 2);
}

TEST_F(RenderCommand, ChecksErrorsAndUsage)
{
    const QString bad = Project({{tone_, -1, -1}, {tone_, 3, 2}});
    Result r = Run({bad, u"x.wav"_s});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, u"◇問題が見つかりました。修正して再試行してください。\n\n1番目のトラックの時間設定が未定義です\n"
                     u"2番目のトラックの時間設定が不正です\n"_s);
    EXPECT_FALSE(QFileInfo::exists(Path(u"x.wav"_s)));

    const QString empty = Project({});
    r = Run({empty, u"x.wav"_s});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, u"1つ以上のトラックが必要です。\n");
    EXPECT_EQ(Run({u"--single"_s, empty, Path(u"none"_s)}).exitCode, 0);   // single mode goes on with none

    const QString good = Project({{tone_, 1.0, 3.0}});
    r = Run({good, Path(u"missing/folder/x.wav"_s)});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(u"を作成できません。"_s)) << r.err.toStdString();
    EXPECT_EQ(Run({Path(u"nothing.mlkd"_s), u"x.wav"_s}).exitCode, 1);

    for (const QStringList& args : {QStringList{good}, QStringList{u"--bogus"_s, good, u"x.wav"_s},
                                    QStringList{u"--crossfade"_s, u"0"_s, good, u"x.wav"_s},
                                    QStringList{u"--head"_s, u"abc"_s, good, u"x.wav"_s},
                                    QStringList{u"--envelope"_s, u"square"_s, good, u"x.wav"_s},
                                    QStringList{u"--on-problem"_s, u"maybe"_s, good, u"x.wav"_s},
                                    QStringList{u"--json"_s, u"--no-json"_s, good, u"x.wav"_s},
                                    QStringList{u"--encoder"_s, u"flac.exe"_s, good, u"x.wav"_s},
                                    QStringList{u"--quality"_s, u"ULTRA"_s, good, u"x.wav"_s},
                                    QStringList{u"--loudness=-50"_s, good, u"x.wav"_s},
                                    QStringList{u"--loudness=loud"_s, good, u"x.wav"_s},
                                    QStringList{u"--loudness=-14"_s, u"--no-loudness"_s, good, u"x.wav"_s},
                                    QStringList{u"--true-peak=0.5"_s, good, u"x.wav"_s}}) {
        r = Run(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(u' ').toStdString();
        EXPECT_TRUE(r.err.contains(u"--help"_s));
    }
    r = Run({u"--help"_s});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains(u"--on-problem"_s));
    r = Run({u"--version"_s});
    EXPECT_EQ(r.out, u"medlark-render 1.071\n");
}

// Loudness matching from the command line: the quiet and the loud tone come
// out equally loud, at the target, under the ceiling.
TEST_F(RenderCommand, MatchesLoudnessWhenAsked)
{
    const QString quiet = Path(u"quiet.wav"_s);
    {
        // The same tone 20 dB lower.
        PcmBlock pcm(static_cast<size_t>(6 * kPcmRate) * 2);
        for (std::int64_t i = 0; i < 6 * kPcmRate; ++i)
            pcm[static_cast<size_t>(2 * i)] = pcm[static_cast<size_t>(2 * i + 1)] =
                static_cast<std::int16_t>(800 * std::sin(static_cast<double>(i) * 0.05));
        OutputFile file = CreateOutputFile(quiet);
        WriteHeader(file);
        file.Write(pcm.data(), ByteCount(pcm));
        FinishWav(file);
    }
    const QString project = Project({{tone_, 0.0, 5.0}, {quiet, 0.0, 5.0}});
    Result r = Run({u"--loudness=-16"_s, u"--true-peak=-2"_s, project, u"loud.wav"_s});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    // The report names the medley's loudness as measured on what was written.
    EXPECT_EQ(r.out, u"完了しました。\n"_s + ReportOf(Path(u"loud.wav"_s)));
    const TLoudness matched = MeasureWav(Path(u"loud.wav"_s));
    EXPECT_NEAR(matched.Integrated, -16.0, 1.0);   // the joined sines beat in the crossfade
    EXPECT_LE(matched.TruePeak, -2.0);
    // Each segment's gain in the track map: the target less its own loudness.
    const QString json = QString::fromUtf8(ReadAll(Path(QDir(dir_.path()).entryList({u"publish_*"_s}, QDir::Dirs).first()
                                                        + u"/loud.json"_s)));
    for (const QString& path : {tone_, quiet}) {
        const std::optional<TLoudness> own = MeasureSegment(path, 0.0, 5.0);
        ASSERT_TRUE(own);
        EXPECT_TRUE(json.contains(u"\"gain\":\""_s + FormatTwoDecimals(-16.0 - own->Integrated) + u"\""_s))
            << json.toStdString();
    }
    // --no-loudness turns off what the settings file turned on.
    WriteSettings(u"[General]\r\nCrossDuration=1\r\nMatchLoudness=1\r\n"_s);
    r = Run({u"--no-loudness"_s, project, u"plain.wav"_s});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    WriteSettings(u"[General]\r\nCrossDuration=1\r\n"_s);
    r = Run({project, u"never.wav"_s});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(ReadAll(Path(u"plain.wav"_s)), ReadAll(Path(u"never.wav"_s)));
    EXPECT_NE(ReadAll(Path(u"plain.wav"_s)).mid(kWavHeaderBytes), ReadAll(Path(u"loud.wav"_s)).mid(kWavHeaderBytes));
}

// The audio is done but a copy failed: said on the error output, exit 4; the
// sound sheet is still published and the message names what it lacks.
TEST_F(RenderCommand, FailedCopiesAreReportedWithTheirOwnStatus)
{
    QDir().mkpath(Path(u"addon"_s));
    {
        QFile inf(Path(u"addon/encoder.inf"_s));
        ASSERT_TRUE(inf.open(QIODevice::WriteOnly));
        inf.write("[ENCODERS]\nbroken.sh=Broken (.m4a)\n[EXTENSION]\nbroken.sh=.m4a\n"
                  "[PARAMETER-MD]\nbroken.sh=<INPUT> <OUTPUT>\n");
        QFile script(Path(u"addon/broken.sh"_s));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\necho 'cannot encode this' >&2\nexit 1\n");
        script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    }
    const QString project = Project({{tone_, 1.0, 3.0}});
    const Result r = Run({u"--encoder"_s, u"broken.sh"_s, u"--html"_s, project, u"mix.wav"_s});
    EXPECT_EQ(r.exitCode, 4) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(u"完了しました。"_s));
    EXPECT_TRUE(r.err.contains(u"次の圧縮ファイルを作成できませんでした"_s)) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(u"mix.m4a: エンコーダーが終了コード 1 で終了しました。"_s)) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(u"cannot encode this"_s));
    EXPECT_TRUE(r.err.contains(u"サウンドシートは書き出しました"_s));
    EXPECT_GT(Size(Path(u"mix.wav"_s)), 100000);
    const QStringList publish = QDir(dir_.path()).entryList({u"publish_*"_s}, QDir::Dirs);
    ASSERT_EQ(publish.size(), 1);
    EXPECT_TRUE(QFileInfo::exists(Path(publish[0]) + u"/soundsheet.html"_s));
    EXPECT_TRUE(Run({u"--help"_s}).out.contains(u"4 the audio is done but some compressed copies failed"_s));
}

// Nothing that the build reads is ever written over.
TEST_F(RenderCommand, OutputsThatAreInputsAreRefused)
{
    const QString project = Project({{tone_, 1.0, 3.0}});
    const QByteArray projectBytes = ReadAll(project);
    const QByteArray toneBytes = ReadAll(tone_);
    Result r = Run({project, project});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(u"プロジェクトファイルです"_s)) << r.err.toStdString();
    r = Run({project, tone_});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(u"トラック 1 の音源です"_s)) << r.err.toStdString();
    EXPECT_EQ(ReadAll(project), projectBytes);
    EXPECT_EQ(ReadAll(tone_), toneBytes);
    EXPECT_TRUE(QDir(dir_.path()).entryList({u"publish_*"_s}, QDir::Dirs).isEmpty());
}
