// The plug-in tree and the current plug-in: a loaded plug-in is made, started and placed in
// the window and its top-level item enters the tree; the selection that makes a plug-in
// current, the header and title that name it, the periodic refresh of its pages, the slots
// through which plug-ins change their tree items, and the clearing of the plug-in list.
#include "cMainWindow.h"

#include "Ui_cMainWindow.h"
#include "cMainRequest.h"
#include "../core/cLog.h"
#include "../plugin/cPlugin.h"
#include "../plugin/cPluginEntry.h"

#include <QBoxLayout>
#include <QCoreApplication>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <chrono>
#include <thread>

namespace {

bool isWithin(const QTreeWidgetItem* item, const QTreeWidgetItem* top)
{
    for (; item; item = item->parent())
        if (item == top)
            return true;
    return false;
}

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

void cMainWindow::onLoadPlugin(void* pPlgHandler)
{
    static bool inside = false;
    if (pluginList.isEmpty() || inside)
        return;
    inside = true;

    // The handler lives in its plug-in list entry, which only this thread destroys, and the
    // loader's signal is delivered before any clearing the loader asks for after it.
    cPluginHandler* handler = static_cast<cPluginHandler*>(pPlgHandler);
    FILE* log = logStream();
    // Objects the plug-in puts on the application while it starts are remembered, so that
    // one left behind can be found before its library goes.
    const QObjectList appChildren = QCoreApplication::instance() ? QCoreApplication::instance()->children() : QObjectList();
    bool started = false;
    bool initDone = false;
    bool createThrew = false;
    if (handler && handler->createInstance) {
        handler->starting = true;
        const QByteArray file = handler->fileName.toLocal8Bit();
        cPlugin* made = nullptr;
        createThrew = !handler->call("createInstance()", [&] { made = handler->createInstance(this); });
        if (!createThrew) {
            handler->plugin = made;
            if (!made) {
                cLog::line(log, "cMainWindow: Plugin '%s' made no instance: its createInstance returned null",
                        file.constData());
                emit popupSignal(3, tr("Load Plugin"),
                                 "<b>" + handler->fileName + "</b>: " + tr("Failed to load plugin!\n") + "<br>" +
                                     tr("It made no plugin instance"),
                                 QMessageBox::Ok, 0, 0);
            }
        }
    }
    cPlugin* plugin = handler ? handler->plugin : nullptr;
    if (plugin) {
        const QByteArray name = plugin->name.toLocal8Bit();
        plugin->initialising = true;

        // Each step is made only if the one before it returned.
        cLog::line(log, "cMainWindow: Executing init() method for %s plugin", name.constData());
        initDone = handler->call("init()", [&] { plugin->init(); });
        if (initDone) {
            cLog::line(log, "cMainWindow: Executing trPlugin() method for %s plugin", name.constData());
            started = handler->call("trPlugin()", [&] { plugin->trPlugin(handler->fileName, language); });
        }
        if (started) {
            cLog::line(log, "cMainWindow: Executing loadSettings() method for %s plugin", name.constData());
            started = handler->call("loadSettings()", [&] { plugin->loadSettings(); });
        }
        if (started) {
            cLog::line(log, "cMainWindow: Executing mkTree() method for %s plugin", name.constData());
            started = handler->call("mkTree()", [&] { plugin->mkTree(); });
        }
        plugin->initialising = false;
    }
    if (handler)
        handler->noteAppObjects(appChildren);
    if (handler && handler->plugin && !started) {
        // Nothing of the plug-in has reached the window yet; it goes as a plug-in that could
        // not be loaded, and the others go on.
        emit popupSignal(3, tr("Load Plugin"),
                         "<b>" + handler->fileName + "</b>: " + tr("Failed to load plugin!\n") + "<br>" +
                             tr("It threw an exception from %1").arg(handler->lastFault).toHtmlEscaped() + "<br>" +
                             tr("The plugin is unloaded"),
                         QMessageBox::Ok, 0, 0);
        handler->unloadAfterFailedStart(initDone);
    } else if (createThrew) {
        // createInstance threw: no instance, and the library goes too.
        emit popupSignal(3, tr("Load Plugin"),
                         "<b>" + handler->fileName + "</b>: " + tr("Failed to load plugin!\n") + "<br>" +
                             tr("It threw an exception from %1").arg(handler->lastFault).toHtmlEscaped(),
                         QMessageBox::Ok, 0, 0);
        handler->unloadAfterFailedStart(false);
    }
    if (handler)
        handler->starting = false;

    if (started) {
        // Unlocked again by the "MAIN" thread once it has loaded every plug-in.
        emit appLockSignal(true);

        if (plugin->displayWidget)
            ui->displayLayout->addWidget(plugin->displayWidget);
        if (plugin->setupWidget)
            ui->displayLayout->addWidget(plugin->setupWidget);
        if (plugin->infoWidget)
            ui->infoBoxLayout->addWidget(plugin->infoWidget, 0, Qt::Alignment());

        // Through "MAIN", so that the item reaches the tree after every event queued so far.
        const QByteArray request = cMainRequest::updateTree(plugin->topItem);
        mainThread.addTransaction(request.constData(), static_cast<unsigned short>(request.size()), 0);

        fflush(log); // also the plug-in's own unflushed lines
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
            cLog::line(logStream(), "cMainWindow: WARNING -> Plugin item '%s' is in use by another plugin, not added",
                    text.toLocal8Bit().constData());
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
        cLog::line(stdout, "onUpdatePluginTreeTopLevelItem is here");
        return;
    }

    if (!placed && !refused)
        tree->addTopLevelItem(item);
    onAppLock(false);
    inside = false;
}

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
        // The plug-in is the item at the top, however deep its own items go (a line, then its
        // meters).
        QTreeWidgetItem* top = item;
        while (top->parent())
            top = top->parent();
        const QString key = top->text(0);

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

bool cMainWindow::clearingPlugins = false;

void cMainWindow::clearPlugins()
{
    if (pluginList.isEmpty())
        return;

    connectSignals(true);
    emit clearPluginsSignal();

    // The GUI thread may be unable to take the list lock; rather than wait forever the wait
    // is bounded and says so when it gives up.
    int waitedMs = 0;
    while (!pluginList.isEmpty()) {
        if (waitedMs >= kClearPluginsTimeoutMs) {
            cLog::line(stderr, "gave up waiting in clear plugins after %d ms, %d left", waitedMs,
                    pluginList.size());
            break;
        }
        cLog::line(stderr, "waiting in clear plugins, %d", pluginList.size());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        waitedMs += 100;
    }
    cLog::line(stderr, "out of clear plugins");

    connectSignals(false);
}

void cMainWindow::onClearPlugins()
{
    static bool inside = false;
    cLog::line(stderr, "in clear plugins");
    if (inside)
        return;
    inside = true;

    if (pluginListMutex.tryLock(100)) {
        clearingPlugins = true;
        pluginList.clearEntries();
        clearingPlugins = false;
        currentPlugin = nullptr;
        currentTreeItem = nullptr;
        pluginListMutex.unlock();
    } else {
        cLog::line(logStream(), "cMainWindow: WARNING -> Unable to unlock mutex after 100 ms");
    }

    inside = false;
    cLog::line(stderr, "have cleard plugins");
}
