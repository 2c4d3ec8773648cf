#pragma once

#include <cstdio>

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
    // After the event loop: plug-ins cleared, streams pointed back at the console, log closed.
    void shutDown(cMainWindow& window);

    // SIGINT and SIGTERM end the event loop, so that the ordered shutdown still runs.
    static void quitOnTerminationSignals();

    bool debugFlag = false;
    bool factoryFlag = false;
    FILE* logFile = nullptr;
};
