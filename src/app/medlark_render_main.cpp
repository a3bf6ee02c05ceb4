// medlark-render: builds a medley (or single-mode track files) from a project
// file without the desktop window, with the same build job.
//
// Exit status: 0 done, 3 stopped at a prompt, 4 the audio is done but some
// compressed copies failed, 1 error or failed check, 2 bad usage.

#include "build/BuildCheck.h"
#include "build/BuildJob.h"
#include "encode/EncoderDefinitions.h"
#include "model/Error.h"
#include "model/NumberText.h"
#include "model/ProjectFile.h"
#include "model/Settings.h"
#include "model/TrackList.h"
#include "video/PictureApplication.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <optional>
#include <utility>
#include <vector>
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

struct Usage {
    QString message;
};

double SecondsOption(const QCommandLineParser& parser, const QString& name, double low, double high)
{
    const auto value = ParseNumber(parser.value(name));
    if (!value || *value < low || *value > high)
        throw Usage{u"--%1: a number of seconds from %2 to %3 is needed, not \"%4\""_s.arg(
            name, FormatNumber(low), FormatNumber(high), parser.value(name))};
    return *value;
}

// The value of a flag that takes one of a few words (without regard to case).
template <class T>
T ChoiceOption(const QCommandLineParser& parser, const QString& name, const std::vector<std::pair<QString, T>>& choices)
{
    const QString value = parser.value(name).toLower();
    QStringList words;
    for (const auto& [word, choice] : choices) {
        if (value == word)
            return choice;
        words << word;
    }
    throw Usage{u"--%1: one of %2 is needed, not \"%3\""_s.arg(name, words.join(u", "_s), parser.value(name))};
}

int Run(const QCoreApplication& app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Builds a medley WAV (or, with --single, one faded WAV per track) from a Medlark project file.\n"
        "Options default to the settings file's values, as the desktop program would build.\n"
        "Exit status: 0 done, 3 stopped at a prompt, 4 the audio is done but some compressed copies failed,\n"
        "1 error or failed check, 2 bad usage."_s);
    parser.addPositionalArgument(u"PROJECT"_s, u"the project file (.mlkd)"_s);
    parser.addPositionalArgument(u"OUTPUT"_s, u"the medley WAV file, or with --single the output folder"_s);
    const QCommandLineOption help({u"h"_s, u"help"_s}, u"Show this help."_s);
    const QCommandLineOption version(u"version"_s, u"Show the version."_s);
    parser.addOption(help);
    parser.addOption(version);
    parser.addOptions({
        {u"single"_s, u"Single mode: one faded file per track (Track_01.wav …) in OUTPUT."_s},
        {u"crossfade"_s, u"Crossfade time, 0.1 to 65535 seconds."_s, u"SECONDS"_s},
        {u"envelope"_s, u"Fade curve: linear or sine."_s, u"linear|sine"_s},
        {u"head"_s, u"Blank before the audio, 0 to 10 seconds."_s, u"SECONDS"_s},
        {u"tail"_s, u"Blank after the audio, 0 to 10 seconds."_s, u"SECONDS"_s},
        {u"bookmark"_s, u"Write the bookmark text (medley)."_s},
        {u"no-bookmark"_s, u"Do not write the bookmark text."_s},
        {u"json"_s, u"Write the JSON track map (medley)."_s},
        {u"no-json"_s, u"Do not write the JSON track map."_s},
        {u"html"_s, u"Publish the HTML sound sheet (encodes too, with AAC when no encoder is chosen)."_s},
        {u"no-html"_s, u"Do not publish the sound sheet."_s},
        {u"encoder"_s, u"Compressed copies with this encoder: its caption or executable name in addon/encoder.inf, or none."_s,
         u"NAME"_s},
        {u"quality"_s, u"Quality of the compressed copies: LO, MD or HI."_s, u"LO|MD|HI"_s},
        {u"video"_s, u"Make the medley's MP4 video (cover, track list, chapters text) with ffmpeg."_s},
        {u"no-video"_s, u"Do not make the video."_s},
        {u"cover"_s, u"The video's cover picture (PNG, JPEG or WebP); without one, a panel with the title."_s, u"FILE"_s},
        {u"chapters"_s, u"Write the chapters text (medley), also without the video."_s},
        {u"settings"_s, u"Settings file to take the defaults from (config.ini)."_s, u"FILE"_s},
        {u"on-problem"_s, u"Answer for a track that cannot be opened or cut: skip or stop."_s, u"skip|stop"_s},
        {u"overwrite"_s, u"Single mode, answer for an existing track file: yes, no or cancel."_s, u"yes|no|cancel"_s},
    });
    if (!parser.parse(app.arguments()))
        throw Usage{parser.errorText()};
    if (parser.isSet(help)) {
        Print(stdout, parser.helpText());
        return kExitDone;
    }
    if (parser.isSet(version)) {
        Print(stdout, u"medlark-render "_s + QCoreApplication::applicationVersion() + u"\n"_s);
        return kExitDone;
    }
    const QStringList args = parser.positionalArguments();
    if (args.size() != 2)
        throw Usage{u"a project file and an output are needed"_s};
    if (parser.isSet(u"bookmark"_s) && parser.isSet(u"no-bookmark"_s))
        throw Usage{u"--bookmark and --no-bookmark exclude each other"_s};
    if (parser.isSet(u"json"_s) && parser.isSet(u"no-json"_s))
        throw Usage{u"--json and --no-json exclude each other"_s};
    if (parser.isSet(u"html"_s) && parser.isSet(u"no-html"_s))
        throw Usage{u"--html and --no-html exclude each other"_s};
    if (parser.isSet(u"video"_s) && parser.isSet(u"no-video"_s))
        throw Usage{u"--video and --no-video exclude each other"_s};

    TSettings settings;
    if (parser.isSet(u"settings"_s)) {
        const QString path = parser.value(u"settings"_s);
        if (!QFileInfo(path).isFile())
            throw Error(OpenFileError(path, u"No such file"_s));
        LoadSettings(settings, path);
    } else {
        LoadSettings(settings, SettingsFilePath());
    }

    TBuildOptions options;
    options.Mode = settings.SingleMode() || parser.isSet(u"single"_s) ? cfmSingle : cfmMixed;
    options.Medley = settings.Medley;
    options.WriteBookmark = settings.WriteDetailText;
    options.WriteJson = settings.WriteJsonFile;
    options.WriteHtml = settings.ExportHTMLs;
    if (parser.isSet(u"crossfade"_s))
        options.Medley.CrossfadeTime = SecondsOption(parser, u"crossfade"_s, 0.1, 65535);
    if (parser.isSet(u"head"_s))
        options.Medley.BlankHead = SecondsOption(parser, u"head"_s, 0, 10);
    if (parser.isSet(u"tail"_s))
        options.Medley.BlankTail = SecondsOption(parser, u"tail"_s, 0, 10);
    if (parser.isSet(u"envelope"_s))
        options.Medley.Envelope =
            ChoiceOption<TEnvelope>(parser, u"envelope"_s, {{u"linear"_s, TEnvelope::Linear}, {u"sine"_s, TEnvelope::Sine}});
    if (parser.isSet(u"bookmark"_s) || parser.isSet(u"no-bookmark"_s))
        options.WriteBookmark = parser.isSet(u"bookmark"_s);
    if (parser.isSet(u"json"_s) || parser.isSet(u"no-json"_s))
        options.WriteJson = parser.isSet(u"json"_s);
    if (parser.isSet(u"html"_s) || parser.isSet(u"no-html"_s))
        options.WriteHtml = parser.isSet(u"html"_s);
    options.ExportVideo = settings.ExportVideo;
    options.CoverImage = settings.CoverImage;
    if (parser.isSet(u"video"_s) || parser.isSet(u"no-video"_s))
        options.ExportVideo = parser.isSet(u"video"_s);
    if (parser.isSet(u"cover"_s)) {
        const QString cover = parser.value(u"cover"_s);
        if (!QFileInfo(cover).isFile())
            throw Error(OpenFileError(cover, u"No such file"_s));
        options.CoverImage = QFileInfo(cover).absoluteFilePath();
    }
    options.WriteChapters = parser.isSet(u"chapters"_s);

    // The compression entry as the window's menu would have it checked.
    options.AddonDir = AddonFolder();
    options.TemplateDir = TemplateFolder();
    options.EncoderTag = FindCompressionItem(options.AddonDir, settings.Compression);
    options.Quality = QualityCode(settings.CompressionLevel);
    if (parser.isSet(u"encoder"_s)) {
        const QString name = parser.value(u"encoder"_s);
        options.EncoderTag = name.compare(u"none"_s, Qt::CaseInsensitive) == 0 || name == QString::fromUtf16(kCompressionNone)
                               ? -1
                               : FindCompressionItem(options.AddonDir, name);
        if (options.EncoderTag < 0 && name.compare(u"none"_s, Qt::CaseInsensitive) != 0
            && name != QString::fromUtf16(kCompressionNone)) {
            QStringList known;
            for (const TCompressionItem& item : CompressionMenuItems(options.AddonDir))
                known << u'"' + item.Caption + u'"';
            throw Usage{u"--encoder: no encoder \"%1\" in %2encoder.inf (there are: %3)"_s.arg(
                name, options.AddonDir, known.isEmpty() ? u"none"_s : known.join(u", "_s))};
        }
    }
    if (parser.isSet(u"quality"_s)) {
        const QString quality = parser.value(u"quality"_s).toUpper();
        if (quality != u"LO" && quality != u"MD" && quality != u"HI")
            throw Usage{u"--quality: one of LO, MD, HI is needed, not \"%1\""_s.arg(parser.value(u"quality"_s))};
        options.Quality = quality;
    }

    CommandLineUser user;
    if (parser.isSet(u"on-problem"_s))
        user.onProblem =
            ChoiceOption<TSkipAnswer>(parser, u"on-problem"_s, {{u"skip"_s, TSkipAnswer::Skip}, {u"stop"_s, TSkipAnswer::Stop}});
    if (parser.isSet(u"overwrite"_s))
        user.onOverwrite = ChoiceOption<TOverwriteAnswer>(
            parser, u"overwrite"_s,
            {{u"yes"_s, TOverwriteAnswer::Overwrite}, {u"no"_s, TOverwriteAnswer::Skip}, {u"cancel"_s, TOverwriteAnswer::Stop}});

    const QString project = args[0];
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

    options.OutputPath = QFileInfo(args[1]).absoluteFilePath();
    options.ProtectedPaths << QFileInfo(project).absoluteFilePath();
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
    if (outcome.CancelMark) {
        Print(stdout, u"途中終了しました。\n"_s);
        return kExitStopped;
    }
    Print(stdout, u"完了しました。\n"_s);
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

} // namespace

int main(int argc, char* argv[])
{
    qInstallMessageHandler(QuietPlatformNotes);
    const std::unique_ptr<QCoreApplication> app = NewPictureApplication(argc, argv);
    QCoreApplication::setApplicationName(u"medlark-render"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(MEDLARK_VERSION));
    try {
        return Run(*app);
    } catch (const Usage& usage) {
        Print(stderr, u"medlark-render: "_s + usage.message + u"\nTry 'medlark-render --help'.\n"_s);
        return kExitUsage;
    } catch (const Error& e) {
        Print(stderr, Plain(e.Message()) + u"\n"_s);
        return kExitError;
    }
}
