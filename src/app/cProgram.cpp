#include "cProgram.h"

#include "../gui/cMainWindow.h"
#include "../gui/cSetup.h"
#include "../gui/mainHandlers.h"
#include "../plugin/cPluginEntry.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QtGlobal>
#include <QString>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char c = 1;
    // Only async-signal-safe work here: the event loop picks the byte up. The write end does
    // not block, so a burst of signals that fills the pipe loses bytes, not the program.
    ssize_t n = write(signalPipe[1], &c, 1);
    (void)n;
}

// What finishWhenTheDisplayGoes armed: nothing here has a destructor of its own. Qt's messages
// come from any thread, so the program pointer is published last and read first.
std::atomic<cProgram*> armedProgram{nullptr};
std::optional<cMainWindow>* armedWindow = nullptr;
pthread_t guiThread;
std::atomic<QtMessageHandler> qtHandler{nullptr};

// Qt's X11 plug-in says that its connection broke and then calls exit(1) at once. The ordered
// end runs here, on that warning, because inside exit() it would not be safe: the static
// objects made after any point we could register a handler at (the plug-ins' among them) are
// already gone when the handler runs.
void onQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    qtHandler.load()(type, context, message);
    cProgram* program = armedProgram.load(std::memory_order_acquire);
    // Widgets and plug-ins belong to the GUI thread, where Qt reads the display's events.
    if (!program || type != QtWarningMsg || !message.startsWith("The X11 connection broke") ||
        !pthread_equal(pthread_self(), guiThread))
        return;
    fprintf(stderr, "cProgram: the display is gone, ending in order\n");
    fflush(stderr);
    program->finish(*armedWindow);
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
    cProgram* self = this;
    armedProgram.compare_exchange_strong(self, nullptr);
    if (logFile)
        fclose(logFile);
    closeLog();
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

    const QByteArray loadPlugins = cMainRequest::loadPlugins();
    w.mainThread.addTransaction(loadPlugins.constData(), static_cast<unsigned short>(loadPlugins.size()), 0);
}

void cProgram::shutDown(cMainWindow& w)
{
    // A load that "MAIN" is still running stops before its next plug-in. The loader checks the
    // flag with the list lock held, so once this thread has had the lock the loader is done
    // with the list, and clearing it below does not wait for the lock behind the loader.
    w.closing = true;
    if (w.pluginListMutex.tryLock(kLoaderStopTimeoutMs)) {
        w.pluginListMutex.unlock();
    } else {
        fprintf(w.logStream(), "cProgram: WARNING -> the plug-in loader held the list lock for %d ms\n",
                kLoaderStopTimeoutMs);
        fflush(w.logStream());
    }

    w.clearPlugins();

    if (logFile) {
        // Everything the window's destruction writes then reaches the console.
        for (cThread* t : {static_cast<cThread*>(&w.mainGuiThread), static_cast<cThread*>(&w.mainThread),
                           static_cast<cThread*>(&w.genericPort)}) {
            t->setOut(stdout);
            t->setErr(stderr);
        }
        retiredLog = logFile;
        logFile = nullptr;
    }
}

void cProgram::closeLog()
{
    if (!retiredLog)
        return;
    fflush(retiredLog);
    if (!pluginList.isEmpty())
        return;
    fclose(retiredLog);
    retiredLog = nullptr;
}

void cProgram::finish(std::optional<cMainWindow>& window)
{
    if (finished)
        return;
    finished = true;
    cProgram* self = this;
    armedProgram.compare_exchange_strong(self, nullptr);
    if (window) {
        shutDown(*window);
        window.reset();
    }
    closeLog();
}

void cProgram::finishWhenTheDisplayGoes(std::optional<cMainWindow>& window)
{
    armedWindow = &window;
    guiThread = pthread_self();
    if (!qtHandler.load()) {
        // Qt's handler is known before ours is installed, since messages come from any thread.
        qtHandler.store(qInstallMessageHandler(nullptr));
        qInstallMessageHandler(onQtMessage);
    }
    armedProgram.store(this, std::memory_order_release);
}

void cProgram::catchTerminationSignals()
{
    if (signalPipe[0] < 0) {
        if (pipe(signalPipe) != 0)
            return;
        fcntl(signalPipe[1], F_SETFL, fcntl(signalPipe[1], F_GETFL) | O_NONBLOCK);
        fcntl(signalPipe[0], F_SETFD, FD_CLOEXEC);
        fcntl(signalPipe[1], F_SETFD, FD_CLOEXEC);
    }
    struct sigaction sa = {};
    sa.sa_handler = onTerminationSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    // SIGHUP: the terminal closed or the SSH session ended; the user's session still counts.
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaction(s, &sa, nullptr);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

void cProgram::quitOnTerminationSignals()
{
    static bool connected = false;
    if (connected)
        return;
    catchTerminationSignals();
    if (signalPipe[0] < 0)
        return;
    connected = true;
    // A signal caught before the event loop runs has left its byte in the pipe; the loop then
    // ends as soon as it starts.
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, QCoreApplication::instance(), [] {
        char c;
        ssize_t n = read(signalPipe[0], &c, 1);
        (void)n;
        // exit(), not quit(): quit() would first ask the window, which asks the user.
        QCoreApplication::exit(0);
    });
}
