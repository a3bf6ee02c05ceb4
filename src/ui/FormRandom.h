#pragma once
// "おまかせ一括ランダム": gives every entry a segment of a chosen length (fixed
// seconds, or a percentage of the track) at a random whole-second in point.

#include <QDialog>

#include <cstdint>
#include <functional>

class QGroupBox;
class QLabel;
class QToolButton;
class QRadioButton;

namespace medlark {

class TDecimalSpinEdit;
class TrackList;

struct TRandomPick final {
    double StartTime = 0;
    double EndTime = 0;
};

// r(n): the generator steps its state (state x 134775813 + 1) and gives the high
// 32 bits of state x n, so 0 <= r(n) < n and r(0) = 0.
std::uint32_t RandomBelow(std::uint32_t& state, std::uint32_t n);

// The segment for a track of `duration` seconds: length L (fixed seconds, or
// percent of the duration; at most the duration), in point a random whole number
// between the margin of a tenth of the track and d - L - margin, then held to
// 0 … d - L, so that the segment lies inside the track (a length of the whole
// track gives 0 to d).
TRandomPick PickSegment(double duration, bool fixedSeconds, double seconds, double percent, std::uint32_t& state);

class TFormRandom final : public QDialog {
    Q_OBJECT
public:
    TFormRandom(QWidget* owner, TrackList& list);

    // "GO!": new points for every entry whose file opens; the others keep theirs.
    void AdvGlowButton1Click();

    // The generator's seed before each entry: the clock, unless a test sets it.
    std::function<std::uint32_t()> Seed;
    // Told after the entries changed.
    std::function<void()> OnChanged;

    QLabel* Label1;
    QGroupBox* GroupBox1;
    QRadioButton* RadioParam1;
    TDecimalSpinEdit* SpinParam1;
    QRadioButton* RadioParam2;
    TDecimalSpinEdit* SpinParam2;
    QToolButton* AdvGlowButton1;

private:
    TrackList& list_;
};

} // namespace medlark
