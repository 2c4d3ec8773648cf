// The application lock, the action lock and pop-ups: the slots through which worker threads
// and plug-ins hold the GUI or tell the user something.
#include "cMainWindow.h"

#include "Ui_cMainWindow.h"
#include "cMainRequest.h"
#include "../core/cLog.h"
#include "../plugin/cPlugin.h"
#include "../plugin/cPluginEntry.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QToolBar>
#include <QTreeWidget>

void cMainWindow::onAppLock(bool lock)
{
    FILE* log = logStream();
    cLog::line(log, lock ? "cMainWindow: Locking application GUI" : "cMainWindow: Unlocking application GUI");

    // While the Save/Discard row shows, a plug-in's setup is open: choosing another device
    // then would leave that setup behind, so the tree waits for the row to go.
    ui->pluginTree->setEnabled(!lock && !ui->buttonWidget->isVisibleTo(this));
    actionSetup->setEnabled(!lock);
    actionPluginSetup->setEnabled(!lock);
    pluginMenu->setEnabled(!lock);
    ui->mainToolBar->setEnabled(!lock);

    cPluginEntry* entry = currentPlugin.load();
    if (entry && entry->handler.plugin)
        entry->handler.plugin->lockGui(lock);
}

void cMainWindow::onActionLock(char* tag, int tagLen, char* txt, int txtLen, bool* pBzy, bool* pStatus,
                               unsigned char timeout)
{
    static bool inside = false;
    if (inside)
        return;
    inside = true;

    const bool lengthsOk = tagLen >= 0 && txtLen >= 0 && (tag || tagLen == 0) && (txt || txtLen == 0);
    const long total = long(tagLen) + long(txtLen) + cMainRequest::kActionHeader + cMainRequest::kActionPointers;

    if (!lengthsOk) {
        cLog::line(logStream(), "cMainWindow: WARNING -> Action lock refused, tag of %d bytes and text of %d bytes",
                tagLen, txtLen);
    } else if (total > TRSC_BUFFER_SIZE) {
        // Refused by the queue on its length alone, before a byte is read, so the requester
        // gets the queue's own line and nothing is copied.
        // The whole length goes to the check: narrowed to 16 bits, a total past 65,535 would
        // wrap below the limit and be placed.
        static const char unread = 0;
        mainThread.addTransactionOfLength(&unread, size_t(total), 0);
    } else if (tagLen > cMainRequest::kMaxActionText || txtLen > cMainRequest::kMaxActionText) {
        // The request keeps each length in one byte. Cutting would lock the GUI under a text
        // the plug-in never wrote, so a longer tag or text is refused as a whole.
        cLog::line(logStream(),
                "cMainWindow: WARNING -> Action lock refused, tag of %d bytes or text of %d bytes is over 255 bytes",
                tagLen, txtLen);
    } else {
        const QByteArray request = cMainRequest::actionLock(tag, tagLen, txt, txtLen, pBzy, pStatus, timeout);
        mainThread.addTransaction(request.constData(), static_cast<unsigned short>(request.size()), 0);
    }

    inside = false;
}

void cMainWindow::onPopup(int type, QString title, QString message, int button1, int button2, int button3)
{
    QMessageBox::Icon icon;
    switch (type) {
    case 2:
        icon = QMessageBox::Warning;
        break;
    case 3:
        icon = QMessageBox::Critical;
        break;
    case 4:
        icon = QMessageBox::Question;
        break;
    default:
        icon = QMessageBox::Information;
        break;
    }
    popupBox->setWindowTitle(title);
    popupBox->setText(message);
    popupBox->setStandardButtons(QMessageBox::StandardButtons(button1 | button2 | button3));
    popupBox->setIcon(icon);
    // Nobody waits for the answer: the box is shown and the caller goes on.
    popupBox->show();
}
