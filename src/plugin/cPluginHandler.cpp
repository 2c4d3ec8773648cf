#include "cPluginHandler.h"

#include "../gui/cMainWindow.h"
#include "cLibrary.h"
#include "cPlugin.h"
#include "../core/cLog.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>
#include <QWidget>

#include <string>

namespace {

template <typename F> F entryPoint(void* address)
{
    return reinterpret_cast<F>(address);
}

} // namespace

cPluginHandler::cPluginHandler(FILE* logStream) : log(logStream ? logStream : stdout) {}

cPluginHandler::~cPluginHandler()
{
    if (plugin)
        teardown(true, true);
}

void cPluginHandler::unloadAfterFailedStart(bool initDone)
{
    if (plugin) {
        teardown(false, initDone);
        return;
    }
    closeLibrary();
    hLib = nullptr;
    fflush(log); // also the plug-in's own unflushed lines
}

void cPluginHandler::teardown(bool save, bool initDone)
{
    plugin->stopAndWait();
    if (save)
        call("saveSettings()", [this] { plugin->saveSettings(); });
    if (initDone)
        call("deinit()", [this] { plugin->deinit(); });
    // Every step runs even if one before it threw; only a kill that threw keeps the library,
    // since its instance may still be in use.
    const bool killed = !killInstance || call("killInstance()", [this] { killInstance(plugin); });
    plugin = nullptr;
    if (killed)
        closeLibrary();
    else if (hLib)
        cLog::line(log, "cPluginHandler: Plugin '%s' left loaded: its instance may still be in use",
                fileName.toLocal8Bit().constData());
    hLib = nullptr;
}

void cPluginHandler::closeLibrary()
{
    if (!hLib)
        return;
    if (!releaseLeftovers()) {
        cLog::line(log, "cPluginHandler: Plugin '%s' left loaded: objects of its code live on in other threads",
                fileName.toLocal8Bit().constData());
        return;
    }
    cLog::line(log, "cPluginHandler: Unloaded plugin '%s' @ %p", fileName.toLocal8Bit().constData(), hLib);
    cLibrary::close(hLib);
}

void cPluginHandler::noteAppObjects(const QObjectList& before)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        for (QObject* o : app->children())
            if (!before.contains(o))
                appObjects << o;
}

bool cPluginHandler::releaseLeftovers()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return true;
    // An object of the library's own class carries the library's virtual table and meta-object;
    // a plain Qt object made while the plug-in started may hold its code in a connected lambda.
    // Either outliving the library is a crash when it is next used or deleted.
    QObjectList candidates;
    auto ofLibrary = [this](QObject* o) {
        return cLibrary::contains(hLib, o->metaObject()) || cLibrary::contains(hLib, *reinterpret_cast<void**>(o));
    };
    for (QObject* o : app->children())
        if (ofLibrary(o))
            candidates << o;
    if (qobject_cast<QApplication*>(app))
        for (QWidget* w : QApplication::topLevelWidgets())
            if (!candidates.contains(w) && ofLibrary(w))
                candidates << w;
    for (const QPointer<QObject>& o : appObjects)
        if (o && o->parent() == app && !candidates.contains(o.data()))
            candidates << o.data();
    appObjects.clear();

    bool released = true;
    const QByteArray shownName = fileName.toLocal8Bit();
    QList<QPointer<QObject>> doomed;
    for (QObject* o : candidates) {
        cLog::line(log, "cPluginHandler: WARNING -> Plugin '%s' left a %s on the application; it must not outlive the plugin",
                shownName.constData(), o->metaObject()->className());
        // Deleted while its code is still there; an object of another thread cannot be
        // deleted from here, so the library stays.
        if (o->thread() == QThread::currentThread())
            doomed << o;
        else
            released = false;
    }
    // A window may own another one among them; deleting it takes the other along.
    for (const QPointer<QObject>& o : doomed)
        delete o.data();
    return released;
}

void cPluginHandler::threw(const char* what, const char* text)
{
    const QByteArray shownName = fileName.toLocal8Bit();
    cLog::line(log, "cPluginHandler: Plugin '%s' threw an exception from %s: %s", shownName.constData(), what, text);
    lastFault = QString::fromLatin1(what) + ": " + QString::fromLocal8Bit(text);
    if (!starting && !faulted.exchange(true))
        popup(QCoreApplication::translate("cMainWindow", "Plugin error"),
              "<b>" + fileName + "</b>: " +
                  QCoreApplication::translate("cMainWindow", "The plugin failed in %1").arg(lastFault.toHtmlEscaped()));
}

QString cPluginHandler::failureTail(const QString& reason) const
{
    QString tail;
    if (!reason.isEmpty())
        tail += "<br>" + reason.toHtmlEscaped();
    if (!notLoaded.isEmpty())
        tail += "<br>" + QCoreApplication::translate("cMainWindow", "The plugins after it were not loaded: %1")
                             .arg(notLoaded.join(", ").toHtmlEscaped());
    return tail;
}

void cPluginHandler::popup(const QString& title, const QString& text)
{
    if (mainWindow)
        emit mainWindow->popupSignal(3, title, text, QMessageBox::Ok, 0, 0);
}

bool cPluginHandler::loadPlugin(cMainWindow* window, const QString& dirPath, const QString& name,
                                const QString& versionSymbol, const QString& createSymbol, const QString& killSymbol)
{
    return loadPlugin(window, dirPath, name, versionSymbol, createSymbol, killSymbol, QStringList());
}

bool cPluginHandler::loadPlugin(cMainWindow* window, const QString& dirPath, const QString& name,
                                const QString& versionSymbol, const QString& createSymbol, const QString& killSymbol,
                                const QStringList& following)
{
    mainWindow = window;
    path = dirPath;
    fileName = name;
    notLoaded = following;
    if (!mainWindow || path.isNull() || fileName.isNull())
        return false;

    log = mainWindow->logStream();

    const QByteArray libraryPath = QFile::encodeName(path + "/" + fileName);
    const QByteArray shownName = fileName.toLocal8Bit();
    std::string reason;
    // The loader's path buffer has room for kMaxLibraryPath bytes; a longer path is refused
    // rather than cut to the name of some other file.
    if (libraryPath.size() > kMaxLibraryPath)
        reason = "library path of " + std::to_string(libraryPath.size()) + " bytes is longer than the " +
                 std::to_string(kMaxLibraryPath) + " the loader takes";
    else
        hLib = cLibrary::open(libraryPath.constData(), reason);

    if (!hLib) {
        cLog::line(log, "cPluginHandler: Failed to load plugin '%s' @ %p", shownName.constData(), static_cast<void*>(nullptr));
        cLog::line(log, "cPluginHandler: %s", reason.c_str());
        popup(QCoreApplication::translate("cMainWindow", "Load Plugin"),
              "<b>" + fileName + "</b>: " + QCoreApplication::translate("cMainWindow", "Failed to load plugin!\n") +
                  failureTail(QString::fromLocal8Bit(reason.c_str())));
        return false;
    }
    cLog::line(log, "cPluginHandler: Loaded plugin '%s' @ %p", shownName.constData(), hLib);

    pluginVersionOK = entryPoint<bool (*)(cMainWindow*)>(loadSymbol(versionSymbol));
    if (!pluginVersionOK)
        return false;
    bool accepted = false;
    starting = true;
    const bool returned = call("pluginVersionOK()", [this, &accepted] { accepted = pluginVersionOK(mainWindow); });
    starting = false;
    if (!returned) {
        // Nothing of the plug-in exists yet, so its library can go at once.
        pluginVersionOK = nullptr;
        popup(QCoreApplication::translate("cMainWindow", "Load Plugin"),
              "<b>" + fileName + "</b>: " + QCoreApplication::translate("cMainWindow", "Failed to load plugin!\n") +
                  failureTail(QCoreApplication::translate("cMainWindow", "It threw an exception from %1").arg(lastFault)));
        closeLibrary();
        hLib = nullptr;
        fflush(log); // also the plug-in's own unflushed lines
        return false;
    }
    if (!accepted) {
        cLog::line(log, "cPluginHandler: Plugin '%s' refused: its version does not fit this host", shownName.constData());
        popup(QCoreApplication::translate("cMainWindow", "Load Plugin"),
              "<b>" + fileName + "</b>: " + QCoreApplication::translate("cMainWindow", "Plugin version not valid!\n") +
                  "<br>" +
                  QCoreApplication::translate("cMainWindow",
                                              "Please, Install the proper plugin version for this application and "
                                              "try again.<br>This plugin is now disabled") +
                  failureTail(QString()));
        return false;
    }

    createInstance = entryPoint<cPlugin* (*)(cMainWindow*)>(loadSymbol(createSymbol));
    if (!createInstance)
        return false;
    killInstance = entryPoint<void (*)(cPlugin*)>(loadSymbol(killSymbol));
    if (!killInstance)
        return false;

    emit mainWindow->loadPlgSignal(this);
    return true;
}

void* cPluginHandler::loadSymbol(const QString& symbol)
{
    void* address = cLibrary::symbol(hLib, symbol.toLatin1().constData());
    if (!address) {
        cLog::line(log, "cPluginHandler: Plugin '%s' has no symbol '%s'", fileName.toLocal8Bit().constData(),
                symbol.toLatin1().constData());
        popup(QCoreApplication::translate("cMainWindow", "Load Symbol"),
              "<b>" + symbol + "</b>: " +
                  QCoreApplication::translate("cMainWindow", "Symbol not found! The plugin can not be loaded") +
                  "<br><b>" + fileName.toHtmlEscaped() + "</b>" + failureTail(QString()));
        return nullptr;
    }
    cLog::line(log, "cPluginHandler: Loaded symbol '%s' @ %p", symbol.toLatin1().constData(), address);
    return address;
}
