// The preview player, measured through the real sound stack: a PulseAudio
// server is needed (scripts/test starts one for the tests; for this program
// start one with a null sink, or use the desktop's). Its default sink's monitor
// is recorded with parec, and each piece that arrives is stamped with the time.
//   player_bench
// Prints: click-to-sound latency of play and of a seek (MP3), the error of the
// position at rest and while playing, the time to the first drawn waveform of a
// 4-minute MP3 and a 60-minute FLAC, and the player's memory.

#include "render/PlaybackFeed.h"
#include "render/WaveformSummary.h"
#include "ui/AudioPlayer.h"
#include "ui/JoinPreview.h"
#include "ui/WaveformBar.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

using namespace medlark;

namespace {

QElapsedTimer wall;

void Pump(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
}

QString Make(const QString& name, const QStringList& args)
{
    const QString path = QDir::temp().filePath(name);
    if (QFileInfo::exists(path))
        return path;
    std::printf("making %s ...\n", qPrintable(path));
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), QStringList{QStringLiteral("-nostdin"), QStringLiteral("-v"),
                                                       QStringLiteral("error"), QStringLiteral("-y")}
                                               + args + QStringList{path});
    ffmpeg.waitForFinished(-1);
    return path;
}

// The monitor, with the wall time at which each piece arrived.
class Recorder final {
public:
    struct Piece {
        qint64 ns;
        std::int64_t endFrame;   // frames received up to the end of this piece
    };

    Recorder()
    {
        QObject::connect(&parec_, &QProcess::readyReadStandardOutput, [this] {
            const QByteArray bytes = parec_.readAllStandardOutput();
            data_ += bytes;
            pieces_.push_back({wall.nsecsElapsed(), data_.size() / 4});
        });
        parec_.start(QStringLiteral("parec"),
                     {QStringLiteral("-d"), QStringLiteral("@DEFAULT_MONITOR@"), QStringLiteral("--format=s16le"),
                      QStringLiteral("--rate=44100"), QStringLiteral("--channels=2"), QStringLiteral("--raw"),
                      QStringLiteral("--latency-msec=5")});
        parec_.waitForStarted();
        while (data_.size() < 44100)
            Pump(10);
    }
    ~Recorder()
    {
        parec_.kill();
        parec_.waitForFinished();
    }

    std::int64_t Frames() const { return data_.size() / 4; }
    int Left(std::int64_t frame) const { return reinterpret_cast<const std::int16_t*>(data_.constData())[2 * frame]; }
    // The first loud frame at or after `from`, or -1.
    std::int64_t FirstLoud(std::int64_t from) const
    {
        for (std::int64_t i = from; i < Frames(); ++i)
            if (std::abs(Left(i)) > 200)
                return i;
        return -1;
    }
    // When the frame arrived.
    qint64 ArrivalNs(std::int64_t frame) const
    {
        for (const Piece& p : pieces_)
            if (p.endFrame > frame)
                return p.ns;
        return -1;
    }
    // Frames that had arrived by the time ns.
    std::int64_t ArrivedBy(qint64 ns) const
    {
        std::int64_t frames = 0;
        for (const Piece& p : pieces_)
            if (p.ns <= ns)
                frames = p.endFrame;
        return frames;
    }

private:
    QProcess parec_;
    QByteArray data_;
    std::vector<Piece> pieces_;
};

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

long RssKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    wall.start();
    // 10 s of silence, then 10 s of noise: sound begins where the noise does.
    const QString mp3 = Make(QStringLiteral("medlark_bench_quiet_loud.mp3"),
                             {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                              QStringLiteral("anullsrc=r=44100:cl=stereo:d=10"), QStringLiteral("-f"),
                              QStringLiteral("lavfi"), QStringLiteral("-i"),
                              QStringLiteral("anoisesrc=r=44100:a=0.5:d=10"), QStringLiteral("-filter_complex"),
                              QStringLiteral("[1]aformat=channel_layouts=stereo[n];[0][n]concat=n=2:v=0:a=1"),
                              QStringLiteral("-b:a"), QStringLiteral("192k")});
    const QString mp3Long = Make(QStringLiteral("medlark_bench_4min.mp3"),
                                 {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                                  QStringLiteral("anoisesrc=r=44100:a=0.3:d=240"), QStringLiteral("-ac"),
                                  QStringLiteral("2"), QStringLiteral("-b:a"), QStringLiteral("192k")});
    const QString flac = Make(QStringLiteral("medlark_bench_60min.flac"),
                              {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                               QStringLiteral("anoisesrc=r=44100:a=0.3:d=3600"), QStringLiteral("-ac"),
                               QStringLiteral("2")});

    const long rssBefore = RssKb();
    TAudioPlayer player;
    player.SetVolume(100);
    if (!player.Load(mp3)) {
        std::printf("cannot open %s\n", qPrintable(mp3));
        return 1;
    }
    Recorder recorder;
    if (!player.HasSoundOutput()) {
        std::printf("no sound output\n");
        return 1;
    }

    // Play from just before the noise, and seek from the silence into it.
    std::vector<double> playMs, seekMs;
    for (int run = 0; run < 9; ++run) {
        player.Seek(FrameOfSeconds(10.0));
        const std::int64_t mark = recorder.Frames();
        const qint64 clicked = wall.nsecsElapsed();
        player.Play();
        Pump(600);
        const std::int64_t loud = recorder.FirstLoud(mark);
        if (loud >= 0)
            playMs.push_back((recorder.ArrivalNs(loud) - clicked) / 1e6);
        player.Stop();
        Pump(300);
    }
    for (int run = 0; run < 9; ++run) {
        player.Seek(FrameOfSeconds(2.0));
        player.Play();
        Pump(400);
        const std::int64_t mark = recorder.Frames();
        const qint64 clicked = wall.nsecsElapsed();
        player.Seek(FrameOfSeconds(10.0));
        Pump(600);
        const std::int64_t loud = recorder.FirstLoud(mark);
        if (loud >= 0)
            seekMs.push_back((recorder.ArrivalNs(loud) - clicked) / 1e6);
        player.Stop();
        Pump(300);
    }
    std::printf("click to sound (MP3, to the monitor, parec's own latency included): play %.0f ms, seek %.0f ms "
                "(medians of %zu and %zu)\n",
                Median(playMs), Median(seekMs), playMs.size(), seekMs.size());

    // Positions at rest are the frames sought.
    std::mt19937 random(3);
    std::int64_t restError = 0;
    for (int i = 0; i < 2000; ++i) {
        const double t = std::uniform_real_distribution<double>(0, 19.9)(random);
        player.Seek(FrameOfSeconds(t));
        restError = std::max(restError, std::abs(player.Position() - FrameOfSeconds(t)));
    }
    // While playing: the position against the frame the monitor had delivered
    // at that moment (the noise starts at a known frame).
    player.Seek(FrameOfSeconds(9.5));
    const std::int64_t mark = recorder.Frames();
    player.Play();
    std::vector<std::pair<qint64, std::int64_t>> samples;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 3000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        samples.emplace_back(wall.nsecsElapsed(), player.Position());
    }
    player.Stop();
    Pump(200);
    const std::int64_t loud = recorder.FirstLoud(mark);
    std::vector<double> errors;
    for (const auto& [ns, position] : samples) {
        const std::int64_t heard = FrameOfSeconds(10.0) + recorder.ArrivedBy(ns) - loud;
        if (heard > FrameOfSeconds(10.2))
            errors.push_back(static_cast<double>(position - heard));
    }
    std::sort(errors.begin(), errors.end());
    if (!errors.empty())
        std::printf("position error while playing (position minus frame the monitor delivered): median %.0f frames "
                    "(%.1f ms), 5%%..95%% %.0f..%.0f frames; at rest: max %lld frames\n",
                    errors[errors.size() / 2], errors[errors.size() / 2] / 44.1, errors[errors.size() / 20],
                    errors[errors.size() * 19 / 20], static_cast<long long>(restError));

    // Waveforms: the time until the bar has something to draw, and until the whole is made.
    for (const QString& path : {mp3Long, flac}) {
        ClearWaveformCache();
        TWaveformBar bar(nullptr);
        bar.resize(458, 38);
        QElapsedTimer clock;
        clock.start();
        // As the player does: the exact length comes later, from its decoding thread.
        bar.SetSource(path, -1);
        double first = -1;
        while (bar.Summary() == nullptr || !bar.Summary()->Complete()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            if (first < 0 && bar.Summary() != nullptr && bar.Summary()->ReadyBlocks() > 0)
                first = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        }
        std::printf("waveform of %s: first drawn after %.0f ms, whole after %.0f ms\n",
                    qPrintable(QFileInfo(path).fileName()), first, static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }

    // Join previews: a medley of ten 4-minute tracks (60 s segments, 6 s sine
    // crossfades); the time from J to sound, and the decoding it needs.
    const QString flacLong = Make(QStringLiteral("medlark_bench_4min.flac"),
                                  {QStringLiteral("-i"), mp3Long, QStringLiteral("-ac"), QStringLiteral("2")});
    for (const QString& path : {mp3Long, flacLong}) {
        std::vector<TMedleyEntry> entries;
        for (int i = 0; i < 10; ++i)
            entries.push_back({path, 20.0 + 15.0 * i, 80.0 + 15.0 * i});
        const TMedleySettings settings{6.0, TEnvelope::Sine, 1.0, 1.0, {}};
        TJoinPreview join;
        join.Player().SetVolume(100);
        std::vector<double> cold, warm;
        std::int64_t decoded = 0;
        for (int run = 0; run < 5; ++run) {
            const std::int64_t mark = recorder.Frames();
            const std::int64_t before = MedleyPreviewDecodedFrames();
            const qint64 pressed = wall.nsecsElapsed();
            join.Start(TJoinPreview::TKind::Join, entries, settings, 5);
            Pump(700);
            const std::int64_t loud = recorder.FirstLoud(mark);
            if (loud >= 0)
                (run == 0 ? cold : warm).push_back((recorder.ArrivalNs(loud) - pressed) / 1e6);
            Pump(1500);
            join.Stop();
            decoded = MedleyPreviewDecodedFrames() - before;
            Pump(200);
        }
        std::int64_t whole = 0;
        for (const TMedleyLayout::TPlaced& p : LayOutMedley(entries, settings).Placed)
            whole += p.Frames;
        std::printf("join preview of %s: J to sound %.0f ms with the sources' lengths known (median of %zu), %.0f ms "
                    "the first time; %lld frames decoded in 2.2 s of listening, against %lld for the whole medley\n",
                    qPrintable(QFileInfo(path).suffix()), Median(warm), warm.size(), cold.empty() ? -1.0 : cold[0],
                    static_cast<long long>(decoded), static_cast<long long>(whole));
        join.Player().ReleaseOutput();
    }

    const long rssBeforeBig = RssKb();
    TAudioPlayer big;
    big.Load(flac);
    big.Play();
    Pump(1000);
    std::printf("memory: a player playing a 60-minute FLAC takes %ld KiB more; the whole program (sound stack, two "
                "players, the recording, two waveforms) %ld KiB more than at its start\n",
                RssKb() - rssBeforeBig, RssKb() - rssBefore);
    big.Stop();
    player.ReleaseOutput();
    big.ReleaseOutput();
    return 0;
}
