#pragma once
// Whom a build talks to: the desktop window or the command line. One call per
// thing the build reports or asks. Each is made on the build's thread and
// returns once the user has taken it: a report once shown, a prompt once
// answered; the build goes on only then.

#include <QString>

namespace medlark {

// A track that cannot be opened or cut: skip it, or stop the build there.
enum class TSkipAnswer { Skip, Stop };
// Single mode, a track file that exists already: replace it, keep it and skip
// the track, or stop the build there.
enum class TOverwriteAnswer { Overwrite, Skip, Stop };

class TBuildUser {
public:
    virtual ~TBuildUser() = default;

    // The progress bar: `position` out of `lastIndex`, the index of the list's
    // last track. Reported at the start (0), after each placed segment (its
    // index + 1) or finished track file (its index), and for a skipped track.
    virtual void Progress(int position, int lastIndex) = 0;
    // Compressed copies or the video are being made: on at the start when the
    // build makes some, off once the last has ended.
    virtual void Encoding(bool on) = 0;

    // "対応していない形式です: …" and "音源から切り出しできませんました: …"
    // (Yes/No, warning, caption "エラー"): Yes skips the track.
    virtual TSkipAnswer AskSkipUnsupported(const QString& message) = 0;
    virtual TSkipAnswer AskSkipCutFailed(const QString& message) = 0;
    // "…は既に存在します。上書きしますか？" (Yes/No/Cancel, information,
    // caption "確認").
    virtual TOverwriteAnswer AskOverwrite(const QString& message) = 0;

    // The user asked the build to stop (read between tracks and while
    // encoding): rendering ends after the current track, a medley is finished
    // with the tracks done, a running encoder is stopped and nothing more is
    // encoded or published.
    virtual bool StopRequested() { return false; }
};

} // namespace medlark
