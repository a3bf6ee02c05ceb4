#include "ui/InOutEditor.h"

#include "model/Error.h"
#include "model/TrackList.h"
#include "render/Loudness.h"
#include "render/PlaybackFeed.h"
#include "ui/DecimalSpinEdit.h"
#include "ui/HtmlPopup.h"
#include "ui/LedClock.h"
#include "ui/MediaPlayer.h"
#include "ui/IconsAndBanner.h"
#include "ui/WaveformBar.h"

#include <QEvent>
#include <QEventLoop>
#include <QFrame>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <limits>

namespace medlark {

using namespace Qt::StringLiterals;

namespace {

constexpr int kPreviewStartTries = 100;

QFont PixelFont(const QFont& base, int pixels, bool bold)
{
    QFont font = base;
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QToolButton* PointButton(QWidget* parent, const char* name, const QString& caption, TPicture picture, int left,
                         const QString& hint)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setText(caption);
    button->setIcon(PictureIcon(picture, 32));
    button->setIconSize(QSize(32, 32));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setFont(PixelFont(parent->font(), 16, true));
    button->setGeometry(left, 119, 110, 78);
    button->setProperty(kHintProperty, hint);
    button->setAccessibleName(caption);
    return button;
}

QLabel* TimeLabel(QWidget* parent, const char* name, Qt::Alignment alignment, const QRect& bounds)
{
    auto* label = new QLabel(u"0:00:00.000"_s, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(PixelFont(parent->font(), 19, false));
    label->setAlignment(alignment | Qt::AlignVCenter);
    // The time code at this size is wider than the classic 100 pixels with
    // today's fonts: the label grows away from the group box's edge.
    QRect r = bounds;
    const int needed = label->fontMetrics().horizontalAdvance(u"0:00:00.000"_s) + 4;
    if (needed > r.width()) {
        if (alignment & Qt::AlignRight)
            r.setLeft(r.right() + 1 - needed);
        else
            r.setWidth(needed);
    }
    label->setGeometry(r);
    label->setCursor(Qt::PointingHandCursor);
    return label;
}

} // namespace

TInOutEditor::TInOutEditor(QGroupBox* groupBox) : QWidget(groupBox)
{
    setObjectName(u"InOutEditor"_s);
    setGeometry(0, 0, groupBox->width(), groupBox->height());

    CurvyPanel1 = new QFrame(this);
    CurvyPanel1->setObjectName(u"CurvyPanel1"_s);
    CurvyPanel1->setGeometry(23, 18, 458, 24);
    CurvyPanel1->setStyleSheet(
        u"QFrame#CurvyPanel1 { background: #fff8e1; border: 1px solid #e6d7a8; border-radius: 8px; }"_s);
    Label8 = new QLabel(CurvyPanel1);
    Label8->setObjectName(u"Label8"_s);
    Label8->setGeometry(0, 2, 458, 20);
    Label8->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
    Label8->setFont(PixelFont(font(), 13, true));
    Label8->setStyleSheet(u"background: transparent; border: none; color: #3a3320;"_s);

    WindowsMediaPlayer1 = new TWindowsMediaPlayer(this);
    WindowsMediaPlayer1->setObjectName(u"WindowsMediaPlayer1"_s);
    WindowsMediaPlayer1->setGeometry(23, 48, 458, 65);

    BtnTimeFrom = PointButton(this, "BtnTimeFrom", u"ここから"_s, TPicture::TimeFrom, 23,
                              u"再生位置を開始位置にする (I)"_s);
    BtnTimeTo = PointButton(this, "BtnTimeTo", u"ここまで"_s, TPicture::TimeTo, 371, u"再生位置を終了位置にする (O)"_s);

    AdvPanel1 = new QFrame(this);
    AdvPanel1->setObjectName(u"AdvPanel1"_s);
    AdvPanel1->setGeometry(152, 119, 201, 34);
    AdvPanel1->setFrameShape(QFrame::StyledPanel);
    AdvPanel1->setStyleSheet(u"QFrame#AdvPanel1 { background: #ffffff; border: 1px solid #c9d1dd; }"_s);
    AdvSmoothLedLabel1 = new TLedClock(AdvPanel1);
    AdvSmoothLedLabel1->setObjectName(u"AdvSmoothLedLabel1"_s);
    AdvSmoothLedLabel1->setGeometry(45, 5, 113, 25);

    BtnTestPlay = new QPushButton(u"← 区間確認 →"_s, this);
    BtnTestPlay->setObjectName(u"BtnTestPlay"_s);
    BtnTestPlay->setGeometry(152, 159, 201, 38);
    BtnTestPlay->setFont(PixelFont(font(), 16, true));
    BtnTestPlay->setProperty(kHintProperty, u"開始位置から終了位置までを再生する (P)"_s);

    Label5 = TimeLabel(this, "Label5", Qt::AlignLeft, {23, 203, 100, 23});
    Label6 = TimeLabel(this, "Label6", Qt::AlignRight, {381, 203, 100, 23});
    Label7 = new QLabel(u"??? sec."_s, this);
    Label7->setObjectName(u"Label7"_s);
    Label7->setFont(PixelFont(font(), 19, false));
    Label7->setAlignment(Qt::AlignCenter);
    Label7->setGeometry(152, 203, 201, 23);
    for (QLabel* label : {Label5, Label6})
        label->installEventFilter(this);

    // The track's gain and what the segment measures, under the points.
    LabelGain = new QLabel(u"ゲイン"_s, this);
    LabelGain->setObjectName(u"LabelGain"_s);
    LabelGain->setFont(PixelFont(font(), 12, false));
    LabelGain->setGeometry(23, 232, 38, 24);
    SpinGain = new TFixedSpinEdit(kMinTrackGain, kMaxTrackGain, 0.1, 0.0, true, this);
    SpinGain->setObjectName(u"SpinGain"_s);
    SpinGain->setSuffix(u" dB"_s);
    SpinGain->setGeometry(62, 232, 84, 24);
    SpinGain->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    SpinGain->setProperty(kHintProperty, u"このトラックの音量を上げ下げします (+ / - キーで 0.5 dB ずつ、0 キーで 0 dB に戻す)"_s);
    SpinGain->setAccessibleName(u"ゲイン"_s);
    LabelLoudness = new QLabel(this);
    LabelLoudness->setObjectName(u"LabelLoudness"_s);
    LabelLoudness->setFont(PixelFont(font(), 11, false));
    LabelLoudness->setGeometry(152, 228, 329, 32);
    LabelLoudness->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(SpinGain, &QDoubleSpinBox::valueChanged, this, [this](double value) { GainEdited(value); });

    Timer1 = new QTimer(this);
    Timer1->setObjectName(u"Timer1"_s);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, [this] { Guarded([this] { Timer1Timer(); }); });
    Timer1->start();

    connect(BtnTimeFrom, &QToolButton::clicked, this, [this] { Guarded([this] { BtnTimeFromClick(); }); });
    connect(BtnTimeTo, &QToolButton::clicked, this, [this] { Guarded([this] { BtnTimeToClick(); }); });
    connect(BtnTestPlay, &QPushButton::clicked, this, [this] { Guarded([this] { BtnTestPlayClick(); }); });
    WindowsMediaPlayer1->SeekBar()->OnMarkerMoved = [this](TWaveformBar::TMarker marker, double seconds) {
        Guarded([&] {
            if (loaded_ == nullptr)
                return;
            if (marker == TWaveformBar::TMarker::In)
                TakeInPoint(seconds);
            else
                TakeOutPoint(seconds);
        });
        RefreshPoints();   // a refused drop puts the marker back
    };

    // Keys of the window, whenever no text field takes them.
    auto key = [this](const QKeySequence& sequence, std::function<void()> action) {
        auto* shortcut = new QShortcut(sequence, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, action] { Guarded(action); });
        // A symbol typed with Shift may match two of these keys; both mean the same.
        connect(shortcut, &QShortcut::activatedAmbiguously, this, [this, action] { Guarded(action); });
    };
    key(Qt::Key_Space, [this] {
        if (InterceptSpace && InterceptSpace())
            return;
        if (loaded_ != nullptr)
            WindowsMediaPlayer1->TogglePlay();
    });
    key(Qt::Key_I, [this] {
        if (BtnTimeFrom->isEnabled())
            BtnTimeFromClick();
    });
    key(Qt::Key_O, [this] {
        if (BtnTimeTo->isEnabled())
            BtnTimeToClick();
    });
    key(Qt::Key_P, [this] {
        if (BtnTestPlay->isEnabled())
            BtnTestPlayClick();
    });
    key(Qt::Key_Plus, [this] { StepGain(0.5); });
    key(Qt::Key_Equal, [this] { StepGain(0.5); });
    key(Qt::Key_Minus, [this] { StepGain(-0.5); });
    key(Qt::Key_0, [this] { ResetGain(); });
    key(Qt::Key_Left, [this] { WindowsMediaPlayer1->SeekBy(-1.0); });
    key(Qt::Key_Right, [this] { WindowsMediaPlayer1->SeekBy(1.0); });
    key(Qt::SHIFT | Qt::Key_Left, [this] { WindowsMediaPlayer1->SeekBy(-0.1); });
    key(Qt::SHIFT | Qt::Key_Right, [this] { WindowsMediaPlayer1->SeekBy(0.1); });
}

TInOutEditor::~TInOutEditor() = default;

void TInOutEditor::Guarded(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const Error& e) {
        if (OnError)
            OnError(e.Message());
    }
}

void TInOutEditor::SetEditorEnabled(bool enabled)
{
    BtnTimeFrom->setEnabled(enabled);
    BtnTimeTo->setEnabled(enabled);
    BtnTestPlay->setEnabled(enabled && !previewing_);
    SpinGain->setEnabled(enabled);
    LabelGain->setEnabled(enabled);
    if (enabled)
        return;
    WindowsMediaPlayer1->controls.stop();
    WindowsMediaPlayer1->setURL(QString());
    WindowsMediaPlayer1->currentPlaylist.clear();
    Label8->clear();
    Label5->setText(FormatTimeCode(0));
    Label6->setText(FormatTimeCode(0));
    AdvSmoothLedLabel1->SetSeconds(0);
    loaded_ = nullptr;
    played_ = {};
    WindowsMediaPlayer1->SeekBar()->SetPoints(-1, -1);
    const QSignalBlocker block(SpinGain);
    SpinGain->setValue(0.0);
    LabelLoudness->clear();
}

void TInOutEditor::AdvPolyList1ItemSelect(TrackEntry* item)
{
    if (item == nullptr)
        return;
    SetEditorEnabled(true);
    WindowsMediaPlayer1->setURL(item->SourcePath);
    played_ = {};   // the file as it is, until its level is known
    loaded_ = item;
    Label5->setText(FormatTimeCode(0));
    Label6->setText(FormatTimeCode(0));
    AdvSmoothLedLabel1->SetSeconds(0);
    RefreshPoints();
    Label8->setText(u"  "_s + TrackTitle(item->SourcePath));
}

void TInOutEditor::RefreshPoints()
{
    if (loaded_ == nullptr)
        return;
    const TSetData& t = loaded_->Times;
    Label5->setText(FormatTimeCode(t.StartTime > -1 ? t.StartTime : 0));
    Label6->setText(FormatTimeCode(t.EndTime > -1 ? t.EndTime : 0));
    Label7->setText(FormatSpan(t.StartTime, t.EndTime));
    WindowsMediaPlayer1->SeekBar()->SetPoints(t.StartTime, t.EndTime);
    ShowLevel();
}

void TInOutEditor::SetFade(double crossfadeSeconds, TEnvelope envelope)
{
    WindowsMediaPlayer1->SeekBar()->SetFade(crossfadeSeconds, envelope);
}

void TInOutEditor::SetLoudness(const TLoudnessSettings& loudness)
{
    if (loudness == loudness_)
        return;
    loudness_ = loudness;
    RefreshLevel();
}

void TInOutEditor::RefreshLevel()
{
    if (loaded_ != nullptr)
        ShowLevel();
}

void TInOutEditor::StepGain(double db)
{
    if (loaded_ != nullptr && SpinGain->isEnabled())
        SpinGain->setValue(TrackGainOf(std::clamp(loaded_->Times.Gain + db, kMinTrackGain, kMaxTrackGain)));
}

void TInOutEditor::ResetGain()
{
    if (loaded_ != nullptr && SpinGain->isEnabled())
        SpinGain->setValue(0.0);
}

void TInOutEditor::GainEdited(double value)
{
    if (loaded_ == nullptr)
        return;
    const double gain = TrackGainOf(value);
    if (gain == loaded_->Times.Gain)
        return;
    loaded_->Times.Gain = gain;
    ShowLevel();
    if (OnGainChanged)
        OnGainChanged(*loaded_);
}

namespace {

// The entry's segment when both points are set and it has a length.
bool HasSegment(const TSetData& t)
{
    return IsTimeSet(t.StartTime) && t.EndTime > t.StartTime;
}

std::optional<TLoudness> KnownLoudness(const TrackEntry& entry)
{
    const TSetData& t = entry.Times;
    return HasSegment(t) ? KnownSegmentLoudness(entry.SourcePath, t.StartTime, t.EndTime) : std::nullopt;
}

QString PeakText(double dbtp)
{
    if (std::isnan(dbtp))
        return QString();
    return u" / ピーク "_s + TruePeakText(dbtp);
}

} // namespace

void TInOutEditor::ShowLevel()
{
    if (SpinGain->value() != loaded_->Times.Gain) {
        // Only when it differs: a value being typed keeps its text.
        const QSignalBlocker block(SpinGain);
        SpinGain->setValue(loaded_->Times.Gain);
    }
    LabelLoudness->setText(LoudnessLabelText());
    UpdatePlayerLevel();
}

QString TInOutEditor::LoudnessLabelText() const
{
    const TSetData& t = loaded_->Times;
    const std::optional<TLoudness> known = KnownLoudness(*loaded_);
    QString text = u"区間の音量: "_s;
    if (!HasSegment(t))
        text += u"— (開始位置と終了位置を決めると測ります)"_s;
    else if (known)
        text += LoudnessText(known) + PeakText(known->TruePeak);
    else if (IsUnmeasurable && IsUnmeasurable(*loaded_))
        text += u"測定できません"_s;
    else
        text += u"測定中…"_s;
    if (loudness_.Match) {
        text += u"\n適用ゲイン: "_s + GainText(LevelOf(loudness_, t.Gain, known).GainDb);
        if (HasSegment(t) && !known)
            text += IsUnmeasurable && IsUnmeasurable(*loaded_) ? u" (そろえられません)"_s : u" (測定後に決まります)"_s;
    }
    return text;
}

void TInOutEditor::UpdatePlayerLevel()
{
    if (loaded_ == nullptr || WindowsMediaPlayer1->openState() != kOpenStateMediaOpen)
        return;
    const TSetData& t = loaded_->Times;
    TPlayedLevel wanted{LevelOf(loudness_, t.Gain, KnownLoudness(*loaded_)), t.StartTime, t.EndTime};
    if (wanted.Level.Identity())
        wanted = {};
    if (wanted == played_)
        return;
    SourceStream source = OpenSourceStream(loaded_->SourcePath);
    if (!source)
        return;   // the file went away: the player keeps what it has
    WindowsMediaPlayer1->ReplaceProgram(LevelledFileProgram(std::move(source), wanted.Level, wanted.Start, wanted.End));
    played_ = wanted;
}

void TInOutEditor::BtnTimeFromClick()
{
    if (loaded_ == nullptr)
        return;
    TakeInPoint(WindowsMediaPlayer1->controls.currentPosition());
}

void TInOutEditor::BtnTimeToClick()
{
    if (loaded_ == nullptr)
        return;
    TakeOutPoint(WindowsMediaPlayer1->controls.currentPosition());
}

void TInOutEditor::TakeInPoint(double p)
{
    TSetData& t = loaded_->Times;
    if (t.EndTime > -1 && p > t.EndTime)
        throw Error(u"終了位置より後に設定することはできません"_s);
    t.StartTime = p;
    Label7->setText(FormatSpan(t.StartTime, t.EndTime));
    Label5->setText(FormatTimeCode(t.StartTime));
    PointsChanged();
}

void TInOutEditor::TakeOutPoint(double p)
{
    TSetData& t = loaded_->Times;
    if (t.StartTime > -1 && p < t.StartTime)
        throw Error(u"開始位置より前に設定することはできません"_s);
    t.EndTime = p;
    Label7->setText(FormatSpan(t.StartTime, t.EndTime));
    Label6->setText(FormatTimeCode(t.EndTime));
    PointsChanged();
}

void TInOutEditor::PointsChanged()
{
    loaded_->Caption = TimedCaption(loaded_->SourcePath, loaded_->Times.StartTime, loaded_->Times.EndTime);
    WindowsMediaPlayer1->SeekBar()->SetPoints(loaded_->Times.StartTime, loaded_->Times.EndTime);
    TrackEntry& entry = *loaded_;
    ShowLevel();
    if (OnCaptionChanged)
        OnCaptionChanged(entry);
}

void TInOutEditor::BtnTestPlayClick()
{
    if (loaded_ == nullptr)
        return;
    WindowsMediaPlayer1->controls.stop();
    WindowsMediaPlayer1->setUiMode(u"mini"_s);
    BtnTestPlay->setEnabled(false);
    PlaySegment(loaded_->Times.EndTime, loaded_->Times.StartTime);
}

void TInOutEditor::Wait100()
{
    QEventLoop loop;
    QTimer::singleShot(100, &loop, &QEventLoop::quit);
    loop.exec();
}

void TInOutEditor::PlaySegment(double out, double in)
{
    const QPointer<TInOutEditor> self(this);
    previewing_ = true;
    // Every way out gives the player its full bar and the button back.
    struct TRestore {
        QPointer<TInOutEditor> editor;
        ~TRestore()
        {
            if (!editor)
                return;
            editor->previewing_ = false;
            editor->WindowsMediaPlayer1->setUiMode(u"full"_s);
            editor->BtnTestPlay->setEnabled(editor->BtnTimeFrom->isEnabled());
        }
    } restore{self};

    TWindowsMediaPlayer* player = WindowsMediaPlayer1;
    player->controls.play();
    // An entry without an in point is previewed from the start.
    player->controls.setCurrentPosition(in < 0 ? 0.0 : in);
    for (int tries = 0; player->playState() != kPlayStatePlaying; ++tries) {
        if (tries == kPreviewStartTries)
            return;
        Wait100();
        if (!self)
            return;
    }
    while (player->playState() == kPlayStatePlaying) {
        if (player->controls.currentPosition() >= out) {
            player->controls.stop();
            break;
        }
        Wait100();
        if (!self)
            return;
    }
}

void TInOutEditor::Timer1Timer()
{
    if (WindowsMediaPlayer1->openState() != kOpenStateMediaOpen)
        return;
    // Whole seconds, halves to the even neighbour.
    const double seconds = std::nearbyint(WindowsMediaPlayer1->controls.currentPosition());
    AdvSmoothLedLabel1->SetSeconds(static_cast<long long>(seconds));
}

void TInOutEditor::TimeCodeClick(QLabel* sender)
{
    if (loaded_ == nullptr)
        return;
    const double t = sender == Label5 ? loaded_->Times.StartTime : loaded_->Times.EndTime;
    if (t < 0)
        return;
    WindowsMediaPlayer1->controls.setCurrentPosition(t);
    if (WindowsMediaPlayer1->playState() != kPlayStatePlaying)
        WindowsMediaPlayer1->controls.play();
}

void TInOutEditor::TimeCodeLabelMouseEnter(QLabel* sender)
{
    ShowAsLink(sender, true);
}

void TInOutEditor::TimeCodeLabelMouseLeave(QLabel* sender)
{
    ShowAsLink(sender, false);
}

void TInOutEditor::ShowAsLink(QLabel* label, bool on)
{
    // Only the colour and the underline change; the other font attributes stay.
    QFont font = label->font();
    font.setUnderline(on);
    label->setFont(font);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, palette().color(on ? QPalette::Highlight : QPalette::WindowText));
    label->setPalette(pal);
}

bool TInOutEditor::eventFilter(QObject* watched, QEvent* event)
{
    auto* label = qobject_cast<QLabel*>(watched);
    if (label == Label5 || label == Label6) {
        switch (event->type()) {
        case QEvent::Enter:
            TimeCodeLabelMouseEnter(label);
            break;
        case QEvent::Leave:
            TimeCodeLabelMouseLeave(label);
            break;
        case QEvent::MouseButtonRelease:
            Guarded([&] { TimeCodeClick(label); });
            return true;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace medlark
