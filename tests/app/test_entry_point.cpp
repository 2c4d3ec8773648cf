// The real corvane program, run in a temporary folder on the offscreen platform.
#include "ProgramRunner.h"
#include "corvaneVersion.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The entry point on its own: a copy of the program with no plug-ins beside it, so that no
// device plug-in takes part in what these tests read.
#define STAGED_RUNNER(p)                                                                                  \
    ProgramRunner p;                                                                                      \
    {                                                                                                     \
        const QString bin = ProgramRunner::stageProgram(p.workDir() + "/program");                        \
        QVERIFY(!bin.isEmpty());                                                                          \
        p.setProgramDir(bin);                                                                             \
    }

namespace {

QString testPlugin(const QString& target)
{
    return QStringLiteral(CORVANE_TEST_PLUGIN_DIR) + "/" + target + ".plg";
}

// A copy of the program with `count` copies of a test plug-in beside it, under names of their
// own (each copy is a library of its own to the loader). Returns the program's folder.
QString stageWithPlugins(const QString& root, const QString& target, int count)
{
    const QString bin = ProgramRunner::stageProgram(root);
    if (bin.isEmpty() || !QDir().mkpath(bin + "/plugins"))
        return QString();
    for (int i = 0; i < count; ++i)
        if (!QFile::copy(testPlugin(target), bin + QString::asprintf("/plugins/p%02d.plg", i)))
            return QString();
    return bin;
}

// True once the process has its own SIGTERM handler: from then on the program can answer the
// signal, and a signal before that ends any program.
bool catchesSigterm(qint64 pid)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1;
    }
    return false;
}

bool waitUntilCatchesSigterm(QProcess& proc)
{
    QElapsedTimer t;
    t.start();
    while (!catchesSigterm(proc.processId())) {
        if (proc.state() != QProcess::Running || t.elapsed() > 30000)
            return false;
        usleep(200);
    }
    return true;
}

// What a process that died badly leaves on standard error.
bool reportsHeapOrSanitizerTrouble(const QString& err)
{
    for (const char* sign : {"double free", "corrupted", "free(): invalid", "malloc(): ", "AddressSanitizer",
                             "runtime error", "Segmentation"})
        if (err.contains(sign))
            return true;
    return false;
}

// The environment of a session without any display: no X11, no Wayland, no platform chosen.
QProcessEnvironment withoutDisplay(QProcessEnvironment env)
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    return env;
}

// Runs the program to its end in p's working folder; false when it does not end by itself.
bool runToEnd(ProgramRunner& p, const QStringList& args, const QProcessEnvironment& env)
{
    p.process().setProcessEnvironment(env);
    p.process().start(ProgramRunner::binDir() + "/corvane", args);
    if (!p.process().waitForFinished(20000))
        return false;
    p.collect();
    return p.process().exitStatus() == QProcess::NormalExit;
}

} // namespace

class TestEntryPoint : public QObject
{
    Q_OBJECT

private slots:
    void noSwitchWritesToTheConsole()
    {
        STAGED_RUNNER(p)
        QVERIFY(p.start({}));
        QVERIFY(p.stop());
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(!QFile::exists(p.workDir() + "/log.txt"));
        const QString out = p.out();
        const QStringList order = {
            "Thread tag is 'GENERIC SERIAL PORT'",
            "cMainWindow: Version 1.1\n",
            "cMainWindow: Connecting signals\n",
            "cMainWindow: Ready\n",
            "cMainWindow: Resetting factory mode\n",
            "Thread tag changed from 'GENERIC' to 'MAIN GUI'",
            "Starting MAIN GUI thread handler",
            "Thread tag changed from 'GENERIC' to 'MAIN'",
            "Starting MAIN transaction thread handler",
            "cMainWindow: Disconnecting signals\n",
            "MAIN GUI thread handler stopped",
            "MAIN transaction thread handler stopped",
            "cMainWindow: Bye!\n",
            "MAIN GUI thread destroyed",
            "MAIN thread destroyed",
            "GENERIC SERIAL PORT thread destroyed",
        };
        int at = 0;
        for (const QString& line : order) {
            const int found = out.indexOf(line, at);
            QVERIFY2(found >= 0, qPrintable("missing in order: " + line + "\n" + out));
            at = found + line.size();
        }
        QVERIFY(p.err().contains("MAIN GUI thread -> is trying exit and waiting on confirm"));
    }

    // The switches, and the options the program does not know: each is said on standard error
    // and the program starts all the same.
    void switches_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("factory");
        QTest::addColumn<bool>("log");
        QTest::addColumn<QStringList>("unknown");
        QTest::newRow("factory") << QStringList{"-factory"} << true << false << QStringList{};
        QTest::newRow("factory then debug") << QStringList{"-factory", "-debug"} << true << true << QStringList{};
        QTest::newRow("debug ends the scan") << QStringList{"-debug", "-factory"} << false << true << QStringList{};
        QTest::newRow("other capitals") << QStringList{"-Debug", "-FACTORY", "-DEBUG"} << false << false
                                        << QStringList{"-Debug", "-FACTORY", "-DEBUG"};
        QTest::newRow("two dashes") << QStringList{"--debug", "--factory"} << false << false
                                    << QStringList{"--debug", "--factory"};
        QTest::newRow("other arguments") << QStringList{"x", "-factory", "y"} << true << false << QStringList{};
        // What follows "-debug" was never read; the options that print and end are no exception.
        QTest::newRow("debug before --version") << QStringList{"-debug", "--version"} << false << true
                                                << QStringList{};
        QTest::newRow("debug before --help") << QStringList{"-factory", "-debug", "--help"} << true << true
                                             << QStringList{};
        QTest::newRow("unknown before debug, not after")
            << QStringList{"--verbose", "-debug", "--later"} << false << true << QStringList{"--verbose"};
        // Qt's own options and their values are Qt's, not unknown ones.
        QTest::newRow("Qt's options") << QStringList{"-style", "Fusion", "--platform", "offscreen", "-reverse",
                                                     "-stylesheet=none.qss", "-factory"}
                                      << true << false << QStringList{};
    }
    void switches()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, factory);
        QFETCH(bool, log);
        QFETCH(QStringList, unknown);
        STAGED_RUNNER(p)
        QVERIFY(p.start(args));
        QVERIFY(p.stop());
        QCOMPARE(QFile::exists(p.workDir() + "/log.txt"), log);
        const QString diag = log ? p.log() : p.out();
        QVERIFY2(diag.contains(factory ? "cMainWindow: Setting factory mode\n" : "cMainWindow: Resetting factory mode\n"),
                 qPrintable(diag));
        QStringList said;
        for (const QString& line : p.err().split('\n'))
            if (line.startsWith("corvane: "))
                said << line;
        QStringList expected;
        for (const QString& option : unknown)
            expected << "corvane: unknown option " + option + " (ignored)";
        QCOMPARE(said, expected);
    }

    // --help and --version print and end, on a machine without any display.
    void helpAndVersionNeedNoDisplay_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("help");
        QTest::newRow("--help") << QStringList{"--help"} << true;
        QTest::newRow("-h") << QStringList{"-h"} << true;
        QTest::newRow("--version") << QStringList{"--version"} << false;
        QTest::newRow("-v") << QStringList{"-v"} << false;
        QTest::newRow("after other switches") << QStringList{"x", "-factory", "--version"} << false;
        QTest::newRow("help wins") << QStringList{"--version", "--help"} << true;
    }
    void helpAndVersionNeedNoDisplay()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, help);
        ProgramRunner p;
        QVERIFY(runToEnd(p, args, withoutDisplay(p.process().processEnvironment())));
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(p.err(), QString());
        if (help) {
            QVERIFY2(p.out().startsWith("Usage: corvane [options]\n"), qPrintable(p.out()));
            // The switches are listed as they must be typed: one dash.
            for (const char* option : {"\n  -debug ", "\n  -factory ", "--help", "--version"})
                QVERIFY2(p.out().contains(option), qPrintable(QString(option) + " missing in\n" + p.out()));
            QVERIFY2(!p.out().contains("--debug") && !p.out().contains("--factory"), qPrintable(p.out()));
        } else {
            QCOMPARE(p.out(), QString("corvane " CORVANE_VERSION "\n"));
        }
        QVERIFY(!QFile::exists(p.workDir() + "/log.txt"));
    }

    // Without a display Qt would abort (exit 134); the program says what to do in one line.
    void noDisplaySaysWhatToDo_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("why");
        QTest::newRow("nothing set") << QStringList{} << "" << "" << "DISPLAY is not set";
        QTest::newRow("with -debug") << QStringList{"-debug"} << "" << "" << "DISPLAY is not set";
        QTest::newRow("no X server on it") << QStringList{} << "" << ":987" << "no X server answers on DISPLAY=:987";
        QTest::newRow("xcb asked for") << QStringList{} << "xcb" << "" << "DISPLAY is not set";
        QTest::newRow("-platform xcb") << QStringList{"-platform", "xcb"} << "offscreen" << ""
                                       << "DISPLAY is not set";
        QTest::newRow("wayland asked for") << QStringList{} << "wayland" << "" << "WAYLAND_DISPLAY is not set";
    }
    void noDisplaySaysWhatToDo()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, platform);
        QFETCH(QString, display);
        QFETCH(QString, why);
        ProgramRunner p;
        QProcessEnvironment env = withoutDisplay(p.process().processEnvironment());
        if (!platform.isEmpty())
            env.insert("QT_QPA_PLATFORM", platform);
        if (!display.isEmpty())
            env.insert("DISPLAY", display);
        QVERIFY(runToEnd(p, args, env));
        QCOMPARE(p.exitCode(), 1);
        QCOMPARE(p.out(), QString());
        QVERIFY2(p.err().startsWith("corvane: " + why + ": "), qPrintable(p.err()));
        QVERIFY2(p.err().contains("xvfb-run -a corvane"), qPrintable(p.err()));
        QCOMPARE(p.err().count('\n'), 1);
        QVERIFY(p.err().endsWith('\n'));
        QVERIFY(!QFile::exists(p.workDir() + "/log.txt"));
    }

    // A platform that needs no display server runs without one, chosen either way.
    void offscreenNeedsNoDisplay()
    {
        STAGED_RUNNER(p)
        p.process().setProcessEnvironment(withoutDisplay(p.process().processEnvironment()));
        QVERIFY2(p.start({"-platform", "offscreen"}), qPrintable(p.err()));
        QVERIFY(p.stop());
        QCOMPARE(p.exitCode(), 0);
    }

    // log.txt is truncated, holds everything up to the hand-back of the streams, and the
    // window's destruction is written to the console after it.
    void debugLogIsTruncatedAndClosedBeforeTheWindowGoes()
    {
        STAGED_RUNNER(p)
        {
            QFile old(p.workDir() + "/log.txt");
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("OLD CONTENT THAT MUST GO\n");
        }
        QVERIFY(p.start({"-debug"}));
        QVERIFY(p.stop());
        const QString log = p.log();
        QVERIFY(!log.contains("OLD CONTENT"));
        QVERIFY(log.startsWith("cMainWindow: Version 1.1\n"));
        QVERIFY(log.contains("cMainWindow: Resetting factory mode\n"));
        QVERIFY(log.contains("Starting MAIN transaction thread handler"));
        QVERIFY(!log.contains("Bye!"));
        // Plug-ins beside the program are unloaded (their threads destroyed) while the log is
        // still open; the window's own threads go after it is closed.
        QVERIFY(!log.contains("MAIN thread destroyed"));
        QVERIFY(!log.contains("MAIN GUI thread destroyed"));
        // Built before the streams were handed over, and destroyed after they came back.
        QVERIFY(p.out().contains("Thread tag is 'GENERIC'"));
        QVERIFY(!p.out().contains("cMainWindow: Version"));
        QVERIFY(p.out().contains("cMainWindow: Disconnecting signals\ncMainWindow: Bye!\n") ||
                p.out().indexOf("Bye!") > p.out().indexOf("Disconnecting signals"));
        QVERIFY(p.out().contains("MAIN thread destroyed"));
    }

    // A folder named log.txt cannot be opened as a file, whoever runs the test.
    void debugWithoutAWritableLogUsesTheConsole()
    {
        STAGED_RUNNER(p)
        QVERIFY(QDir(p.workDir()).mkdir("log.txt"));
        QVERIFY(p.start({"-debug"}));
        QVERIFY(p.stop());
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(p.out().contains("cMainWindow: Version 1.1\n"));
        QVERIFY(p.out().contains("cMainWindow: Resetting factory mode\n"));
        QVERIFY(p.out().contains("cMainWindow: Bye!\n"));
        QVERIFY(QFileInfo(p.workDir() + "/log.txt").isDir());
    }

    // ---- shutdown and signals ----

    // SIGTERM while "MAIN" loads many plug-ins in a "-debug" run: the log must outlive every
    // writer. The moments are spread over the time a full start takes here, measured first,
    // from the moment the program catches the signal (before that nothing could answer it).
    void sigtermWhileLoadingEndsInOrder()
    {
        constexpr int kPlugins = 60;
        constexpr int kRuns = 50;
        QTemporaryDir root;
        const QString bin = stageWithPlugins(root.path(), "tp_light", kPlugins);
        QVERIFY(!bin.isEmpty());
        // Loading ends on the GUI thread, when the last instance has been made and initialised.
        const auto allLoaded = [](const QString& log) { return log.count("Light plugin: call init()") == kPlugins; };

        // Milliseconds from the handler to the start and to the end of the loading.
        qint64 loadStartMs = 0;
        qint64 loadEndMs = 0;
        {
            ProgramRunner p;
            p.setProgramDir(bin);
            p.process().start(bin + "/corvane", {"-debug"});
            QVERIFY(p.process().waitForStarted());
            QVERIFY(waitUntilCatchesSigterm(p.process()));
            QElapsedTimer t;
            t.start();
            while (!allLoaded(p.log()) && t.elapsed() < 60000) {
                if (!loadStartMs && p.log().contains("MAIN: Loading plugins\n"))
                    loadStartMs = t.elapsed();
                usleep(500);
            }
            loadEndMs = t.elapsed();
            QVERIFY(allLoaded(p.log()));
            QVERIFY(p.stop(60000));
        }
        // A few moments before the loading, most of them during it, the last just after.
        constexpr int kEarly = kRuns / 5;
        const auto moment = [&](int run) -> qint64 {
            if (run < kEarly)
                return loadStartMs * run / kEarly;
            return loadStartMs + (loadEndMs + 5 - loadStartMs) * (run - kEarly) / (kRuns - kEarly - 1);
        };

        int cutWhileLoading = 0;
        for (int run = 0; run < kRuns; ++run) {
            ProgramRunner p;
            p.setProgramDir(bin);
            p.process().start(bin + "/corvane", {"-debug"});
            QVERIFY(p.process().waitForStarted());
            QVERIFY(waitUntilCatchesSigterm(p.process()));
            usleep(useconds_t(moment(run) * 1000));
            ::kill(pid_t(p.process().processId()), SIGTERM);
            const bool ended = p.process().waitForFinished(60000);
            p.collect();
            const QString log = p.log();
            const QString what = QString("run %1, SIGTERM %2 ms after the handler:\n%3\n--- log ---\n%4")
                                     .arg(run)
                                     .arg(moment(run))
                                     .arg(p.err().right(2000), log.right(2000));
            QVERIFY2(ended, qPrintable(what));
            QVERIFY2(p.process().exitStatus() == QProcess::NormalExit && p.exitCode() == 0, qPrintable(what));
            QVERIFY2(!reportsHeapOrSanitizerTrouble(p.err()), qPrintable(what));
            // Consistent: whole lines from the first on, and every instance made also went.
            QVERIFY2(log.startsWith("cMainWindow: Version 1.1\n") && log.endsWith('\n'), qPrintable(what));
            QVERIFY2(!log.contains(QChar(0)), qPrintable(what));
            QCOMPARE(log.count("Light plugin: call constructed\n"), log.count("Light plugin: call destroyed\n"));
            QCOMPARE(log.count("Light plugin: call init()"), log.count("Light plugin: call killInstance\n"));
            // The end of a run is told on the console, after the log was handed back.
            QVERIFY2(p.out().contains("cMainWindow: Bye!\n"), qPrintable(what));
            if (log.contains("MAIN: Loading plugins\n") && !allLoaded(log))
                ++cutWhileLoading;
        }
        qInfo("%d of %d runs were ended while the plug-ins loaded (loading took from %lld to %lld ms)", cutWhileLoading,
              kRuns, loadStartMs, loadEndMs);
        QVERIFY(cutWhileLoading > 0);
    }

    // SIGHUP (terminal closed, SSH session ended) ends the program like SIGTERM: plug-ins save
    // and unload, the window saves the application settings.
    void sighupEndsInOrderAndKeepsTheSettings()
    {
        QTemporaryDir root;
        const QString bin = stageWithPlugins(root.path(), "tp_alpha", 1);
        QVERIFY(!bin.isEmpty());
        ProgramRunner p;
        p.setProgramDir(bin);
        const QString settings = p.configDir() + "/Tessmark/Corvane.conf";
        QVERIFY(!QFile::exists(settings));
        QVERIFY(p.start({"-debug"}));
        QVERIFY(p.waitFor("MAIN: done with Updating plugin tree\n"));
        ::kill(pid_t(p.process().processId()), SIGHUP);
        QVERIFY(p.process().waitForFinished(30000));
        p.collect();
        QVERIFY2(p.process().exitStatus() == QProcess::NormalExit && p.exitCode() == 0, qPrintable(p.err()));
        QVERIFY(p.log().contains("Alpha plugin: call saveSettings() thread running=0\n"));
        QVERIFY(p.log().contains("Alpha plugin: call killInstance\n"));
        QVERIFY(p.out().contains("cMainWindow: Bye!\n"));
        QFile f(settings);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray stored = f.readAll();
        QVERIFY2(stored.contains("[cMainWindow]") && stored.contains("Settings%20version=1"), stored.constData());
    }

    // Standard output a pipe whose reader has gone: the writes fail, the program runs on and
    // still ends in order.
    void sigpipeOnTheConsoleIsIgnored()
    {
        QTemporaryDir root;
        const QString bin = stageWithPlugins(root.path(), "tp_alpha", 1);
        QVERIFY(!bin.isEmpty());
        ProgramRunner p;
        p.setProgramDir(bin);
        const QByteArray fifo = QFile::encodeName(root.path() + "/console");
        QVERIFY(mkfifo(fifo.constData(), 0600) == 0);
        // Close-on-exec: a reader that the program inherited would keep the pipe open.
        const int reader = open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(reader >= 0);
        p.process().setStandardOutputFile(root.path() + "/console");
        p.process().start(bin + "/corvane", QStringList());
        QVERIFY(p.process().waitForStarted());

        // Read the console until "MAIN" runs, then leave: the plug-in's loading and the
        // shutdown still write to it.
        QByteArray console;
        QElapsedTimer t;
        t.start();
        while (!console.contains("Starting MAIN transaction thread handler") && t.elapsed() < 30000 &&
               p.process().state() == QProcess::Running) {
            char buffer[4096];
            const ssize_t n = read(reader, buffer, sizeof(buffer));
            if (n > 0)
                console.append(buffer, int(n));
            else
                QTest::qWait(5);
        }
        QVERIFY2(console.contains("Starting MAIN transaction thread handler"), console.constData());
        close(reader);

        // The loader writes to the closed pipe from here on; the plug-in's load shows in the
        // settings folder only at the end, so the program is given its start-up time.
        QTest::qWait(500);
        QCOMPARE(p.process().state(), QProcess::Running);
        QVERIFY(p.stop(30000));
        QVERIFY(p.err().contains("MAIN GUI thread -> is trying exit and waiting on confirm"));
        QFile f(p.configDir() + "/Tessmark/Corvane.conf");
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll().contains("[cMainWindow]"));
    }

    // The X server goes while the program runs on it with a plug-in: Qt's display plug-in
    // ends the process with exit(1). Before that the plug-in still saves and unloads while Qt
    // stands, the settings are written, and the process ends by exit, not by a signal.
    void losingTheDisplayEndsInOrder()
    {
        const QString xvfbPath = QStandardPaths::findExecutable("Xvfb");
        if (xvfbPath.isEmpty())
            QSKIP("Xvfb is not installed");
        QProcess xvfb;
        xvfb.start(xvfbPath, {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        QVERIFY(xvfb.waitForStarted());
        QByteArray number;
        QElapsedTimer t;
        t.start();
        while (!number.contains('\n') && t.elapsed() < 30000 && xvfb.state() == QProcess::Running) {
            xvfb.waitForReadyRead(100);
            number += xvfb.readAllStandardOutput();
        }
        QVERIFY2(number.contains('\n'), xvfb.readAllStandardError().constData());

        QTemporaryDir root;
        const QString bin = stageWithPlugins(root.path(), "tp_alpha", 1);
        QVERIFY(!bin.isEmpty());
        ProgramRunner p;
        p.setProgramDir(bin);
        QProcessEnvironment env = p.process().processEnvironment();
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("DISPLAY", ":" + QString::fromLatin1(number.trimmed()));
        env.remove("WAYLAND_DISPLAY");
        p.process().setProcessEnvironment(env);
        QVERIFY(p.start({"-debug"}));
        QVERIFY2(p.waitFor("MAIN: done with Updating plugin tree\n"), qPrintable(p.err()));

        xvfb.kill();
        xvfb.waitForFinished();
        QVERIFY(p.process().waitForFinished(60000));
        p.collect();
        const QString what = p.err().right(3000) + "\n--- log ---\n" + p.log().right(2000);
        QVERIFY2(p.process().exitStatus() == QProcess::NormalExit, qPrintable(what));
        QVERIFY2(!reportsHeapOrSanitizerTrouble(p.err()), qPrintable(what));
        QVERIFY2(p.log().contains("Alpha plugin: call saveSettings() thread running=0\n"), qPrintable(what));
        QVERIFY2(p.log().contains("Alpha plugin: call killInstance\n"), qPrintable(what));
        QVERIFY2(p.out().contains("cMainWindow: Bye!\n"), qPrintable(what));
        QVERIFY2(p.err().contains("cProgram: the display is gone, ending in order\n"), qPrintable(what));
        QFile f(p.configDir() + "/Tessmark/Corvane.conf");
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll().contains("[cMainWindow]"));
    }
};

QTEST_GUILESS_MAIN(TestEntryPoint)
#include "test_entry_point.moc"
