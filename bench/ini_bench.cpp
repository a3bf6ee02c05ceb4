// INI text at the size of a very large project: reading, looking up every
// section and writing, for 100 000 sections.
//   ini_bench

#include "model/IniText.h"

#include <QElapsedTimer>

#include <cstdio>

using namespace medlark;

int main()
{
    constexpr int kSections = 100000;
    QString text;
    for (int i = 1; i <= kSections; ++i)
        text += QStringLiteral("[%1]\r\nFilePath=/music/album/track %1.flac\r\nStartTime=12.5\r\nEndTime=42.25\r\n\r\n")
                    .arg(i, 4, 10, QLatin1Char('0'));

    QElapsedTimer clock;
    clock.start();
    const TIniText ini = TIniText::FromText(text);
    const qint64 read = clock.restart();
    qsizetype found = 0;
    for (const QString& section : ini.SectionNames())
        found += ini.Value(section, QStringLiteral("FilePath")).size() > 0;
    const qint64 lookups = clock.restart();

    TIniText out;
    for (int i = 1; i <= kSections; ++i) {
        const QString section = QString::asprintf("%.04d", i);
        out.SetValue(section, QStringLiteral("FilePath"), QStringLiteral("/music/track.flac"));
        out.SetValue(section, QStringLiteral("StartTime"), QStringLiteral("12.5"));
        out.SetValue(section, QStringLiteral("EndTime"), QStringLiteral("42.25"));
    }
    const QByteArray bytes = out.ToUtf16Le();
    const qint64 written = clock.restart();
    std::printf("%d sections: read %lld ms, %lld lookups %lld ms, build and write %lld ms (%lld bytes)\n", kSections,
                static_cast<long long>(read), static_cast<long long>(found), static_cast<long long>(lookups),
                static_cast<long long>(written), static_cast<long long>(bytes.size()));
    return found == kSections ? 0 : 1;
}
