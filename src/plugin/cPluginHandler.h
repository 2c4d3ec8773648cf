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
    explicit cPluginHandler(FILE* log);
    ~cPluginHandler();
    cPluginHandler(const cPluginHandler&) = delete;
    cPluginHandler& operator=(const cPluginHandler&) = delete;

    void* hLib = nullptr;
    cMainWindow* mainWindow = nullptr;
    FILE* log = nullptr;
    QString fileName;
    QString path;
    bool (*pluginVersionOK)(cMainWindow*) = nullptr;
    cPlugin* (*createInstance)(cMainWindow*) = nullptr;
    void (*killInstance)(cPlugin*) = nullptr;
    cPlugin* plugin = nullptr;
};
