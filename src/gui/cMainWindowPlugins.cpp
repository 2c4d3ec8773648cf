// Plug-in list handling of the window.
#include "cMainWindow.h"

#include "../plugin/cPluginEntry.h"
#include "../core/cLog.h"

#include <chrono>
#include <thread>

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
