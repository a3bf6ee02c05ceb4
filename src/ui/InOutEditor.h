#pragma once
// The in/out editor inside the group box "In/Out 設定コントロール": the preview
// player, the buttons that take its position as the loaded entry's in point
// ("ここから") and out point ("ここまで"), the two time codes, the segment
// length, a clock of the position and the segment preview "← 区間確認 →";
// below them the track's gain ("ゲイン") and the segment's loudness. The
// player plays the file levelled as a build levels the segment.
// It changes nothing but the loaded entry's StartTime, EndTime, Gain and caption.

#include "model/MedleySettings.h"
#include "render/SegmentLevel.h"

#include <QWidget>

#include <functional>

class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QTimer;
class QToolButton;

namespace medlark {

struct TrackEntry;
class TFixedSpinEdit;
class TLedClock;
class TWindowsMediaPlayer;

class TInOutEditor final : public QWidget {
    Q_OBJECT
public:
    // Fills the group box; positions are those inside it.
    explicit TInOutEditor(QGroupBox* groupBox);
    ~TInOutEditor() override;

    // Off: buttons disabled, the player stopped and emptied, labels reset and
    // no entry loaded. On: the buttons enabled.
    void SetEditorEnabled(bool enabled);
    // An entry of the track list was selected: load it into the player.
    void AdvPolyList1ItemSelect(TrackEntry* item);

    // These raise Error with the user's message where the point breaks the rules.
    void BtnTimeFromClick();
    void BtnTimeToClick();
    void BtnTestPlayClick();
    void PlaySegment(double out, double in);
    void Timer1Timer();
    void TimeCodeClick(QLabel* sender);
    void TimeCodeLabelMouseEnter(QLabel* sender);
    void TimeCodeLabelMouseLeave(QLabel* sender);

    // The loaded entry's points were changed elsewhere: show them.
    void RefreshPoints();
    // The crossfade a build will fade the segment with, for the seek bar.
    void SetFade(double crossfadeSeconds, TEnvelope envelope);
    // Loudness matching as a build will apply it, for the player and the label.
    void SetLoudness(const TLoudnessSettings& loudness);
    // The loaded segment's measurement may have arrived: show it, and play
    // the segment at the level it gives.
    void RefreshLevel();

    // Raises or lowers the loaded entry's gain (held to its range); Reset: 0 dB.
    void StepGain(double db);
    void ResetGain();

    // What the player plays: the file with this level on [Start, End)
    // (identity: the file as it is).
    struct TPlayedLevel final {
        TSegmentLevel Level;
        double Start = 0;
        double End = 0;
        bool operator==(const TPlayedLevel&) const = default;
    };
    const TPlayedLevel& PlayedLevel() const { return played_; }

    TrackEntry* LoadedEntry() const { return loaded_; }
    bool Previewing() const { return previewing_; }

    // The loaded entry's caption changed (its row needs drawing again).
    std::function<void(TrackEntry&)> OnCaptionChanged;
    // Space goes here first; true when it was taken (a play-through stopped).
    std::function<bool()> InterceptSpace;
    // A handler raised an error: the window reports it.
    std::function<void(const QString&)> OnError;
    // The loaded entry's gain changed.
    std::function<void(TrackEntry&)> OnGainChanged;
    // Whether the entry's segment was found impossible to measure.
    std::function<bool(const TrackEntry&)> IsUnmeasurable;

    // Controls, by their form names.
    QFrame* CurvyPanel1;
    QLabel* Label8;
    TWindowsMediaPlayer* WindowsMediaPlayer1;
    QToolButton* BtnTimeFrom;
    QToolButton* BtnTimeTo;
    QFrame* AdvPanel1;
    TLedClock* AdvSmoothLedLabel1;
    QPushButton* BtnTestPlay;
    QLabel* Label5;
    QLabel* Label7;
    QLabel* Label6;
    QLabel* LabelGain;
    TFixedSpinEdit* SpinGain;
    QLabel* LabelLoudness;
    QTimer* Timer1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void TakeInPoint(double p);
    void TakeOutPoint(double p);
    void PointsChanged();
    void GainEdited(double value);
    // Shows the loaded entry's gain and loudness, and gives the player its level.
    void ShowLevel();
    QString LoudnessLabelText() const;
    void UpdatePlayerLevel();
    // The hover look of a time label: highlight colour and underline, or none.
    void ShowAsLink(QLabel* label, bool on);
    void Guarded(const std::function<void()>& handler);
    // Processes the window's events for about 100 ms.
    void Wait100();

    TrackEntry* loaded_ = nullptr;
    bool previewing_ = false;
    TLoudnessSettings loudness_;
    TPlayedLevel played_;
};

} // namespace medlark
