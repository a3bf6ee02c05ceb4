// Time to cut 60 s from the middle of a 10-minute MP3, against decoding it whole.
//   decode_bench [file.mp3]     (without a file, one is made with the ffmpeg tool)

#include "render/SourceStream.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

using namespace medlark;

namespace {

double MedianMs(int runs, const std::function<void()>& work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

QString MakeMp3()
{
    const QString path = QDir::temp().filePath(QStringLiteral("medlark_bench_10min.mp3"));
    if (QFileInfo::exists(path))
        return path;
    std::printf("making a 10-minute MP3 at %s ...\n", qPrintable(path));
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                  QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                  QStringLiteral("sine=f=220:d=600:r=44100,aeval=val(0)*0.5+random(0)*0.2|val(0)*0.3,aformat=channel_layouts=stereo"),
                  QStringLiteral("-c:a"), QStringLiteral("libmp3lame"), QStringLiteral("-b:a"), QStringLiteral("192k"), path});
    ffmpeg.waitForFinished(-1);
    return ffmpeg.exitCode() == 0 ? path : QString();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QString path = argc > 1 ? QString::fromLocal8Bit(argv[1]) : MakeMp3();
    SourceStream probe = OpenSourceStream(path);
    if (!probe) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
        return 1;
    }
    const double duration = probe.Duration();
    const double middle = duration / 2 - 30;
    std::printf("%s: %.3f s\n", qPrintable(path), duration);

    PcmBlock pcm;
    const double cut = MedianMs(7, [&] {
        SourceStream s = OpenSourceStream(path);
        pcm.clear();
        DecodeSegment(s, pcm, middle, middle + 60);
    });
    std::printf("open + cut 60 s from the middle: %8.1f ms (%lld frames)\n", cut, static_cast<long long>(FrameCount(pcm)));
    const double whole = MedianMs(3, [&] {
        SourceStream s = OpenSourceStream(path);
        pcm.clear();
        DecodeSegment(s, pcm, 0, duration + 1);
    });
    std::printf("open + decode the whole file:    %8.1f ms (%lld frames)\n", whole, static_cast<long long>(FrameCount(pcm)));
    const double length = MedianMs(7, [&] {
        SourceStream s = OpenSourceStream(path);
        (void)s.Duration();
    });
    std::printf("open + exact duration:           %8.1f ms\n", length);
    pcm.clear();
    SourceStream all = OpenSourceStream(path);
    DecodeSegment(all, pcm, 0, duration + 1);
    std::printf("cut / whole: %.2f\n", cut / whole);
    // The cut must be the same frames as the whole decode has there.
    SourceStream s = OpenSourceStream(path);
    PcmBlock segment;
    DecodeSegment(s, segment, middle, middle + 60);
    const auto first = static_cast<std::ptrdiff_t>(static_cast<long double>(middle) * kPcmRate) * kPcmChannels;
    const bool same = std::equal(segment.begin(), segment.end(), pcm.begin() + first);
    std::printf("cut equals the whole decode's frames: %s\n", same ? "yes" : "NO");
    return same ? 0 : 1;
}
