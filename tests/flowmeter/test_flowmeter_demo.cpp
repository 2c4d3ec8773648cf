// The demo as a person meets it: `make run`'s own script starts the simulator and the real
// program on a real X server, and the window is driven from outside with the keyboard
// (xdotool): a meter selected in the tree shows live readings, a screenshot is saved, the
// poll period is changed in the setup page and saved, and the program is quit and started
// again with the period and the meter on show kept. The simulator goes with the program each
// time.
#include "WaitUntil.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QSet>
#include <QTemporaryDir>

#include <csignal>
#include <unistd.h>

namespace {

// Runs xdotool; false when it failed or took too long. What it printed goes to `out`.
bool xdo(const QStringList& args, QString* out = nullptr, int timeoutMs = 20000)
{
    QProcess p;
    p.start("xdotool", args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return false;
    }
    if (out)
        *out = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// The first visible window whose title matches `pattern`, once it is there.
QString findWindow(const QString& pattern)
{
    QString id;
    waitUntil([&] {
        return xdo({"search", "--onlyvisible", "--name", pattern}, &id, 5000) &&
               !(id = id.section('\n', 0, 0)).isEmpty();
    }, 20000);
    return id;
}

// Keys go to the window with the X input focus. Without a window manager the focus does not
// come back to the main window by itself when a message box closes, so each step sets it.
bool keys(const QString& window, const QStringList& keyNames)
{
    return xdo({"windowfocus", "--sync", window}) && xdo(QStringList{"key", "--delay", "60"} + keyNames);
}

bool type(const QString& text)
{
    return xdo({"type", "--delay", "60", text});
}

// Whether a process whose command line holds `text` is running.
bool processRunning(const QString& name, const QString& text)
{
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile cmd("/proc/" + pid + "/cmdline");
        if (!cmd.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = cmd.readAll().replace('\0', ' ');
        if (line.contains(name.toLocal8Bit()) && line.contains(text.toLocal8Bit()))
            return true;
    }
    return false;
}

// `make run`'s script with its run folder in a temporary place.
class Demo
{
public:
    explicit Demo(const QString& runDir)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("CORVANE_RUN_DIR", runDir);
        // The readings are followed in the plug-in's line per reading, which a run without a log
        // file writes only when asked.
        env.insert("CORVANE_FLOWMETER_POLL_LINES", "1");
        env.remove("QT_QPA_PLATFORM");
        proc.setProcessEnvironment(env);
        proc.setProcessChannelMode(QProcess::MergedChannels);
        proc.setWorkingDirectory(runDir);
        // A group of its own, so that a failed step takes the program and the simulator down
        // with the script: killed alone, the script leaves them running and the test's output
        // open until the time-out.
        proc.setChildProcessModifier([] { ::setpgid(0, 0); });
        proc.start("bash", {CORVANE_SOURCE_DIR "/scripts/run-corvane", CORVANE_BUILD_DIR});
    }
    ~Demo()
    {
        if (proc.state() == QProcess::NotRunning)
            return;
        const pid_t group = pid_t(proc.processId());
        ::kill(-group, SIGTERM);
        if (!proc.waitForFinished(5000)) {
            ::kill(-group, SIGKILL);
            proc.waitForFinished();
        }
        // The script's own clean-up may not have run; whatever is left of the group goes.
        ::kill(-group, SIGKILL);
    }
    QString output()
    {
        text += QString::fromLocal8Bit(proc.readAll());
        return text;
    }
    bool waitFor(const QString& what, int count = 1, int timeoutMs = 20000)
    {
        return waitUntil([&] { return output().count(what) >= count; }, timeoutMs);
    }
    bool waitForNext(const QString& what, int timeoutMs = 20000) { return waitFor(what, output().count(what) + 1, timeoutMs); }

    QProcess proc;
    QString text;
};

// The flow of the last reading logged for `unit`, or -1.
double lastFlow(const QString& log, int unit)
{
    const QRegularExpression reading(QString("Flow meter plugin: Unit %1: flow ([0-9.]+) m3/h").arg(unit));
    double flow = -1;
    for (auto it = reading.globalMatch(log); it.hasNext();)
        flow = it.next().captured(1).toDouble();
    return flow;
}

} // namespace

class TestFlowmeterDemo : public QObject
{
    Q_OBJECT

private slots:
    void selectReadSetupSaveAndRestart();
    void withoutADisplayItSaysSoAndStops();
};

void TestFlowmeterDemo::selectReadSetupSaveAndRestart()
{
    QTemporaryDir tmp;
    const QString runDir = tmp.path() + "/run";
    QVERIFY(QDir().mkpath(runDir));

    {
        Demo demo(runDir);
        QVERIFY2(demo.waitFor("Three simulated flow meters (ids 1,2,3)"), qPrintable(demo.output()));
        QVERIFY(processRunning("flowsim", runDir));
        const QString window = findWindow("^Corvane 1.1");
        QVERIFY2(!window.isEmpty(), qPrintable(demo.output()));
        QVERIFY2(demo.waitFor("Flow meter plugin: Unit 3: flow"), qPrintable(demo.output()));

        // Down to the plug-in's item, open it, down to its line, open that, down to its first
        // meter.
        QVERIFY(keys(window, {"Down", "Right", "Down", "Right", "Down"}));
        QVERIFY2(demo.waitFor("cMainWindow: Selected " + runDir + "/flowmeters / Meter 1 ("),
                 qPrintable(demo.output().right(3000)));
        QVERIFY(demo.waitForNext("Flow meter plugin: Unit 1: flow"));
        // Meter 1 swings within 20 % of its 8 m3/h.
        const double flow = lastFlow(demo.output(), 1);
        QVERIFY2(flow > 8 * 0.75 && flow < 8 * 1.25, qPrintable(QString::number(flow)));

        // A few seconds of trend, then the window as it stands.
        QTest::qWait(4000);
        const QImage shot = QGuiApplication::primaryScreen()->grabWindow(window.toULongLong()).toImage();
        QVERIFY(!shot.isNull());
        QVERIFY(shot.width() >= 1000 && shot.height() >= 600);
        QSet<QRgb> colours;
        for (int y = 0; y < shot.height(); y += 7)
            for (int x = 0; x < shot.width(); x += 7)
                colours.insert(shot.pixel(x, y));
        // A drawn window, not an empty or black one.
        QVERIFY2(colours.size() > 20, qPrintable(QString::number(colours.size())));
        const QString shots = CORVANE_BUILD_DIR "/screenshots";
        QVERIFY(QDir().mkpath(shots));
        QVERIFY(shot.save(shots + "/flowmeter-demo.png"));

        // Down past the first line's other meters to the second line's first meter, another
        // model, read at 19200 8E1: its page too, then back up to the first meter.
        QVERIFY(keys(window, {"Down", "Down", "Down", "Right", "Down"}));
        QVERIFY2(demo.waitFor("cMainWindow: Selected " + runDir + "/flowmeters2 / Meter 1 ("),
                 qPrintable(demo.output().right(3000)));
        QVERIFY(demo.waitForNext("Flow meter plugin: Line 2 unit 1: flow"));
        QTest::qWait(3000);
        const QImage second = QGuiApplication::primaryScreen()->grabWindow(window.toULongLong()).toImage();
        QVERIFY(!second.isNull() && second != shot);
        QVERIFY(second.save(shots + "/flowmeter-demo-line2.png"));
        QVERIFY(keys(window, {"Up", "Up", "Up", "Up"}));
        QVERIFY(demo.waitForNext("cMainWindow: Selected " + runDir + "/flowmeters / Meter 1 ("));

        // The setup page: the cursor starts in the first line's port box; down past its rate,
        // data bits, parity and stop bits to the poll period, type a new one, on past the answer
        // time-out and the damping to Save (on this display's keyboard settings a table and push
        // buttons are no stops of Tab, Save in the button box is).
        QVERIFY(keys(window, {"ctrl+Return"}));
        QVERIFY(demo.waitFor("cMainWindow: Selected setup for Flow meter"));
        // The cursor is put in the first field once the page shows.
        QTest::qWait(1000);
        QVERIFY(keys(window, {"Tab", "Tab", "Tab", "Tab", "Tab", "ctrl+a"}));
        QVERIFY(type("350"));
        QVERIFY(keys(window, {"Tab", "Tab", "Tab", "space"}));
        const QString question = findWindow("^Corvane: Save settings");
        QVERIFY2(!question.isEmpty(), qPrintable(demo.output().right(3000)));
        QVERIFY(keys(question, {"alt+y"}));
        QVERIFY2(demo.waitFor("Flow meter plugin: Settings saved: port " + runDir + "/flowmeters, unit ids 1,2,3"),
                 qPrintable(demo.output().right(3000)));
        QVERIFY(demo.waitFor("cMainWindow: Executing acceptSetup() method for Flow meter -> Meter 1 setup"));

        // Quit from the keyboard, answering the question.
        QVERIFY(keys(window, {"ctrl+q"}));
        const QString quit = findWindow("^Corvane: Quit");
        QVERIFY(!quit.isEmpty());
        QVERIFY(keys(quit, {"alt+y"}));
        QVERIFY2(demo.proc.waitForFinished(20000), qPrintable(demo.output().right(3000)));
        QCOMPARE(demo.proc.exitCode(), 0);
        QVERIFY(demo.output().contains("cMainWindow: Bye!"));
        QVERIFY(waitUntil([&] { return !processRunning("flowsim", runDir); }, 5000));
    }

    // Started again: the saved period is the one in use, and the meter watched last is shown.
    Demo again(runDir);
    QVERIFY2(again.waitFor("Flow meter plugin: Port " + runDir + "/flowmeters, unit ids 1,2,3, poll period 350 ms"),
             qPrintable(again.output().right(3000)));
    QVERIFY(again.waitFor("Flow meter plugin: Showing Meter 1 again\n"));
    QVERIFY(again.waitFor("cMainWindow: Selected " + runDir + "/flowmeters / Meter 1 ("));
    QVERIFY(again.waitFor("Flow meter plugin: Unit 1: flow"));
    const QString window = findWindow("^Corvane 1.1");
    QVERIFY(!window.isEmpty());
    QVERIFY(keys(window, {"ctrl+q"}));
    const QString quit = findWindow("^Corvane: Quit");
    QVERIFY(!quit.isEmpty());
    QVERIFY(keys(quit, {"alt+y"}));
    QVERIFY(again.proc.waitForFinished(20000));
    QCOMPARE(again.proc.exitCode(), 0);
    QVERIFY(waitUntil([&] { return !processRunning("flowsim", runDir); }, 5000));
}

// Before anything is started: one sentence that says what is wrong and how to run it anyway.
void TestFlowmeterDemo::withoutADisplayItSaysSoAndStops()
{
    QTemporaryDir tmp;
    for (const QString& display : {QString(), QString(":97")}) {
        if (!display.isEmpty() && QFile::exists("/tmp/.X11-unix/X97"))
            continue;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        if (!display.isEmpty())
            env.insert("DISPLAY", display);
        env.insert("CORVANE_RUN_DIR", tmp.path() + "/run");
        p.setProcessEnvironment(env);
        p.start("bash", {CORVANE_SOURCE_DIR "/scripts/run-corvane", CORVANE_BUILD_DIR});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 1);
        const QString said = QString::fromLocal8Bit(p.readAllStandardError());
        QCOMPARE(said.count('\n'), 1);
        QVERIFY2(said.contains(display.isEmpty() ? "no display is set" : "No X server answers on DISPLAY=:97"),
                 qPrintable(said));
        QVERIFY(said.contains("xvfb-run -a make run"));
        // Nothing was started.
        QVERIFY(!QFile::exists(tmp.path() + "/run"));
    }
}

QTEST_MAIN(TestFlowmeterDemo)
#include "test_flowmeter_demo.moc"
