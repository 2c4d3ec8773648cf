#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdio>
#include <exception>

class cMainWindow;
class cPlugin;

// The host's record of one plug-in library: the library handle, the three resolved entry
// points and the instance. Referred to by address once loading has begun, so it is never
// copied or moved.
class cPluginHandler
{
public:
    // The longest library path the loader takes, in bytes, without its terminating zero.
    static constexpr int kMaxLibraryPath = 254;

    explicit cPluginHandler(FILE* log);
    // Unloads the plug-in: its thread stopped, saveSettings, deinit, killInstance, library freed.
    // A library that never got an instance stays loaded. A throw from one of the calls is
    // reported and the next one still made; after a throw from killInstance the library stays
    // loaded, as the instance's code may still be in use.
    ~cPluginHandler();
    cPluginHandler(const cPluginHandler&) = delete;
    cPluginHandler& operator=(const cPluginHandler&) = delete;

    // Loads `path`/`fileName`, asks the library whether it fits this host and resolves its
    // entry points; then hands the handler to the GUI thread (loadPlgSignal), which makes the
    // instance. False, with a log line and a pop-up where the user should hear of it, when any
    // step fails; the caller then loads no further libraries.
    bool loadPlugin(cMainWindow* mainWindow, const QString& path, const QString& fileName,
                    const QString& versionSymbol, const QString& createSymbol, const QString& killSymbol);
    // The same, told which files the caller leaves unloaded when this one fails, so that the
    // failure's pop-up can say so.
    bool loadPlugin(cMainWindow* mainWindow, const QString& path, const QString& fileName,
                    const QString& versionSymbol, const QString& createSymbol, const QString& killSymbol,
                    const QStringList& following);
    // The address of an exported symbol of the loaded library, or null (with a pop-up).
    void* loadSymbol(const QString& symbol);

    void* hLib = nullptr;
    cMainWindow* mainWindow = nullptr;
    FILE* log = nullptr;
    QString fileName;
    QString path;
    bool (*pluginVersionOK)(cMainWindow*) = nullptr;
    cPlugin* (*createInstance)(cMainWindow*) = nullptr;
    void (*killInstance)(cPlugin*) = nullptr;
    cPlugin* plugin = nullptr;

    // Makes one call into the plug-in's code. An exception must not cross into the host's
    // frames (it would end the program): it is caught here, written to the log with the file,
    // the call and the exception's text, and false returned. The first throw of a plug-in that
    // is running also gets a pop-up; during start-up (`starting`) the caller reports it.
    template <typename F> bool call(const char* what, F&& f) noexcept
    {
        try {
            f();
            return true;
        } catch (const std::exception& e) {
            threw(what, e.what());
        } catch (...) {
            threw(what, "an exception that is not a std::exception");
        }
        return false;
    }
    // Takes the instance out after its start-up failed: its thread stopped, deinit (only when
    // `initDone`), killInstance, the library closed. Its settings are not saved: they were never
    // fully loaded, and saving them would overwrite the user's with whatever the plug-in holds.
    void unloadAfterFailedStart(bool initDone);
    // Notes the objects that appeared on the application since `before` was taken, while the
    // plug-in's code ran: their code may be the library's.
    void noteAppObjects(const QObjectList& before);

    // Set during start-up, when the caller reports a throw itself.
    bool starting = false;
    // Set by the first throw from a running plug-in; the host then stops refreshing its pages.
    std::atomic<bool> faulted{false};
    // "call: exception text" of the last throw, for the caller's message.
    QString lastFault;

private:
    void popup(const QString& title, const QString& text);
    void threw(const char* what, const char* text);
    // What a failure's pop-up says after the described text: the reason, and the files the
    // caller leaves unloaded because of it.
    QString failureTail(const QString& reason) const;
    // Before the library is closed: finds objects on the application (and top-level widgets)
    // whose code lies in it, warns about each and deletes those living on this thread. False
    // when one could not be deleted here, so that the library must stay loaded.
    bool releaseLeftovers();
    // Closes the library with the unload line, unless leftovers keep it.
    void closeLibrary();
    // Stops the instance's thread, saves its settings (`save`), deinit (`initDone`),
    // killInstance, and closes the library unless the kill threw.
    void teardown(bool save, bool initDone);

    QList<QPointer<QObject>> appObjects;
    QStringList notLoaded;
};
