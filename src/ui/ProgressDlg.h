#pragma once
// The modal progress dialog of one build: tracks done, and a blinking
// "+ Encoding now." while compressed copies are being made.

#include <QDialog>

class QLabel;
class QProgressBar;
class QTimer;

namespace medlark {

class TProgressDlg final : public QDialog {
    Q_OBJECT
public:
    explicit TProgressDlg(QWidget* owner);

    // The progress message: maximum, then position (a full bar past the maximum).
    void Receive(unsigned position, int maximum);
    // The encoding indicator: on shows the label and starts its blinking.
    void EncReceive(bool on);

Q_SIGNALS:
    void Progressed(unsigned position, int maximum);

public:
    QLabel* Label1;
    QLabel* Label2;
    QProgressBar* ProgressBar;
    QTimer* Timer1;
};

} // namespace medlark
