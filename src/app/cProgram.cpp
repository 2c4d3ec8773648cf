#include "cProgram.h"

#include "../core/mainHandlers.h"
#include "../gui/cMainWindow.h"
#include "../gui/cSetup.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QString>

#include <csignal>
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

} // namespace

cProgram::cProgram(int argc, char* argv[])
{
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
}

cProgram::~cProgram()
{
    if (logFile)
        fclose(logFile);
}

void cProgram::startUp(cMainWindow& w)
{
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

    // The setup dialog offers the serial debug switch only in debug runs.
    emit w.setupDialog->debugCheckBoxSignal(debugFlag);

    // Saved settings may have switched serial debugging on; without "-debug" it stays off.
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
}

void cProgram::shutDown(cMainWindow& w)
{
    w.clearPlugins();

    if (logFile) {
        // Everything the window's destruction writes then reaches the console, not a closed file.
        for (cThread* t : {static_cast<cThread*>(&w.mainGuiThread), static_cast<cThread*>(&w.mainThread),
                           static_cast<cThread*>(&w.genericPort)}) {
            t->setOut(stdout);
            t->setErr(stderr);
        }
        fclose(logFile);
        logFile = nullptr;
    }
}

void cProgram::quitOnTerminationSignals()
{
    if (signalPipe[0] >= 0 || pipe(signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, QCoreApplication::instance(), [] {
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
