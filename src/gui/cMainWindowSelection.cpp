// The current plug-in: the selection that makes a plug-in current, the header and title that
// name it, the periodic refresh of its pages, and the slots through which plug-ins change
// their tree items.
#include "cMainWindow.h"

#include "Ui_cMainWindow.h"
#include "../plugin/cPlugin.h"
#include "../plugin/cPluginEntry.h"
#include "../core/cLog.h"

#include <QBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QTreeWidget>
#include <QTreeWidgetItem>

namespace {

void hideAll(QLayout* layout)
{
    for (int i = 0; i < layout->count(); ++i)
        if (QWidget* w = layout->itemAt(i)->widget())
            w->hide();
}

void warnMutex(FILE* log)
{
    cLog::line(log, "cMainWindow: WARNING -> Unable to unlock mutex after 100 ms");
}

} // namespace

void cMainWindow::onPluginTreeItemSelectionChanged()
{
    static bool inside = false;
    if (inside)
        return;
    inside = true;

    FILE* log = logStream();
    currentTreeItem = ui->pluginTree->currentItem();
    QTreeWidgetItem* item = currentTreeItem;
    cPluginEntry* match = nullptr;

    // While the list is emptied there is nothing left to make current.
    if (item && !clearingPlugins) {
        QTreeWidgetItem* parent = item->parent();
        const QString key = (parent ? parent : item)->text(0);

        // The list is read under its lock: "MAIN" appends to it from its own thread. A lock
        // that does not come drops this change rather than making some later namesake current.
        if (pluginListMutex.tryLock(100)) {
            for (cPluginEntry& e : pluginList) {
                if (e.handler.plugin && e.handler.plugin->name.contains(key)) {
                    match = &e;
                    break;
                }
            }
            if (!match)
                pluginListMutex.unlock();
        } else {
            warnMutex(log);
        }
    }

    if (match) {
        cPlugin* plugin = match->handler.plugin;
        // A plug-in may rebuild its items from deselect or selectItem (its tree request runs at
        // once on this thread), which deletes the item chosen: what is needed of it is read now.
        const bool isChild = item->parent() != nullptr;
        const QString parentText = isChild ? item->parent()->text(0) : QString();
        const QString itemTexts[3] = {item->text(0), item->text(1), item->text(2)};
        item = nullptr;

        // The tree, the actions and the buttons are cut off for the switch, so that nothing
        // the plug-ins do in deselect and selectItem selects again or starts a setup in the
        // middle of it. The window's own signals stay connected: "MAIN" may be emitting them
        // now (a plug-in's tree item, the end of a lock), and a signal emitted on a broken
        // connection is lost, not delayed.
        const bool kept = keepOwnConnections;
        keepOwnConnections = true;
        connectSignals(false);

        if (cPluginEntry* previous = currentPlugin.load()) {
            cPlugin* old = previous->handler.plugin;
            if (old && old->lock(100)) {
                previous->handler.call("deselect()", [old] { old->deselect(); });
                old->unlock();
            }
        }

        if (isChild) {
            cLog::line(log, "cMainWindow: Selected %s%s%s%s%s%s%s%s", parentText.toLocal8Bit().constData(), " / ",
                    itemTexts[0].toLocal8Bit().constData(), " (", itemTexts[1].toLocal8Bit().constData(), ")",
                    " @ MODBUS id ", itemTexts[2].toLocal8Bit().constData());
        } else {
            cLog::line(log, "cMainWindow: Selected %s%s%s%s%s%s%s%s", itemTexts[0].toLocal8Bit().constData(), "", "",
                    "", "", "", "", "");
        }

        currentPlugin = match;
        pluginListMutex.unlock();

        hideAll(ui->displayLayout);
        ui->buttonWidget->hide();
        if (plugin->displayWidget)
            plugin->displayWidget->show();
        hideAll(ui->infoBoxLayout);
        // The box itself starts hidden and goes again with a reset; with nothing to show it
        // only shows its empty frame, so it follows the page.
        if (plugin->infoWidget)
            plugin->infoWidget->show();
        ui->pluginInfoBox->setVisible(plugin->infoWidget != nullptr);

        onUpdateGUI();

        // After a rebuild the tree's current item is the restored one.
        currentTreeItem = ui->pluginTree->currentItem();
        if (currentTreeItem && plugin->lock(100)) {
            match->handler.call("selectItem()", [this, plugin] { plugin->selectItem(currentTreeItem); });
            plugin->unlock();
        }

        ui->itemStr->setText(isChild ? plugin->name + " - " + itemTexts[0] : QString());
        QString title = QString::asprintf("Corvane %.01f", double(appVersion));
        if (isChild)
            title += " - " + ui->itemStr->text();
        setWindowTitle(title + " - Tessmark");
        ui->icon->setVisible(isChild);

        connectSignals(true);
        mkMenus();
        keepOwnConnections = kept;
    }

    inside = false;
}

void cMainWindow::onUpdateGUI()
{
    static bool inside = false;
    if (inside)
        return;
    inside = true;

    // Entries are destroyed on this thread only, so the pointer read here is still good.
    cPluginEntry* entry = currentPlugin.load();
    // A plug-in whose code has thrown is not refreshed again: a hundred times a second would
    // bury the one report of it in the log.
    if (entry && entry->handler.plugin && !entry->handler.faulted) {
        if (pluginListMutex.tryLock(100)) {
            cPlugin* plugin = entry->handler.plugin;
            entry->handler.call("the page update slots", [plugin] {
                emit plugin->displayUpdateSignal();
                emit plugin->infoUpdateSignal();
                emit plugin->setupUpdateSignal();
            });
            // The same picture again would still repaint the header, a hundred times a second.
            if (ui->icon->pixmap().cacheKey() != plugin->pixmap.cacheKey())
                ui->icon->setPixmap(plugin->pixmap);
            pluginListMutex.unlock();
        } else {
            warnMutex(logStream());
        }
    }

    inside = false;
}

void cMainWindow::onSelectPlugin(int indx)
{
    static bool inside = false;
    QTreeWidget* tree = ui->pluginTree;
    if (tree->topLevelItemCount() == 0 || inside)
        return;
    inside = true;

    hideAll(ui->displayLayout);
    ui->buttonWidget->hide();
    hideAll(ui->infoBoxLayout);
    if (indx < 0 || indx >= tree->topLevelItemCount())
        indx = 0;
    QTreeWidgetItem* item = tree->topLevelItem(indx);
    tree->setCurrentItem(item, 0);
    item->setExpanded(true);

    inside = false;
}

void cMainWindow::onUpdatePluginItem(QTreeWidgetItem* item, QString iconPath, bool enable)
{
    static bool inside = false;
    if (inside || !item)
        return;
    inside = true;

    Qt::ItemFlags flags = item->flags();
    flags.setFlag(Qt::ItemIsEnabled, enable);
    item->setFlags(flags);
    item->setIcon(0, QIcon(iconPath));

    inside = false;
}

void cMainWindow::onUpdateTree(void* pPlugin)
{
    static bool inside = false;
    if (inside)
        return;
    inside = true;

    // The request may have waited in the queue while its plug-in was unloaded: only a plug-in
    // that is still in the list is asked to rebuild.
    cPluginEntry* entry = nullptr;
    if (ui->pluginTree->isEnabled() && pPlugin) {
        if (pluginListMutex.tryLock(100)) {
            for (cPluginEntry& e : pluginList)
                if (e.handler.plugin == pPlugin)
                    entry = &e;
            pluginListMutex.unlock();
        } else {
            warnMutex(logStream());
        }
    }
    if (entry)
        entry->handler.call("mkTree()", [entry] { entry->handler.plugin->mkTree(); });

    inside = false;
}
