// medlark-render: builds a medley (or single-mode track files) from a project
// file without the desktop window, with the same build job.
//
// Exit status: 0 done, 3 stopped at a prompt, 4 the audio is done but some
// compressed copies failed, 1 error or failed check, 2 bad usage.

#include "app/RenderCommand.h"
#include "build/BuildCheck.h"
#include "build/BuildJob.h"
#include "model/Error.h"
#include "model/ProjectFile.h"
#include "model/TrackList.h"
#include "video/PictureApplication.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <memory>
#include <optional>
#include <unistd.h>

using namespace medlark;
using namespace Qt::StringLiterals;

namespace {

constexpr int kExitDone = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStopped = 3;
constexpr int kExitCopiesFailed = 4;

void Print(std::FILE* to, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), to);
    std::fflush(to);
}

// Windows line breaks of the system's texts become plain ones on a terminal.
QString Plain(QString text)
{
    return text.replace(u"\r\n"_s, u"\n"_s);
}

class CommandLineUser final : public TBuildUser {
public:
    std::optional<TSkipAnswer> onProblem;
    std::optional<TOverwriteAnswer> onOverwrite;

    TSkipAnswer AskSkipUnsupported(const QString& message) override { return AskSkip(message); }
    TSkipAnswer AskSkipCutFailed(const QString& message) override { return AskSkip(message); }
    TOverwriteAnswer AskOverwrite(const QString& message) override
    {
        const char preset = !onOverwrite                                   ? 0
                            : *onOverwrite == TOverwriteAnswer::Overwrite ? 'y'
                            : *onOverwrite == TOverwriteAnswer::Skip      ? 'n'
                                                                          : 'c';
        const char key = Ask(message, preset, true);
        return key == 'y' ? TOverwriteAnswer::Overwrite : key == 'n' ? TOverwriteAnswer::Skip : TOverwriteAnswer::Stop;
    }

    void Progress(int position, int lastIndex) override
    {
        position_ = position;
        last_ = lastIndex;
        DrawBar();
    }

    void Encoding(bool on) override
    {
        encoding_ = on;
        DrawBar();
    }

    void EndBar()
    {
        if (barShown_)
            Print(stderr, u"\n"_s);
        barShown_ = false;
    }

private:
    TSkipAnswer AskSkip(const QString& message)
    {
        const char preset = !onProblem ? 0 : *onProblem == TSkipAnswer::Skip ? 'y' : 'n';
        return Ask(message, preset, false) == 'y' ? TSkipAnswer::Skip : TSkipAnswer::Stop;
    }

    // The prompt's answer as its key: 'y', 'n' or, with cancel, 'c'. A preset
    // answer (0 for none) is shown and taken; without a terminal to ask, the
    // one that stops the build.
    char Ask(const QString& message, char preset, bool withCancel)
    {
        EndBar();
        Print(stderr, Plain(message) + u"\n"_s);
        if (preset != 0) {
            Print(stderr, preset == 'y' ? u"-> yes\n"_s : preset == 'n' ? u"-> no\n"_s : u"-> cancel\n"_s);
            return preset;
        }
        const char stop = withCancel ? 'c' : 'n';
        if (!isatty(STDIN_FILENO)) {
            Print(stderr, withCancel ? u"-> cancel (no terminal to ask)\n"_s : u"-> no (no terminal to ask)\n"_s);
            return stop;
        }
        for (;;) {
            Print(stderr, withCancel ? u"[y]es / [n]o / [c]ancel: "_s : u"[y]es / [n]o: "_s);
            char line[64] = {};
            if (std::fgets(line, sizeof line, stdin) == nullptr)
                return stop;
            switch (line[0]) {
            case 'y': case 'Y': return 'y';
            case 'n': case 'N': return 'n';
            case 'c': case 'C': if (withCancel) return 'c'; break;
            default: break;
            }
        }
    }

    void DrawBar()
    {
        if (!isatty(STDERR_FILENO) || last_ < 0)
            return;
        constexpr int width = 30;
        const int total = last_ + 1;
        const int filled = total > 0 ? width * std::min(position_, total) / total : width;
        QString bar = u"\r["_s + QString(filled, u'#') + QString(width - filled, u' ') + u"] "_s
                    + QString::number(std::min(position_, total)) + u'/' + QString::number(total);
        if (encoding_)
            bar += u"  + Encoding now."_s;
        Print(stderr, bar + u"\x1b[K"_s);
        barShown_ = true;
    }

    int position_ = 0;
    int last_ = -1;
    bool encoding_ = false;
    bool barShown_ = false;
};

// Loads the project, checks it and runs the build.
int Build(const TRenderCommand& command)
{
    CommandLineUser user;
    user.onProblem = command.OnProblem;
    user.onOverwrite = command.OnOverwrite;
    const TBuildOptions& options = command.Options;

    const QString& project = command.ProjectPath;
    if (!QFileInfo(project).isFile())
        throw Error(OpenFileError(project, u"No such file"_s));
    TrackList list;
    LoadProject(list, project);

    if (options.Mode == cfmMixed && list.Count() == 0) {
        Print(stderr, NoTracksMessage() + u"\n"_s);
        return kExitError;
    }
    const QStringList problems = ValidateTracks(list, options.Medley.CrossfadeTime);
    if (!problems.isEmpty()) {
        Print(stderr, Plain(ValidationMessage(problems)));
        return kExitError;
    }

    if (options.Mode == cfmSingle)
        QDir().mkpath(options.OutputPath);

    const TBuildOutcome outcome = RunBuildJob(options, list, user);
    user.EndBar();
    if (!outcome.ThreadError.isEmpty()) {
        Print(stderr, Plain(outcome.ThreadError) + u"\n"_s);
        return kExitError;
    }
    if (!outcome.Notes.isEmpty())
        Print(stderr, outcome.Notes.join(u'\n') + u"\n"_s);
    const QString failed = FailedCopiesText(outcome);
    if (!failed.isEmpty())
        Print(stderr, failed + u"\n"_s);
    const QString loudness = MedleyLoudnessText(outcome);
    const QString report = loudness.isEmpty() ? QString() : loudness + u"\n"_s;
    if (outcome.CancelMark) {
        Print(stdout, u"途中終了しました。\n"_s + report);
        return kExitStopped;
    }
    Print(stdout, u"完了しました。\n"_s + report);
    return failed.isEmpty() ? kExitDone : kExitCopiesFailed;
}

// Qt's own notes on the platform (a missing runtime folder…) are not the
// user's business on a command line; everything else is printed as usual.
void QuietPlatformNotes(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg && message.startsWith(u"QStandardPaths:"_s))
        return;
    std::fputs(qFormatLogMessage(type, context, message).toLocal8Bit().append('\n').constData(), stderr);
}

void NameApplication()
{
    QCoreApplication::setApplicationName(u"medlark-render"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(MEDLARK_VERSION));
}

} // namespace

int main(int argc, char* argv[])
{
    qInstallMessageHandler(QuietPlatformNotes);
    // Audio needs no display platform: a build starts a QGuiApplication (on
    // the offscreen platform) only when it draws the video's pictures.
    auto app = std::make_unique<QCoreApplication>(argc, argv);
    NameApplication();
    try {
        const TRenderCommand command = ParseRenderCommand(QCoreApplication::arguments());
        if (command.ShowHelp) {
            Print(stdout, command.HelpText);
            return kExitDone;
        }
        if (command.ShowVersion) {
            Print(stdout, u"medlark-render "_s + QCoreApplication::applicationVersion() + u"\n"_s);
            return kExitDone;
        }
        if (DrawsVideoPictures(command.Options)) {
            app.reset();
            app = NewPictureApplication(argc, argv);
            NameApplication();
        }
        return Build(command);
    } catch (const TUsageError& usage) {
        Print(stderr, u"medlark-render: "_s + usage.Message + u"\nTry 'medlark-render --help'.\n"_s);
        return kExitUsage;
    } catch (const Error& e) {
        Print(stderr, Plain(e.Message()) + u"\n"_s);
        return kExitError;
    }
}
