// What reconnecting costs in resident memory: 200 reconnects through the window's port
// registry (openPort, then closePort by its last user) against a real pseudo-terminal, the
// way a plug-in reconnects after its adapter went away and came back.
//
// The reference, measured in the same run: the first 20 reconnects warm the allocator, the
// thread stack cache and Qt up, and the same loop's growth over them is printed next to the
// growth over the 180 after them; a bare open and close of the same terminal, 200 times,
// shows what the device alone costs.
#include "BenchShort.h"
#include "ResidentMemory.h"
#include "PtyPair.h"
#include "gui/cMainWindow.h"
#include "serial/cTerminal.h"

#include <QApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

const int kWarmUp = benchShortOr(20, 10);
const int kReconnects = benchShortOr(200, 50);
constexpr double kTargetKbPerReconnect = 4.0;

// The ports' own lines would bury the figures: they go to /dev/null while the loops run.
// `saved` takes the descriptors standard output and error had, for restoreConsole.
void silenceConsole(int saved[2])
{
    fflush(stdout);
    fflush(stderr);
    saved[0] = dup(1);
    saved[1] = dup(2);
    const int sink = open("/dev/null", O_WRONLY);
    dup2(sink, 1);
    dup2(sink, 2);
    close(sink);
}

void restoreConsole(const int saved[2])
{
    fflush(stdout);
    fflush(stderr);
    for (int fd = 1; fd <= 2; ++fd) {
        dup2(saved[fd - 1], fd);
        close(saved[fd - 1]);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    if (!getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QTemporaryDir config;
    setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
    QApplication app(argc, argv);

    PtyPair pty;
    if (!pty.ok()) {
        fprintf(stderr, "bench_reconnect: no pseudo-terminal\n");
        return 1;
    }
    FILE* log = fopen("/dev/null", "w");
    QString program = "/opt/corvane/corvane";

    long bareKb = 0, startKb = 0, warmKb = 0, endKb = 0;
    int failed = 0;
    int console[2];
    silenceConsole(console);
    {
        cMainWindow window(nullptr, &app, program, log, log);

        const long bareStart = residentKb();
        for (int i = 0; i < kReconnects; ++i)
            cTerminal::close(cTerminal::open(pty.slavePath().c_str()));
        bareKb = residentKb() - bareStart;

        startKb = residentKb();
        for (int i = 0; i < kReconnects; ++i) {
            if (i == kWarmUp)
                warmKb = residentKb();
            cSerial* p = window.openPort(pty.slavePath());
            if (!p) {
                ++failed;
                continue;
            }
            window.closePort(p);
        }
        endKb = residentKb();
    }
    restoreConsole(console);
    fclose(log);

    const double warmPer = double(warmKb - startKb) / kWarmUp;
    const double steadyPer = double(endKb - warmKb) / (kReconnects - kWarmUp);
    printf("bench_reconnect: %d reconnects through the port registry on a pseudo-terminal%s\n", kReconnects,
           failed ? " (some failed to open)" : "");
    printf("  bare open/close of the terminal, %d times:  %+ld KB in all\n", kReconnects, bareKb);
    printf("  first %d reconnects (warm-up, reference):  %+8.2f KB per reconnect\n", kWarmUp, warmPer);
    printf("  next %d reconnects:                       %+8.2f KB per reconnect (target under %.0f KB)\n",
           kReconnects - kWarmUp, steadyPer, kTargetKbPerReconnect);
    printf("  ratio steady/warm-up: %.3f\n", warmPer != 0 ? steadyPer / warmPer : 0.0);
    return 0;
}
