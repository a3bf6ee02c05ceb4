#pragma once
// The modal progress dialog of one build: tracks done, and a blinking
// "+ Encoding now." while compressed copies are being made. It cannot be
// dismissed while the build runs: its "中止" button, its close box and Escape
// ask the build to stop instead.

#include <QDialog>

class QLabel;
class QPushButton;
class QProgressBar;
class QTimer;

namespace medlark {

class TProgressDlg final : public QDialog {
    Q_OBJECT
public:
    explicit TProgressDlg(QWidget* owner);

    // The build's progress: maximum, then position (a full bar past the maximum).
    void Receive(int position, int maximum);
    // The encoding indicator: on shows the label and starts its blinking.
    void EncReceive(bool on);
    // The build has ended: the dialog closes.
    void Finish();
    bool StopAsked() const { return stopAsked_; }

    void reject() override;

Q_SIGNALS:
    void Progressed(int position, int maximum);
    void StopRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

public:
    QLabel* Label1;
    QLabel* Label2;
    QProgressBar* ProgressBar;
    QTimer* Timer1;
    QPushButton* BtnStop;

private:
    void AskStop();

    bool finished_ = false;
    bool stopAsked_ = false;
};

} // namespace medlark
