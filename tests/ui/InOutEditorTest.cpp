// The in/out editor in the real main window: positions of its player, the
// point rules and labels, the keys, and the preview heard through the real
// sound stack (the null sink's monitor of the test's PulseAudio server).

#include "ui/InOutEditor.h"
#include "ui/JoinPreview.h"

#include "build/BuildJob.h"
#include "render/MedleyPreview.h"

#include "model/Error.h"
#include "model/ProjectFile.h"
#include "model/TrackList.h"
#include "render/Loudness.h"
#include "render/PlaybackFeed.h"
#include "render/SegmentLevel.h"
#include "render/SourceStream.h"
#include "ui/DecimalSpinEdit.h"
#include "ui/LedClock.h"
#include "ui/MainWindow.h"
#include "ui/MediaPlayer.h"
#include "ui/TrackListView.h"
#include "ui/UiServices.h"
#include "ui/WaveformBar.h"

#include "Fixtures.h"
#include "TestFiles.h"
#include "build/TestBuild.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>

#include <QAudioDevice>
#include <QElapsedTimer>
#include <QLabel>
#include <QMediaDevices>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace medlark;
using namespace medlark::test;
using namespace Qt::StringLiterals;

namespace {

class BoxRecorder final : public TUiServices {
public:
    QStringList texts;
    QMessageBox::StandardButton MessageBox(QWidget*, const QString& text, const QString&, QMessageBox::Icon,
                                           QMessageBox::StandardButtons buttons) override
    {
        texts << text;
        return buttons.testFlag(QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::No;
    }
};

// Processes events for a while, as the window's user would wait.
void Wait(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QTest::qWait(5);
}

QString Mp3(double seconds)
{
    return Convert(SignalWav(seconds), QStringLiteral("editor_%1.mp3").arg(seconds), {u"-b:a"_s, u"160k"_s});
}

// The test's sound server, recorded from the monitor of its default sink.
class MonitorRecorder final {
public:
    MonitorRecorder()
    {
        parec_.start(u"parec"_s, {u"-d"_s, u"@DEFAULT_MONITOR@"_s, u"--format=s16le"_s, u"--rate=44100"_s,
                                  u"--channels=2"_s, u"--raw"_s, u"--latency-msec=10"_s});
        parec_.waitForStarted();
        // Recording once a tenth of a second of silence has come in.
        QElapsedTimer waited;
        waited.start();
        while (bytes_.size() < kPcmBytesPerSecond / 10 && waited.elapsed() < 10000) {
            parec_.waitForReadyRead(100);
            bytes_ += parec_.readAllStandardOutput();
        }
    }
    PcmBlock Stop()
    {
        Wait(300);
        parec_.terminate();
        parec_.waitForFinished(3000);
        const QByteArray bytes = bytes_ + parec_.readAllStandardOutput();
        PcmBlock pcm(static_cast<size_t>(bytes.size()) / kPcmFrameBytes * kPcmChannels);
        std::memcpy(pcm.data(), bytes.constData(), pcm.size() * 2);
        return pcm;
    }

private:
    QProcess parec_;
    QByteArray bytes_;
};

bool SoundServerReachable()
{
    QProcess info;
    info.start(u"pactl"_s, {u"info"_s});
    return info.waitForFinished(5000) && info.exitCode() == 0 && !QMediaDevices::defaultAudioOutput().isNull();
}

#define REQUIRE_SOUND()                                                                      \
    do {                                                                                     \
        if (!SoundServerReachable()) {                                                       \
            if (qEnvironmentVariableIsSet("MEDLARK_REQUIRE_SOUND"))                          \
                FAIL() << "no sound server, though scripts/test starts one";                 \
            GTEST_SKIP() << "no sound server reachable";                                     \
        }                                                                                    \
    } while (false)

class Editor : public testing::Test {
protected:
    void SetUp() override
    {
        TUiServices::SetInstance(&boxes_);
        window_ = std::make_unique<TFormXFade>(dir_.filePath(u"config.ini"_s));
        editor_ = window_->Editor();
        player_ = editor_->WindowsMediaPlayer1;
    }
    void TearDown() override
    {
        window_.reset();
        TUiServices::SetInstance(nullptr);
    }

    // Adds the file as a track and selects it, as a click on its row does.
    TrackEntry& Select(const QString& path)
    {
        window_->Tracks().AddTrackFiles({path});
        window_->RefreshTrackList();
        const int row = window_->Tracks().Count() - 1;
        window_->AdvPolyList1->setCurrentRow(row);
        return window_->Tracks().At(row);
    }

    QTemporaryDir dir_;
    BoxRecorder boxes_;
    std::unique_ptr<TFormXFade> window_;
    TInOutEditor* editor_ = nullptr;
    TWindowsMediaPlayer* player_ = nullptr;
};

} // namespace

// The preview of an MP3 entry plays exactly the frames a build cuts for its
// points, without a gap or a shift, and stops soon after the out point.
TEST_F(Editor, PreviewPlaysTheFramesABuildCutsAndStopsAtTheOutPoint)
{
    REQUIRE_SOUND();
    const QString path = Mp3(8);
    ASSERT_FALSE(path.isEmpty());
    TrackEntry& entry = Select(path);
    entry.SetTimes(2.0004, 3.75);
    player_->settings.setVolume(100);   // samples pass untouched

    MonitorRecorder recorder;
    QElapsedTimer took;
    took.start();
    editor_->BtnTestPlayClick();
    EXPECT_LT(took.elapsed(), 4000);
    EXPECT_EQ(player_->uiMode(), u"full");
    EXPECT_TRUE(editor_->BtnTestPlay->isEnabled());
    const PcmBlock heard = recorder.Stop();

    SourceStream source = OpenSourceStream(path);
    PcmBlock cut;
    DecodeSegment(source, cut, 2.0004, 3.75 + 1.0);
    const std::int64_t segment = FrameOfSeconds(3.75 - 2.0004);
    ASSERT_GT(FrameCount(heard), segment);

    // Where the segment begins in the recording.
    std::int64_t at = -1;
    for (std::int64_t i = 0; i + 64 < FrameCount(heard) && at < 0; ++i)
        if (FirstMismatch(heard, i, cut, 0, 64) == -1)
            at = i;
    ASSERT_GE(at, 0) << "the segment's first frames were never heard";
    ASSERT_GE(FrameCount(heard) - at, segment);
    EXPECT_EQ(FirstMismatch(heard, at, cut, 0, segment), -1) << "a frame of the segment was lost or changed";

    // After the out point: a little more of the source, then silence.
    std::int64_t more = 0;
    while (at + segment + more < FrameCount(heard) && segment + more < FrameCount(cut)
           && FirstMismatch(heard, at + segment + more, cut, segment + more, 1) == -1)
        ++more;
    EXPECT_LE(more, kPcmRate * 150 / 1000) << "stopped " << more * 1000 / kPcmRate << " ms after the out point";
    const std::int64_t after = at + segment + more;
    const std::int64_t quiet = std::min<std::int64_t>(FrameCount(heard) - after, kPcmRate / 10);
    for (std::int64_t i = 0; i < quiet; ++i)
        ASSERT_EQ(heard[static_cast<size_t>((after + i) * kPcmChannels)], 0) << "sound after the stop";
}

// At rest a position is exactly the frame sought; while playing it is the
// frame being heard, not what the decoder has read ahead.
TEST_F(Editor, PositionsAreFramesAndFollowWhatIsHeard)
{
    REQUIRE_SOUND();
    const QString path = Mp3(8);
    Select(path);
    ASSERT_EQ(player_->openState(), kOpenStateMediaOpen);
    EXPECT_EQ(player_->playState(), kPlayStateReady);
    const double end = SecondsOfFrame(player_->Engine().Frames());

    for (const double t : {0.0, 0.0001, 1.2345678, 3.3333333, 7.9})
        EXPECT_EQ(player_->controls.currentPosition(), (player_->controls.setCurrentPosition(t), SecondsOfFrame(FrameOfSeconds(t))));
    player_->controls.setCurrentPosition(-4);
    EXPECT_EQ(player_->controls.currentPosition(), 0.0);
    player_->controls.setCurrentPosition(1e9);
    EXPECT_EQ(player_->controls.currentPosition(), end);

    player_->controls.setCurrentPosition(1.0);
    QElapsedTimer clock;
    clock.start();
    player_->controls.play();
    EXPECT_EQ(player_->playState(), kPlayStatePlaying);
    Wait(1200);
    const double heard = player_->controls.currentPosition() - 1.0;
    const double elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    EXPECT_LE(heard, elapsed + 0.01) << "the position runs ahead of the sound";
    EXPECT_GE(heard, elapsed - 0.2) << "the position lags the sound";

    // The in point taken now is the frame being heard, as the position says.
    editor_->BtnTimeFromClick();
    const double taken = editor_->LoadedEntry()->Times.StartTime;
    EXPECT_NEAR(taken, player_->controls.currentPosition(), 0.03);
    EXPECT_NEAR(taken - 1.0, static_cast<double>(clock.nsecsElapsed()) / 1e9, 0.2);

    // Pause keeps the position; stop returns it to 0.
    player_->controls.pause();
    const double paused = player_->controls.currentPosition();
    EXPECT_EQ(player_->playState(), kPlayStatePaused);
    Wait(200);
    EXPECT_EQ(player_->controls.currentPosition(), paused);
    player_->controls.play();
    Wait(300);
    EXPECT_GT(player_->controls.currentPosition(), paused);
    player_->controls.stop();
    EXPECT_EQ(player_->playState(), kPlayStateStopped);
    EXPECT_EQ(player_->controls.currentPosition(), 0.0);

    // Played to the end, it rests there.
    player_->controls.setCurrentPosition(end - 0.3);
    player_->controls.play();
    Wait(900);
    EXPECT_EQ(player_->playState(), kPlayStateMediaEnded);
    EXPECT_EQ(player_->controls.currentPosition(), end);
}

TEST_F(Editor, PointRulesLabelsAndClock)
{
    const QString path = Convert(u"sine=frequency=300:duration=95"_s, u"long.mp3"_s, {u"-ac"_s, u"2"_s},
                                 {u"-f"_s, u"lavfi"_s});
    ASSERT_FALSE(path.isEmpty());
    TrackEntry& entry = Select(path);
    EXPECT_EQ(editor_->LoadedEntry(), &entry);
    EXPECT_EQ(editor_->Label5->text(), u"0:00:00.000");
    EXPECT_EQ(editor_->Label6->text(), u"0:00:00.000");
    EXPECT_EQ(editor_->Label7->text(), u"0.0 sec.");
    EXPECT_EQ(editor_->Label8->text(), u"  long");
    EXPECT_EQ(editor_->AdvSmoothLedLabel1->Text(), u"00:00:00");
    EXPECT_TRUE(editor_->BtnTimeFrom->isEnabled());

    // Out point at 60; the in point may not come after it, but may equal it.
    player_->controls.setCurrentPosition(60.0);
    editor_->BtnTimeToClick();
    EXPECT_EQ(entry.Times.EndTime, 60.0);
    EXPECT_EQ(editor_->Label6->text(), u"0:01:00.000");
    player_->controls.setCurrentPosition(61.2);
    const QString caption = entry.Caption;
    try {
        editor_->BtnTimeFromClick();
        ADD_FAILURE() << "an in point after the out point was taken";
    } catch (const Error& e) {
        EXPECT_EQ(e.Message(), u"終了位置より後に設定することはできません");
    }
    EXPECT_EQ(entry.Times.StartTime, -1.0);
    EXPECT_EQ(editor_->Label5->text(), u"0:00:00.000");
    EXPECT_EQ(entry.Caption, caption);
    player_->controls.setCurrentPosition(60.0);
    editor_->BtnTimeFromClick();
    EXPECT_EQ(entry.Times.StartTime, 60.0);
    EXPECT_EQ(editor_->Label7->text(), u"0.0 sec.");

    // In point at 30: the out point may not come before it.
    player_->controls.setCurrentPosition(30.0);
    editor_->BtnTimeFromClick();
    player_->controls.setCurrentPosition(29.9);
    EXPECT_THROW(editor_->BtnTimeToClick(), Error);
    EXPECT_EQ(entry.Times.EndTime, 60.0);
    // A position the player gives is kept as it is, and shown truncated.
    player_->controls.setCurrentPosition(83.4567);
    editor_->BtnTimeToClick();
    EXPECT_EQ(entry.Times.EndTime, SecondsOfFrame(FrameOfSeconds(83.4567)));
    EXPECT_EQ(editor_->Label6->text(), u"0:01:23.456");
    EXPECT_EQ(editor_->Label7->text(), FormatSpan(30.0, entry.Times.EndTime));
    EXPECT_EQ(entry.Caption, TimedCaption(path, 30.0, entry.Times.EndTime));

    // A marker dropped against the rules is refused with the same message.
    editor_->WindowsMediaPlayer1->SeekBar()->OnMarkerMoved(TWaveformBar::TMarker::In, 90.0);
    ASSERT_EQ(boxes_.texts.size(), 1);
    EXPECT_EQ(boxes_.texts[0], u"終了位置より後に設定することはできません.");
    EXPECT_EQ(entry.Times.StartTime, 30.0);
    editor_->WindowsMediaPlayer1->SeekBar()->OnMarkerMoved(TWaveformBar::TMarker::In, 12.5);
    EXPECT_EQ(entry.Times.StartTime, 12.5);
    EXPECT_EQ(editor_->Label5->text(), u"0:00:12.500");

    // The clock rounds halves to even.
    for (const auto& [t, shown] : {std::pair{82.5, u"00:01:22"_s}, std::pair{83.5, u"00:01:24"_s},
                                   std::pair{12.4, u"00:00:12"_s}}) {
        player_->controls.setCurrentPosition(t);
        editor_->Timer1Timer();
        EXPECT_EQ(editor_->AdvSmoothLedLabel1->Text(), shown) << t;
    }
    TLedClock clock(nullptr);
    clock.SetSeconds(90000);
    EXPECT_EQ(clock.Text(), u"01:00:00");

    // Hover underlines a time label; a click on it jumps there.
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(editor_->Label5, &enter);
    EXPECT_TRUE(editor_->Label5->font().underline());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(editor_->Label5, &leave);
    EXPECT_FALSE(editor_->Label5->font().underline());
    editor_->TimeCodeClick(editor_->Label6);
    EXPECT_EQ(player_->playState(), kPlayStatePlaying);
    player_->controls.stop();

    // Selecting the entry again shows its points; removing it empties the editor.
    window_->AdvPolyList1->setCurrentRow(-1);
    window_->AdvPolyList1->setCurrentRow(0);
    EXPECT_EQ(editor_->Label5->text(), u"0:00:12.500");
    EXPECT_EQ(editor_->Label6->text(), u"0:01:23.456");
    window_->BtnDeleteClick();
    EXPECT_EQ(editor_->LoadedEntry(), nullptr);
    EXPECT_EQ(editor_->Label5->text(), u"0:00:00.000");
    EXPECT_EQ(editor_->Label6->text(), u"0:00:00.000");
    EXPECT_TRUE(editor_->Label8->text().isEmpty());
    EXPECT_EQ(editor_->AdvSmoothLedLabel1->Text(), u"00:00:00");
    EXPECT_FALSE(editor_->BtnTimeFrom->isEnabled());
    EXPECT_FALSE(editor_->BtnTestPlay->isEnabled());
    EXPECT_NE(player_->openState(), kOpenStateMediaOpen);
    editor_->TimeCodeClick(editor_->Label5);   // nothing to act on
    EXPECT_EQ(player_->playState(), 0);

    // Loading a project replaces the list: the editor lets go of what it had.
    Select(path);
    player_->controls.setCurrentPosition(5.0);
    editor_->Timer1Timer();
    TrackList saved;
    saved.AddTrackFile(path)->SetTimes(1.0, 2.0);
    const QString project = dir_.filePath(u"set.mlkd"_s);
    SaveProject(saved, project);
    window_->KAddDrop1DropFiles({project});
    EXPECT_EQ(editor_->LoadedEntry(), nullptr);
    EXPECT_EQ(editor_->AdvSmoothLedLabel1->Text(), u"00:00:00");
    EXPECT_TRUE(editor_->Label8->text().isEmpty());
    window_->AdvPolyList1->setCurrentRow(0);
    EXPECT_EQ(editor_->Label5->text(), u"0:00:01.000");
    EXPECT_EQ(editor_->Label7->text(), u"1.0 sec.");
}

// The keys act while no text field has the focus.
TEST_F(Editor, KeysTakePointsAndSeek)
{
    const QString path = Mp3(8);
    TrackEntry& entry = Select(path);
    window_->show();
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    window_->AdvPolyList1->setFocus();

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(player_->controls.currentPosition(), SecondsOfFrame(2 * kPcmRate + kPcmRate / 10));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_I);
    EXPECT_EQ(entry.Times.StartTime, SecondsOfFrame(2 * kPcmRate + kPcmRate / 10));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_O);
    EXPECT_EQ(entry.Times.EndTime, SecondsOfFrame(3 * kPcmRate));
    EXPECT_EQ(editor_->Label6->text(), u"0:00:03.000");

    // In a number box the keys are the box's.
    window_->AdvSpinEdit1->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_I);
    EXPECT_EQ(player_->controls.currentPosition(), SecondsOfFrame(3 * kPcmRate));
    EXPECT_EQ(entry.Times.StartTime, SecondsOfFrame(2 * kPcmRate + kPcmRate / 10));

    window_->AdvPolyList1->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_EQ(player_->playState(), kPlayStatePlaying);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_EQ(player_->playState(), kPlayStatePaused);
}

TEST_F(Editor, VolumeIsHeldToItsScaleAndKeptInTheSettings)
{
    EXPECT_EQ(player_->settings.volume(), 50);
    player_->settings.setVolume(130);
    EXPECT_EQ(player_->settings.volume(), 100);
    player_->settings.setVolume(-3);
    EXPECT_EQ(player_->settings.volume(), 0);
    player_->settings.setVolume(35);
    EXPECT_EQ(window_->CollectSettings().PlayerVolume, 35);
    EXPECT_EQ(player_->VolumeSlider()->value(), 35);
    EXPECT_EQ(player_->uiMode(), u"full");
    player_->setUiMode(u"mini"_s);
    EXPECT_FALSE(player_->VolumeSlider()->isVisibleTo(player_));
    EXPECT_TRUE(player_->SeekBar()->isVisibleTo(player_));
    player_->setUiMode(u"full"_s);
    EXPECT_TRUE(player_->VolumeSlider()->isVisibleTo(player_));
}

// Without a sound server the player still runs, as a silent clock in real
// time, says so, and never holds the window up. Run in a child process whose
// sound server cannot be reached.
TEST(SilentClock, PlaysWithoutASoundOutput)
{
    if (!qEnvironmentVariableIsSet("MEDLARK_SILENT_CHILD")) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"MEDLARK_SILENT_CHILD"_s, u"1"_s);
        env.insert(u"PULSE_SERVER"_s, u"unix:/nonexistent/medlark-no-server"_s);
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {u"--gtest_filter=SilentClock.*"_s});
        ASSERT_TRUE(child.waitForFinished(120000));
        const QByteArray out = child.readAllStandardOutput() + child.readAllStandardError();
        EXPECT_EQ(child.exitCode(), 0) << out.constData();
        EXPECT_TRUE(out.contains("[  PASSED  ] 1 test")) << out.constData();
        return;
    }
    const QString path = Mp3(8);
    TWindowsMediaPlayer player(nullptr);
    player.setURL(path);
    ASSERT_EQ(player.openState(), kOpenStateMediaOpen);
    player.controls.setCurrentPosition(2.0);
    QElapsedTimer clock;
    clock.start();
    player.controls.play();
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(player.playState(), kPlayStatePlaying);
    EXPECT_FALSE(player.Engine().HasSoundOutput());
    EXPECT_TRUE(player.NoOutputText()->isVisibleTo(&player));
    Wait(600);
    const double moved = player.controls.currentPosition() - 2.0;
    const double elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    EXPECT_NEAR(moved, elapsed, 0.05);
    player.controls.setCurrentPosition(7.9);
    Wait(400);
    EXPECT_EQ(player.playState(), kPlayStateMediaEnded);
}

namespace {

// Where `part` lies in `heard`, matched exactly over its whole length; -1 when nowhere.
std::int64_t FindExactly(const PcmBlock& heard, const PcmBlock& part)
{
    for (std::int64_t i = 0; i + FrameCount(part) <= FrameCount(heard); ++i)
        if (FirstMismatch(heard, i, part, 0, 64) == -1 && FirstMismatch(heard, i, part, 0, FrameCount(part)) == -1)
            return i;
    return -1;
}

} // namespace

// J and L, through the real sound stack: what is heard is the built medley's
// bytes of the same region, for both envelopes, a short segment whose fade
// reaches back and a track that cannot be opened.
TEST_F(Editor, JoinPreviewsPlayTheBytesOfTheBuiltMedley)
{
    REQUIRE_SOUND();
    const QString mp3 = Mp3(8);
    QFile broken(dir_.filePath(u"broken.mp3"_s));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not audio");
    broken.close();
    TrackList& list = window_->Tracks();
    list.AddTrackFiles({mp3, broken.fileName(), mp3, mp3});
    list.At(0).SetTimes(1.0, 3.5);
    list.At(1).SetTimes(0.0, 2.0);   // cannot be opened: left out, as a build told to skip it
    list.At(2).SetTimes(4.0, 4.6);   // shorter than the crossfade: its fade reaches back
    list.At(3).SetTimes(5.0, 7.5);
    window_->RefreshTrackList();
    window_->AdvSpinEdit1->setValue(1.0);
    window_->AdvSpinEdit2->setValue(0.2);
    window_->AdvSpinEdit3->setValue(0.3);
    player_->settings.setVolume(100);

    for (const TEnvelope envelope : {TEnvelope::Linear, TEnvelope::Sine}) {
        SCOPED_TRACE(EnvelopeNumber(envelope));
        window_->ComboBox1->setCurrentIndex(EnvelopeNumber(envelope));
        TBuildOptions options = test::TestOptions(dir_.filePath(u"built.wav"_s));
        options.Medley = {1.0, envelope, 0.2, 0.3, {}};
        test::TTestUser user;   // skips the track that cannot be opened
        ASSERT_TRUE(RunBuildJob(options, list, user).ThreadError.isEmpty());
        const PcmBlock built = test::ReadWavPcm(options.OutputPath);

        // The join into the short track (its window: 3 s before, 3 s after its fade-in).
        const int track = envelope == TEnvelope::Linear ? 2 : 3;
        window_->AdvPolyList1->setCurrentRow(track);
        MonitorRecorder recorder;
        window_->BtnJoinPreviewClick();
        ASSERT_TRUE(window_->JoinPreview()->IsPlaying());
        const auto window = JoinWindow(window_->JoinPreview()->Layout(), track);
        ASSERT_TRUE(window);
        QElapsedTimer waited;
        waited.start();
        while (window_->JoinPreview()->IsPlaying() && waited.elapsed() < 20000)
            Wait(50);
        const PcmBlock heard = recorder.Stop();
        const PcmBlock part(built.begin() + window->first * kPcmChannels, built.begin() + window->second * kPcmChannels);
        ASSERT_GT(FrameCount(part), 3 * kPcmRate);
        EXPECT_GE(FindExactly(heard, part), 0) << "the join heard is not the built medley's";
    }

    // The play-through from track 4's join to the end.
    window_->AdvPolyList1->setCurrentRow(3);
    MonitorRecorder recorder;
    window_->BtnPlayThroughClick();
    ASSERT_TRUE(window_->JoinPreview()->IsPlaying());
    const auto window = JoinWindow(window_->JoinPreview()->Layout(), 3);
    while (window_->JoinPreview()->IsPlaying())
        Wait(50);
    const PcmBlock heard = recorder.Stop();
    const PcmBlock built = test::ReadWavPcm(dir_.filePath(u"built.wav"_s));
    const PcmBlock rest(built.begin() + window->first * kPcmChannels, built.end());
    // The medley ends in silence: compare up to its last sound.
    std::int64_t loud = FrameCount(rest);
    while (loud > 0 && rest[static_cast<size_t>(2 * (loud - 1))] == 0 && rest[static_cast<size_t>(2 * loud - 1)] == 0)
        --loud;
    const PcmBlock sounding(rest.begin(), rest.begin() + loud * kPcmChannels);
    EXPECT_GE(FindExactly(heard, sounding), 0) << "the play-through heard is not the built medley's";
}

// The editor's player and the join preview never play at once.
TEST_F(Editor, StartingOnePreviewStopsTheOther)
{
    const QString mp3 = Mp3(8);
    TrackEntry& first = Select(mp3);
    first.SetTimes(1.0, 3.0);
    TrackEntry& second = Select(mp3);
    second.SetTimes(4.0, 6.0);
    window_->AdvSpinEdit1->setValue(1.0);
    player_->controls.play();
    ASSERT_EQ(player_->playState(), kPlayStatePlaying);
    window_->BtnJoinPreviewClick();
    EXPECT_TRUE(window_->JoinPreview()->IsPlaying());
    EXPECT_NE(player_->playState(), kPlayStatePlaying);
    player_->controls.play();
    EXPECT_FALSE(window_->JoinPreview()->IsPlaying());
    // J again while a join plays stops it; L while a join plays switches to the play-through.
    window_->BtnJoinPreviewClick();
    window_->BtnPlayThroughClick();
    EXPECT_TRUE(window_->JoinPreview()->IsPlaying());
    EXPECT_EQ(window_->JoinPreview()->Kind(), TJoinPreview::TKind::PlayThrough);
    window_->BtnPlayThroughClick();
    EXPECT_FALSE(window_->JoinPreview()->IsPlaying());
    // A change of a point is heard at the next J: the layout follows the list.
    second.SetTimes(4.5, 6.0);
    window_->BtnJoinPreviewClick();
    EXPECT_EQ(window_->JoinPreview()->Layout().Placed[1].Frames, FrameOfSeconds(6.0 - 4.5));
    window_->JoinPreview()->Stop();
}

// The gain box holds the loaded entry's gain: set in the box or by the keys
// (+ and = up, - down by 0.5 dB, 0 back to 0 dB) on the 0.1 dB grid, held to
// −24 … +24 dB, shown in the row, and a change the unsaved-changes question notices.
TEST_F(Editor, GainBoxAndKeysSetTheEntrysGain)
{
    const QString path = SignalWav(8);
    TrackList saved;
    saved.AddTrackFile(path)->SetTimes(1.0, 3.0);
    saved.AddTrackFile(path)->SetTimes(4.0, 6.0);
    saved.At(1).Times.Gain = -2.5;
    const QString project = dir_.filePath(u"gain.mlkd"_s);
    SaveProject(saved, project);
    window_->KAddDrop1DropFiles({project});
    window_->show();
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    window_->AdvPolyList1->setCurrentRow(0);
    TrackEntry& entry = window_->Tracks().At(0);
    ASSERT_EQ(editor_->LoadedEntry(), &entry);
    EXPECT_EQ(editor_->SpinGain->text(), u"0.0 dB");
    auto rowGain = [&](int row) { return window_->AdvPolyList1->item(row)->data(kTrackGainRole).toString(); };
    EXPECT_EQ(rowGain(0), u"");

    editor_->SpinGain->setValue(-6.0);
    EXPECT_EQ(rowGain(0), u"−6.0 dB");
    window_->AdvPolyList1->setFocus();
    for (const auto& [key, gain] : {std::pair{'+', -5.5}, {'=', -5.0}, {'-', -5.5}, {'0', 0.0}, {'+', 0.5}}) {
        QTest::keyClick(QApplication::focusWidget(), key);
        EXPECT_EQ(entry.Times.Gain, gain) << key;
        EXPECT_EQ(editor_->SpinGain->value(), gain) << key;
    }
    EXPECT_EQ(editor_->SpinGain->text(), u"+0.5 dB");
    EXPECT_EQ(rowGain(0), u"+0.5 dB");
    for (int i = 0; i < 60; ++i)
        QTest::keyClick(QApplication::focusWidget(), '+');
    EXPECT_EQ(entry.Times.Gain, kMaxTrackGain);
    EXPECT_EQ(editor_->SpinGain->text(), u"+24.0 dB");
    // In the box the keys are the box's, a number typed whole taken key by key.
    editor_->SpinGain->setFocus();
    QTest::keyClick(QApplication::focusWidget(), '-');
    EXPECT_EQ(entry.Times.Gain, kMaxTrackGain);
    editor_->SpinGain->selectAll();
    QTest::keyClicks(editor_->SpinGain, u"-1.5"_s);
    EXPECT_EQ(entry.Times.Gain, -1.5);
    window_->AdvPolyList1->setFocus();
    editor_->SpinGain->setValue(-99.0);
    EXPECT_EQ(entry.Times.Gain, kMinTrackGain);
    editor_->SpinGain->setValue(-3.04);
    EXPECT_EQ(entry.Times.Gain, -3.0);
    // Each entry shows its own gain.
    window_->AdvPolyList1->setCurrentRow(1);
    EXPECT_EQ(editor_->SpinGain->text(), u"-2.5 dB");
    EXPECT_EQ(rowGain(1), u"−2.5 dB");
    window_->AdvPolyList1->setCurrentRow(0);
    EXPECT_EQ(editor_->SpinGain->value(), -3.0);

    // Loading the project again asks first (answered No: loaded without
    // saving); unchanged since, or changed and back, it does not.
    boxes_.texts.clear();
    window_->KAddDrop1DropFiles({project});
    EXPECT_EQ(boxes_.texts, QStringList{u"トラックリストの変更を保存しますか？"_s});
    EXPECT_EQ(window_->Tracks().At(0).Times.Gain, 0.0);
    window_->KAddDrop1DropFiles({project});
    window_->AdvPolyList1->setCurrentRow(0);
    editor_->SpinGain->setValue(1.0);
    editor_->SpinGain->setValue(0.0);
    window_->KAddDrop1DropFiles({project});
    EXPECT_EQ(boxes_.texts.size(), 1);
    EXPECT_FALSE(editor_->SpinGain->isEnabled());   // nothing loaded
}

// The player plays the file levelled as a build levels the segment: the
// track's gain, and with matching on the gain its measurement gives (until
// then the gain alone). A new level keeps where the player is and whether it plays.
TEST_F(Editor, PlayerPlaysTheSegmentLevelledAsTheBuildLevelsIt)
{
    const QString path = SignalWav(8);
    TrackEntry& entry = Select(path);
    entry.SetTimes(2.0, 5.0);
    editor_->RefreshPoints();
    window_->AdvSpinEdit1->setValue(0.1);
    window_->AdvSpinEdit2->setValue(0);
    window_->AdvSpinEdit3->setValue(0);

    // What the player's program gives of the segment is what a build of it
    // writes (but for the fades at its ends).
    const std::int64_t segment = FrameOfSeconds(3.0);
    const std::int64_t margin = kPcmRate / 5;
    auto checkAgainstBuild = [&] {
        const TInOutEditor::TPlayedLevel played = editor_->PlayedLevel();
        ASSERT_EQ(std::pair(played.Start, played.End), std::pair(2.0, 5.0));
        auto program = LevelledFileProgram(OpenSourceStream(path), played.Level, played.Start, played.End);
        program->Frames();
        PcmBlock heard;
        program->Render(FrameOfSeconds(played.Start), [&](const std::int16_t* samples, std::int64_t count) {
            heard.insert(heard.end(), samples, samples + count * kPcmChannels);
            return FrameCount(heard) < segment;
        });
        heard.resize(static_cast<size_t>(std::min(FrameCount(heard), segment)) * kPcmChannels);
        TBuildOptions options = test::TestOptions(dir_.filePath(u"one.wav"_s));
        options.Medley = window_->BuildOptions().Medley;
        test::TTestUser user;
        ASSERT_TRUE(RunBuildJob(options, window_->Tracks(), user).ThreadError.isEmpty());
        const PcmBlock built = test::ReadWavPcm(options.OutputPath);
        ASSERT_EQ(FrameCount(heard), segment);
        ASSERT_EQ(FrameCount(built), segment);
        EXPECT_EQ(FirstMismatch(heard, margin, built, margin, segment - 2 * margin), -1);
    };
    editor_->SpinGain->setValue(-6.0);
    EXPECT_EQ(editor_->PlayedLevel().Level, (TSegmentLevel{-6.0, false, -1.0}));
    checkAgainstBuild();

    // Matching: the gain alone until the measurement arrives, then the gain it gives.
    window_->CheckMatchLoudness->setChecked(true);
    window_->SpinLoudnessTarget->setValue(-20.0);
    if (!KnownSegmentLoudness(path, 2.0, 5.0)) {
        EXPECT_EQ(editor_->PlayedLevel().Level, (TSegmentLevel{-6.0, true, -1.0}));
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return editor_->PlayedLevel().Level.GainDb != -6.0; }, 30000));
    const std::optional<TLoudness> measured = KnownSegmentLoudness(path, 2.0, 5.0);
    ASSERT_TRUE(measured);
    EXPECT_EQ(editor_->PlayedLevel().Level, LevelOf({true, -20.0, -1.0}, -6.0, measured));
    EXPECT_NEAR(editor_->PlayedLevel().Level.GainDb, -20.0 - measured->Integrated - 6.0, 1e-9);
    const QString label = editor_->LabelLoudness->text();
    EXPECT_TRUE(label.contains(LoudnessText(measured))) << label.toStdString();
    EXPECT_TRUE(label.contains(u"適用ゲイン: "_s + GainText(editor_->PlayedLevel().Level.GainDb))) << label.toStdString();
    checkAgainstBuild();
    window_->SpinLoudnessTarget->setValue(-25.0);
    EXPECT_EQ(editor_->PlayedLevel().Level, LevelOf({true, -25.0, -1.0}, -6.0, measured));
    window_->CheckMatchLoudness->setChecked(false);
    EXPECT_EQ(editor_->PlayedLevel().Level, (TSegmentLevel{-6.0, false, -1.0}));
    EXPECT_FALSE(editor_->LabelLoudness->text().contains(u"適用ゲイン"_s));

    // At rest the position stays where it was; playing goes on from where it was.
    player_->controls.setCurrentPosition(3.0);
    editor_->SpinGain->setValue(-3.0);
    EXPECT_EQ(player_->controls.currentPosition(), SecondsOfFrame(FrameOfSeconds(3.0)));
    EXPECT_NE(player_->playState(), kPlayStatePlaying);
    player_->controls.play();
    ASSERT_TRUE(QTest::qWaitFor([&] { return player_->controls.currentPosition() > 3.2; }, 30000));
    const double before = player_->controls.currentPosition();
    editor_->SpinGain->setValue(0.0);
    EXPECT_TRUE(editor_->PlayedLevel().Level.Identity());
    EXPECT_EQ(player_->playState(), kPlayStatePlaying);
    EXPECT_GE(player_->controls.currentPosition(), before);
    EXPECT_LT(player_->controls.currentPosition(), before + 1.0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return player_->controls.currentPosition() > before + 0.2; }, 30000));
    player_->controls.pause();
    // The file's length is found again after the swap.
    EXPECT_TRUE(QTest::qWaitFor([&] { return player_->Engine().KnownFrames() == FrameOfSeconds(8.0); }, 30000));
}

// Heard through the real sound stack: the segment preview of a track with
// a gain plays the frames the build levels.
TEST_F(Editor, PreviewOfAGainedSegmentIsHeardLevelled)
{
    REQUIRE_SOUND();
    const QString path = Mp3(8);
    ASSERT_FALSE(path.isEmpty());
    TrackEntry& entry = Select(path);
    entry.SetTimes(2.0004, 3.75);
    editor_->RefreshPoints();
    editor_->SpinGain->setValue(-6.0);
    player_->settings.setVolume(100);

    MonitorRecorder recorder;
    editor_->BtnTestPlayClick();
    const PcmBlock heard = recorder.Stop();

    SourceStream source = OpenSourceStream(path);
    PcmBlock cut;
    DecodeSegment(source, cut, 2.0004, 3.75);
    TLeveller leveller(LevelOf(TLoudnessSettings{}, -6.0, std::nullopt));
    PcmBlock levelled;
    leveller.Push(cut.data(), FrameCount(cut), levelled);
    leveller.Finish(levelled);
    const std::int64_t segment = FrameOfSeconds(3.75 - 2.0004);
    ASSERT_GE(FrameCount(levelled), segment);
    std::int64_t at = -1;
    for (std::int64_t i = 0; i + 64 < FrameCount(heard) && at < 0; ++i)
        if (FirstMismatch(heard, i, levelled, 0, 64) == -1)
            at = i;
    ASSERT_GE(at, 0) << "the levelled segment's first frames were never heard";
    ASSERT_GE(FrameCount(heard) - at, segment);
    EXPECT_EQ(FirstMismatch(heard, at, levelled, 0, segment), -1) << "a frame of the segment was not levelled as built";
}
