// Pop-ups and plug-in clearing: the slots through which worker threads act on the GUI.
#include "cMainWindow.h"

#include "../plugin/cPluginEntry.h"

#include <QMessageBox>

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

void cMainWindow::onClearPlugins()
{
    static bool inside = false;
    fprintf(stderr, "in clear plugins\n");
    fflush(stderr);
    if (inside)
        return;
    inside = true;

    if (pluginListMutex.tryLock(100)) {
        pluginList.clearEntries();
        currentPlugin = nullptr;
        currentTreeItem = nullptr;
        pluginListMutex.unlock();
    } else {
        fprintf(logStream(), "cMainWindow: WARNING -> Unable to unlock mutex after 100 ms\n");
        fflush(logStream());
    }

    inside = false;
    fprintf(stderr, "have cleard plugins\n");
    fflush(stderr);
}
