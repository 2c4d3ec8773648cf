#pragma once

#include <QString>
#include <QStringList>

// What the command line asks of the program before a window can exist: the options that answer
// and end (--help, --version), and whether there is a display to show the window on. The
// switches "-debug" and "-factory" are cProgram's; the help text lists them, but they are
// matched there, exactly as before.
//
// Needs no application object: Qt's GUI application aborts when it finds no display, so this
// runs first.
class cCommandLine
{
public:
    enum Action { Run, Help, Version, NoDisplay };

    // `arguments` as main() has them, the program's path first; the display is judged from the
    // process's environment and a "-platform" argument.
    explicit cCommandLine(const QStringList& arguments);
    cCommandLine(int argc, char* argv[]);

    Action action() const { return act; }
    // The help text, the version line or the no-display line, ending in a newline; empty for Run.
    QString text() const;
    // Writes text() (help and version to standard output, the no-display line to standard
    // error) and returns the exit code; for Run nothing is written and -1 is returned.
    int answer() const;
    // Names on standard error, one line each, the options that neither the program nor Qt knows
    // (up to "-debug", after which nothing is read).
    void sayUnknownOptions() const;

private:
    Action act = Run;
    QString displayProblem;
    QStringList unknownOptions;
};
