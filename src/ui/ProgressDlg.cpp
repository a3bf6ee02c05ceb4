#include "ui/ProgressDlg.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>

namespace medlark {

TProgressDlg::TProgressDlg(QWidget* owner)
    : QDialog(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("ProgressDlg"));
    setWindowTitle(QStringLiteral("しばらくお待ちください"));
    // The classic 80 pixels and a row below for the stop button.
    setFixedSize(292, 108);
    setModal(true);

    Label1 = new QLabel(QStringLiteral("Now Rendering..."), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont big = font();
    big.setPixelSize(16);
    Label1->setFont(big);
    Label1->move(16, 8);
    Label1->adjustSize();

    Label2 = new QLabel(QStringLiteral("+ Encoding now."), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    QFont small = font();
    small.setPixelSize(13);
    Label2->setFont(small);
    Label2->move(178, 11);
    Label2->adjustSize();
    Label2->hide();

    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setGeometry(16, 33, 257, 26);
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
    ProgressBar->setStyleSheet(QStringLiteral(
        "QProgressBar { background: #F2F2F2; border: 1px solid silver; border-radius: 0; }"
        "QProgressBar::chunk { border: 1px solid lime;"
        " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #CCFFCC, stop:1 lime); }"));

    BtnStop = new QPushButton(QStringLiteral("中止"), this);
    BtnStop->setObjectName(QStringLiteral("BtnStop"));
    BtnStop->setGeometry(197, 70, 76, 28);
    BtnStop->setAutoDefault(false);
    connect(BtnStop, &QPushButton::clicked, this, &TProgressDlg::AskStop);

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, [this] {
        if (Timer1->isActive())
            Label2->setVisible(!Label2->isVisible());
    });

    if (owner != nullptr)
        move(owner->geometry().center() - rect().center());
}

void TProgressDlg::Receive(int position, int maximum)
{
    // A build of one track sends the maximum 0: the bar shows empty, then full.
    const int top = std::max(maximum, 1);
    ProgressBar->setMaximum(top);
    const long long scaled = maximum > 0 ? position : (position > 0 ? 1 : 0);
    ProgressBar->setValue(static_cast<int>(std::min<long long>(scaled, top)));
    Q_EMIT Progressed(position, maximum);
}

void TProgressDlg::AskStop()
{
    if (finished_ || stopAsked_)
        return;
    stopAsked_ = true;
    BtnStop->setEnabled(false);
    BtnStop->setText(QStringLiteral("中止中…"));
    Q_EMIT StopRequested();
}

void TProgressDlg::reject()
{
    // Escape: a stop request, not a way out while the build runs.
    if (finished_)
        QDialog::reject();
    else
        AskStop();
}

void TProgressDlg::closeEvent(QCloseEvent* event)
{
    if (finished_) {
        QDialog::closeEvent(event);
        return;
    }
    event->ignore();
    AskStop();
}

void TProgressDlg::Finish()
{
    finished_ = true;
    accept();
}

void TProgressDlg::EncReceive(bool on)
{
    if (on) {
        Label2->show();
        Timer1->start();
    } else {
        Timer1->stop();
        Label2->hide();
    }
}

} // namespace medlark
