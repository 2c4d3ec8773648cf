#pragma once

#include <cstdio>
#include <optional>

class cMainWindow;

// The program's run around its main window: the command-line switches, the diagnostic log
// "log.txt", the start of the host threads with the first command, and the ordered
// hand-back of the streams at the end. main() only strings these steps together.
class cProgram
{
public:
    // Reads the switches: "-factory" sets factory mode; "-debug" opens "log.txt" (created or
    // truncated, in the current folder) and ends the scan. Exact, case-sensitive matches.
    cProgram(int argc, char* argv[]);
    ~cProgram();
    cProgram(const cProgram&) = delete;
    cProgram& operator=(const cProgram&) = delete;

    // The diagnostic streams: the log file when it is open, else the console.
    FILE* out() const { return logFile ? logFile : stdout; }
    FILE* err() const { return logFile ? logFile : stderr; }

    // From the debug pop-up to the first command queued on "MAIN".
    void startUp(cMainWindow& window);
    // After the event loop: the plug-in loader stopped, plug-ins cleared, streams pointed back
    // at the console. The log file stays open (but is no longer handed out) until closeLog:
    // a command that "MAIN" was running, and plug-ins torn down with the window, may still
    // write to the stream they took earlier.
    void shutDown(cMainWindow& window);
    // Closes the log once nothing can write to it any more: after the window (and with it
    // every host thread) is gone and the plug-in list is empty. Otherwise it stays open for
    // whatever still holds it, and the process's end flushes it.
    void closeLog();
    // shutDown, the window destroyed, closeLog. Done once: later calls do nothing.
    void finish(std::optional<cMainWindow>& window);
    // When the X server goes, Qt's display plug-in ends the process with exit(1), which would
    // skip the ordered end; armed here, the program runs finish first, on the GUI thread, as
    // soon as Qt reports the lost connection. Call once the application object exists.
    void finishWhenTheDisplayGoes(std::optional<cMainWindow>& window);

    // SIGINT, SIGTERM and SIGHUP are caught from here on and end the event loop once it runs,
    // so that the ordered shutdown still runs; SIGPIPE is ignored, so that writing to a console
    // pipe whose reader has gone fails instead of ending the program. Called first in main().
    static void catchTerminationSignals();
    // Lets the application's event loop answer the signals caught; needs the application.
    static void quitOnTerminationSignals();

    bool debugFlag = false;
    bool factoryFlag = false;
    FILE* logFile = nullptr;

private:
    // How long shutDown waits for the plug-in loader to let go of the list lock. The loader
    // holds it for one plug-in's load; a plug-in that hangs in it must not hang the exit.
    static constexpr int kLoaderStopTimeoutMs = 10000;

    // The log file after shutDown handed the streams back, until closeLog.
    FILE* retiredLog = nullptr;
    bool finished = false;
};
