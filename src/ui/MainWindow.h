#pragma once
// The main window: track list with its buttons, the build settings, the build
// button with its options menu, the in/out editor, help and version.

#include "build/BuildJob.h"
#include "model/BuildMode.h"
#include "model/Settings.h"
#include "model/TrackList.h"

#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>

class QAction;
class QActionGroup;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QToolButton;

namespace medlark {

class TBanner;
class TCrossfadeDiagram;
class TDecimalSpinEdit;
class TFixedSpinEdit;
class TFormRandom;
class TInOutEditor;
class TJoinPreview;
class THTMLPopup;
class TKAddDrop;
class TKThdComp;
class TProgressDlg;
class TSegmentMeasurer;
class TTrackListView;
struct TSegmentKey;

inline constexpr int kMainClientWidth = 784;
inline constexpr int kMainClientHeight = 599;

class TFormXFade final : public QWidget {
    Q_OBJECT
public:
    // settingsPath: config.ini to read at start and write at close.
    explicit TFormXFade(const QString& settingsPath, QWidget* parent = nullptr);
    ~TFormXFade() override;

    TrackList& Tracks() { return tracks_; }
    TProgressDlg* CurrentProgress() const { return progress_; }
    // The in/out editor inside GroupBox1.
    TInOutEditor* Editor() const { return editor_; }
    // The join preview and play-through of GroupBox2.
    TJoinPreview* JoinPreview() const { return joinPreview_; }
    // Measures the segments' loudness for the rows and the editor.
    TSegmentMeasurer* Measurer() const { return measurer_; }
    // "つなぎ目を試聴" (J) and "ここから通しで再生" (L) for the selected track;
    // pressed again while playing, they stop.
    void BtnJoinPreviewClick();
    void BtnPlayThroughClick();

    // Rebuilds the rows from the track list (after a change made elsewhere).
    void RefreshTrackList();
    void SetEditorEnabled(bool enabled);

    // The build options as the controls hold them.
    TSettings CollectSettings() const;
    // The crossfade, envelope, blanks and loudness matching as the controls hold them.
    TMedleySettings MedleySettings() const;
    // The options a build started now would take (but for its output).
    TBuildOptions BuildOptions() const;
    void ApplySettings(const TSettings& settings);

    // Handlers, by their form names.
    void BtnOpenFilesClick();
    void BtnDeleteClick();
    void BtnLoadProjectClick();
    void BtnSaveProjectClick();
    void KAddDrop1DropFiles(const QStringList& paths);
    void AdvGlowButton1Click();
    void BtnGoBuildClick();
    void BtnHelpClick();
    void KThdComp2Terminate();

    // What a running build reports and asks, on the user-interface thread.
    void BuildProgress(int position, int lastIndex);
    void BuildEncoding(bool on);
    // "エラー", Yes/No: skip the track or stop the build.
    TSkipAnswer AskSkipTrack(const QString& message);
    // "確認", Yes/No/Cancel: replace the track file, skip the track, or stop.
    TOverwriteAnswer AskOverwriteTrack(const QString& message);

    // Controls, by their form names.
    TBanner* AdvGDIPPicture2;
    QLabel* Label1;
    QPushButton* AdvGlowButton1;
    TTrackListView* AdvPolyList1;
    QToolButton* BtnOpenFiles;
    QToolButton* BtnDelete;
    QToolButton* BtnLoadProject;
    QToolButton* BtnSaveProject;
    QLabel* Panel1;
    TDecimalSpinEdit* AdvSpinEdit1;
    QLabel* Panel2;
    QComboBox* ComboBox1;
    QLabel* Panel3;
    QLabel* Label12;
    TDecimalSpinEdit* AdvSpinEdit2;
    QLabel* Label10;
    TDecimalSpinEdit* AdvSpinEdit3;
    QCheckBox* CheckMatchLoudness;   // "音量をそろえる"
    QLabel* LabelLoudnessTarget;     // "目標"
    TFixedSpinEdit* SpinLoudnessTarget;
    QLabel* LabelLoudnessUnit;       // "LUFS"
    QLabel* PanelPeakCeiling;        // "ピーク上限"
    TFixedSpinEdit* SpinPeakCeiling;
    QLabel* LabelPeakUnit;           // "dBTP"
    QToolButton* BtnGoBuild;
    QGroupBox* GroupBox1;
    QGroupBox* GroupBox2;
    TCrossfadeDiagram* AdvGDIPPicture1;
    QPushButton* BtnJoinPreview;
    QPushButton* BtnPlayThrough;
    QLabel* LabelJoinStatus;
    QToolButton* BtnHelp;
    QLabel* LinkLabel1;
    QFrame* Bevel1;
    QFrame* Bevel2;

    QMenu* AdvPopupMenu1;
    QAction* MenuMakeCross;
    QAction* MenuMakeSingle;
    QMenu* MenuCompress;
    QAction* RadioItemNoCompress;
    QMenu* MenuCompressLevel;
    QAction* RadioItemQLOW;
    QAction* RadioItemQMID;
    QAction* RadioItemQHIGH;
    QAction* CheckWriteHTML;
    QAction* CheckShiori;
    QAction* CheckWriteJson;
    QAction* CheckExportVideo;
    QAction* MenuCoverImage;   // its caption names the chosen cover

    TKAddDrop* KAddDrop1;
    TKThdComp* KThdComp2;
    THTMLPopup* HTMLPopup1;

    // Build fields.
    TCrossFadeMode CROSSFADE_MODES = cfmMixed;
    QString THREAD_ERROR;
    QString FAILED_COPIES;   // what the completion adds: the medley's loudness, notes, and the compressed copies the build could not make

Q_SIGNALS:
    // A build's progress dialog exists and its worker is about to start.
    void BuildStarted(TProgressDlg* dialog);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void CreateMenu();
    void FillCompressionMenu();
    void MenuCoverImageClick();
    void SetCoverImage(const QString& path);
    void UpdateDiagram();
    // The segment's loudness for its row: empty without a segment, "…" until measured.
    QString RowLoudness(const TrackEntry& entry) const;
    // Shows the measurements known now in the rows and the editor.
    void ShowMeasurements(const TSegmentKey& key);
    void KThdComp2Execute();
    void FormClose();
    // Runs a change of the track list, then shows the list; an error is reported
    // after the list shows what is left.
    void ChangeTracks(const std::function<void()>& change);
    // The list as last loaded or saved, to tell whether it changed since.
    QString ListState() const;
    bool ListChanged() const;
    // Asks to save a changed list; false when the user cancels (or the save did not happen).
    bool MayReplaceList();
    bool SaveProjectAs();

    QString settingsPath_;
    TrackList tracks_;
    TInOutEditor* editor_ = nullptr;
    TJoinPreview* joinPreview_ = nullptr;
    TSegmentMeasurer* measurer_ = nullptr;
    void StartJoinPreview(int kind);
    TFormRandom* formRandom_ = nullptr;
    TProgressDlg* progress_ = nullptr;
    QActionGroup* modeGroup_ = nullptr;
    QActionGroup* compressGroup_ = nullptr;
    QActionGroup* qualityGroup_ = nullptr;
    TBuildOptions pendingBuild_;
    bool closed_ = false;
    bool completionWarns_ = false;   // the completion tells of notes or failed copies
    QString coverImage_;   // the video's cover; empty: a panel with the title
    QString savedState_;
    std::atomic<bool> stopRequested_{false};   // the progress dialog asked the build to stop
};

// The manual shipped with the program, and the project's page.
QString ManualUrl();

} // namespace medlark
