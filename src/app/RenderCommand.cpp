#include "app/RenderCommand.h"

#include "encode/EncoderDefinitions.h"
#include "model/Error.h"
#include "model/NumberText.h"
#include "model/Settings.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <utility>
#include <vector>

namespace medlark {

using namespace Qt::StringLiterals;

namespace {

// A number from low to high in the given unit ("seconds", "LUFS", "dBTP").
double NumberOption(const QCommandLineParser& parser, const QString& name, double low, double high, const QString& unit)
{
    const auto value = ParseNumber(parser.value(name));
    if (!value || *value < low || *value > high)
        throw TUsageError{u"--%1: a number of %5 from %2 to %3 is needed, not \"%4\""_s.arg(
            name, FormatNumber(low), FormatNumber(high), parser.value(name), unit)};
    return *value;
}

double SecondsOption(const QCommandLineParser& parser, const QString& name, double low, double high)
{
    return NumberOption(parser, name, low, high, u"seconds"_s);
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
    throw TUsageError{u"--%1: one of %2 is needed, not \"%3\""_s.arg(name, words.join(u", "_s), parser.value(name))};
}

bool IsNone(const QString& encoder)
{
    return encoder.compare(u"none"_s, Qt::CaseInsensitive) == 0 || encoder == QString::fromUtf16(kCompressionNone);
}

} // namespace

TRenderCommand ParseRenderCommand(const QStringList& arguments)
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
        {u"loudness"_s, u"Match loudness: every segment brought to this integrated loudness, -40 to -5 (-14 suits video sites)."_s,
         u"LUFS"_s},
        {u"no-loudness"_s, u"Do not match loudness (the tracks' own gains still apply)."_s},
        {u"true-peak"_s, u"True-peak ceiling of matched loudness, -12 to 0."_s, u"DBTP"_s},
        {u"settings"_s, u"Settings file to take the defaults from (config.ini)."_s, u"FILE"_s},
        {u"on-problem"_s, u"Answer for a track that cannot be opened or cut: skip or stop."_s, u"skip|stop"_s},
        {u"overwrite"_s, u"Single mode, answer for an existing track file: yes, no or cancel."_s, u"yes|no|cancel"_s},
    });
    TRenderCommand command;
    if (!parser.parse(arguments))
        throw TUsageError{parser.errorText()};
    if (parser.isSet(help)) {
        command.ShowHelp = true;
        command.HelpText = parser.helpText();
        return command;
    }
    if (parser.isSet(version)) {
        command.ShowVersion = true;
        return command;
    }
    const QStringList args = parser.positionalArguments();
    if (args.size() != 2)
        throw TUsageError{u"a project file and an output are needed"_s};
    // The settings as the window would hold them, then the flags over them.
    TSettings settings;
    // The flags with a "--no-" twin, and the settings they turn on or off.
    const std::pair<QString, bool*> switches[] = {{u"bookmark"_s, &settings.WriteDetailText},
                                                  {u"json"_s, &settings.WriteJsonFile},
                                                  {u"html"_s, &settings.ExportHTMLs},
                                                  {u"video"_s, &settings.ExportVideo}};
    for (const auto& [name, setting] : switches)
        if (parser.isSet(name) && parser.isSet(u"no-"_s + name))
            throw TUsageError{u"--%1 and --no-%1 exclude each other"_s.arg(name)};
    if (parser.isSet(u"loudness"_s) && parser.isSet(u"no-loudness"_s))
        throw TUsageError{u"--loudness and --no-loudness exclude each other"_s};
    if (parser.isSet(u"settings"_s)) {
        const QString path = parser.value(u"settings"_s);
        if (!QFileInfo(path).isFile())
            throw Error(OpenFileError(path, u"No such file"_s));
        LoadSettings(settings, path);
    } else {
        LoadSettings(settings, SettingsFilePath());
    }
    for (const auto& [name, setting] : switches)
        if (parser.isSet(name) || parser.isSet(u"no-"_s + name))
            *setting = parser.isSet(name);
    if (parser.isSet(u"single"_s)) {
        settings.CrossTypeA = false;
        settings.CrossTypeB = true;
    }
    TMedleySettings& medley = settings.Medley;
    if (parser.isSet(u"crossfade"_s))
        medley.CrossfadeTime = SecondsOption(parser, u"crossfade"_s, 0.1, 65535);
    if (parser.isSet(u"head"_s))
        medley.BlankHead = SecondsOption(parser, u"head"_s, 0, 10);
    if (parser.isSet(u"tail"_s))
        medley.BlankTail = SecondsOption(parser, u"tail"_s, 0, 10);
    if (parser.isSet(u"envelope"_s))
        medley.Envelope =
            ChoiceOption<TEnvelope>(parser, u"envelope"_s, {{u"linear"_s, TEnvelope::Linear}, {u"sine"_s, TEnvelope::Sine}});
    TLoudnessSettings& loudness = medley.Loudness;
    if (parser.isSet(u"loudness"_s)) {
        loudness.Match = true;
        loudness.Target = NumberOption(parser, u"loudness"_s, kMinLoudnessTarget, kMaxLoudnessTarget, u"LUFS"_s);
    }
    if (parser.isSet(u"no-loudness"_s))
        loudness.Match = false;
    if (parser.isSet(u"true-peak"_s))
        loudness.Ceiling = NumberOption(parser, u"true-peak"_s, kMinTruePeakCeiling, kMaxTruePeakCeiling, u"dBTP"_s);
    if (parser.isSet(u"cover"_s)) {
        const QString cover = parser.value(u"cover"_s);
        if (!QFileInfo(cover).isFile())
            throw Error(OpenFileError(cover, u"No such file"_s));
        settings.CoverImage = QFileInfo(cover).absoluteFilePath();
    }
    const QString addonDir = AddonFolder();
    if (parser.isSet(u"encoder"_s)) {
        const QString name = parser.value(u"encoder"_s);
        if (!IsNone(name) && FindCompressionItem(addonDir, name) < 0) {
            QStringList known;
            for (const TCompressionItem& item : CompressionMenuItems(addonDir))
                known << u'"' + item.Caption + u'"';
            throw TUsageError{u"--encoder: no encoder \"%1\" in %2encoder.inf (there are: %3)"_s.arg(
                name, addonDir, known.isEmpty() ? u"none"_s : known.join(u", "_s))};
        }
        settings.Compression = IsNone(name) ? QString::fromUtf16(kCompressionNone) : name;
    }
    if (parser.isSet(u"quality"_s)) {
        const QString quality = parser.value(u"quality"_s).toUpper();
        if (quality != u"LO" && quality != u"MD" && quality != u"HI")
            throw TUsageError{u"--quality: one of LO, MD, HI is needed, not \"%1\""_s.arg(parser.value(u"quality"_s))};
        settings.CompressionLevel = quality == u"LO" ? 1 : quality == u"HI" ? 10 : 5;   // the quality items' tags
    }

    command.Options = BuildOptionsFrom(settings, addonDir);
    command.Options.TemplateDir = TemplateFolder();
    command.Options.WriteChapters = parser.isSet(u"chapters"_s);
    command.ProjectPath = args[0];
    command.Options.OutputPath = QFileInfo(args[1]).absoluteFilePath();
    command.Options.ProtectedPaths << QFileInfo(args[0]).absoluteFilePath();

    if (parser.isSet(u"on-problem"_s))
        command.OnProblem =
            ChoiceOption<TSkipAnswer>(parser, u"on-problem"_s, {{u"skip"_s, TSkipAnswer::Skip}, {u"stop"_s, TSkipAnswer::Stop}});
    if (parser.isSet(u"overwrite"_s))
        command.OnOverwrite = ChoiceOption<TOverwriteAnswer>(
            parser, u"overwrite"_s,
            {{u"yes"_s, TOverwriteAnswer::Overwrite}, {u"no"_s, TOverwriteAnswer::Skip}, {u"cancel"_s, TOverwriteAnswer::Stop}});
    return command;
}

} // namespace medlark
