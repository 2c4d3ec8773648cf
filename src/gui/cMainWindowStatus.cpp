// The status-bar group and the two status slots. Host threads and plug-ins reach them only
// through statusBarMsgSignal and statusBarProgressSignal, from any thread.
#include "cMainWindow.h"

#include "Ui_cMainWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>

void cMainWindow::mkStatusGroup()
{
    statusWidget = new QWidget();
    auto* layout = new QHBoxLayout(statusWidget);
    layout->setSpacing(6);
    layout->setContentsMargins(0, 0, 0, 0);
    statusLabel = new QLabel();
    statusLabel->setText("Ready");
    statusProgressBar = new QProgressBar();
    statusProgressBar->setValue(0);
    layout->addWidget(statusLabel);
    layout->addWidget(statusProgressBar);
    statusWidget->hide();
    // Permanent: it sits at the right end, outside the temporary-message area.
    ui->statusBar->addPermanentWidget(statusWidget, 0);
}

// No re-entrancy guard: nothing here can spin an event loop.
void cMainWindow::onSetStatusBarMsg(QString m)
{
    ui->statusBar->showMessage(m, 2000);
}

void cMainWindow::onSetStatusBarProgress(QString t, int v)
{
    statusLabel->setText(t);
    // A value outside the bar's range is ignored by the bar, so -1 keeps the last value.
    statusProgressBar->setValue(v);
    statusWidget->setVisible(v >= 0);
}
