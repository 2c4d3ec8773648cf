#include "cPluginHandler.h"

#include "../gui/cMainWindow.h"
#include "cLibrary.h"
#include "cPlugin.h"

#include <QCoreApplication>
#include <QFile>
#include <QMessageBox>

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
    if (plugin) {
        plugin->stopAndWait();
        plugin->saveSettings();
        plugin->deinit();
        if (killInstance)
            killInstance(plugin);
        plugin = nullptr;
        if (hLib) {
            fprintf(log, "cPluginHandler: Unloaded plugin '%s' @ %p\n", fileName.toLocal8Bit().constData(), hLib);
            cLibrary::close(hLib);
        }
        fflush(log);
        hLib = nullptr;
    }
}

void cPluginHandler::popup(const QString& title, const QString& text)
{
    if (mainWindow)
        emit mainWindow->popupSignal(3, title, text, QMessageBox::Ok, 0, 0);
}

bool cPluginHandler::loadPlugin(cMainWindow* window, const QString& dirPath, const QString& name,
                                const QString& versionSymbol, const QString& createSymbol, const QString& killSymbol)
{
    mainWindow = window;
    path = dirPath;
    fileName = name;
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
        fprintf(log, "cPluginHandler: Failed to load plugin '%s' @ %p\n", shownName.constData(), static_cast<void*>(nullptr));
        fprintf(log, "cPluginHandler: %s\n", reason.c_str());
        fflush(log);
        popup(QCoreApplication::translate("cMainWindow", "Load Plugin"),
              "<b>" + fileName + "</b>: " + QCoreApplication::translate("cMainWindow", "Failed to load plugin!\n"));
        return false;
    }
    fprintf(log, "cPluginHandler: Loaded plugin '%s' @ %p\n", shownName.constData(), hLib);
    fflush(log);

    pluginVersionOK = entryPoint<bool (*)(cMainWindow*)>(loadSymbol(versionSymbol));
    if (!pluginVersionOK)
        return false;
    if (!pluginVersionOK(mainWindow)) {
        popup(QCoreApplication::translate("cMainWindow", "Load Plugin"),
              "<b>" + fileName + "</b>: " + QCoreApplication::translate("cMainWindow", "Plugin version not valid!\n") +
                  "<br>" +
                  QCoreApplication::translate("cMainWindow",
                                              "Please, Install the proper plugin version for this application and "
                                              "try again.<br>This plugin is now disabled"));
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
        popup(QCoreApplication::translate("cMainWindow", "Load Symbol"),
              "<b>" + symbol + "</b>: " +
                  QCoreApplication::translate("cMainWindow", "Symbol not found! The plugin can not be loaded"));
        fflush(log);
        return nullptr;
    }
    fprintf(log, "cPluginHandler: Loaded symbol '%s' @ %p\n", symbol.toLatin1().constData(), address);
    fflush(log);
    return address;
}
