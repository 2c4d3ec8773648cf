// Plug-in list handling of the window.
#include "cMainWindow.h"

#include "../plugin/cPluginEntry.h"

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
            fprintf(stderr, "gave up waiting in clear plugins after %d ms, %d left\n", waitedMs,
                    pluginList.size());
            fflush(stderr);
            break;
        }
        fprintf(stderr, "waiting in clear plugins, %d\n", pluginList.size());
        fflush(stderr);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        waitedMs += 100;
    }
    fprintf(stderr, "out of clear plugins\n");
    fflush(stderr);

    connectSignals(false);
}
