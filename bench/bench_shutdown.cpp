// Shutdown time: from the "Yes" of the quit question to the end of the program's teardown,
// with the two host threads running, measured in-process on the real window and entry steps.
#include "app/cProgram.h"
#include "gui/cMainWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const int rounds = 5;
    double total = 0;
    double worst = 0;
    // The program's own console lines are not the benchmark's output: the console goes to
    // /dev/null and the figures to a copy of the original standard output.
    FILE* report = fdopen(dup(1), "w");
    const int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    dup2(devnull, 2);
    for (int round = 0; round < rounds; ++round) {
        char prog[] = "corvane";
        char* args[] = {prog, nullptr};
        cProgram program(1, args);
        std::optional<QApplication> app;
        app.emplace(argc, argv);
        QString path = QCoreApplication::applicationFilePath();
        std::optional<cMainWindow> window;
        window.emplace(nullptr, &*app, path, program.out(), program.err());
        program.startUp(*window);

        Clock::time_point yes;
        QTimer poll;
        // Only the quit question is answered. Other boxes may be up too (the program started
        // here has no plug-ins beside it, so "MAIN" says so in a box with just OK); they stay.
        QObject::connect(&poll, &QTimer::timeout, [&] {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(top);
                QAbstractButton* answer = box && box->isVisible() ? box->button(QMessageBox::Yes) : nullptr;
                if (!answer)
                    continue;
                yes = Clock::now();
                answer->click();
                return;
            }
        });
        poll.start(5);
        QTimer::singleShot(200, &*window, [&] { window->close(); });

        app->exec();
        poll.stop();
        program.shutDown(*window);
        window.reset();
        app.reset();
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - yes).count();
        total += ms;
        worst = std::max(worst, ms);
        fprintf(report, "round %d: %.1f ms from Yes to the end of teardown\n", round + 1, ms);
    }
    fprintf(report, "average %.1f ms, worst %.1f ms (each thread stop polls every 100 ms; two threads)\n", total / rounds,
           worst);
    fclose(report);
    return 0;
}
