// The plug-in tree's start-up side: a loaded plug-in is made, started and placed in the
// window, and its top-level item enters the tree.
#include "cMainWindow.h"

#include "Ui_cMainWindow.h"
#include "cMainRequest.h"
#include "../plugin/cPlugin.h"
#include "../plugin/cPluginEntry.h"
#include "../core/cLog.h"

#include <QBoxLayout>
#include <QCoreApplication>
#include <QMessageBox>
#include <QTreeWidget>
#include <QTreeWidgetItem>

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
