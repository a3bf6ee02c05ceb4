#pragma once
// What the tests of builds share: a build user that answers prompts from a
// script and records what the build said, and the options of a small build.

#include "build/BuildJob.h"
#include "render/PcmBlock.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <vector>

namespace medlark::test {

// Answers each prompt with the next scripted answer of its kind, then with the
// default; records the prompts ("unsupported: …", "cut: …", "overwrite: …")
// and the reports in order ("progress 1/2", "encoding on", "encoding off").
class TTestUser final : public TBuildUser {
public:
    explicit TTestUser(TSkipAnswer onProblem = TSkipAnswer::Skip,
                       TOverwriteAnswer onExisting = TOverwriteAnswer::Overwrite)
        : onProblem_(onProblem), onExisting_(onExisting)
    {
    }

    std::deque<TSkipAnswer> skipAnswers;
    std::deque<TOverwriteAnswer> overwriteAnswers;
    std::function<bool()> stop;   // asked whenever the build looks for a stop; once true, stays
    QStringList prompts;
    QStringList reports;

    void Progress(int position, int lastIndex) override;
    void Encoding(bool on) override;
    TSkipAnswer AskSkipUnsupported(const QString& message) override;
    TSkipAnswer AskSkipCutFailed(const QString& message) override;
    TOverwriteAnswer AskOverwrite(const QString& message) override;
    bool StopRequested() override;

    // The positions of the progress reports, in order.
    std::vector<int> Positions() const;
    bool Stopped() const { return stopped_; }

private:
    TSkipAnswer Skip(const QString& prompt);

    TSkipAnswer onProblem_;
    TOverwriteAnswer onExisting_;
    bool stopped_ = false;
};

// A medley into output with a 1 s linear crossfade, 0.5 s before and 0.3 s
// after, no side outputs, the shipped add-ons and templates of the source
// tree, and the publish folders named for 8 December 2026.
TBuildOptions TestOptions(const QString& output);

// The PCM of a WAV file written by a build (after its 44-byte header).
PcmBlock ReadWavPcm(const QString& path);

} // namespace medlark::test
