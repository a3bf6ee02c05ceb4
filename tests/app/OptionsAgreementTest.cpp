// The window and medlark-render make a build's options from the same settings
// the same way: the values set in the window's controls and the same values
// given as flags (or read from one settings file) give equal options.

#include "app/RenderCommand.h"
#include "ui/DecimalSpinEdit.h"
#include "ui/MainWindow.h"
#include "ui/UiServices.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QMenu>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

namespace medlark {

// Readable failures: every field of the options.
void PrintTo(const TBuildOptions& o, std::ostream* os)
{
    *os << "{mode " << o.Mode << ", crossfade " << o.Medley.CrossfadeTime << ", envelope "
        << EnvelopeNumber(o.Medley.Envelope) << ", head " << o.Medley.BlankHead << ", tail " << o.Medley.BlankTail
        << ", bookmark " << o.WriteBookmark << ", html " << o.WriteHtml << ", json " << o.WriteJson << ", encoder "
        << o.EncoderTag << ", quality " << o.Quality.toStdString() << ", video " << o.ExportVideo << ", cover "
        << o.CoverImage.toStdString() << ", chapters " << o.WriteChapters << ", add-ons " << o.AddonDir.toStdString()
        << ", templates " << o.TemplateDir.toStdString() << ", output " << o.OutputPath.toStdString() << "}";
}

} // namespace medlark

using namespace medlark;
using namespace Qt::StringLiterals;

namespace {

class CoverChooser final : public TUiServices {
public:
    QString cover;
    QString OpenFileName(QWidget*, const QString&) override { return cover; }
};

class OptionsAgreement : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        TUiServices::SetInstance(&services_);
        settings_ = dir_.filePath(u"config.ini"_s);
    }
    void TearDown() override { TUiServices::SetInstance(nullptr); }

    void WriteSettings(const QString& text) const
    {
        QFile file(settings_);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("\xFF\xFE" + QStringEncoder(QStringEncoder::Utf16LE).encode(text));
    }

    TBuildOptions CommandLine(const QStringList& flags) const
    {
        return ParseRenderCommand(QStringList{u"medlark-render"_s, u"--settings"_s, settings_} + flags
                                  + QStringList{dir_.filePath(u"set.mlkd"_s), dir_.filePath(u"mix.wav"_s)})
            .Options;
    }

    // The window's options, where it differs by design made the command line's:
    // the output and the project, which only the command line knows, and the
    // template folder, which the window's build finds itself.
    static TBuildOptions AsFromWindow(TBuildOptions window, const TBuildOptions& command)
    {
        window.OutputPath = command.OutputPath;
        window.ProtectedPaths = command.ProtectedPaths;
        window.TemplateDir = command.TemplateDir;
        return window;
    }

    static void Check(QMenu* menu, const QString& caption)
    {
        for (QAction* action : menu->actions())
            if (action->text() == caption) {
                action->trigger();
                return;
            }
        FAIL() << "no menu item " << caption.toStdString();
    }

    QTemporaryDir dir_;
    CoverChooser services_;
    QString settings_;
};

} // namespace

TEST_F(OptionsAgreement, ControlsAndFlagsForTheSameValues)
{
    WriteSettings(u"[General]\r\n"_s);
    const QString cover = dir_.filePath(u"cover.png"_s);
    QFile(cover).open(QIODevice::WriteOnly);

    TFormXFade window(settings_);
    window.AdvSpinEdit1->setValue(6.5);
    window.ComboBox1->setCurrentIndex(1);
    window.AdvSpinEdit2->setValue(0.35);
    window.AdvSpinEdit3->setValue(2);
    window.CheckShiori->setChecked(false);
    window.CheckWriteJson->setChecked(true);
    window.CheckWriteHTML->setChecked(true);
    window.CheckExportVideo->setChecked(true);
    Check(window.MenuCompress, u"MP3 (.mp3)"_s);
    window.RadioItemQHIGH->trigger();
    services_.cover = cover;
    window.MenuCoverImage->trigger();

    const TBuildOptions command =
        CommandLine({u"--crossfade"_s, u"6.5"_s, u"--envelope"_s, u"sine"_s, u"--head"_s, u"0.35"_s, u"--tail"_s,
                     u"2"_s, u"--no-bookmark"_s, u"--json"_s, u"--html"_s, u"--video"_s, u"--cover"_s, cover,
                     u"--encoder"_s, u"MP3 (.mp3)"_s, u"--quality"_s, u"HI"_s});
    EXPECT_EQ(command.Medley, (TMedleySettings{6.5, TEnvelope::Sine, 0.35, 2.0, {}}));
    EXPECT_GE(command.EncoderTag, 0);
    EXPECT_EQ(AsFromWindow(window.BuildOptions(), command), command);

    // Single mode, the other curve, no compression, an encoder named by its program.
    window.MenuMakeSingle->trigger();
    window.ComboBox1->setCurrentIndex(0);
    window.CheckExportVideo->setChecked(false);
    window.RadioItemNoCompress->trigger();
    window.RadioItemQLOW->trigger();
    const TBuildOptions single =
        CommandLine({u"--single"_s, u"--crossfade"_s, u"6.5"_s, u"--envelope"_s, u"linear"_s, u"--head"_s, u"0.35"_s,
                     u"--tail"_s, u"2"_s, u"--no-bookmark"_s, u"--json"_s, u"--html"_s, u"--cover"_s, cover,
                     u"--encoder"_s, u"none"_s, u"--quality"_s, u"lo"_s});
    EXPECT_EQ(single.Mode, cfmSingle);
    EXPECT_EQ(AsFromWindow(window.BuildOptions(), single), single);
    Check(window.MenuCompress, u"Opus (.opus)"_s);
    const TBuildOptions opus =
        CommandLine({u"--single"_s, u"--crossfade"_s, u"6.5"_s, u"--head"_s, u"0.35"_s, u"--tail"_s, u"2"_s,
                     u"--no-bookmark"_s, u"--json"_s, u"--html"_s, u"--cover"_s, cover, u"--encoder"_s, u"opus.sh"_s,
                     u"--quality"_s, u"LO"_s});
    EXPECT_EQ(AsFromWindow(window.BuildOptions(), opus), opus);
    window.close();
}

// One settings file, read by both: the window's controls hold what the file
// says, and build what the command line builds from it.
TEST_F(OptionsAgreement, OneSettingsFileBuildsTheSameEverywhere)
{
    WriteSettings(u"[General]\r\nCrossDuration=3.25\r\nEnvelopeType=7\r\nWriteDetailText=1\r\nBlankDurationHead=0.25\r\n"
                  u"BlankDurationTail=4\r\nCrossTypeA=1\r\nWriteJsonFile=1\r\nExportHTMLs=0\r\n"
                  u"Compression=Ogg Vorbis (.ogg)\r\nCompressionLevel=10\r\nExportVideo=1\r\n"_s);
    const TBuildOptions command = CommandLine({});
    EXPECT_EQ(command.Medley, (TMedleySettings{3.25, TEnvelope::None, 0.25, 4.0, {}}));
    EXPECT_EQ(command.Quality, u"HI");
    EXPECT_TRUE(command.ExportVideo);
    TFormXFade window(settings_);
    EXPECT_EQ(AsFromWindow(window.BuildOptions(), command), command);
    window.close();
}
