// The real main window, driven as a user would, with its message boxes and
// file dialogs answered by a test service.

#include "ui/MainWindow.h"

#include "ui/Application.h"

#include "model/IniText.h"
#include "model/ProjectFile.h"
#include "render/Loudness.h"
#include "render/PcmBlock.h"
#include "render/WavOutput.h"
#include "support/KDrop.h"
#include "ui/DecimalSpinEdit.h"
#include "ui/HtmlPopup.h"
#include "ui/ProgressDlg.h"
#include "ui/SegmentMeasurer.h"
#include "ui/TrackListView.h"
#include "ui/UiServices.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QRegularExpression>
#include <QThread>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QUrl>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QPushButton>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QToolButton>

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <deque>
#include <functional>

using namespace medlark;
using namespace Qt::StringLiterals;

namespace {

struct ShownBox {
    QString text;
    QString caption;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
};

class FakeServices final : public TUiServices {
public:
    std::vector<ShownBox> boxes;
    std::deque<QMessageBox::StandardButton> answers;
    QString saveName;
    QString directory;
    QStringList openNames;
    QStringList opened;

    QMessageBox::StandardButton MessageBox(QWidget*, const QString& text, const QString& caption,
                                           QMessageBox::Icon icon, QMessageBox::StandardButtons buttons) override
    {
        boxes.push_back({text, caption, icon, buttons});
        if (answers.empty())
            return buttons.testFlag(QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::No;
        const auto a = answers.front();
        answers.pop_front();
        return a;
    }
    QStringList OpenFileNames(QWidget*, const QString&) override { return openNames; }
    QString OpenFileName(QWidget*, const QString&) override { return openNames.value(0); }
    QString SaveFileName(QWidget*, const QString&, const QString&) override { return saveName; }
    QString ExistingDirectory(QWidget*, const QString&, const QString&) override { return directory; }
    void OpenUrl(const QString& url) override { opened << url; }
};

// Processes events until the condition holds; false after 30 s without.
bool WaitFor(const std::function<bool()>& condition)
{
    QElapsedTimer waited;
    for (waited.start(); !condition(); QThread::msleep(5)) {
        if (waited.elapsed() > 30000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// The completion's words, with at most the medley's loudness after them.
bool SaysOnly(const QString& text, const QString& words)
{
    const QString line = u"(\n\nメドレーの音量: [^\n]+ LUFS[^\n]*)?"_s;
    return QRegularExpression(u"\\A"_s + QRegularExpression::escape(words) + line + u"\\z"_s).match(text).hasMatch();
}

class MainWindow : public testing::Test {
protected:
    void SetUp() override
    {
        TUiServices::SetInstance(&services_);
        settings_ = dir_.filePath(u"config.ini"_s);
    }
    void TearDown() override { TUiServices::SetInstance(nullptr); }

    // A steady tone; swelling, it grows louder through the file, so that every
    // segment measures differently.
    QString Tone(const QString& name, double seconds, bool swelling = false)
    {
        const auto frames = static_cast<std::int64_t>(seconds * kPcmRate);
        PcmBlock pcm(static_cast<size_t>(frames) * 2);
        for (std::int64_t i = 0; i < frames; ++i) {
            const double level = swelling ? 800.0 + 15000.0 * static_cast<double>(i) / static_cast<double>(frames)
                                          : 6000.0;
            pcm[static_cast<size_t>(2 * i)] = pcm[static_cast<size_t>(2 * i + 1)] =
                static_cast<std::int16_t>(level * std::sin(static_cast<double>(i) * 0.03));
        }
        const QString path = dir_.filePath(name);
        OutputFile file = CreateOutputFile(path);
        WriteHeader(file);
        file.Write(pcm.data(), ByteCount(pcm));
        FinishWav(file);
        return path;
    }

    void WriteSettings(const QString& text)
    {
        QFile file(settings_);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("\xFF\xFE" + QStringEncoder(QStringEncoder::Utf16LE).encode(text));
    }

    TIniText SavedSettings()
    {
        QFile file(settings_);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return TIniText::FromBytes(file.readAll());
    }

    QTemporaryDir dir_;
    FakeServices services_;
    QString settings_;
};

} // namespace

TEST_F(MainWindow, FirstRunShowsBuiltInValuesAndWritesSeventeenKeysAtClose)
{
    {
        TFormXFade window(settings_);
        EXPECT_EQ(window.windowTitle(), u"Medlark");
        EXPECT_EQ(window.size(), QSize(784, 599));
        EXPECT_EQ(window.AdvSpinEdit1->text(), u"10");
        EXPECT_EQ(window.ComboBox1->currentText(), u"直線");
        EXPECT_TRUE(window.CheckShiori->isChecked());
        EXPECT_TRUE(window.MenuMakeCross->isChecked());
        EXPECT_TRUE(window.RadioItemNoCompress->isChecked());
        EXPECT_TRUE(window.RadioItemQMID->isChecked());
        EXPECT_EQ(window.AdvPopupMenu1->defaultAction(), window.MenuMakeCross);
        // The shipped encoders are offered after "なし".
        EXPECT_EQ(window.MenuCompress->actions().size(), 5);
        EXPECT_EQ(window.AdvSpinEdit1->minimum(), 0.1);
        EXPECT_EQ(window.AdvSpinEdit1->maximum(), 65535.0);
        EXPECT_EQ(window.AdvSpinEdit2->maximum(), 10.0);
        window.show();
        window.close();
    }
    EXPECT_EQ(SavedSettings().Lines(u"General"_s),
              (QStringList{u"CrossDuration=10"_s, u"EnvelopeType=0"_s, u"WriteDetailText=1"_s,
                           u"BlankDurationHead=1"_s, u"BlankDurationTail=1"_s, u"PlayerVolume=50"_s,
                           u"CrossTypeA=1"_s, u"CrossTypeB=0"_s, u"WriteJsonFile=0"_s, u"ExportHTMLs=0"_s,
                           u"Compression=なし"_s, u"CompressionLevel=5"_s,
                           u"ExportVideo=0"_s, u"CoverImage="_s, u"MatchLoudness=0"_s, u"LoudnessTarget=-14"_s,
                           u"TruePeakCeiling=-1"_s}));
}

TEST_F(MainWindow, SettingsAreAppliedAtStartAndTheMenuKeepsItsGroups)
{
    WriteSettings(u"[General]\r\nCrossDuration=6.5\r\nEnvelopeType=1\r\nBlankDurationHead=25\r\nCrossTypeB=1\r\n"
                  u"Compression=MP3 (.mp3)\r\nCompressionLevel=10\r\nWriteJsonFile=1\r\nPlayerVolume=30\r\n"_s);
    TFormXFade window(settings_);
    EXPECT_EQ(window.AdvSpinEdit1->text(), u"6.5");
    EXPECT_EQ(window.ComboBox1->currentIndex(), 1);
    EXPECT_EQ(window.AdvSpinEdit2->value(), 10.0);
    EXPECT_FALSE(window.CheckShiori->isChecked());   // the key's default
    EXPECT_TRUE(window.MenuMakeSingle->isChecked());
    EXPECT_FALSE(window.MenuMakeCross->isChecked());
    EXPECT_TRUE(window.CheckWriteJson->isChecked());
    EXPECT_TRUE(window.RadioItemQHIGH->isChecked());
    QAction* mp3 = nullptr;
    for (QAction* a : window.MenuCompress->actions())
        if (a->text() == u"MP3 (.mp3)")
            mp3 = a;
    ASSERT_NE(mp3, nullptr);
    EXPECT_TRUE(mp3->isChecked());
    EXPECT_FALSE(window.RadioItemNoCompress->isChecked());

    // Radio items exclude each other within their own group only.
    window.MenuMakeCross->trigger();
    EXPECT_TRUE(window.MenuMakeCross->isChecked());
    EXPECT_FALSE(window.MenuMakeSingle->isChecked());
    EXPECT_TRUE(window.CheckWriteJson->isChecked());
    window.MenuMakeCross->trigger();   // a checked radio item stays checked
    EXPECT_TRUE(window.MenuMakeCross->isChecked());
    window.RadioItemNoCompress->trigger();
    EXPECT_FALSE(mp3->isChecked());
    EXPECT_TRUE(window.RadioItemQHIGH->isChecked());
    window.CheckShiori->trigger();
    EXPECT_TRUE(window.CheckShiori->isChecked());

    window.close();
    const TIniText saved = SavedSettings();
    EXPECT_EQ(saved.Value(u"General"_s, u"CrossTypeA"_s), u"1");
    EXPECT_EQ(saved.Value(u"General"_s, u"Compression"_s), u"なし");
    EXPECT_EQ(saved.Value(u"General"_s, u"PlayerVolume"_s), u"30");
    EXPECT_EQ(saved.Value(u"General"_s, u"CrossDuration"_s), u"6.5");
}

TEST_F(MainWindow, DropsLoadAProjectOrAddTracks)
{
    TFormXFade window(settings_);
    const QString a = Tone(u"A.wav"_s, 1);
    const QString b = Tone(u"B.wav"_s, 1);
    TrackList list;
    list.AddTrackFile(a)->SetTimes(0.1, 0.9);
    list.AddTrackFile(b)->SetTimes(0.2, 0.8);
    const QString project = dir_.filePath(u"Set.MLKD"_s);
    SaveProject(list, project);

    window.KAddDrop1DropFiles({project});
    ASSERT_EQ(window.Tracks().Count(), 2);
    EXPECT_EQ(window.AdvPolyList1->count(), 2);
    EXPECT_TRUE(window.AdvPolyList1->item(1)->data(Qt::UserRole).toString().startsWith(u"<b>B</b>"_s));
    window.KAddDrop1DropFiles({project, a});
    EXPECT_EQ(window.Tracks().Count(), 4);
    window.KAddDrop1DropFiles({dir_.path()});   // a folder is no track
    EXPECT_EQ(window.Tracks().Count(), 4);

    // The drop target is the list itself.
    EXPECT_EQ(window.KAddDrop1->Control(), window.AdvPolyList1);

    // Reordering and removing.
    Q_EMIT window.AdvPolyList1->MoveRequested(0, 2);
    EXPECT_EQ(window.Tracks().At(2).SourcePath, a);
    EXPECT_EQ(window.AdvPolyList1->currentRow(), 2);
    window.BtnDeleteClick();
    EXPECT_EQ(window.Tracks().Count(), 3);
    EXPECT_EQ(window.AdvPolyList1->count(), 3);

    // Dragged by the mouse and released below the last row: to the end.
    window.show();
    QWidget* viewport = window.AdvPolyList1->viewport();
    const QString first = window.Tracks().At(0).SourcePath;
    auto mouse = [&](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, viewport->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(viewport, &event);
    };
    const QPoint row0(40, 10);
    const QPoint below(40, 3 * kTrackRowHeight + 30);
    mouse(QEvent::MouseButtonPress, row0, Qt::LeftButton);
    mouse(QEvent::MouseMove, row0 + QPoint(0, 20), Qt::LeftButton);
    mouse(QEvent::MouseMove, below, Qt::LeftButton);
    EXPECT_EQ(window.AdvPolyList1->DropTarget(0, below), 2);
    mouse(QEvent::MouseButtonRelease, below, Qt::NoButton);
    EXPECT_EQ(window.Tracks().At(2).SourcePath, first);

    // The Delete key removes the selected track, as the button does.
    window.AdvPolyList1->setCurrentRow(0);
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(window.AdvPolyList1, &del);
    EXPECT_EQ(window.Tracks().Count(), 2);
    EXPECT_EQ(window.AdvPolyList1->count(), 2);
}

// A changed list is offered for saving before it is closed or replaced:
// Cancel stops, No goes on, Yes saves through the save dialog.
TEST_F(MainWindow, UnsavedChangesAreOfferedForSaving)
{
    const QString a = Tone(u"A.wav"_s, 1);
    TrackList list;
    list.AddTrackFile(a)->SetTimes(0.1, 0.9);
    const QString project = dir_.filePath(u"p.mlkd"_s);
    SaveProject(list, project);
    const QString question = u"トラックリストの変更を保存しますか？"_s;
    {
        TFormXFade window(settings_);
        window.show();
        window.KAddDrop1DropFiles({project});   // nothing to lose yet: no question
        EXPECT_TRUE(services_.boxes.empty());
        window.close();                         // unchanged since loaded
        EXPECT_TRUE(services_.boxes.empty());
    }
    TFormXFade window(settings_);
    window.show();
    window.KAddDrop1DropFiles({a});
    // Cancel: the window stays, the list too; loading a project is stopped as well.
    services_.answers = {QMessageBox::Cancel, QMessageBox::Cancel};
    window.close();
    EXPECT_TRUE(window.isVisible());
    window.KAddDrop1DropFiles({project});
    EXPECT_EQ(window.Tracks().Count(), 1);
    EXPECT_EQ(window.Tracks().At(0).Times.StartTime, -1.0);
    ASSERT_EQ(services_.boxes.size(), 2u);
    EXPECT_EQ(services_.boxes[0].text, question);
    EXPECT_EQ(services_.boxes[0].caption, u"確認");
    EXPECT_EQ(services_.boxes[0].buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    // Yes: saved through the dialog, then the project is loaded.
    services_.answers = {QMessageBox::Yes};
    services_.saveName = dir_.filePath(u"kept.mlkd"_s);
    window.KAddDrop1DropFiles({project});
    EXPECT_TRUE(QFileInfo::exists(services_.saveName));
    EXPECT_EQ(window.Tracks().At(0).Times.StartTime, 0.1);
    TrackList kept;
    LoadProject(kept, services_.saveName);
    ASSERT_EQ(kept.Count(), 1);
    EXPECT_EQ(kept.At(0).Times.StartTime, -1.0);
    // No: closes without saving.
    window.KAddDrop1DropFiles({a});
    services_.answers = {QMessageBox::No};
    const int asked = static_cast<int>(services_.boxes.size());
    window.close();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(static_cast<int>(services_.boxes.size()), asked + 1);
}

TEST_F(MainWindow, BuildCheckReportsEveryProblemAtOnce)
{
    TFormXFade window(settings_);
    window.BtnGoBuildClick();
    ASSERT_EQ(services_.boxes.size(), 1u);
    EXPECT_EQ(services_.boxes[0].text, u"1つ以上のトラックが必要です。");
    EXPECT_EQ(services_.boxes[0].caption, u"エラー");

    const QString a = Tone(u"A.wav"_s, 1);
    window.Tracks().AddTrackFile(a);
    window.Tracks().AddTrackFile(a)->SetTimes(10, 8);
    window.AdvSpinEdit1->setValue(6);
    window.BtnGoBuildClick();
    ASSERT_EQ(services_.boxes.size(), 2u);
    EXPECT_EQ(services_.boxes[1].text,
              u"◇問題が見つかりました。修正して再試行してください。\r\n\r\n1番目のトラックの時間設定が未定義です\r\n"
              u"2番目のトラックの時間設定が不正です\r\n2番目のトラックの時間設定が短すぎます\r\n"_s);
    EXPECT_EQ(services_.boxes[1].icon, QMessageBox::Critical);
}

// The progress dialog cannot be dismissed under a running build; its stop
// button, close box and Escape end the build after the current track with a
// complete medley of the tracks done.
TEST_F(MainWindow, TheProgressDialogStopsTheBuildInsteadOfClosing)
{
    TFormXFade window(settings_);
    const QString a = Tone(u"A.wav"_s, 4);
    for (int i = 0; i < 4; ++i)
        window.Tracks().AddTrackFile(a)->SetTimes(0.5, 2.5);
    window.AdvSpinEdit1->setValue(1);
    window.AdvSpinEdit2->setValue(0);
    window.AdvSpinEdit3->setValue(0);
    services_.saveName = dir_.filePath(u"medley.wav"_s);
    bool stayed = false;
    QObject::connect(&window, &TFormXFade::BuildStarted, [&](TProgressDlg* dialog) {
        EXPECT_EQ(dialog->BtnStop->text(), u"中止");
        EXPECT_EQ(dialog->Label1->pos(), QPoint(16, 8));
        QObject::connect(dialog, &TProgressDlg::Progressed, [&, dialog](int position, int) {
            if (position != 1 || dialog->StopAsked())
                return;
            // After the first track: neither Escape nor the close box closes it; each asks to stop.
            dialog->reject();
            EXPECT_TRUE(dialog->StopAsked());
            dialog->close();
            stayed = dialog->isVisible();
            dialog->BtnStop->click();
        });
    });
    window.BtnGoBuildClick();
    EXPECT_TRUE(stayed);
    ASSERT_FALSE(services_.boxes.empty());
    EXPECT_TRUE(SaysOnly(services_.boxes.back().text, u"途中終了しました。"_s)) << services_.boxes.back().text.toStdString();
    // One track of 2 s (its fade-out kept), a valid WAV.
    const QByteArray wav = test::ReadAll(services_.saveName);
    ASSERT_EQ(wav.size(), kWavHeaderBytes + 2 * kPcmBytesPerSecond);
    quint32 dataSize = 0;
    std::memcpy(&dataSize, wav.constData() + 40, 4);
    EXPECT_EQ(dataSize, static_cast<quint32>(wav.size() - kWavHeaderBytes));
}

TEST_F(MainWindow, BuildsAMedleyThroughTheWorkerAndTheProgressDialog)
{
    TFormXFade window(settings_);
    const QString a = Tone(u"A.wav"_s, 4);
    QFile broken(dir_.filePath(u"broken.mp3"_s));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not audio");
    broken.close();
    window.Tracks().AddTrackFile(a)->SetTimes(0.5, 2.5);
    window.Tracks().AddTrackFile(broken.fileName())->SetTimes(0, 1);
    window.Tracks().AddTrackFile(a)->SetTimes(1.0, 3.0);
    window.AdvSpinEdit1->setValue(1);
    window.AdvSpinEdit2->setValue(0);
    window.AdvSpinEdit3->setValue(0);
    window.CheckShiori->setChecked(false);

    services_.saveName = dir_.filePath(u"medley.wav"_s);
    services_.answers = {QMessageBox::Yes};   // skip the broken track
    std::vector<std::pair<int, int>> progress;
    QObject::connect(&window, &TFormXFade::BuildStarted, [&](TProgressDlg* dialog) {
        EXPECT_EQ(dialog->windowTitle(), u"しばらくお待ちください");
        QObject::connect(dialog, &TProgressDlg::Progressed,
                         [&](int position, int maximum) { progress.push_back({position, maximum}); });
    });
    window.BtnGoBuildClick();   // returns when the progress dialog has closed

    EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{0, 2}, {1, 2}, {1, 2}, {3, 2}}));
    ASSERT_EQ(services_.boxes.size(), 2u);
    EXPECT_EQ(services_.boxes[0].text, u"対応していない形式です: broken.mp3\r\nこのトラックを飛ばして続けますか？");
    EXPECT_EQ(services_.boxes[0].caption, u"エラー");
    EXPECT_EQ(services_.boxes[0].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_TRUE(SaysOnly(services_.boxes[1].text, u"完了しました。"_s)) << services_.boxes[1].text.toStdString();
    EXPECT_EQ(services_.boxes[1].icon, QMessageBox::Information);   // the loudness is no warning
    EXPECT_EQ(services_.boxes[1].caption, u"Complete");
    EXPECT_EQ(window.CurrentProgress(), nullptr);
    // 2 s and 2 s overlapped by 1 s.
    EXPECT_EQ(QFileInfo(services_.saveName).size(), kWavHeaderBytes + 3 * kPcmBytesPerSecond);

    // Stopped at the prompt: the medley of the tracks so far, and the other message.
    services_.boxes.clear();
    services_.answers = {QMessageBox::No};
    window.BtnGoBuildClick();
    ASSERT_EQ(services_.boxes.size(), 2u);
    EXPECT_TRUE(SaysOnly(services_.boxes[1].text, u"途中終了しました。"_s)) << services_.boxes[1].text.toStdString();
    EXPECT_EQ(services_.boxes[1].icon, QMessageBox::Warning);
    EXPECT_EQ(QFileInfo(services_.saveName).size(), kWavHeaderBytes + 2 * kPcmBytesPerSecond);

    // An error wins over everything, and a cancelled dialog starts nothing.
    services_.boxes.clear();
    services_.saveName = dir_.filePath(u"no folder/x.wav"_s);
    window.BtnGoBuildClick();
    ASSERT_EQ(services_.boxes.size(), 1u);
    EXPECT_TRUE(services_.boxes[0].text.contains(u"を作成できません。"_s));
    EXPECT_EQ(services_.boxes[0].caption, u"エラー");
    services_.boxes.clear();
    services_.saveName.clear();
    window.BtnGoBuildClick();
    EXPECT_TRUE(services_.boxes.empty());
}

// The video's two menu items after the JSON check, the cover's choice in the
// item's caption, a build that leaves the video, and both kept in the settings.
TEST_F(MainWindow, VideoMenuCoverAndABuildWithTheVideo)
{
    TFormXFade window(settings_);
    const QList<QAction*> items = window.AdvPopupMenu1->actions();
    const auto json = items.indexOf(window.CheckWriteJson);
    ASSERT_GE(json, 0);
    ASSERT_GT(items.size(), json + 2);
    EXPECT_EQ(items[json + 1], window.CheckExportVideo);
    EXPECT_EQ(items[json + 2], window.MenuCoverImage);
    EXPECT_EQ(window.CheckExportVideo->text(), u"<連結のみ> 動画を書き出す (MP4)(&V)");
    EXPECT_TRUE(window.CheckExportVideo->isCheckable());
    EXPECT_FALSE(window.CheckExportVideo->isChecked());
    EXPECT_EQ(window.MenuCoverImage->text(), u"カバー画像を選ぶ…");

    QImage cover(64, 64, QImage::Format_RGB32);
    cover.fill(Qt::darkCyan);
    const QString coverPath = dir_.filePath(u"ジャケット.png"_s);
    ASSERT_TRUE(cover.save(coverPath));
    services_.openNames = {coverPath};
    window.MenuCoverImage->trigger();
    EXPECT_EQ(window.MenuCoverImage->text(), u"カバー画像を選ぶ… (ジャケット.png)");
    services_.openNames = {dir_.filePath(u"A&B.png"_s)};   // shown with its "&", not as a shortcut
    window.MenuCoverImage->trigger();
    EXPECT_EQ(window.MenuCoverImage->text(), u"カバー画像を選ぶ… (A&&B.png)");
    services_.openNames = {coverPath};
    window.MenuCoverImage->trigger();
    services_.openNames.clear();   // choosing nothing keeps the cover
    window.MenuCoverImage->trigger();
    EXPECT_EQ(window.MenuCoverImage->text(), u"カバー画像を選ぶ… (ジャケット.png)");

    const QString a = Tone(u"A.wav"_s, 4);
    for (int i = 0; i < 3; ++i)
        window.Tracks().AddTrackFile(a)->SetTimes(0.5, 3.0);
    window.AdvSpinEdit1->setValue(1);
    window.CheckShiori->setChecked(false);
    window.CheckExportVideo->setChecked(true);
    services_.saveName = dir_.filePath(u"medley.wav"_s);
    window.BtnGoBuildClick();
    ASSERT_EQ(services_.boxes.size(), 1u);
    // Three chapters of about 2 s: the completion says which rule they break.
    EXPECT_TRUE(services_.boxes[0].text.startsWith(u"完了しました。\n\n"_s)
                && services_.boxes[0].text.contains(u"\n\nチャプターが動画サイトの規則に合いません:\n・"_s))
        << services_.boxes[0].text.toStdString();
    EXPECT_EQ(services_.boxes[0].icon, QMessageBox::Warning);
    const QDir folder(dir_.filePath(u"publish_%1_01"_s.arg(QDate::currentDate().toString(u"yyMMdd"_s))));
    EXPECT_EQ(folder.entryList(QDir::Files, QDir::Name), (QStringList{u"medley.chapters.txt"_s, u"medley.mp4"_s}));
    EXPECT_GT(QFileInfo(folder.filePath(u"medley.mp4"_s)).size(), 0);

    window.close();
    EXPECT_EQ(SavedSettings().Value(u"General"_s, u"ExportVideo"_s), u"1");
    EXPECT_EQ(SavedSettings().Value(u"General"_s, u"CoverImage"_s), coverPath);
    TFormXFade again(settings_);
    EXPECT_TRUE(again.CheckExportVideo->isChecked());
    EXPECT_EQ(again.MenuCoverImage->text(), u"カバー画像を選ぶ… (ジャケット.png)");
    again.close();
}

TEST_F(MainWindow, SingleModeWritesTrackFilesIntoTheChosenFolder)
{
    TFormXFade window(settings_);
    const QString a = Tone(u"A.wav"_s, 3);
    window.Tracks().AddTrackFile(a)->SetTimes(0.5, 1.5);
    window.Tracks().AddTrackFile(a)->SetTimes(1.0, 2.5);
    window.AdvSpinEdit1->setValue(0.2);
    window.MenuMakeSingle->trigger();
    // With an encoder and the sound sheet.
    for (QAction* a : window.MenuCompress->actions())
        if (a->text() == u"Ogg Vorbis (.ogg)")
            a->trigger();
    window.RadioItemQLOW->trigger();
    window.CheckWriteHTML->trigger();
    services_.directory = dir_.filePath(u"out"_s);
    QDir().mkpath(services_.directory);
    window.BtnGoBuildClick();
    ASSERT_FALSE(services_.boxes.empty());
    EXPECT_EQ(services_.boxes.back().text, u"完了しました。");
    EXPECT_TRUE(QFileInfo::exists(services_.directory + u"/Track_01.wav"_s));
    EXPECT_TRUE(QFileInfo::exists(services_.directory + u"/Track_02.wav"_s));
    const QStringList publish = QDir(services_.directory).entryList({u"publish_*"_s}, QDir::Dirs);
    ASSERT_EQ(publish.size(), 1);
    const QString folder = services_.directory + u'/' + publish[0] + u'/';
    EXPECT_GT(QFileInfo(folder + u"Track_01.ogg"_s).size(), 1000);
    EXPECT_GT(QFileInfo(folder + u"Track_02.ogg"_s).size(), 1000);
    EXPECT_TRUE(QFileInfo::exists(folder + u"soundsheet.html"_s));
}

TEST_F(MainWindow, HelpHintsAndTheErrorReport)
{
    TFormXFade window(settings_);
    services_.answers = {QMessageBox::No};
    window.BtnHelpClick();
    EXPECT_TRUE(services_.opened.isEmpty());
    EXPECT_EQ(services_.boxes.back().text, u"オンラインマニュアルを開きますか？");
    EXPECT_EQ(services_.boxes.back().caption, u"確認");
    services_.answers = {QMessageBox::Yes};
    window.BtnHelpClick();
    ASSERT_EQ(services_.opened.size(), 1);
    EXPECT_TRUE(services_.opened[0].endsWith(u"/docs/manual.html"_s));
    EXPECT_TRUE(QFileInfo::exists(QUrl(services_.opened[0]).toLocalFile()));
    EXPECT_TRUE(window.LinkLabel1->text().contains(u"Version 1.071"_s));

    window.show();
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(window.BtnDelete, &enter);
    EXPECT_TRUE(window.HTMLPopup1->isVisible());
    EXPECT_EQ(window.HTMLPopup1->text(), u"<b>トラックリストから取り除く</b>");
    EXPECT_EQ(window.HTMLPopup1->pos().y(), window.mapToGlobal(QPoint(0, 0)).y() + 352 + 32);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(window.BtnDelete, &leave);
    EXPECT_FALSE(window.HTMLPopup1->isVisible());

    EXPECT_EQ(ErrorReportText(u"abc"_s), u"abc.");
    EXPECT_EQ(ErrorReportText(u"abc."_s), u"abc.");
    EXPECT_EQ(ErrorReportText(u"Stop!"_s), u"Stop!");   // "!" sorts below "."
    EXPECT_EQ(ErrorReportText(u"開けません。"_s), u"開けません。.");
    EXPECT_EQ(ErrorReportText(QString()), u"");
    ReportError(&window, u"Broken"_s);
    EXPECT_EQ(services_.boxes.back().text, u"Broken.");
    EXPECT_EQ(services_.boxes.back().caption, u"Medlark");
    EXPECT_EQ(services_.boxes.back().icon, QMessageBox::Critical);
    window.close();
}

// Loudness matching's controls: read from the settings file, enabled as they
// apply, held to their ranges, and what a build and the settings file take.
TEST_F(MainWindow, LoudnessControlsGoIntoTheSettingsFileAndTheBuild)
{
    WriteSettings(u"[General]\r\nMatchLoudness=1\r\nLoudnessTarget=-16.5\r\nTruePeakCeiling=-2.5\r\n"_s);
    TFormXFade window(settings_);
    EXPECT_EQ(window.CheckMatchLoudness->text(), u"音量をそろえる");
    EXPECT_TRUE(window.SpinLoudnessTarget->isEnabled());
    EXPECT_EQ(window.SpinLoudnessTarget->text() + window.SpinPeakCeiling->text(), u"-16.5-2.5");
    EXPECT_EQ(window.BuildOptions().Medley.Loudness, (TLoudnessSettings{true, -16.5, -2.5}));
    window.CheckMatchLoudness->setChecked(false);
    EXPECT_FALSE(window.SpinLoudnessTarget->isEnabled());   // used only while matching
    EXPECT_TRUE(window.SpinPeakCeiling->isEnabled());       // it holds gained-up tracks too
    EXPECT_EQ(window.MedleySettings().Loudness, (TLoudnessSettings{false, -16.5, -2.5}));

    // The target −40 … −5 by 0.5, the ceiling −12 … 0 by 0.1, with one decimal
    // always shown; typed with the real minus sign too, and letters refused.
    for (const auto& [spin, low, high, step] : {std::tuple{window.SpinLoudnessTarget, -40.0, -5.0, 0.5},
                                                {window.SpinPeakCeiling, -12.0, 0.0, 0.1}}) {
        spin->setValue(high + 2.0);
        EXPECT_EQ(spin->value(), high);
        spin->setValue(low - 8.0);
        EXPECT_EQ(spin->text(), QString::number(low, 'f', 1));
        spin->stepBy(1);
        EXPECT_DOUBLE_EQ(spin->value(), low + step);
    }
    EXPECT_EQ(window.SpinLoudnessTarget->valueFromText(u"−20.5"_s), -20.5);
    QString letters = u"abc"_s;
    int at = 0;
    EXPECT_EQ(window.SpinLoudnessTarget->validate(letters, at), QValidator::Invalid);

    // Settings applied are what a build and the settings file take.
    TSettings s = window.CollectSettings();
    s.Medley.Loudness = {true, -23.0, -0.5};
    window.ApplySettings(s);
    EXPECT_TRUE(window.SpinLoudnessTarget->isEnabled());
    EXPECT_EQ(window.BuildOptions().Medley, s.Medley);
    window.close();
    const TIniText saved = SavedSettings();
    EXPECT_EQ(saved.Value(u"General"_s, u"MatchLoudness"_s), u"1");
    EXPECT_EQ(saved.Value(u"General"_s, u"LoudnessTarget"_s), u"-23");
    EXPECT_EQ(saved.Value(u"General"_s, u"TruePeakCeiling"_s), u"-0.5");
}

// Each row shows its segment's loudness, measured in the background; a
// segment that cannot be measured shows a dash, one without points nothing,
// and a result for points changed since is not shown.
TEST_F(MainWindow, RowsShowTheLoudnessMeasuredInTheBackground)
{
    TFormXFade window(settings_);
    const QString a = Tone(u"A.wav"_s, 6, true);
    const QString copy = dir_.filePath(u"copy.wav"_s);   // measured here, apart from the window
    ASSERT_TRUE(QFile::copy(a, copy));
    QFile broken(dir_.filePath(u"broken.mp3"_s));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly) && broken.write("not audio") > 0 && broken.flush());
    TrackList& list = window.Tracks();
    list.AddTrackFile(a)->SetTimes(0.5, 3.0);
    list.At(0).Times.Gain = -6.0;
    list.AddTrackFile(a);
    list.AddTrackFile(broken.fileName())->SetTimes(0.0, 1.0);
    list.AddTrackFile(a)->SetTimes(4.0, 4.0);   // no length
    window.RefreshTrackList();
    auto text = [&](int row, int role = kTrackLoudnessRole) {
        return window.AdvPolyList1->item(row)->data(role).toString();
    };
    auto measured = [&] { return text(0).endsWith(u" LUFS"_s); };
    EXPECT_EQ(text(0), u"…");
    EXPECT_EQ(text(0, kTrackGainRole), u"−6.0 dB");
    EXPECT_EQ(text(1) + text(1, kTrackGainRole) + text(3), u"");
    ASSERT_TRUE(WaitFor(measured)) << text(0).toStdString();
    EXPECT_EQ(text(0), LoudnessText(MeasureSegment(copy, 0.5, 3.0)));
    ASSERT_TRUE(WaitFor([&] { return text(2) == u"—"; })) << text(2).toStdString();
    EXPECT_EQ(text(1), u"");

    // New points: measured again; a late result for the old ones changes nothing.
    const QString before = text(0);
    list.At(0).SetTimes(4.0, 5.5);
    window.RefreshTrackList();
    EXPECT_EQ(text(0), u"…");
    ASSERT_TRUE(WaitFor(measured));
    const QString after = LoudnessText(MeasureSegment(copy, 4.0, 5.5));
    EXPECT_EQ(text(0), after);
    EXPECT_NE(after, before);   // the file swells: the segments differ
    Q_EMIT window.Measurer()->Measured({a, 0.5, 3.0});
    EXPECT_EQ(text(0), after);
    window.close();
}

// A long measurement under way is given up at the close: the window goes at once.
TEST_F(MainWindow, ClosingWhileMeasuringNeitherHangsNorCrashes)
{
    const QString path = Tone(u"Long.wav"_s, 240, true);
    auto window = std::make_unique<TFormXFade>(settings_);
    window->Tracks().AddTrackFile(path)->SetTimes(1.0, 239.0);
    window->RefreshTrackList();
    window->show();
    ASSERT_TRUE(WaitFor([&] { return window->Measurer()->Measuring(); }));
    QElapsedTimer closing;
    closing.start();
    window->close();
    window.reset();
    EXPECT_LT(closing.elapsed(), 20000);
    EXPECT_FALSE(KnownSegmentLoudness(path, 1.0, 239.0).has_value());   // given up, not kept
}

// Qt's own buttons and dialogs speak Japanese; the system's own texts stay as they are.
TEST(QtTexts, AreJapanese)
{
    EXPECT_GE(InstallQtTranslations(*QCoreApplication::instance()), 1);
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), u"キャンセル");
    EXPECT_NE(QCoreApplication::translate("QFileDialog", "Look in:"), u"Look in:");
    QMessageBox box(QMessageBox::Information, u"Complete"_s, u"完了しました。"_s, QMessageBox::Yes | QMessageBox::No);
    EXPECT_NE(box.button(QMessageBox::Yes)->text(), u"&Yes");
    EXPECT_EQ(box.windowTitle(), u"Complete");
}
