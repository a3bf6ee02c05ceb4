#include "ui/FormRandom.h"

#include "model/TrackList.h"
#include "render/SourceStream.h"
#include "ui/DecimalSpinEdit.h"
#include "ui/IconsAndBanner.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QToolButton>
#include <QRadioButton>

#include <algorithm>
#include <cmath>

namespace medlark {

using namespace Qt::StringLiterals;

std::uint32_t RandomBelow(std::uint32_t& state, std::uint32_t n)
{
    state = state * 134775813u + 1u;
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(state) * n) >> 32);
}

TRandomPick PickSegment(double duration, bool fixedSeconds, double seconds, double percent, std::uint32_t& state)
{
    const long double d = duration;
    long double length = fixedSeconds ? static_cast<long double>(seconds) : static_cast<long double>(percent) * d / 100;
    if (length > d)
        length = d;
    const long double margin = d * 10 / 100;
    const auto lo = static_cast<std::int64_t>(std::nearbyint(margin));   // halves to even
    const auto hi = static_cast<std::int64_t>(std::trunc(d - length - margin));
    std::int64_t start = hi >= lo ? lo + RandomBelow(state, static_cast<std::uint32_t>(hi - lo))
                                  : hi + RandomBelow(state, static_cast<std::uint32_t>(lo - hi));
    // Every segment stays inside its track: 0 <= in point, out point <= the duration.
    const long double in = std::clamp(static_cast<long double>(start), 0.0L, std::max(d - length, 0.0L));
    TRandomPick pick;
    pick.StartTime = static_cast<double>(in);
    pick.EndTime = static_cast<double>(std::min(in + length, d));
    return pick;
}

TFormRandom::TFormRandom(QWidget* owner, TrackList& list)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), list_(list)
{
    setObjectName(u"FormRandom"_s);
    setWindowTitle(u"おまかせ一括ランダム"_s);
    setFixedSize(329, 211);
    setModal(true);

    Label1 = new QLabel(u"開始位置をランダムに決定して一括設定します。"_s, this);
    Label1->setObjectName(u"Label1"_s);
    Label1->move(24, 16);
    Label1->adjustSize();

    GroupBox1 = new QGroupBox(u"切り出す長さ"_s, this);
    GroupBox1->setObjectName(u"GroupBox1"_s);
    GroupBox1->setGeometry(24, 42, 137, 147);
    RadioParam1 = new QRadioButton(u"秒数を固定 (秒)"_s, GroupBox1);
    RadioParam1->setObjectName(u"RadioParam1"_s);
    RadioParam1->setGeometry(16, 23, 113, 17);
    RadioParam1->setChecked(true);
    SpinParam1 = new TDecimalSpinEdit(1.0, 65535.0, 30.0, GroupBox1);
    SpinParam1->setObjectName(u"SpinParam1"_s);
    SpinParam1->setGeometry(16, 46, 105, 22);
    SpinParam1->setAlignment(Qt::AlignRight);
    RadioParam2 = new QRadioButton(u"割合を固定 (%)"_s, GroupBox1);
    RadioParam2->setObjectName(u"RadioParam2"_s);
    RadioParam2->setGeometry(16, 79, 113, 17);
    SpinParam2 = new TDecimalSpinEdit(1.0, 65535.0, 10.0, GroupBox1);
    SpinParam2->setObjectName(u"SpinParam2"_s);
    SpinParam2->setGeometry(16, 102, 105, 22);
    SpinParam2->setAlignment(Qt::AlignRight);

    AdvGlowButton1 = new QToolButton(this);
    AdvGlowButton1->setText(u"GO!"_s);
    AdvGlowButton1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    AdvGlowButton1->setObjectName(u"AdvGlowButton1"_s);
    AdvGlowButton1->setGeometry(167, 48, 146, 141);
    QFont go = AdvGlowButton1->font();
    go.setPixelSize(29);
    go.setBold(true);
    AdvGlowButton1->setFont(go);
    AdvGlowButton1->setIcon(PictureIcon(TPicture::Random, 48));
    AdvGlowButton1->setIconSize(QSize(48, 48));
    connect(AdvGlowButton1, &QToolButton::clicked, this, &TFormRandom::AdvGlowButton1Click);

    Seed = [] {
        static QElapsedTimer clock;
        if (!clock.isValid())
            clock.start();
        return static_cast<std::uint32_t>(clock.nsecsElapsed() ^ QDateTime::currentMSecsSinceEpoch());
    };
}

void TFormRandom::AdvGlowButton1Click()
{
    for (int i = 0; i < list_.Count(); ++i) {
        std::uint32_t state = Seed();
        TrackEntry& entry = list_.At(i);
        SourceStream stream = OpenSourceStream(entry.SourcePath);
        if (!stream)
            continue;
        const TRandomPick pick = PickSegment(stream.Duration(), RadioParam1->isChecked(), SpinParam1->value(),
                                             SpinParam2->value(), state);
        entry.SetTimes(pick.StartTime, pick.EndTime);
    }
    if (OnChanged)
        OnChanged();
}

} // namespace medlark
