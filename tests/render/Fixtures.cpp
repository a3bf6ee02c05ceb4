#include "Fixtures.h"

#include "render/WavOutput.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cmath>
#include <cstring>
#include <memory>

namespace medlark::test {

QString FixtureDir()
{
    static const auto dir = std::make_unique<QTemporaryDir>();
    return dir->path();
}

QString SignalWav(double seconds)
{
    const QString path = FixtureDir() + QStringLiteral("/signal_%1.wav").arg(seconds);
    if (QFileInfo::exists(path))
        return path;

    const auto frames = static_cast<std::int64_t>(seconds * kPcmRate);
    PcmBlock pcm(static_cast<size_t>(frames) * kPcmChannels);
    std::uint32_t noise = 12345;
    auto next = [&noise] {
        noise = noise * 1664525u + 1013904223u;
        return static_cast<double>(noise >> 8) / double(1 << 24) - 0.5;
    };
    constexpr double twoPi = 6.283185307179586;
    for (std::int64_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kPcmRate;
        const double left = 0.3 * std::sin(twoPi * 440.0 * t) + 0.3 * next();
        const double right = 0.3 * std::sin(twoPi * 659.3 * t + 1.0) + 0.2 * next();
        pcm[static_cast<size_t>(2 * i)] = static_cast<std::int16_t>(std::lround(left * 32767));
        pcm[static_cast<size_t>(2 * i + 1)] = static_cast<std::int16_t>(std::lround(right * 32767));
    }
    OutputFile file = CreateOutputFile(path);
    WriteHeader(file);
    file.Write(pcm.data(), ByteCount(pcm));
    FinishWav(file);
    return path;
}

QString Convert(const QString& input, const QString& name, const QStringList& options,
                const QStringList& inputOptions)
{
    const QString path = FixtureDir() + u'/' + name;
    if (QFileInfo::exists(path))
        return path;
    QProcess ffmpeg;
    QStringList args{QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y")};
    args << inputOptions << QStringLiteral("-i") << input << options << path;
    ffmpeg.start(QStringLiteral("ffmpeg"), args);
    if (!ffmpeg.waitForFinished(120000) || ffmpeg.exitCode() != 0) {
        QFile::remove(path);
        return {};
    }
    return path;
}

PcmBlock ReferenceDecode(const QString& path, const QStringList& options)
{
    QProcess ffmpeg;
    QStringList args{QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"),
                     QStringLiteral("-i"), path};
    args << options << QStringLiteral("-f") << QStringLiteral("s16le") << QStringLiteral("-");
    ffmpeg.start(QStringLiteral("ffmpeg"), args);
    if (!ffmpeg.waitForFinished(120000) || ffmpeg.exitCode() != 0)
        return {};
    const QByteArray bytes = ffmpeg.readAllStandardOutput();
    PcmBlock pcm(static_cast<size_t>(bytes.size()) / 2);
    std::memcpy(pcm.data(), bytes.constData(), pcm.size() * 2);
    return pcm;
}

std::int64_t FirstMismatch(const PcmBlock& a, std::int64_t aFrame, const PcmBlock& b, std::int64_t bFrame,
                           std::int64_t frames)
{
    for (std::int64_t i = 0; i < frames; ++i)
        for (int c = 0; c < kPcmChannels; ++c)
            if (a.at(static_cast<size_t>((aFrame + i) * kPcmChannels + c))
                != b.at(static_cast<size_t>((bFrame + i) * kPcmChannels + c)))
                return i;
    return -1;
}

} // namespace medlark::test
