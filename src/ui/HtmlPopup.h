#pragma once
// A borderless popup that shows a button's hint in bold just below it.

#include <QLabel>

namespace medlark {

// The dynamic property that carries a control's hint; the window shows the
// popup for every control that has it.
inline constexpr char kHintProperty[] = "medlarkHint";

class THTMLPopup final : public QLabel {
    Q_OBJECT
public:
    explicit THTMLPopup(QWidget* owner);
    // Shows "<b>" + hint + "</b>" under control (left at the window's left plus
    // the control's left, top just below the control).
    void ShowFor(QWidget* control, const QString& hint);
};

} // namespace medlark
