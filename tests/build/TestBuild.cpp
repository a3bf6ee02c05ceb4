#include "build/TestBuild.h"

#include "render/WavOutput.h"

#include "TestFiles.h"

#include <cstring>

namespace medlark::test {

using namespace Qt::StringLiterals;

void TTestUser::Progress(int position, int lastIndex)
{
    reports << u"progress %1/%2"_s.arg(position).arg(lastIndex);
}

void TTestUser::Encoding(bool on)
{
    reports << (on ? u"encoding on"_s : u"encoding off"_s);
}

TSkipAnswer TTestUser::Skip(const QString& prompt)
{
    prompts << prompt;
    if (skipAnswers.empty())
        return onProblem_;
    const TSkipAnswer answer = skipAnswers.front();
    skipAnswers.pop_front();
    return answer;
}

TSkipAnswer TTestUser::AskSkipUnsupported(const QString& message)
{
    return Skip(u"unsupported: "_s + message);
}

TSkipAnswer TTestUser::AskSkipCutFailed(const QString& message)
{
    return Skip(u"cut: "_s + message);
}

TOverwriteAnswer TTestUser::AskOverwrite(const QString& message)
{
    prompts << u"overwrite: "_s + message;
    if (overwriteAnswers.empty())
        return onExisting_;
    const TOverwriteAnswer answer = overwriteAnswers.front();
    overwriteAnswers.pop_front();
    return answer;
}

bool TTestUser::StopRequested()
{
    stopped_ = stopped_ || (stop && stop());
    return stopped_;
}

std::vector<int> TTestUser::Positions() const
{
    std::vector<int> positions;
    for (const QString& report : reports)
        if (report.startsWith(u"progress "_s))
            positions.push_back(report.mid(9).section(u'/', 0, 0).toInt());
    return positions;
}

TBuildOptions TestOptions(const QString& output)
{
    TBuildOptions o;
    o.OutputPath = output;
    o.Medley = {1.0, TEnvelope::Linear, 0.5, 0.3, {}};
    o.WriteBookmark = false;
    o.WriteJson = false;
    o.Today = QDate(2026, 12, 8);
    o.AddonDir = QStringLiteral(MEDLARK_SOURCE_DIR "/addon/");
    o.TemplateDir = QStringLiteral(MEDLARK_SOURCE_DIR "/template/");
    return o;
}

PcmBlock ReadWavPcm(const QString& path)
{
    const QByteArray bytes = ReadAll(path).mid(kWavHeaderBytes);
    PcmBlock pcm(static_cast<size_t>(bytes.size()) / 2);
    std::memcpy(pcm.data(), bytes.constData(), pcm.size() * 2);
    return pcm;
}

} // namespace medlark::test
