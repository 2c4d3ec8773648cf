// Menus, actions and tool bar, rebuilt for every change of the selected plug-in or language,
// the reset to the host's own menus, and the window's connection set that they are wired by.
#include "cMainWindow.h"

#include "Ui_cMainWindow.h"
#include "../core/cLog.h"
#include "../plugin/cPlugin.h"
#include "../plugin/cPluginEntry.h"

#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
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

void cMainWindow::mkMenus()
{
    connectSignals(false);

    FILE* log = logStream();
    cLog::line(log, "cMainWindow: Generating menus");

    // Each run makes new actions and menus. The old ones go once control is back in the event
    // loop: the rebuild may run inside one of their own triggered() signals.
    QList<QObject*> replaced = {actionSetup, actionQuit, actionAbout, actionPluginSetup, actionAboutPlugin,
                                fileMenu, helpMenu};

    actionSetup = new QAction(QIcon(":/Menu/Pixmaps/MenuSetup.png"), "CV: " + tr("&Setup"), this);
    actionSetup->setText("CV: " + tr("Setup"));
    actionSetup->setStatusTip(tr("CV: Application setup"));
    actionSetup->setToolTip(tr("CV: Application setup"));
    actionSetup->setShortcut(QKeySequence(tr("Ctrl+Alt+Enter")));

    actionQuit = new QAction(QIcon(":/Menu/Pixmaps/MenuExitApp.png"), tr("&Quit"), this);
    actionQuit->setText(tr("Quit"));
    actionQuit->setStatusTip(tr("Exit application"));
    actionQuit->setToolTip(tr("Exit application"));
    actionQuit->setShortcut(QKeySequence(tr("Ctrl+Q")));

    actionAbout = new QAction(QIcon(":/Menu/Pixmaps/MenuAbout.png"), tr("&About"), this);
    actionAbout->setText("CV: " + tr("About"));
    actionAbout->setStatusTip("CV: " + tr("About message"));
    actionAbout->setToolTip("CV: " + tr("About message"));

    fileMenu = ui->menuBar->addMenu(tr("File"));
    helpMenu = ui->menuBar->addMenu(tr("Help"));
    fileMenu->addAction(actionSetup);
    fileMenu->addSeparator();
    fileMenu->addAction(actionQuit);
    helpMenu->addAction(actionAbout);

    // File first; Help is added back last, after the plug-in's menu.
    ui->menuBar->clear();
    ui->menuBar->addMenu(fileMenu);
    ui->mainToolBar->clear();

    actionPluginSetup = new QAction(QIcon(":/Menu/Pixmaps/PluginSetup.png"), tr("&Setup"), this);
    actionAboutPlugin = new QAction(QIcon(":/Menu/Pixmaps/MenuAbout.png"), tr("&About plugin"), this);

    // An entry whose library is loaded but whose instance is not made yet has no name to show:
    // it is treated as no selection.
    cPluginEntry* entry = currentPlugin.load();
    cPlugin* plugin = entry ? entry->handler.plugin : nullptr;
    if (plugin) {
        const QString name = plugin->name;
        // The previous plug-in menu is left alone: the plug-in may still hold the entries it
        // made in it.
        pluginMenu = ui->menuBar->addMenu(name);
        const QString item = ui->itemStr->text().isEmpty() ? name : ui->itemStr->text();
        actionPluginSetup->setText(item + ": " + tr("Setup"));
        actionPluginSetup->setStatusTip(item + ": " + tr("Setup"));
        actionPluginSetup->setToolTip(item + ": " + tr("Setup"));
        actionPluginSetup->setShortcut(QKeySequence(tr("Ctrl+Return")));
        actionAboutPlugin->setText(name + ": " + tr("About plugin"));
        actionAboutPlugin->setStatusTip(name + ": " + tr("About plugin"));
        actionAboutPlugin->setToolTip(name + ": " + tr("About plugin"));
        pluginMenu->addAction(actionPluginSetup);
        helpMenu->addAction(actionAboutPlugin);
        ui->mainToolBar->addSeparator();
        ui->mainToolBar->addAction(actionPluginSetup);
        entry->handler.call("mkPluginMenu()", [&] { plugin->mkPluginMenu(pluginMenu, ui->mainToolBar); });
    }
    // Without a plug-in the plug-in menu keeps its previous value and the tool bar stays empty.

    ui->menuBar->addMenu(helpMenu);

    for (QObject* o : replaced)
        if (o)
            o->deleteLater();

    connectSignals(true);
}

void cMainWindow::onResetGUI()
{
    static bool inside = false;
    cLog::line(stderr, "onresetGUI start");
    if (inside)
        return;
    inside = true;

    FILE* log = logStream();
    cLog::line(log, "cMainWindow: Resetting GUI");

    if (pluginList.isEmpty()) {
        currentPlugin = nullptr;
        currentTreeItem = nullptr;
        ui->pluginTree->clear();
    }
    ui->pluginInfoBox->hide();
    ui->buttonWidget->hide();

    fileMenu->clear();
    fileMenu->addAction(actionSetup);
    fileMenu->addSeparator();
    fileMenu->addAction(actionQuit);
    helpMenu->clear();
    helpMenu->addAction(actionAbout);

    ui->menuBar->clear();
    ui->menuBar->addMenu(fileMenu);
    ui->menuBar->addMenu(helpMenu);

    ui->mainToolBar->clear();
    ui->mainToolBar->addAction(actionSetup);

    inside = false;
    cLog::line(stderr, "onresetGUI end");
}
