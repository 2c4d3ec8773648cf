// Entry point: switches, diagnostic log, the main window and its two host threads, the event
// loop and the ordered shutdown.
#include "../core/mainHandlers.h"
#include "../gui/cMainWindow.h"

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <optional>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char c = 1;
    // Only async-signal-safe work here: the event loop picks the byte up.
    ssize_t n = write(signalPipe[1], &c, 1);
    (void)n;
}

// SIGINT and SIGTERM end the event loop, so that a terminal's Ctrl+C or a service manager's
// stop still runs the ordered shutdown (plug-ins unloaded, settings saved, log closed).
void quitOnTerminationSignals(QApplication& app)
{
    if (pipe(signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char c;
        ssize_t n = read(signalPipe[0], &c, 1);
        (void)n;
        // exit(), not quit(): quit() would first ask the window, which asks the user.
        QCoreApplication::exit(0);
    });
    struct sigaction sa = {};
    sa.sa_handler = onTerminationSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

} // namespace

int main(int argc, char* argv[])
{
    bool debugFlag = false;
    bool factoryFlag = false;
    FILE* logFile = nullptr;

    for (int i = 0; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == "-factory") {
            factoryFlag = true;
        } else if (arg == "-debug") {
            debugFlag = true;
            logFile = fopen("log.txt", "w");
            break;
        }
    }

    std::optional<QApplication> app;
    app.emplace(argc, argv);
    quitOnTerminationSignals(*app);

    FILE* out = logFile ? logFile : stdout;
    FILE* err = logFile ? logFile : stderr;

    // The running executable's absolute path: argv[0] may be a bare name found through PATH.
    QString programPath = QCoreApplication::applicationFilePath();
    std::optional<cMainWindow> window;
    window.emplace(nullptr, &*app, programPath, out, err);
    cMainWindow& w = *window;

    w.debugMode = debugFlag;

    if (debugFlag) {
        if (logFile)
            emit w.popupSignal(1, QObject::tr("Debug"), QObject::tr("Debug output will be redirected to 'log.txt'"),
                               QMessageBox::Ok, 0, 0);
        else
            emit w.popupSignal(3, QObject::tr("Debug"),
                               QObject::tr("Could not open debug file 'log.txt' for writing. Debug output will be "
                                           "redirected to stdout"),
                               QMessageBox::Ok, 0, 0);
    }

    if (!debugFlag)
        w.genericPort.debug = false;

    w.factoryMode = factoryFlag;
    fprintf(w.logStream(), factoryFlag ? "cMainWindow: Setting factory mode\n" : "cMainWindow: Resetting factory mode\n");
    fflush(w.logStream());

    w.show();

    w.mainGuiThread.handler = mainGuiHandler;
    w.mainGuiThread.startHandler(cThread::TYPE_PLAIN, &w, "MAIN GUI");
    w.mainThread.trscHandler = mainTrscHandler;
    w.mainThread.startHandler(cThread::TYPE_TRANSACTION, &w, "MAIN");

    const char loadPlugins = char(MAIN_LOAD_PLUGINS);
    w.mainThread.addTransaction(&loadPlugins, 1, 0);

    const int result = app->exec();

    w.clearPlugins();

    if (logFile) {
        for (cThread* t : {&w.mainGuiThread, &w.mainThread, &w.genericPort}) {
            t->setOut(stdout);
            t->setErr(stderr);
        }
        fclose(logFile);
    }

    window.reset();
    app.reset();
    return result;
}
