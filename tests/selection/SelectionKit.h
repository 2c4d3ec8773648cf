#pragma once

// What the selection tests share: a shown window with test plug-ins loaded through the real
// loader and its "MAIN" thread, optionally with "MAIN GUI" refreshing, its log captured.
#include "ModalAnswerer.h"
#include "PluginKit.h"
#include "StdStreamCapture.h"
#include "gui/Ui_cMainWindow.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QToolBar>
#include <QTreeWidget>

struct LoadedWindow
{
    ProgramFolder folder;
    WindowKit kit;
    cMainWindow* w = nullptr;

    // Loads the test plug-ins in the given order (their files are numbered so the directory
    // scan keeps it). With `refresh` the "MAIN GUI" thread runs as in the program.
    bool load(const QStringList& targets, bool refresh = false)
    {
        for (int i = 0; i < targets.size(); ++i)
            if (!folder.add(targets[i], QString("%1_%2.plg").arg(i).arg(targets[i])))
                return false;
        w = kit.open(folder.bin());
        if (refresh) {
            w->mainGuiThread.handler = mainGuiHandler;
            w->mainGuiThread.startHandler(cThread::TYPE_PLAIN, w, "MAIN GUI");
        }
        kit.startMain();
        w->show();
        if (targets.isEmpty())
            return true;
        if (!kit.command(QByteArray(1, char(MAIN_LOAD_PLUGINS))))
            return false;
        const bool loaded = waitUntil([&] {
            return kit.log.text().count("MAIN: done with Updating plugin tree\n") == targets.size() &&
                   w->ui->pluginTree->isEnabled();
        });
        kit.settle();
        return loaded;
    }
    cPlugin* plugin(int i) const { return pluginList.entryAt(i)->handler.plugin; }
    QTreeWidgetItem* device(int i, int child) const { return plugin(i)->topItem->child(child); }
    void select(QTreeWidgetItem* item) const { w->ui->pluginTree->setCurrentItem(item, 0); }
    QString log() const { return kit.log.text(); }
    bool shown(QWidget* widget) const { return widget && widget->isVisibleTo(w); }

    QStringList menuTitles() const
    {
        QStringList titles;
        for (QAction* a : w->ui->menuBar->actions())
            titles << a->text();
        return titles;
    }
    QList<QAction*> toolEntries() const
    {
        QList<QAction*> entries;
        for (QAction* a : w->ui->mainToolBar->actions())
            if (!a->isSeparator())
                entries << a;
        return entries;
    }
};
