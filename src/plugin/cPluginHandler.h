#pragma once

#include <QString>

#include <cstdio>

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
    // A library that never got an instance stays loaded.
    ~cPluginHandler();
    cPluginHandler(const cPluginHandler&) = delete;
    cPluginHandler& operator=(const cPluginHandler&) = delete;

    // Loads `path`/`fileName`, asks the library whether it fits this host and resolves its
    // entry points; then hands the handler to the GUI thread (loadPlgSignal), which makes the
    // instance. False, with a log line and a pop-up where the user should hear of it, when any
    // step fails; the caller then loads no further libraries.
    bool loadPlugin(cMainWindow* mainWindow, const QString& path, const QString& fileName,
                    const QString& versionSymbol, const QString& createSymbol, const QString& killSymbol);
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

private:
    void popup(const QString& title, const QString& text);
};
