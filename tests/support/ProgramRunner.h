#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Runs the real corvane program in a temporary working folder on the offscreen platform,
// with its settings in a temporary folder, and reads what it wrote.
class ProgramRunner
{
public:
    ProgramRunner();

    // The temporary working folder (where "-debug" writes log.txt).
    QString workDir() const { return work.path(); }
    // The program's XDG_CONFIG_HOME: its settings are <configDir>/Tessmark/Corvane.conf.
    QString configDir() const { return config.path(); }
    // The program's XDG_DATA_HOME: what it keeps by default (recordings) goes there, never
    // into the user's own.
    QString dataDir() const { return data.path(); }
    // The folder the program is started from: build/bin unless set.
    static QString binDir();
    // Runs the program from another folder (where stageProgram put a copy). The program finds
    // its plugins/ and lang/ folders beside its own file, so this is how a test gives it its own.
    void setProgramDir(const QString& dir) { programDir = dir; }
    // Puts a copy of the built program in <root>/bin, with <root>/lib leading to the built
    // host library (the program looks in ../lib), and returns <root>/bin; empty on failure.
    // A copy, not a link: the program takes its folder from its resolved file.
    static QString stageProgram(const QString& root);
    // The flow-meter plug-in and its shipped meter models into `bin`/plugins, as installed.
    static bool stageFlowmeter(const QString& bin);

    // Stores the host's serial debugging switch ("Enable RS-485 debug") in the settings under
    // `configDir`, as the setup dialog leaves it; a run with "-debug" takes it up.
    static bool setSerialDebug(const QString& configDir, bool on);
    // The flow-meter plug-in's own lines of a log, in order and without their time stamps.
    // Its lines without a stamp go to `unstamped`; the host's lines about the plug-in
    // ("Flow meter plugin: Making plugin item tree") are not the plug-in's and are left out.
    static QStringList flowmeterLines(const QString& log, QStringList* unstamped = nullptr);

    // Starts the program and waits until its window is up and its threads run
    // (the "Starting MAIN transaction thread handler" line has been written somewhere).
    bool start(const QStringList& args, int timeoutMs = 20000);
    // Asks the program to end (SIGTERM: the ordered shutdown) and waits for it; true when it
    // ended by itself with exit code 0.
    bool stop(int timeoutMs = 20000);
    int exitCode() const { return proc.exitCode(); }
    QString out() const { return stdoutText; }
    QString err() const { return stderrText; }
    // log.txt in the working folder, or an empty string.
    QString log() const;
    // Waits until `text` shows on standard output or in log.txt; false when the program ends
    // or the time runs out first.
    bool waitFor(const QString& text, int timeoutMs = 20000);
    // Takes in what the program has written so far, for out() and err().
    void collect();

    QProcess& process() { return proc; }

private:
    QTemporaryDir work;
    QTemporaryDir config;
    QTemporaryDir data;
    QProcess proc;
    QString programDir;
    QString stdoutText;
    QString stderrText;
};
