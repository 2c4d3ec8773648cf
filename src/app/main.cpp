// Entry point: switches and log, the application and its main window, the host threads,
// the event loop and the ordered shutdown.
#include "cCommandLine.h"
#include "cProgram.h"

#include "../gui/cMainWindow.h"

#include <QApplication>

#include <optional>

int main(int argc, char* argv[])
{
    // --help, --version and a missing display are answered before Qt's GUI application exists:
    // without a display it would abort.
    const cCommandLine commandLine(argc, argv);
    if (commandLine.action() != cCommandLine::Run)
        return commandLine.answer();
    commandLine.sayUnknownOptions();

    // Before anything else: a signal that comes while the program starts still ends it in order.
    cProgram::catchTerminationSignals();
    cProgram program(argc, argv);

    std::optional<QApplication> app;
    app.emplace(argc, argv);
    // The installed desktop entry's name: a Wayland compositor takes the task bar's icon and
    // name from it.
    QGuiApplication::setDesktopFileName("se.tessmark.Corvane");
    cProgram::quitOnTerminationSignals();

    // The running executable's absolute path: argv[0] may be a bare name found through PATH.
    QString programPath = QCoreApplication::applicationFilePath();
    std::optional<cMainWindow> window;
    window.emplace(nullptr, &*app, programPath, program.out(), program.err());

    program.startUp(*window);
    program.finishWhenTheDisplayGoes(window);
    const int result = app->exec();
    program.finish(window);

    app.reset();
    return result;
}
