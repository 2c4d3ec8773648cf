// The plug-in tree's start-up side: a loaded plug-in is made, started and placed in the
// window, and its top-level item enters the tree.
#include "cMainWindow.h"

#include "Ui_cMainWindow.h"
#include "../core/mainHandlers.h"
#include "../plugin/cPlugin.h"
#include "../plugin/cPluginEntry.h"

#include <QBoxLayout>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <cstdint>

namespace {

bool isWithin(const QTreeWidgetItem* item, const QTreeWidgetItem* top)
{
    for (; item; item = item->parent())
        if (item == top)
            return true;
    return false;
}

} // namespace

void cMainWindow::onLoadPlugin(void* pPlgHandler)
{
    static bool inside = false;
    if (pluginList.isEmpty() || inside)
        return;
    inside = true;

    // The handler lives in its plug-in list entry, which only this thread destroys, and the
    // loader's signal is delivered before any clearing the loader asks for after it.
    cPluginHandler* handler = static_cast<cPluginHandler*>(pPlgHandler);
    if (handler && handler->createInstance)
        handler->plugin = handler->createInstance(this);
    cPlugin* plugin = handler ? handler->plugin : nullptr;
    if (plugin) {
        FILE* log = logStream();
        const QByteArray name = plugin->name.toLocal8Bit();
        plugin->initialising = true;

        fprintf(log, "cMainWindow: Executing init() method for %s plugin\n", name.constData());
        fflush(log);
        plugin->init();
        fprintf(log, "cMainWindow: Executing trPlugin() method for %s plugin\n", name.constData());
        fflush(log);
        plugin->trPlugin(handler->fileName, language);
        fprintf(log, "cMainWindow: Executing loadSettings() method for %s plugin\n", name.constData());
        fflush(log);
        plugin->loadSettings();
        fprintf(log, "cMainWindow: Executing mkTree() method for %s plugin\n", name.constData());
        fflush(log);
        plugin->mkTree();

        // Unlocked again by the "MAIN" thread once it has loaded every plug-in.
        emit appLockSignal(true);

        if (plugin->displayWidget)
            ui->displayLayout->addWidget(plugin->displayWidget);
        if (plugin->setupWidget)
            ui->displayLayout->addWidget(plugin->setupWidget);
        if (plugin->infoWidget)
            ui->infoBoxLayout->addWidget(plugin->infoWidget, 0, Qt::Alignment());

        // Through "MAIN", so that the item reaches the tree after every event queued so far.
        char request[1 + sizeof(void*)];
        request[0] = char(MAIN_UPDATE_TREE);
        uintptr_t item = reinterpret_cast<uintptr_t>(plugin->topItem);
        for (size_t i = 1; i < sizeof(request); ++i, item >>= 8)
            request[i] = char(item & 0xFF);
        mainThread.addTransaction(request, sizeof(request), 0);

        fflush(log);
        plugin->initialising = false;
    }

    inside = false;
}

void cMainWindow::onUpdatePluginTreeTopLevelItem(void* topItem)
{
    static bool inside = false;
    QTreeWidgetItem* item = static_cast<QTreeWidgetItem*>(topItem);
    if (inside || !item)
        return;
    inside = true;
    onAppLock(true);

    QTreeWidget* tree = ui->pluginTree;
    // An item that is already in a tree, this one's or any, is where its plug-in put it;
    // moving it here would delete it when it replaced itself.
    const bool placed = item->treeWidget() || item->parent();
    const QString text = item->text(0);
    bool refused = false;

    for (int i = 0; !placed && i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* old = tree->topLevelItem(i);
        if (old->text(0) != text)
            continue;
        if (cPlugin::ownerOfTopItem(old)) {
            // Another live plug-in uses this text and still refers to its item: deleting it
            // would leave that plug-in with a dangling item, so the newcomer stays out.
            fprintf(logStream(), "cMainWindow: WARNING -> Plugin item '%s' is in use by another plugin, not added\n",
                    text.toLocal8Bit().constData());
            fflush(logStream());
            refused = true;
            break;
        }
        // The stale item of an unloaded plug-in: the new one takes its place.
        if (isWithin(currentTreeItem, old))
            currentTreeItem = nullptr;
        delete old;
        tree->insertTopLevelItem(i, item);
        inside = false;
        onAppLock(false);
        fprintf(stdout, "onUpdatePluginTreeTopLevelItem is here\n");
        fflush(stdout);
        return;
    }

    if (!placed && !refused)
        tree->addTopLevelItem(item);
    onAppLock(false);
    inside = false;
}
