#include "mainHandlers.h"

#include "../gui/cMainWindow.h"
#include "../plugin/cPluginEntry.h"

#include <chrono>
#include <thread>

void mainGuiHandler(void* window)
{
    cMainWindow* w = static_cast<cMainWindow*>(window);
    while (w->mainGuiThread.running) {
        cPluginEntry* entry = currentPlugin.load();
        if (entry && entry->handler.plugin)
            emit w->updateGUISignal();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

unsigned char mainTrscHandler(cTransaction* t, void* window)
{
    cMainWindow* w = static_cast<cMainWindow*>(window);
    FILE* log = w->mainThread.outStream();
    switch (t->input[0]) {
    default:
        // Codes the host does not know do nothing.
        break;
    }
    fflush(log);
    return TRSC_OK;
}
