// The medley video's making time against the medley's length, and its size.
//   video_bench [MINUTES ...]        (default: 5 30)
// For each length, a medley of tracks with 60 s segments and a 6 s crossfade
// is built twice from one source WAV: without the video and with it (with a
// cover). The video's time is the difference; the pictures' share is timed
// on its own.

#include "model/TrackList.h"
#include "outputs/Chapters.h"
#include "video/VideoPainter.h"
#include "build/BuildJob.h"
#include "render/PcmBlock.h"
#include "render/WavOutput.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>

using namespace medlark;
using namespace Qt::StringLiterals;

namespace {

class Silent final : public TBuildUser {
public:
    void Progress(int, int) override {}
    void Encoding(bool) override {}
    TSkipAnswer AskSkipUnsupported(const QString&) override { return TSkipAnswer::Stop; }
    TSkipAnswer AskSkipCutFailed(const QString&) override { return TSkipAnswer::Stop; }
    TOverwriteAnswer AskOverwrite(const QString&) override { return TOverwriteAnswer::Stop; }
};

QString Source(const QTemporaryDir& dir)
{
    const std::int64_t frames = 90LL * kPcmRate;
    PcmBlock pcm(static_cast<size_t>(frames) * 2);
    for (std::int64_t i = 0; i < frames; ++i)
        pcm[static_cast<size_t>(2 * i)] = pcm[static_cast<size_t>(2 * i + 1)] =
            static_cast<std::int16_t>(7000 * std::sin(static_cast<double>(i) * 0.031));
    const QString path = dir.filePath(u"source.wav"_s);
    OutputFile file = CreateOutputFile(path);
    WriteHeader(file);
    file.Write(pcm.data(), ByteCount(pcm));
    FinishWav(file);
    return path;
}

double Build(const QTemporaryDir& dir, const TrackList& list, bool video, const QString& cover, const QString& name)
{
    TBuildOptions o;
    o.OutputPath = dir.filePath(name + u".wav"_s);
    o.Medley.CrossfadeTime = 6.0;
    o.WriteBookmark = false;
    o.ExportVideo = video;
    o.CoverImage = cover;
    Silent user;
    QElapsedTimer t;
    t.start();
    const TBuildOutcome outcome = RunBuildJob(o, list, user);
    const double seconds = static_cast<double>(t.nsecsElapsed()) / 1e9;
    if (!outcome.ThreadError.isEmpty() || !outcome.FailedCopies.empty())
        std::fprintf(stderr, "build failed: %s %s\n", qPrintable(outcome.ThreadError),
                     qPrintable(FailedCopiesText(outcome)));
    return seconds;
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    QStringList minutes = app.arguments().mid(1);
    if (minutes.isEmpty())
        minutes = {u"5"_s, u"30"_s};
    QTemporaryDir dir;
    const QString source = Source(dir);
    QImage coverImage(1400, 1400, QImage::Format_RGB32);
    coverImage.fill(QColor(40, 90, 160));
    QPainter(&coverImage).fillRect(200, 300, 700, 500, QColor(230, 180, 40));
    const QString cover = dir.filePath(u"cover.jpg"_s);
    coverImage.save(cover);

    std::printf("%8s %8s %8s %10s %10s %8s %10s %10s\n", "medley", "tracks", "audio", "with video", "video", "share",
                "pictures", "mp4 size");
    for (const QString& text : minutes) {
        const double wanted = text.toDouble() * 60;
        // Segments of 60 s overlapping by 6 s: 54 s each after the first.
        const int tracks = std::max(1, static_cast<int>(std::lround((wanted - 6.0 - 2.0) / 54.0)));
        TrackList list;
        for (int i = 0; i < tracks; ++i)
            list.AddTrackFile(source)->SetTimes(10.0 + i % 20, 70.0 + i % 20);
        const QString name = u"medley_"_s + text;
        const double audio = Build(dir, list, false, cover, name + u"_audio"_s);
        const double both = Build(dir, list, true, cover, name);
        const double length =
            static_cast<double>(QFileInfo(dir.filePath(name + u".wav"_s)).size() - kWavHeaderBytes) / kPcmBytesPerSecond;

        // The pictures alone: drawn and written as the build does.
        std::vector<TChapter> chapters;
        for (int i = 0; i < tracks; ++i)
            chapters.push_back({i * 54.0, (i + 1) * 54.0, u"トラック %1 のとても長い題名"_s.arg(i + 1)});
        QString problem;
        const TVideoPainter painter(name, chapters, LoadCover(cover, problem));
        QTemporaryDir pictures;
        QElapsedTimer t;
        t.start();
        WriteVideoPictures(pictures.path(), painter, PlanVideo(chapters, length), {});
        const double drawn = static_cast<double>(t.nsecsElapsed()) / 1e9;

        QString mp4;
        for (const QString& folder : QDir(dir.path()).entryList({u"publish_*"_s}, QDir::Dirs))
            if (QFileInfo::exists(dir.filePath(folder + u"/"_s + name + u".mp4"_s)))
                mp4 = dir.filePath(folder + u"/"_s + name + u".mp4"_s);
        const double video = both - audio;
        std::printf("%6.1f m %8d %7.1fs %9.1fs %9.1fs %7.1f%% %9.2fs %8.1f MB\n", length / 60, tracks, audio, both,
                    video, 100 * video / length, drawn, static_cast<double>(QFileInfo(mp4).size()) / 1e6);
        std::fflush(stdout);
    }
    return 0;
}
