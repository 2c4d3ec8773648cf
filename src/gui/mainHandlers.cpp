#include "mainHandlers.h"

#include "cMainRequest.h"
#include "cMainWindow.h"
#include "../plugin/cPluginEntry.h"
#include "../core/cLog.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QObject>
#include <QStringList>

#include <chrono>
#include <thread>

namespace {

// The flags behind the pointers of command 6 belong to the requesting plug-in, which writes
// them from its own thread while this one polls them.
bool readFlag(const bool* flag)
{
    return __atomic_load_n(flag, __ATOMIC_ACQUIRE);
}

void warnMutex(cMainWindow* w)
{
    cLog::line(w->logStream(), "cMainWindow: WARNING -> Unable to unlock mutex after 100 ms");
}

void unloadPlugins(cMainWindow* w, FILE* log)
{
    emit w->appLockSignal(true);
    emit w->statusBarMsgSignal("Unloading plugins");
    cLog::line(log, "MAIN: Unloading plugins");
    if (!pluginList.isEmpty())
        w->clearPlugins();
    emit w->statusBarMsgSignal("Done");
    emit w->appLockSignal(false);
}

void loadPlugins(cMainWindow* w, FILE* log)
{
    emit w->appLockSignal(true);
    emit w->statusBarMsgSignal("Loading plugins");
    cLog::line(log, "MAIN: Loading plugins");

    QStringList parts = w->appPath.split('/', Qt::KeepEmptyParts);
    parts.removeLast();
    const QString dirPath = parts.join('/') + "/plugins";

    w->clearPlugins();

    QDir dir(dirPath);
    if (!dir.exists()) {
        cLog::line(log, "MAIN: Plugin directory '%s' does not exist", dirPath.toLocal8Bit().constData());
    } else {
        cLog::line(log, "MAIN: Found plugin directory '%s'", dirPath.toLocal8Bit().constData());

        // Every entry is listed before the first is loaded: the GUI thread holds on to the
        // handlers of loaded entries by address. The names are kept apart, so that a stop can
        // name the files it leaves without reading the list unlocked.
        QStringList names;
        const QFileInfoList infos = dir.entryInfoList();
        for (const QFileInfo& info : infos) {
            if (!info.fileName().endsWith(".plg", Qt::CaseInsensitive))
                continue;
            if (!w->pluginListMutex.tryLock(100)) {
                warnMutex(w);
                cLog::line(log, "MAIN: Plugin '%s' left out: the plugin list stayed locked",
                        info.fileName().toLocal8Bit().constData());
                continue;
            }
            // The program is ending: its shutdown empties the list once the lock is free.
            if (w->closing) {
                w->pluginListMutex.unlock();
                break;
            }
            pluginList.append(info.fileName(), w->genericPort.outStream());
            names << info.fileName();
            w->pluginListMutex.unlock();
        }

        const int n = names.size();
        // Every way out of the loop but the last file says which file it stopped at and why.
        auto stopAt = [&](int j, const char* why) {
            const QString fileName = names.value(j - 1);
            cLog::line(log, "MAIN: Stopped loading plugins at '%s' (%d/%d): %s", fileName.toLocal8Bit().constData(), j,
                    n, why);
            if (j < n)
                cLog::line(log, "MAIN: Plugins not loaded: %s", names.mid(j).join(", ").toLocal8Bit().constData());
            emit w->statusBarMsgSignal(QObject::tr("Failed to load plugin: ") + fileName);
        };
        for (int j = 1; j <= n; ++j) {
            // The list lock is held while an entry is loaded, so that the GUI thread cannot
            // clear the list (at shutdown, say) under the loader's feet.
            if (!w->pluginListMutex.tryLock(100)) {
                warnMutex(w);
                stopAt(j, "the plugin list stayed locked");
                break;
            }
            if (w->closing) {
                w->pluginListMutex.unlock();
                stopAt(j, "the program is ending");
                break;
            }
            cPluginEntry* entry = pluginList.entryAt(j - 1);
            if (!entry || entry->fileName != names[j - 1]) {
                w->pluginListMutex.unlock();
                stopAt(j, "the plugin list was cleared while loading");
                break;
            }
            const QString fileName = entry->fileName;
            cLog::line(log, "MAIN: Found plugin '%s' (%d/%d)", fileName.toLocal8Bit().constData(), j, n);
            emit w->statusBarMsgSignal(QObject::tr("Found plugin: ") + fileName);
            const bool loaded = entry->handler.loadPlugin(
                w, dir.path(), fileName, "_Z15pluginVersionOKP11cMainWindow", "_Z14createInstanceP11cMainWindow",
                "_Z12killInstanceP7cPlugin", names.mid(j));
            w->pluginListMutex.unlock();
            if (!loaded) {
                stopAt(j, "the plugin failed to load");
                break;
            }
            emit w->statusBarMsgSignal(QObject::tr("Loaded plugin: ") + fileName);
        }
    }

    if (pluginList.isEmpty() && !w->closing) {
        emit w->popupSignal(1, QObject::tr("Plugins"),
                            QObject::tr("No valid plugins where found in '") + "plugins" + "'", QMessageBox::Ok, 0, 0);
        cLog::line(log, "MAIN: No valid plugins where found in '%s'", "plugins");
    }
    emit w->statusBarMsgSignal(QObject::tr("Done"));
    emit w->appLockSignal(false);
}

void updateTree(cMainWindow* w, const cMainRequest& request, FILE* log)
{
    if (!request.complete)
        return;
    cLog::line(log, "MAIN: Updating plugin tree");
    emit w->updatePluginTreeTopLevelItemSignal(request.item);
    cLog::line(log, "MAIN: done with Updating plugin tree");
}

void actionLock(cMainWindow* w, const cMainRequest& request, FILE* log)
{
    if (!request.complete)
        return;

    const QString tag = QString::fromLatin1(request.tag.constData(), qMin(int(request.tag.size()), 99));
    const QString text = QString::fromLatin1(request.text.constData(), qMin(int(request.text.size()), 254));
    const int seconds = request.seconds;
    const bool* busy = request.busy;
    const bool* status = request.status;

    cLog::line(log, "MAIN: Locking application condition @ %p and status @ %p", static_cast<const void*>(busy),
            static_cast<const void*>(status));
    emit w->appLockSignal(true);

    // A null busy flag has nothing to wait for.
    for (int i = 0; i < seconds * 1000; ++i) {
        if (!busy || !readFlag(busy) || !w->mainThread.running || !w->genericPort.running)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    // Without a status flag the action is taken as failed. A status flag is only worth
    // reading once the action has ended: a wait that ended while the action still runs
    // (time-out, or a host thread not running) knows nothing of its outcome, and says nothing.
    const bool ended = !busy || !readFlag(busy);
    if (!status || (ended && !readFlag(status)))
        emit w->statusBarMsgSignal(tag + " " + QObject::tr("Action failed") + ": " + text);
    emit w->appLockSignal(false);
}

} // namespace

void mainGuiHandler(void* window)
{
    cMainWindow* w = static_cast<cMainWindow*>(window);
    while (w->mainGuiThread.running) {
        // The entry is looked at under the list lock: the GUI thread destroys entries while it
        // holds it. A tick that finds the lock taken is skipped; the next one comes in 10 ms.
        if (w->pluginListMutex.tryLock(0)) {
            cPluginEntry* entry = currentPlugin.load();
            const bool current = entry && entry->handler.plugin;
            w->pluginListMutex.unlock();
            if (current)
                emit w->updateGUISignal();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

unsigned char mainTrscHandler(cTransaction* t, void* window)
{
    cMainWindow* w = static_cast<cMainWindow*>(window);
    FILE* log = w->mainThread.outStream();
    const cMainRequest request(t->input, t->inputLength);
    switch (request.code) {
    case MAIN_LOAD_PLUGINS:
        loadPlugins(w, log);
        break;
    case MAIN_UNLOAD_PLUGINS:
        unloadPlugins(w, log);
        break;
    case MAIN_UPDATE_TREE:
        updateTree(w, request, log);
        break;
    case MAIN_ACTION_LOCK:
        actionLock(w, request, log);
        break;
    default:
        // Codes the host does not know do nothing.
        break;
    }
    fflush(log); // also the plug-in's own unflushed lines
    return TRSC_OK;
}
