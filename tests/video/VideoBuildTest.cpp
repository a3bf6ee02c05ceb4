// The medley video, its chapters and the chapters inside the compressed copies,
// made by real builds and read back with ffprobe and ffmpeg.

#include "build/BuildJob.h"
#include "encode/EncoderDefinitions.h"
#include "model/TimeText.h"
#include "model/TrackList.h"
#include "outputs/Chapters.h"
#include "render/PcmBlock.h"
#include "render/WavOutput.h"
#include "video/VideoPainter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include "Fixtures.h"
#include "TestFiles.h"
#include "build/TestBuild.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace medlark;
using namespace medlark::test;
using namespace Qt::StringLiterals;

namespace {

// Answers every prompt with a stop; with a work-folder parent, stops the
// build once ffmpeg has begun writing the video's pictures in a work folder there.
TTestUser QuietUser(const QString& temp = {})
{
    TTestUser user(TSkipAnswer::Stop, TOverwriteAnswer::Stop);
    if (!temp.isEmpty())
        user.stop = [temp] {
            for (const QString& work : QDir(temp).entryList({u"medlark-video-*"_s}, QDir::Dirs))
                if (QFileInfo(temp + u'/' + work + u"/pictures.mp4"_s).size() > 0)
                    return true;
            return false;
        };
    return user;
}

QByteArray Run(const QString& program, const QStringList& args)
{
    QProcess process;
    process.start(program, args);
    EXPECT_TRUE(process.waitForFinished(300000)) << program.toStdString();
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    return process.readAllStandardOutput();
}

QJsonObject Probe(const QString& path, const QStringList& what)
{
    return QJsonDocument::fromJson(Run(u"ffprobe"_s, QStringList{u"-v"_s, u"error"_s, u"-of"_s, u"json"_s} + what
                                                        + QStringList{u"file:"_s + path}))
        .object();
}

// The video's frame at `seconds` (or, with a frame number, that frame), as an image.
QImage FrameAt(const QString& video, double seconds, int frame = -1)
{
    const QStringList where = frame < 0 ? QStringList{u"-ss"_s, QString::number(seconds, 'f', 3)} : QStringList{};
    const QStringList pick = frame < 0 ? QStringList{} : QStringList{u"-vf"_s, u"select=eq(n\\,%1)"_s.arg(frame)};
    const QByteArray rgb = Run(u"ffmpeg"_s, QStringList{u"-v"_s, u"error"_s} + where
                                                + QStringList{u"-i"_s, u"file:"_s + video} + pick
                                                + QStringList{u"-frames:v"_s, u"1"_s, u"-f"_s, u"rawvideo"_s,
                                                              u"-pix_fmt"_s, u"rgb24"_s, u"-"_s});
    if (rgb.size() != kVideoWidth * kVideoHeight * 3)
        return {};
    return QImage(reinterpret_cast<const uchar*>(rgb.constData()), kVideoWidth, kVideoHeight, kVideoWidth * 3,
                  QImage::Format_RGB888)
        .copy();
}

// Mean absolute difference per channel over the picture above the progress line.
double Difference(const QImage& a, const QImage& b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB888), y = b.convertToFormat(QImage::Format_RGB888);
    double sum = 0;
    for (int row = 0; row < kProgressTop; row += 2) {
        const uchar* p = x.constScanLine(row);
        const uchar* q = y.constScanLine(row);
        for (int i = 0; i < kVideoWidth * 3; ++i)
            sum += std::abs(p[i] - q[i]);
    }
    return sum / (kProgressTop / 2.0 * kVideoWidth * 3);
}

QString Cover(const QTemporaryDir& dir)
{
    QImage cover(900, 600, QImage::Format_RGB32);
    cover.fill(QColor(200, 60, 40));
    QPainter(&cover).fillRect(100, 100, 300, 300, QColor(30, 160, 90));
    const QString path = dir.filePath(u"cover.png"_s);
    EXPECT_TRUE(cover.save(path));
    return path;
}

TBuildOptions VideoOptions(const QTemporaryDir& dir, const QString& encoder)
{
    TBuildOptions o = TestOptions(dir.filePath(u"Album \"Demo\" & Co.wav"_s));
    o.Medley = {4.0, TEnvelope::Linear, 1.0, 1.0, {}};
    o.ExportVideo = true;
    o.Today = QDate(2026, 12, 9);
    o.EncoderTag = FindCompressionItem(o.AddonDir, encoder);
    return o;
}

// Three tracks of 14, 16 and 9 s, crossfade 4 s: chapters at 0:00, 0:13 and
// 0:25, each long enough but the last.
TrackList ThreeTracks(const QTemporaryDir& dir)
{
    const QString source = SignalWav(30.0);
    TrackList list;
    const QString names[] = {u"First <b>"_s, u"二曲目"_s, u"Third $(x)"_s};
    const double times[][2] = {{1, 15}, {5, 21}, {12, 21}};
    for (int i = 0; i < 3; ++i) {
        const QString copy = dir.filePath(names[i] + u".wav"_s);
        EXPECT_TRUE(QFile::copy(source, copy));
        list.AddTrackFile(copy)->SetTimes(times[i][0], times[i][1]);
    }
    return list;
}

} // namespace

TEST(VideoBuild, VideoChaptersAndM4aCopy)
{
    QTemporaryDir dir;
    const TrackList list = ThreeTracks(dir);
    TBuildOptions options = VideoOptions(dir, u"aac.sh"_s);
    options.CoverImage = Cover(dir);
    TTestUser user = QuietUser();
    const TBuildOutcome outcome = RunBuildJob(options, list, user);
    ASSERT_TRUE(outcome.ThreadError.isEmpty()) << outcome.ThreadError.toStdString();
    ASSERT_TRUE(outcome.FailedCopies.empty()) << FailedCopiesText(outcome).toStdString();

    const QString folder = dir.filePath(u"publish_261209_01/"_s);
    const QString stem = folder + u"Album \"Demo\" & Co"_s;
    EXPECT_EQ(QDir(folder).entryList(QDir::Files, QDir::Name),
              (QStringList{u"Album \"Demo\" & Co.chapters.txt"_s, u"Album \"Demo\" & Co.ffmetadata"_s,
                           u"Album \"Demo\" & Co.m4a"_s, u"Album \"Demo\" & Co.mp4"_s}));

    // 1 + 14 + 16 + 9 - 2 x 4 + 1 = 33 s. Chapter 2 at 1 + 14 - 4 + 2 = 13 s, chapter 3 at 11 + 16 - 4 + 2 = 25 s.
    const double medley = static_cast<double>(QFileInfo(options.OutputPath).size() - kWavHeaderBytes) / kPcmBytesPerSecond;
    EXPECT_DOUBLE_EQ(medley, 33.0);
    EXPECT_EQ(ReadAll(stem + u".chapters.txt"_s),
              "\xEF\xBB\xBF" + u"0:00 First <b>\r\n0:13 二曲目\r\n0:25 Third $(x)\r\n"_s.toUtf8());
    // The last chapter is 8 s long: the completion says so.
    ASSERT_EQ(outcome.Notes.size(), 2) << outcome.Notes.join(u'\n').toStdString();
    EXPECT_TRUE(outcome.Notes[1].contains(u"チャプター 3「Third $(x)」が 8 秒"_s)) << outcome.Notes[1].toStdString();

    // The video's streams and length.
    const QString video = stem + u".mp4"_s;
    const QJsonObject probe = Probe(video, {u"-show_streams"_s, u"-show_format"_s});
    const QJsonArray streams = probe[u"streams"_s].toArray();
    ASSERT_EQ(streams.size(), 2);
    const QJsonObject v = streams[0].toObject(), a = streams[1].toObject();
    EXPECT_EQ(v[u"codec_name"_s].toString(), u"h264");
    EXPECT_EQ(v[u"pix_fmt"_s].toString(), u"yuv420p");
    EXPECT_EQ(v[u"width"_s].toInt(), 1920);
    EXPECT_EQ(v[u"height"_s].toInt(), 1080);
    EXPECT_EQ(v[u"r_frame_rate"_s].toString(), u"30/1");
    EXPECT_EQ(v[u"nb_frames"_s].toString(), u"990");
    EXPECT_EQ(a[u"codec_name"_s].toString(), u"aac");
    EXPECT_EQ(a[u"sample_rate"_s].toString(), u"48000");
    EXPECT_NEAR(probe[u"format"_s].toObject()[u"duration"_s].toString().toDouble(), medley, 1.0 / 30);
    EXPECT_NEAR(a[u"duration"_s].toString().toDouble(), medley, 1.0 / 30);
    EXPECT_EQ(probe[u"format"_s].toObject()[u"tags"_s].toObject()[u"title"_s].toString(), u"Album \"Demo\" & Co");

    // A frame from inside each track's span is that track's picture: closer
    // to it than to any other, with its row lit. Two frames of one span agree.
    std::vector<TChapter> chapters{{0, 13, u"First <b>"_s}, {13, 25, u"二曲目"_s}, {25, 33, u"Third $(x)"_s}};
    QString problem;
    const TVideoPainter painter(u"Album \"Demo\" & Co"_s, chapters, LoadCover(options.CoverImage, problem));
    std::vector<QImage> pictures;
    for (int i = 0; i < 3; ++i)
        pictures.push_back(painter.Picture(i));
    const double inside[][2] = {{2.0, 12.5}, {13.5, 24.5}, {25.5, 32.5}};
    for (int i = 0; i < 3; ++i) {
        const QImage early = FrameAt(video, inside[i][0]), late = FrameAt(video, inside[i][1]);
        ASSERT_FALSE(early.isNull());
        const double own = Difference(early, pictures[i]);
        EXPECT_LT(own, 2.0) << "track " << i + 1;
        for (int j = 0; j < 3; ++j) {
            if (j != i) {
                EXPECT_GT(Difference(early, pictures[j]), own + 0.3) << "track " << i + 1 << " against " << j + 1;
            }
        }
        EXPECT_LT(Difference(early, late), 1.0) << "track " << i + 1;
        const QRect row = TVideoPainter::RowRect(i);
        const QColor lit = early.pixelColor(row.left() + 8, row.center().y());
        EXPECT_TRUE(std::abs(lit.blue() - 0xf6) < 24 && lit.red() < 90) << "track " << i + 1 << " " << lit.name().toStdString();
    }
    // The highlight changes on the frame of the chapter's time (13 s: frame 390).
    EXPECT_LT(Difference(FrameAt(video, 0, 389), pictures[0]), 2.0);
    EXPECT_LT(Difference(FrameAt(video, 0, 390), pictures[1]), 2.0);

    // The M4A copy carries the chapters.
    const QJsonArray m4a = Probe(stem + u".m4a"_s, {u"-show_chapters"_s})[u"chapters"_s].toArray();
    ASSERT_EQ(m4a.size(), 3);
    EXPECT_EQ(m4a[1].toObject()[u"start_time"_s].toString().toDouble(), 13.0);
    EXPECT_EQ(m4a[2].toObject()[u"tags"_s].toObject()[u"title"_s].toString(), u"Third $(x)");
}

TEST(VideoBuild, Mp3ChaptersStopAndUnreadableCover)
{
    QTemporaryDir dir;
    const TrackList list = ThreeTracks(dir);

    // An MP3 copy with ID3 chapters, without the video: only the chapters text beside it.
    TBuildOptions options = VideoOptions(dir, u"mp3.sh"_s);
    options.ExportVideo = false;
    options.WriteChapters = true;
    TTestUser user = QuietUser();
    TBuildOutcome outcome = RunBuildJob(options, list, user);
    ASSERT_TRUE(outcome.ThreadError.isEmpty()) << outcome.ThreadError.toStdString();
    ASSERT_TRUE(outcome.FailedCopies.empty()) << FailedCopiesText(outcome).toStdString();
    const QString mp3 = dir.filePath(u"publish_261209_01/Album \"Demo\" & Co.mp3"_s);
    const QJsonArray chapters = Probe(mp3, {u"-show_chapters"_s})[u"chapters"_s].toArray();
    ASSERT_EQ(chapters.size(), 3);
    EXPECT_EQ(chapters[0].toObject()[u"tags"_s].toObject()[u"title"_s].toString(), u"First <b>");
    EXPECT_EQ(chapters[2].toObject()[u"start_time"_s].toString().toDouble(), 25.0);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(u"publish_261209_01/Album \"Demo\" & Co.mp4"_s)));

    // A stop while ffmpeg makes the video leaves no video, whole or partial.
    options = VideoOptions(dir, u"なし"_s);
    options.CoverImage = dir.filePath(u"no such cover.png"_s);
    const QString folder = dir.filePath(u"publish_261209_02/"_s);
    const QString temp = dir.filePath(u"temp"_s);
    ASSERT_TRUE(QDir().mkpath(temp));
    const QByteArray tempBefore = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(temp));
    TTestUser stopper = QuietUser(temp);
    outcome = RunBuildJob(options, list, stopper);
    if (tempBefore.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", tempBefore);
    EXPECT_TRUE(QDir(temp).isEmpty()) << "the work folder stays behind";
    ASSERT_TRUE(outcome.ThreadError.isEmpty()) << outcome.ThreadError.toStdString();
    EXPECT_TRUE(stopper.Stopped());
    EXPECT_TRUE(outcome.CancelMark);
    EXPECT_TRUE(outcome.FailedCopies.empty());
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{u"Album \"Demo\" & Co.chapters.txt"_s});
    // The cover that could not be read is named; the video used the title panel.
    ASSERT_FALSE(outcome.Notes.isEmpty());
    EXPECT_TRUE(outcome.Notes.last().contains(u"no such cover.png"_s)) << outcome.Notes.join(u'\n').toStdString();
}
