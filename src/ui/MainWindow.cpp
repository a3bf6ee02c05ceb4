#include "ui/MainWindow.h"

#include "build/BuildCheck.h"
#include "encode/EncoderDefinitions.h"
#include "model/Error.h"
#include "model/ProjectFile.h"
#include "render/Loudness.h"
#include "render/SegmentLevel.h"
#include "support/KDrop.h"
#include "support/KThdCmp.h"
#include "ui/CrossfadeDiagram.h"
#include "ui/DecimalSpinEdit.h"
#include "ui/FormRandom.h"
#include "ui/HtmlPopup.h"
#include "ui/IconsAndBanner.h"
#include "ui/InOutEditor.h"
#include "ui/JoinPreview.h"
#include "ui/MediaPlayer.h"
#include "ui/ProgressDlg.h"
#include "ui/SegmentMeasurer.h"
#include "ui/TrackListView.h"
#include "ui/UiServices.h"

#include <QActionGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QToolButton>
#include <QUrl>

namespace medlark {

using namespace Qt::StringLiterals;

namespace {

// First every extension the decoder reads, then the classic entries, then everything.
const QString kTrackFilter =
    u"対応しているすべての音声ファイル|*.wav;*.mp3;*.m4a;*.aac;*.mp4;*.m4v;*.mov;*.ogg;*.oga;*.opus;*.flac;*.wma;"
    u"*.asf;*.aif;*.aiff;*.aifc;*.mka;*.mkv;*.webm;*.ac3;*.mp2;*.wv;*.ape;*.caf;*.au|"
    u"All Supported Files (*.wav;*.mp3;*.wma;*.m4a)|*.wav;*.mp3;*.wma;*.m4a|Wave (*.wav)|*.wav|"
    u"MPEG Audio Layer-3 (*.mp3)|*.mp3|Windows Media Audio (*.wma)|*.wma|MP4 Audio|*.m4a|"
    u"すべてのファイル|*"_s;
const QString kProjectFilter = u"Medlark's  data (*.mlkd)|*.mlkd"_s;
const QString kOutputFilter = u"Wave (*.wav)|*.wav"_s;

// The build's user, seen from the worker thread: every call runs on the
// user-interface thread through the worker component's Synchronize, so the
// worker waits for each answer and update, in the order they were made.
class TWindowBuildUser final : public TBuildUser {
public:
    TWindowBuildUser(TFormXFade& window, TKThdComp& comp, const std::atomic<bool>& stop)
        : window_(window), comp_(comp), stop_(stop)
    {
    }

    bool StopRequested() override { return stop_.load(); }

    void Progress(int position, int lastIndex) override
    {
        comp_.Synchronize([&] { window_.BuildProgress(position, lastIndex); });
    }
    void Encoding(bool on) override
    {
        comp_.Synchronize([&] { window_.BuildEncoding(on); });
    }
    TSkipAnswer AskSkipUnsupported(const QString& message) override { return AskSkip(message); }
    TSkipAnswer AskSkipCutFailed(const QString& message) override { return AskSkip(message); }
    TOverwriteAnswer AskOverwrite(const QString& message) override
    {
        TOverwriteAnswer answer = TOverwriteAnswer::Stop;
        comp_.Synchronize([&] { answer = window_.AskOverwriteTrack(message); });
        return answer;
    }

private:
    TSkipAnswer AskSkip(const QString& message)
    {
        TSkipAnswer answer = TSkipAnswer::Stop;
        comp_.Synchronize([&] { answer = window_.AskSkipTrack(message); });
        return answer;
    }

    TFormXFade& window_;
    TKThdComp& comp_;
    const std::atomic<bool>& stop_;
};

QToolButton* PictureButton(QWidget* parent, const char* name, TPicture picture, const QRect& bounds, const QString& hint)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(PictureIcon(picture));
    button->setIconSize(QSize(24, 24));
    button->setGeometry(bounds);
    button->setAutoRaise(false);
    button->setProperty(kHintProperty, hint);
    button->setAccessibleName(hint);
    return button;
}

QLabel* Caption(QWidget* parent, const char* name, const QString& text, const QRect& bounds)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(bounds);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setIndent(3);
    QFont small = label->font();
    small.setPixelSize(11);
    label->setFont(small);
    label->setStyleSheet(u"QLabel { background: #e9edf3; border: 1px solid #cfd6e0; color: #2b3240; }"_s);
    return label;
}

QAction* RadioItem(QMenu* menu, QActionGroup* group, const char* name, const QString& caption, int tag)
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    action->setCheckable(true);
    action->setData(tag);
    group->addAction(action);
    return action;
}

} // namespace

QString ManualUrl()
{
    return QUrl::fromLocalFile(ShippedFolder(u"docs"_s) + u"manual.html"_s).toString();
}

TFormXFade::TFormXFade(const QString& settingsPath, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint
                          | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      settingsPath_(settingsPath)
{
    setObjectName(u"FormXFade"_s);
    setWindowTitle(u"Medlark"_s);
    setWindowIcon(AppIcon());
    setFixedSize(kMainClientWidth, kMainClientHeight);
    QFont base = font();
    base.setPixelSize(12);
    setFont(base);

    CreateControls();
    CreateMenu();

    // Start-up, in this order: the compression menu, the settings (which look
    // the stored encoder up among its items), the version link, the editor off.
    FillCompressionMenu();
    TSettings settings = CollectSettings();
    LoadSettings(settings, settingsPath_);
    ApplySettings(settings);
    LinkLabel1->setText(u"<a href=\""_s + ManualUrl() + u"#about\" style=\"color:#ffffff\">Version "_s
                        + QStringLiteral(MEDLARK_VERSION) + u"</a>"_s);
    SetEditorEnabled(false);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    formRandom_ = new TFormRandom(this, tracks_);
    formRandom_->OnChanged = [this] {
        RefreshTrackList();
        editor_->RefreshPoints();
    };
}

TFormXFade::~TFormXFade()
{
    measurer_->Stop();
    // The sound outputs go while the window's widgets are still whole.
    editor_->WindowsMediaPlayer1->Engine().ReleaseOutput();
    joinPreview_->Stop();
    joinPreview_->Player().ReleaseOutput();
}

void TFormXFade::CreateControls()
{
    AdvGDIPPicture2 = new TBanner(this);
    AdvGDIPPicture2->setObjectName(u"AdvGDIPPicture2"_s);
    AdvGDIPPicture2->setGeometry(0, 0, 784, 70);

    Bevel2 = new QFrame(this);
    Bevel2->setObjectName(u"Bevel2"_s);
    Bevel2->setFrameShape(QFrame::HLine);
    Bevel2->setFrameShadow(QFrame::Sunken);
    Bevel2->setGeometry(0, 70, 784, 2);
    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(u"Bevel1"_s);
    Bevel1->setFrameShape(QFrame::VLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(243, 76, 2, 510);

    // The caption and the button share the row above the list; with a CJK font
    // the caption needs a little more room than the classic layout gave it.
    QFont small = font();
    small.setPixelSize(11);
    Label1 = new QLabel(u"トラックリスト:"_s, this);
    Label1->setObjectName(u"Label1"_s);
    Label1->setFont(small);
    Label1->setGeometry(16, 80, 82, 20);

    AdvGlowButton1 = new QPushButton(u"おまかせ一括ランダム"_s, this);
    AdvGlowButton1->setObjectName(u"AdvGlowButton1"_s);
    AdvGlowButton1->setFont(small);
    AdvGlowButton1->setGeometry(98, 80, 127, 20);
    AdvGlowButton1->setProperty(kHintProperty, u"クロスフェード区間をランダムに決定する"_s);
    connect(AdvGlowButton1, &QPushButton::clicked, this, &TFormXFade::AdvGlowButton1Click);

    AdvPolyList1 = new TTrackListView(this);
    AdvPolyList1->setObjectName(u"AdvPolyList1"_s);
    AdvPolyList1->setGeometry(17, 103, 208, 243);
    connect(AdvPolyList1, &QListWidget::currentRowChanged, this, [this](int row) {
        tracks_.Select(row);
        if (row >= 0 && row < tracks_.Count())
            editor_->AdvPolyList1ItemSelect(&tracks_.At(row));
    });
    connect(AdvPolyList1, &TTrackListView::DeleteRequested, this, &TFormXFade::BtnDeleteClick);
    connect(AdvPolyList1, &TTrackListView::MoveRequested, this, [this](int from, int to) {
        tracks_.Move(from, to);
        tracks_.Select(to);
        RefreshTrackList();
    });

    BtnOpenFiles = PictureButton(this, "BtnOpenFiles", TPicture::OpenFiles, {16, 352, 41, 32}, u"トラックを開く"_s);
    BtnDelete = PictureButton(this, "BtnDelete", TPicture::Delete, {63, 352, 41, 32}, u"トラックリストから取り除く"_s);
    BtnLoadProject =
        PictureButton(this, "BtnLoadProject", TPicture::LoadProject, {137, 352, 41, 32}, u"トラックリストを読み込む"_s);
    BtnSaveProject =
        PictureButton(this, "BtnSaveProject", TPicture::SaveProject, {184, 352, 41, 32}, u"トラックリストを保存する"_s);
    connect(BtnOpenFiles, &QToolButton::clicked, this, &TFormXFade::BtnOpenFilesClick);
    connect(BtnDelete, &QToolButton::clicked, this, &TFormXFade::BtnDeleteClick);
    connect(BtnLoadProject, &QToolButton::clicked, this, &TFormXFade::BtnLoadProjectClick);
    connect(BtnSaveProject, &QToolButton::clicked, this, &TFormXFade::BtnSaveProjectClick);

    Panel1 = Caption(this, "Panel1", u"クロス時間 (秒)"_s, {18, 395, 84, 22});
    AdvSpinEdit1 = new TDecimalSpinEdit(0.1, 65535, 10, this);
    AdvSpinEdit1->setObjectName(u"AdvSpinEdit1"_s);
    AdvSpinEdit1->setGeometry(103, 395, 124, 22);

    Panel2 = Caption(this, "Panel2", u"エンベロープ"_s, {18, 418, 84, 22});
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(u"ComboBox1"_s);
    ComboBox1->addItems({u"直線"_s, u"サインカーブ"_s});
    ComboBox1->setCurrentIndex(0);
    ComboBox1->setGeometry(103, 419, 124, 21);

    Panel3 = Caption(this, "Panel3", u"ブランク (秒)"_s, {18, 441, 84, 28});
    Label12 = new QLabel(u"前"_s, this);
    Label12->setObjectName(u"Label12"_s);
    Label12->setGeometry(104, 444, 14, 22);
    AdvSpinEdit2 = new TDecimalSpinEdit(0, 10, 1, this);
    AdvSpinEdit2->setObjectName(u"AdvSpinEdit2"_s);
    AdvSpinEdit2->setGeometry(119, 444, 41, 22);
    Label10 = new QLabel(u"後"_s, this);
    Label10->setObjectName(u"Label10"_s);
    Label10->setGeometry(171, 444, 14, 22);
    AdvSpinEdit3 = new TDecimalSpinEdit(0, 10, 1, this);
    AdvSpinEdit3->setObjectName(u"AdvSpinEdit3"_s);
    AdvSpinEdit3->setGeometry(186, 444, 41, 22);
    for (TDecimalSpinEdit* spin : {AdvSpinEdit2, AdvSpinEdit3})
        spin->setButtonSymbols(QAbstractSpinBox::NoButtons);   // arrows, wheel and keys still step

    // Loudness matching: the check box in the caption column, its target
    // beside it (used only while it is checked), the true-peak ceiling below
    // (it holds a gained-up track too, so it is always there).
    CheckMatchLoudness = new QCheckBox(u"音量をそろえる"_s, this);
    CheckMatchLoudness->setObjectName(u"CheckMatchLoudness"_s);
    CheckMatchLoudness->setGeometry(18, 470, 104, 22);
    CheckMatchLoudness->setFont(small);
    CheckMatchLoudness->setStyleSheet(
        u"QCheckBox#CheckMatchLoudness { background: #e9edf3; border: 1px solid #cfd6e0; color: #2b3240;"
        " padding-left: 3px; }"_s);
    CheckMatchLoudness->setProperty(kHintProperty,
                                    u"各トラックの区間を目標の音量 (LUFS) にそろえ、トゥルーピークを上限以下に抑えます"_s);
    LabelLoudnessTarget = new QLabel(u"目標"_s, this);
    LabelLoudnessTarget->setObjectName(u"LabelLoudnessTarget"_s);
    LabelLoudnessTarget->setFont(small);
    LabelLoudnessTarget->setGeometry(124, 470, 24, 22);
    SpinLoudnessTarget = new TFixedSpinEdit(kMinLoudnessTarget, kMaxLoudnessTarget, 0.5, -14.0, false, this);
    SpinLoudnessTarget->setObjectName(u"SpinLoudnessTarget"_s);
    SpinLoudnessTarget->setGeometry(149, 470, 46, 22);
    SpinLoudnessTarget->setProperty(kHintProperty, u"そろえる先の音量 (統合ラウドネス、−40〜−5 LUFS)"_s);
    LabelLoudnessUnit = new QLabel(u"LUFS"_s, this);
    LabelLoudnessUnit->setObjectName(u"LabelLoudnessUnit"_s);
    LabelLoudnessUnit->setFont(small);
    LabelLoudnessUnit->setGeometry(197, 470, 30, 22);
    PanelPeakCeiling = Caption(this, "PanelPeakCeiling", u"ピーク上限"_s, {18, 493, 104, 22});
    SpinPeakCeiling = new TFixedSpinEdit(kMinTruePeakCeiling, kMaxTruePeakCeiling, 0.1, -1.0, false, this);
    SpinPeakCeiling->setObjectName(u"SpinPeakCeiling"_s);
    SpinPeakCeiling->setGeometry(149, 493, 46, 22);
    SpinPeakCeiling->setProperty(kHintProperty,
                                 u"トゥルーピークの上限 (−12〜0 dBTP)。音量をそろえるときと、ゲインで上げたトラックに効きます"_s);
    LabelPeakUnit = new QLabel(u"dBTP"_s, this);
    LabelPeakUnit->setObjectName(u"LabelPeakUnit"_s);
    LabelPeakUnit->setFont(small);
    LabelPeakUnit->setGeometry(197, 493, 30, 22);
    for (TFixedSpinEdit* spin : {SpinLoudnessTarget, SpinPeakCeiling}) {
        spin->setButtonSymbols(QAbstractSpinBox::NoButtons);
        spin->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    connect(CheckMatchLoudness, &QCheckBox::toggled, this, [this](bool on) {
        for (QWidget* w : std::initializer_list<QWidget*>{LabelLoudnessTarget, SpinLoudnessTarget, LabelLoudnessUnit})
            w->setEnabled(on);
        UpdateDiagram();
    });
    for (QWidget* w : std::initializer_list<QWidget*>{LabelLoudnessTarget, SpinLoudnessTarget, LabelLoudnessUnit})
        w->setEnabled(false);
    for (TFixedSpinEdit* spin : {SpinLoudnessTarget, SpinPeakCeiling})
        connect(spin, &QDoubleSpinBox::valueChanged, this, &TFormXFade::UpdateDiagram);

    BtnGoBuild = new QToolButton(this);
    BtnGoBuild->setObjectName(u"BtnGoBuild"_s);
    BtnGoBuild->setText(u"クロスフェード生成"_s);
    BtnGoBuild->setIcon(PictureIcon(TPicture::Build, 28));
    BtnGoBuild->setIconSize(QSize(28, 28));
    BtnGoBuild->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    BtnGoBuild->setPopupMode(QToolButton::MenuButtonPopup);
    BtnGoBuild->setGeometry(17, 516, 210, 56);
    QFont buildFont = font();
    buildFont.setPixelSize(15);
    buildFont.setBold(true);
    BtnGoBuild->setFont(buildFont);
    BtnGoBuild->setStyleSheet(
        u"QToolButton#BtnGoBuild { color: white; border: 1px solid #1f4fa8; border-radius: 4px;"
        " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #4a86ee, stop:1 #2459c4);"
        " padding-right: 18px; }"
        "QToolButton#BtnGoBuild:pressed { background: #2459c4; }"
        "QToolButton#BtnGoBuild::menu-button { border-left: 1px solid #1f4fa8; width: 18px; }"_s);
    connect(BtnGoBuild, &QToolButton::clicked, this, &TFormXFade::BtnGoBuildClick);

    GroupBox1 = new QGroupBox(u"In/Out 設定コントロール"_s, this);
    GroupBox1->setObjectName(u"GroupBox1"_s);
    GroupBox1->setGeometry(256, 76, 513, 270);
    editor_ = new TInOutEditor(GroupBox1);
    editor_->OnCaptionChanged = [this](TrackEntry&) { RefreshTrackList(); };
    editor_->OnError = [this](const QString& message) { ReportError(this, message); };
    editor_->OnGainChanged = [this](TrackEntry&) { RefreshTrackList(); };
    // Measured in the background; the rows and the editor show what arrives.
    measurer_ = new TSegmentMeasurer(this);
    connect(measurer_, &TSegmentMeasurer::Measured, this, &TFormXFade::ShowMeasurements);
    editor_->IsUnmeasurable = [this](const TrackEntry& entry) {
        return measurer_->Unmeasurable({entry.SourcePath, entry.Times.StartTime, entry.Times.EndTime});
    };
    GroupBox2 = new QGroupBox(u"クロスフェード部分図解"_s, this);
    GroupBox2->setObjectName(u"GroupBox2"_s);
    GroupBox2->setGeometry(256, 352, 513, 233);
    AdvGDIPPicture1 = new TCrossfadeDiagram(GroupBox2);
    AdvGDIPPicture1->setObjectName(u"AdvGDIPPicture1"_s);
    AdvGDIPPicture1->setGeometry(8, 22, 497, 167);

    // Hearing the joins: rendered live by the build's own mixer.
    BtnJoinPreview = new QPushButton(u"つなぎ目を試聴"_s, GroupBox2);
    BtnJoinPreview->setObjectName(u"BtnJoinPreview"_s);
    BtnJoinPreview->setGeometry(8, 195, 140, 30);
    BtnJoinPreview->setProperty(kHintProperty, u"選んだトラックへのつなぎ目を、生成と同じ音で聴く (J)"_s);
    BtnPlayThrough = new QPushButton(u"ここから通しで再生"_s, GroupBox2);
    BtnPlayThrough->setObjectName(u"BtnPlayThrough"_s);
    BtnPlayThrough->setGeometry(154, 195, 160, 30);
    BtnPlayThrough->setProperty(kHintProperty, u"選んだトラックのつなぎ目から最後まで通して聴く (L)"_s);
    LabelJoinStatus = new QLabel(GroupBox2);
    LabelJoinStatus->setObjectName(u"LabelJoinStatus"_s);
    LabelJoinStatus->setGeometry(320, 195, 185, 30);
    LabelJoinStatus->setWordWrap(true);
    QFont statusFont = font();
    statusFont.setPixelSize(11);
    LabelJoinStatus->setFont(statusFont);
    joinPreview_ = new TJoinPreview(this);
    connect(BtnJoinPreview, &QPushButton::clicked, this, &TFormXFade::BtnJoinPreviewClick);
    connect(BtnPlayThrough, &QPushButton::clicked, this, &TFormXFade::BtnPlayThroughClick);
    connect(joinPreview_, &TJoinPreview::Heard, this, [this](const QString& before, const QString& after, double t) {
        AdvGDIPPicture1->SetJoin(before, after);
        AdvGDIPPicture1->SetPlayhead(t);
        LabelJoinStatus->setText(u"再生中: "_s + before + u" → "_s + after);
    });
    connect(joinPreview_, &TJoinPreview::Stopped, this, [this] {
        AdvGDIPPicture1->SetJoin(QString(), QString());
        LabelJoinStatus->clear();
        BtnPlayThrough->setText(u"ここから通しで再生"_s);
    });
    // The editor's player and the join preview never play at once.
    connect(&editor_->WindowsMediaPlayer1->Engine(), &TAudioPlayer::StateChanged, this, [this] {
        if (editor_->WindowsMediaPlayer1->Engine().IsPlaying())
            joinPreview_->Stop();
    });
    editor_->InterceptSpace = [this] {
        if (!joinPreview_->IsPlaying())
            return false;
        joinPreview_->Stop();
        return true;
    };
    for (const auto& [key, action] : {std::pair{QKeySequence(Qt::Key_J), &TFormXFade::BtnJoinPreviewClick},
                                      std::pair{QKeySequence(Qt::Key_L), &TFormXFade::BtnPlayThroughClick}}) {
        auto* shortcut = new QShortcut(key, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, action);
    }
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, [this] { joinPreview_->Stop(); });
    for (TDecimalSpinEdit* spin : {AdvSpinEdit1, AdvSpinEdit2, AdvSpinEdit3})
        connect(spin, &QDoubleSpinBox::valueChanged, this, &TFormXFade::UpdateDiagram);
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, &TFormXFade::UpdateDiagram);

    BtnHelp = PictureButton(this, "BtnHelp", TPicture::Help, {744, 16, 27, 25}, u"オンラインマニュアルを表示する"_s);
    BtnHelp->setIconSize(QSize(20, 20));
    BtnHelp->setAutoRaise(true);
    connect(BtnHelp, &QToolButton::clicked, this, &TFormXFade::BtnHelpClick);

    LinkLabel1 = new QLabel(this);
    LinkLabel1->setObjectName(u"LinkLabel1"_s);
    LinkLabel1->setGeometry(680, 42, 90, 22);
    LinkLabel1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    LinkLabel1->setTextFormat(Qt::RichText);
    connect(LinkLabel1, &QLabel::linkActivated, this, [](const QString& link) {
        const QUrl url(link);
        if (url.scheme() == u"http" || url.scheme() == u"https" || url.isLocalFile())
            TUiServices::Instance().OpenUrl(link);
    });

    HTMLPopup1 = new THTMLPopup(this);
    for (QWidget* w : std::initializer_list<QWidget*>{AdvGlowButton1, BtnOpenFiles, BtnDelete, BtnLoadProject,
                                                      BtnSaveProject, BtnHelp, editor_->BtnTimeFrom,
                                                      editor_->BtnTimeTo, editor_->BtnTestPlay, BtnJoinPreview,
                                                      BtnPlayThrough, CheckMatchLoudness, SpinLoudnessTarget,
                                                      SpinPeakCeiling, editor_->SpinGain})
        w->installEventFilter(this);

    KAddDrop1 = new TKAddDrop(this);
    KAddDrop1->setObjectName(u"KAddDrop1"_s);
    KAddDrop1->SetControl(AdvPolyList1);
    KAddDrop1->OnDropFiles = [this](TKAddDrop*, QWidget*, const QStringList& paths) { KAddDrop1DropFiles(paths); };

    KThdComp2 = new TKThdComp(this);
    KThdComp2->setObjectName(u"KThdComp2"_s);
    KThdComp2->OnExecute = [this](TKThdComp*) { KThdComp2Execute(); };
    KThdComp2->OnTerminate = [this](TKThdComp*) { KThdComp2Terminate(); };
}

void TFormXFade::BuildProgress(int position, int lastIndex)
{
    if (progress_ != nullptr)
        progress_->Receive(position, lastIndex);
}

void TFormXFade::BuildEncoding(bool on)
{
    if (progress_ != nullptr)
        progress_->EncReceive(on);
}

TSkipAnswer TFormXFade::AskSkipTrack(const QString& message)
{
    return TUiServices::Instance().MessageBox(this, message, u"エラー"_s, QMessageBox::Warning,
                                              QMessageBox::Yes | QMessageBox::No)
                   == QMessageBox::Yes
               ? TSkipAnswer::Skip
               : TSkipAnswer::Stop;
}

TOverwriteAnswer TFormXFade::AskOverwriteTrack(const QString& message)
{
    switch (TUiServices::Instance().MessageBox(this, message, u"確認"_s, QMessageBox::Information,
                                               QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
    case QMessageBox::Yes:
        return TOverwriteAnswer::Overwrite;
    case QMessageBox::No:
        return TOverwriteAnswer::Skip;
    default:
        return TOverwriteAnswer::Stop;
    }
}

void TFormXFade::CreateMenu()
{
    AdvPopupMenu1 = new QMenu(this);
    AdvPopupMenu1->setObjectName(u"AdvPopupMenu1"_s);
    AdvPopupMenu1->setToolTipsVisible(false);

    modeGroup_ = new QActionGroup(this);
    modeGroup_->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    MenuMakeCross = RadioItem(AdvPopupMenu1, modeGroup_, "MenuMakeCross", u"クロスフェード生成 (連結モード)"_s, 0);
    MenuMakeSingle = RadioItem(AdvPopupMenu1, modeGroup_, "MenuMakeSingle", u"シングルフェード作成 (個別モード)"_s, 0);
    MenuMakeCross->setChecked(true);
    AdvPopupMenu1->setDefaultAction(MenuMakeCross);
    AdvPopupMenu1->addSeparator()->setObjectName(u"N2"_s);

    MenuCompress = AdvPopupMenu1->addMenu(u"追加圧縮オプション"_s);
    MenuCompress->setObjectName(u"MenuCompress"_s);
    compressGroup_ = new QActionGroup(this);
    compressGroup_->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    RadioItemNoCompress = RadioItem(MenuCompress, compressGroup_, "RadioItemNoCompress", u"なし"_s, -1);
    RadioItemNoCompress->setChecked(true);

    MenuCompressLevel = AdvPopupMenu1->addMenu(u"音声圧縮レベル"_s);
    MenuCompressLevel->setObjectName(u"MenuCompressLevel"_s);
    qualityGroup_ = new QActionGroup(this);
    qualityGroup_->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    RadioItemQLOW = RadioItem(MenuCompressLevel, qualityGroup_, "RadioItemQLOW", u"低音質"_s, 1);
    RadioItemQMID = RadioItem(MenuCompressLevel, qualityGroup_, "RadioItemQMID", u"ふつう"_s, 5);
    RadioItemQHIGH = RadioItem(MenuCompressLevel, qualityGroup_, "RadioItemQHIGH", u"高音質"_s, 10);
    RadioItemQMID->setChecked(true);

    AdvPopupMenu1->addSeparator()->setObjectName(u"N1"_s);
    auto check = [this](const char* name, const QString& caption, bool on) {
        QAction* action = AdvPopupMenu1->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        action->setCheckable(true);
        action->setChecked(on);
        return action;
    };
    CheckWriteHTML = check("CheckWriteHTML", u"HTMLテンプレートを書き出す(&H)"_s, false);
    CheckShiori = check("CheckShiori", u"<連結のみ> しおりテキストを書き出す(&S)"_s, true);
    CheckWriteJson = check("CheckWriteJson", u"<連結のみ> JSONを書き出す(&J)"_s, false);
    CheckExportVideo = check("CheckExportVideo", u"<連結のみ> 動画を書き出す (MP4)(&V)"_s, false);
    MenuCoverImage = AdvPopupMenu1->addAction(QString());
    MenuCoverImage->setObjectName(u"MenuCoverImage"_s);
    connect(MenuCoverImage, &QAction::triggered, this, &TFormXFade::MenuCoverImageClick);
    SetCoverImage(QString());

    // A radio item clicked is checked, whatever it was (the groups allow none
    // checked, as a settings file may leave them).
    for (QActionGroup* group : {modeGroup_, compressGroup_, qualityGroup_})
        connect(group, &QActionGroup::triggered, this, [](QAction* action) { action->setChecked(true); });
    BtnGoBuild->setMenu(AdvPopupMenu1);
}

void TFormXFade::FillCompressionMenu()
{
    for (QAction* action : compressGroup_->actions())
        if (action != RadioItemNoCompress) {
            compressGroup_->removeAction(action);
            MenuCompress->removeAction(action);
            action->deleteLater();
        }
    for (const TCompressionItem& item : CompressionMenuItems(AddonFolder()))
        RadioItem(MenuCompress, compressGroup_, "", item.Caption, item.Tag);
}

void TFormXFade::SetCoverImage(const QString& path)
{
    coverImage_ = path;
    MenuCoverImage->setText(path.isEmpty() ? u"カバー画像を選ぶ…"_s
                                           : u"カバー画像を選ぶ… (%1)"_s.arg(
                                                 // an "&" in the name is shown, not taken for a shortcut
                                                 QFileInfo(path).fileName().replace(u'&', u"&&"_s)));
    MenuCoverImage->setToolTip(path);
}

void TFormXFade::MenuCoverImageClick()
{
    // Choosing nothing keeps the cover chosen before.
    const QString path = TUiServices::Instance().OpenFileName(
        this, u"画像ファイル (*.png;*.jpg;*.jpeg;*.webp)|*.png;*.jpg;*.jpeg;*.webp|すべてのファイル (*)|*"_s);
    if (!path.isEmpty())
        SetCoverImage(path);
}

TSettings TFormXFade::CollectSettings() const
{
    TSettings s;
    s.Medley = MedleySettings();
    s.WriteDetailText = CheckShiori->isChecked();
    s.PlayerVolume = editor_->WindowsMediaPlayer1->settings.volume();
    s.CrossTypeA = MenuMakeCross->isChecked();
    s.CrossTypeB = MenuMakeSingle->isChecked();
    s.WriteJsonFile = CheckWriteJson->isChecked();
    s.ExportHTMLs = CheckWriteHTML->isChecked();
    s.ExportVideo = CheckExportVideo->isChecked();
    s.CoverImage = coverImage_;
    s.Compression.clear();
    for (QAction* action : MenuCompress->actions())
        if (action->isChecked()) {
            s.Compression = action->text();
            break;
        }
    s.CompressionLevel = 0;
    for (QAction* action : MenuCompressLevel->actions())
        if (action->isChecked()) {
            s.CompressionLevel = action->data().toInt();
            break;
        }
    return s;
}

void TFormXFade::ApplySettings(const TSettings& s)
{
    AdvSpinEdit1->setValue(s.Medley.CrossfadeTime);
    ComboBox1->setCurrentIndex(EnvelopeNumber(s.Medley.Envelope));   // -1: none selected
    CheckShiori->setChecked(s.WriteDetailText);
    AdvSpinEdit2->setValue(s.Medley.BlankHead);
    AdvSpinEdit3->setValue(s.Medley.BlankTail);
    CheckMatchLoudness->setChecked(s.Medley.Loudness.Match);
    SpinLoudnessTarget->setValue(s.Medley.Loudness.Target);
    SpinPeakCeiling->setValue(s.Medley.Loudness.Ceiling);
    if (s.PlayerVolume >= 0)
        editor_->WindowsMediaPlayer1->settings.setVolume(s.PlayerVolume);
    MenuMakeCross->setChecked(s.CrossTypeA);
    MenuMakeSingle->setChecked(s.CrossTypeB);
    if (!s.CrossTypeA && !s.CrossTypeB) {
        MenuMakeCross->setChecked(false);
        MenuMakeSingle->setChecked(false);
    }
    CheckWriteJson->setChecked(s.WriteJsonFile);
    CheckWriteHTML->setChecked(s.ExportHTMLs);
    CheckExportVideo->setChecked(s.ExportVideo);
    SetCoverImage(s.CoverImage);
    RadioItemNoCompress->setChecked(true);
    for (QAction* action : MenuCompress->actions())
        if (action->text() == s.Compression) {
            action->setChecked(true);
            break;
        }
    for (QAction* action : MenuCompressLevel->actions())
        if (action->data().toInt() == s.CompressionLevel) {
            action->setChecked(true);
            break;
        }
    UpdateDiagram();
}

TBuildOptions TFormXFade::BuildOptions() const
{
    return BuildOptionsFrom(CollectSettings(), AddonFolder());
}

TMedleySettings TFormXFade::MedleySettings() const
{
    return {AdvSpinEdit1->value(), EnvelopeOfNumber(ComboBox1->currentIndex()), AdvSpinEdit2->value(),
            AdvSpinEdit3->value(),
            {CheckMatchLoudness->isChecked(), SpinLoudnessTarget->value(), SpinPeakCeiling->value()}};
}

void TFormXFade::UpdateDiagram()
{
    const TMedleySettings medley = MedleySettings();
    AdvGDIPPicture1->SetValues(medley);
    editor_->SetFade(medley.CrossfadeTime, medley.Envelope);
    editor_->SetLoudness(medley.Loudness);
}

void TFormXFade::RefreshTrackList()
{
    const QSignalBlocker block(AdvPolyList1);
    AdvPolyList1->clear();
    for (int i = 0; i < tracks_.Count(); ++i) {
        const TrackEntry& entry = tracks_.At(i);
        auto* item = new QListWidgetItem(AdvPolyList1);
        item->setData(Qt::UserRole, entry.Caption);
        item->setData(Qt::AccessibleTextRole, TrackTitle(entry.SourcePath));
        item->setData(kTrackLoudnessRole, RowLoudness(entry));
        item->setData(kTrackGainRole, entry.Times.Gain != 0.0 ? GainText(entry.Times.Gain) : QString());
        item->setSizeHint(QSize(0, kTrackRowHeight));
    }
    const int selected = tracks_.SelectedIndex();
    AdvPolyList1->setCurrentRow(selected);
    // The segments not measured yet, the selected one first.
    std::vector<int> order;
    if (selected >= 0 && selected < tracks_.Count())
        order.push_back(selected);
    for (int i = 0; i < tracks_.Count(); ++i)
        if (i != selected)
            order.push_back(i);
    std::vector<TSegmentKey> wanted;
    for (const int i : order)
        if (AdvPolyList1->item(i)->data(kTrackLoudnessRole).toString() == u"…") {
            const TrackEntry& entry = tracks_.At(i);
            wanted.push_back({entry.SourcePath, entry.Times.StartTime, entry.Times.EndTime});
        }
    measurer_->Request(wanted);
    if (joinPreview_ != nullptr)
        joinPreview_->Prepare(MedleyEntries(tracks_));   // the sources' lengths, ahead of a J or L
}

QString TFormXFade::RowLoudness(const TrackEntry& entry) const
{
    const TSetData& t = entry.Times;
    if (!IsTimeSet(t.StartTime) || !(t.EndTime > t.StartTime))
        return QString();
    if (const std::optional<TLoudness> known = KnownSegmentLoudness(entry.SourcePath, t.StartTime, t.EndTime))
        return LoudnessText(known);
    if (measurer_->Unmeasurable({entry.SourcePath, t.StartTime, t.EndTime}))
        return LoudnessText(std::nullopt);
    return u"…"_s;
}

void TFormXFade::ShowMeasurements(const TSegmentKey& key)
{
    // A result for points that have changed since matches no row and is only kept.
    for (int i = 0; i < tracks_.Count() && i < AdvPolyList1->count(); ++i) {
        const TrackEntry& entry = tracks_.At(i);
        if (entry.SourcePath == key.Path && entry.Times.StartTime == key.Start && entry.Times.EndTime == key.End)
            AdvPolyList1->item(i)->setData(kTrackLoudnessRole, RowLoudness(entry));
    }
    editor_->RefreshLevel();
}

void TFormXFade::BtnJoinPreviewClick()
{
    StartJoinPreview(static_cast<int>(TJoinPreview::TKind::Join));
}

void TFormXFade::BtnPlayThroughClick()
{
    StartJoinPreview(static_cast<int>(TJoinPreview::TKind::PlayThrough));
}

void TFormXFade::StartJoinPreview(int kind)
{
    const auto wanted = static_cast<TJoinPreview::TKind>(kind);
    if (joinPreview_->IsPlaying() && joinPreview_->Kind() == wanted) {
        joinPreview_->Stop();   // the same button again stops it
        return;
    }
    const int track = tracks_.SelectedIndex();
    if (track < 0) {
        LabelJoinStatus->setText(u"トラックを選んでください"_s);
        return;
    }
    editor_->WindowsMediaPlayer1->controls.pause();
    joinPreview_->Player().SetVolume(editor_->WindowsMediaPlayer1->settings.volume());
    // Heard as the build would make it from the same settings.
    if (!joinPreview_->Start(wanted, MedleyEntries(tracks_), BuildOptions().Medley, track)) {
        LabelJoinStatus->setText(u"このトラックは音源を切り出せないため、メドレーに入りません"_s);
        return;
    }
    if (wanted == TJoinPreview::TKind::PlayThrough)
        BtnPlayThrough->setText(u"通し再生を止める"_s);
}

void TFormXFade::SetEditorEnabled(bool enabled)
{
    editor_->SetEditorEnabled(enabled);
}

void TFormXFade::BtnOpenFilesClick()
{
    const QStringList files = TUiServices::Instance().OpenFileNames(this, kTrackFilter);
    if (files.isEmpty())
        return;
    tracks_.AddTrackFiles(files);
    RefreshTrackList();
}

void TFormXFade::BtnDeleteClick()
{
    tracks_.RemoveSelected();
    RefreshTrackList();
    SetEditorEnabled(false);
}

void TFormXFade::BtnLoadProjectClick()
{
    if (!MayReplaceList())
        return;
    const QString file = TUiServices::Instance().OpenFileName(this, kProjectFilter);
    if (file.isEmpty())
        return;
    const QString name = QFileInfo(file).suffix().isEmpty() ? file + u".mlkd"_s : file;
    ChangeTracks([&] { LoadProject(tracks_, name, [this] { SetEditorEnabled(false); }); });
    savedState_ = ListState();
}

void TFormXFade::BtnSaveProjectClick()
{
    SaveProjectAs();
}

bool TFormXFade::SaveProjectAs()
{
    const QString file = TUiServices::Instance().SaveFileName(this, kProjectFilter, u"mlkd"_s);
    if (file.isEmpty())
        return false;
    try {
        SaveProject(tracks_, file);
        savedState_ = ListState();
        return true;
    } catch (const Error& e) {
        ReportError(this, e.Message());
        return false;
    }
}

QString TFormXFade::ListState() const
{
    QString state;
    for (int i = 0; i < tracks_.Count(); ++i) {
        const TrackEntry& entry = tracks_.At(i);
        state += entry.SourcePath + u'\t' + QString::number(entry.Times.StartTime, 'g', 17) + u'\t'
               + QString::number(entry.Times.EndTime, 'g', 17) + u'\t' + QString::number(entry.Times.Gain, 'g', 17)
               + u'\n';
    }
    return state;
}

bool TFormXFade::ListChanged() const
{
    return ListState() != savedState_;
}

bool TFormXFade::MayReplaceList()
{
    if (!ListChanged())
        return true;
    switch (TUiServices::Instance().MessageBox(this, u"トラックリストの変更を保存しますか？"_s, u"確認"_s,
                                               QMessageBox::Question,
                                               QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
    case QMessageBox::Yes:
        return SaveProjectAs();   // a save that did not happen keeps the list
    case QMessageBox::No:
        return true;
    default:
        return false;
    }
}

void TFormXFade::KAddDrop1DropFiles(const QStringList& paths)
{
    if (IsProjectDrop(paths) && !MayReplaceList())
        return;
    const bool project = IsProjectDrop(paths);
    ChangeTracks([&] { DropPaths(tracks_, paths, [this] { SetEditorEnabled(false); }); });
    if (project)
        savedState_ = ListState();
}

void TFormXFade::ChangeTracks(const std::function<void()>& change)
{
    QString error;
    try {
        change();
    } catch (const Error& e) {
        error = e.Message();
    }
    RefreshTrackList();
    if (!error.isEmpty())
        ReportError(this, error);
}

void TFormXFade::AdvGlowButton1Click()
{
    formRandom_->move(geometry().center() - formRandom_->rect().center());
    formRandom_->exec();
    RefreshTrackList();
}

void TFormXFade::BtnHelpClick()
{
    TUiServices& ui = TUiServices::Instance();
    if (ui.MessageBox(this, u"オンラインマニュアルを開きますか？"_s, u"確認"_s, QMessageBox::Information,
                      QMessageBox::Yes | QMessageBox::No)
        == QMessageBox::Yes)
        ui.OpenUrl(ManualUrl());
}

void TFormXFade::BtnGoBuildClick()
{
    TUiServices& ui = TUiServices::Instance();
    THREAD_ERROR.clear();
    FAILED_COPIES.clear();
    // The options the job reads once at its start; the modal progress dialog
    // keeps the controls and the list as they are until it ends.
    TBuildOptions options = BuildOptions();
    CROSSFADE_MODES = options.Mode;
    if (CROSSFADE_MODES == cfmMixed && tracks_.Count() == 0) {
        ui.MessageBox(this, NoTracksMessage(), u"エラー"_s, QMessageBox::Critical, QMessageBox::Ok);
        return;
    }
    const QStringList lines = ValidateTracks(tracks_, options.Medley.CrossfadeTime);
    if (!lines.isEmpty()) {
        ui.MessageBox(this, ValidationMessage(lines), u"エラー"_s, QMessageBox::Critical, QMessageBox::Ok);
        return;
    }
    const QString output = CROSSFADE_MODES == cfmMixed
                               ? ui.SaveFileName(this, kOutputFilter, u"wav"_s)
                               : ui.ExistingDirectory(this, u"名前を付けて保存 (シングル)"_s, u"保存先フォルダー:"_s);
    if (output.isEmpty())
        return;
    options.OutputPath = output;
    pendingBuild_ = options;

    stopRequested_ = false;
    progress_ = new TProgressDlg(this);
    connect(progress_, &TProgressDlg::StopRequested, this, [this] { stopRequested_ = true; });
    Q_EMIT BuildStarted(progress_);
    KThdComp2->Tag = 0;
    KThdComp2->Start();
    progress_->exec();
}

void TFormXFade::KThdComp2Execute()
{
    TWindowBuildUser user(*this, *KThdComp2, stopRequested_);
    const TBuildOutcome outcome = RunBuildJob(pendingBuild_, tracks_, user);
    THREAD_ERROR = outcome.ThreadError;
    FAILED_COPIES = CompletionDetails(outcome);
    // The medley's loudness alone is news, not a problem.
    completionWarns_ = !FAILED_COPIES.isEmpty() && FAILED_COPIES != MedleyLoudnessText(outcome);
    KThdComp2->Tag = outcome.CancelMark ? -1 : 0;
}

void TFormXFade::KThdComp2Terminate()
{
    TUiServices& ui = TUiServices::Instance();
    if (!THREAD_ERROR.isEmpty())
        ui.MessageBox(this, THREAD_ERROR, u"エラー"_s, QMessageBox::Critical, QMessageBox::Ok);
    else if (KThdComp2->Tag == 0 && FAILED_COPIES.isEmpty())
        ui.MessageBox(this, u"完了しました。"_s, u"Complete"_s, QMessageBox::Information, QMessageBox::Ok);
    else if (KThdComp2->Tag == 0 && !completionWarns_)
        ui.MessageBox(this, u"完了しました。\n\n"_s + FAILED_COPIES, u"Complete"_s, QMessageBox::Information,
                      QMessageBox::Ok);
    else if (KThdComp2->Tag == 0)
        ui.MessageBox(this, u"完了しました。\n\n"_s + FAILED_COPIES, u"Complete"_s, QMessageBox::Warning, QMessageBox::Ok);
    else
        ui.MessageBox(this, FAILED_COPIES.isEmpty() ? u"途中終了しました。"_s : u"途中終了しました。\n\n"_s + FAILED_COPIES,
                      u"Complete"_s, QMessageBox::Warning, QMessageBox::Ok);
    if (progress_ != nullptr) {
        progress_->Finish();
        progress_->deleteLater();
        progress_ = nullptr;
    }
}

bool TFormXFade::eventFilter(QObject* watched, QEvent* event)
{
    if (auto* widget = qobject_cast<QWidget*>(watched); widget && widget->property(kHintProperty).isValid()) {
        if (event->type() == QEvent::Enter)
            HTMLPopup1->ShowFor(widget, widget->property(kHintProperty).toString());
        else if (event->type() == QEvent::Leave || event->type() == QEvent::MouseButtonPress)
            HTMLPopup1->hide();
    }
    return QWidget::eventFilter(watched, event);
}

void TFormXFade::FormClose()
{
    if (closed_)
        return;
    closed_ = true;
    measurer_->Stop();   // a measurement under way is given up
    SaveSettings(CollectSettings(), settingsPath_);   // a failure closes without a word
    // The editor lets go of its entry before the list is destroyed.
    editor_->SetEditorEnabled(false);
    tracks_.Clear();
    RefreshTrackList();
    TWindowsMediaPlayer* player = editor_->WindowsMediaPlayer1;
    player->controls.stop();
    player->setURL(QString());
    player->currentPlaylist.clear();
    player->Engine().ReleaseOutput();
    joinPreview_->Stop();
    joinPreview_->Player().ReleaseOutput();
}

void TFormXFade::closeEvent(QCloseEvent* event)
{
    // Work is not lost without a word: a changed list is offered for saving first.
    if (!closed_ && !MayReplaceList()) {
        event->ignore();
        return;
    }
    FormClose();
    HTMLPopup1->hide();
    QWidget::closeEvent(event);
}

} // namespace medlark
