// Menus, actions and tool bar, rebuilt for every change of the selected plug-in or language.
#include "cMainWindow.h"

#include "Ui_cMainWindow.h"
#include "../plugin/cPlugin.h"
#include "../plugin/cPluginEntry.h"
#include "../core/cLog.h"

#include <QAction>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

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
