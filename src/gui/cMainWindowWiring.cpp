// The window's connection set and the small slots that only act on the window.
#include "cMainWindow.h"

#include "Ui_cMainWindow.h"
#include "../core/cLog.h"

#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QTreeWidget>

bool cMainWindow::keepOwnConnections = false;

void cMainWindow::connectSignals(bool connect)
{
    FILE* log = logStream();
    cLog::line(log, connect ? "cMainWindow: Connecting signals" : "cMainWindow: Disconnecting signals");

    // The action pointers are read here, so mkMenus breaks the set before it replaces the
    // actions and makes it again after. Auto connections run at once on the GUI thread and are
    // queued from worker threads.
    struct Pair
    {
        QObject* sender;
        const char* signal;
        const char* slot;
    };
    QObject* tree = ui ? static_cast<QObject*>(ui->pluginTree) : nullptr;
    QObject* buttons = ui ? static_cast<QObject*>(ui->buttonBox) : nullptr;
    const Pair pairs[] = {
        {actionSetup, SIGNAL(triggered()), SLOT(onSetup())},
        {this, SIGNAL(showApplicationSetupSignal()), SLOT(onSetup())},
        {actionPluginSetup, SIGNAL(triggered()), SLOT(onPluginSetup())},
        {this, SIGNAL(showPlgSetupSignal()), SLOT(onPluginSetup())},
        {actionAbout, SIGNAL(triggered()), SLOT(onAbout())},
        {actionAboutPlugin, SIGNAL(triggered()), SLOT(onAboutPlugin())},
        {actionQuit, SIGNAL(triggered()), SLOT(onExit())},
        {this, SIGNAL(translateSignal(int)), SLOT(onTranslate(int))},
        {this, SIGNAL(statusBarMsgSignal(const QString)), SLOT(onSetStatusBarMsg(const QString))},
        {this, SIGNAL(statusBarProgressSignal(const QString, const int)),
         SLOT(onSetStatusBarProgress(const QString, const int))},
        {tree, SIGNAL(itemSelectionChanged()), SLOT(onPluginTreeItemSelectionChanged())},
        {this, SIGNAL(appLockSignal(bool)), SLOT(onAppLock(bool))},
        {this, SIGNAL(loadPlgSignal(void*)), SLOT(onLoadPlugin(void*))},
        {this, SIGNAL(selectPluginSignal(int)), SLOT(onSelectPlugin(int))},
        {this, SIGNAL(updatePluginTreeTopLevelItemSignal(void*)), SLOT(onUpdatePluginTreeTopLevelItem(void*))},
        {buttons, SIGNAL(accepted()), SLOT(onAccept())},
        {buttons, SIGNAL(rejected()), SLOT(onReject())},
        {buttons, SIGNAL(clicked(QAbstractButton*)), SLOT(onClicked(QAbstractButton*))},
        {this, SIGNAL(acceptPluginSetupSignal()), SLOT(onAccept())},
        {this, SIGNAL(rejectPluginSetupSignal()), SLOT(onReject())},
        {this, SIGNAL(updateGUISignal()), SLOT(onUpdateGUI())},
        {this, SIGNAL(updatePluginItemSignal(QTreeWidgetItem*, QString, bool)),
         SLOT(onUpdatePluginItem(QTreeWidgetItem*, QString, bool))},
        {this, SIGNAL(setButtonsVisibleSignal(bool)), SLOT(onSetButtonsVisible(bool))},
        {this, SIGNAL(popupSignal(int, QString, QString, int, int, int)),
         SLOT(onPopup(int, QString, QString, int, int, int))},
        {this, SIGNAL(actionLockSignal(char*, int, char*, int, bool*, bool*, unsigned char)),
         SLOT(onActionLock(char*, int, char*, int, bool*, bool*, unsigned char))},
        {this, SIGNAL(updateTreeSignal(void*)), SLOT(onUpdateTree(void*))},
        {this, SIGNAL(clearPluginsSignal()), SLOT(onClearPlugins())},
        {this, SIGNAL(resetGUIsignal()), SLOT(onResetGUI())},
    };
    for (const Pair& p : pairs) {
        if (!p.sender || (keepOwnConnections && p.sender == this))
            continue;
        if (connect)
            QObject::connect(p.sender, p.signal, this, p.slot, Qt::AutoConnection);
        else
            QObject::disconnect(p.sender, p.signal, this, p.slot);
    }
}

void cMainWindow::onAbout()
{
    static bool inside = false;
    if (inside)
        return;
    inside = true;
    // Not modal: the dialog stays up beside the window until its OK hides it.
    aboutDialog->setVisible(true);
    inside = false;
}

void cMainWindow::onExit()
{
    static bool inside = false;
    if (inside)
        return;
    inside = true;
    close();
    inside = false;
}

void cMainWindow::onSetButtonsVisible(bool visible)
{
    static bool inside = false;
    if (inside)
        return;
    inside = true;
    ui->buttonWidget->setVisible(visible);
    inside = false;
}
