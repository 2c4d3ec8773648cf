// The window's connection set and the small slots that only act on the window.
#include "cMainWindow.h"

#include <QAction>

void cMainWindow::connectSignals(bool connect)
{
    FILE* log = logStream();
    fprintf(log, connect ? "cMainWindow: Connecting signals\n" : "cMainWindow: Disconnecting signals\n");
    fflush(log);

    // Each pair is made or broken as one set; auto connections run at once on the GUI thread
    // and are queued from worker threads.
    struct Pair
    {
        QObject* sender;
        const char* signal;
        const char* slot;
    };
    const Pair pairs[] = {
        {actionQuit, SIGNAL(triggered()), SLOT(onExit())},
        {this, SIGNAL(popupSignal(int, QString, QString, int, int, int)),
         SLOT(onPopup(int, QString, QString, int, int, int))},
        {this, SIGNAL(clearPluginsSignal()), SLOT(onClearPlugins())},
    };
    for (const Pair& p : pairs) {
        if (!p.sender)
            continue;
        if (connect)
            QObject::connect(p.sender, p.signal, this, p.slot, Qt::AutoConnection);
        else
            QObject::disconnect(p.sender, p.signal, this, p.slot);
    }
}

void cMainWindow::onExit()
{
    static bool inside = false;
    if (inside)
        return;
    inside = true;
    close();
    inside = false;
}
