// Several lines and many meters, with the real program and the real flow-meter plug-in:
//
//  1. Two lines of 32 meters each, paced at 9600 8N1 and 19200 8E1, polled at once: each line's
//     polls per second (counted at its simulator's tap) against its own bus limit, and against
//     the same line polled alone by the program in the same run.
//  2. 247 meters on one unpaced line: the longest stall of the GUI thread while they are
//     polled and while the tree is rebuilt (a 1 ms timer on the GUI thread of a window that
//     hosts the plug-in in this process), and the resident memory of the program polling them.
#include "BenchShort.h"
#include "ResidentMemory.h"
#include "FlowSim.h"
#include "HostFixture.h"
#include "PacedSim.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMeters = 32;
constexpr int kRequestBytes = 8;
constexpr int kAnswerBytes = 3 + 32 + 2; // the whole 16-register map of an FM-1
const double kSeconds = benchShortOr(4.0, 2.0);

QString idList(int count)
{
    QStringList ids;
    for (int i = 1; i <= count; ++i)
        ids << QString::number(i);
    return ids.join(',');
}

double secondsNow()
{
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

// One poll of an FM-1 on the wire: request and answer, and the silence before each.
double busLimit(const Line& l)
{
    return 1e6 / ((kRequestBytes + kAnswerBytes) * l.settings.characterUs() + 2 * l.settings.interFrameSilenceUs());
}

int framesBetween(const QString& tap, double t0, double t1)
{
    int n = 0;
    for (const FlowSim::Frame& f : FlowSim::readTap(tap)) {
        const double s = double(f.startUs) / 1e6;
        n += s >= t0 && s < t1;
    }
    return n;
}

// Takes in what the program writes for `seconds`: a full pipe would hold it up.
void drain(ProgramRunner& runner, double seconds)
{
    const auto until = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < until) {
        runner.process().waitForReadyRead(50);
        runner.collect();
    }
}

struct Polled
{
    bool ok = false;
    double perSecond[2] = {0, 0};
};

// The program with the given lines, each seeded from the environment as a first run is.
Polled pollLines(const QVector<PacedSim*>& sims, const QVector<Line>& lines)
{
    Polled result;
    QTemporaryDir root;
    ProgramRunner runner;
    const QString bin = stageFlowMeterProgram(root.path());
    if (bin.isEmpty()) {
        fprintf(stderr, "the program could not be staged in %s\n", qPrintable(root.path()));
        return result;
    }
    runner.setProgramDir(bin);
    QProcessEnvironment env = runner.process().processEnvironment();
    env.insert("CORVANE_FLOWMETER_PORT", sims[0]->link);
    env.insert("CORVANE_FLOWMETER_IDS", idList(kMeters));
    if (sims.size() > 1) {
        env.insert("CORVANE_FLOWMETER_PORT2", sims[1]->link);
        env.insert("CORVANE_FLOWMETER_IDS2", idList(kMeters));
        env.insert("CORVANE_FLOWMETER_MODEL2", "Tessmark FM-1");
        env.insert("CORVANE_FLOWMETER_BAUD2", QString::number(lines[1].settings.baud));
        env.insert("CORVANE_FLOWMETER_PARITY2", QString(QChar(lines[1].settings.parity)));
    }
    runner.process().setProcessEnvironment(env);
    // The first line's settings other than 9600 8N1 stand in the settings, as stored before.
    if (lines[0].settings != cLineSettings()) {
        QDir().mkpath(runner.configDir() + "/Tessmark");
        QFile conf(runner.configDir() + "/Tessmark/Corvane.conf");
        const QString text = QString("[FlowMeter]\nbaud=%1\nparity=%2\n")
                                 .arg(lines[0].settings.baud)
                                 .arg(QChar(lines[0].settings.parity));
        if (!conf.open(QIODevice::WriteOnly) || conf.write(text.toLocal8Bit()) < 0)
            return result;
    }
    if (!runner.start({})) {
        fprintf(stderr, "the program did not start:\n%s\n", qPrintable(runner.err().right(2000)));
        return result;
    }
    // Two rounds of every line before counting.
    drain(runner, 4.0);
    const double t0 = secondsNow();
    drain(runner, kSeconds);
    const double t1 = secondsNow();
    runner.stop();
    result.ok = true;
    for (int i = 0; i < sims.size(); ++i) {
        result.perSecond[i] = framesBetween(sims[i]->tap, t0, t1) / (t1 - t0);
        result.ok = result.ok && result.perSecond[i] > 0;
    }
    if (!result.ok)
        fprintf(stderr, "a line was not polled:\n%s\n", qPrintable(runner.out().right(600)));
    return result;
}

// The longest time between two runs of a 1 ms timer on the GUI thread for `seconds`, while
// `during` is called every 200 ms (or never, when empty).
double longestStallMs(double seconds, const std::function<void()>& during = {})
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    qint64 longest = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    tick.start(1);
    QTimer work;
    if (during) {
        QObject::connect(&work, &QTimer::timeout, during);
        work.start(200);
    }
    const qint64 end = qint64(seconds * 1e9);
    while (clock.nsecsElapsed() < end)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return double(longest) / 1e6;
}

void manyMeters()
{
    const QString all = idList(247);
    FlowSim sim(all);
    if (!sim.started) {
        printf("  flowsim did not start\n");
        return;
    }
    qputenv("CORVANE_FLOWMETER_PORT", sim.link.toLocal8Bit());
    qputenv("CORVANE_FLOWMETER_IDS", all.toLocal8Bit());
    double pollingMs = -1, rebuildMs = -1, idleMs = -1;
    {
        HostFixture h;
        h.captureConsole();
        h.answerBoxes(QMessageBox::Ok);
        h.makePlugins();
        bool ready = ProgramRunner::stageFlowmeter(h.bin()) && h.open();
        if (ready) {
            h.startMain();
            h.startMainGui();
            longestStallMs(0.5);
            idleMs = longestStallMs(2.0);
        }
        if (ready && h.loadPlugins(1)) {
            cPlugin* plugin = HostFixture::plugin(0);
            // The last meter shown, as a user would watch it; its pages follow every round.
            QTreeWidgetItem* item = plugin->topItem;
            while (item->childCount() > 0)
                item = item->child(item->childCount() - 1);
            h.select(item);
            h.waitLog("Unit 247", 1, 30000);
            pollingMs = longestStallMs(benchShortOr(5.0, 1.5));
            rebuildMs = longestStallMs(benchShortOr(5.0, 1.5), [&] { emit h.window->updateTreeSignal(plugin); });
        }
        // Before the store and the log go: the plug-ins end with the window.
        h.window.reset();
    }
    printf("  247 meters, unpaced line: longest GUI stall %.1f ms polling, %.1f ms while the tree is rebuilt\n"
           "  every 200 ms (reference: %.1f ms by the window before the plug-in is loaded)\n",
           pollingMs, rebuildMs, idleMs);

    QTemporaryDir root;
    ProgramRunner runner;
    const QString bin = stageFlowMeterProgram(root.path());
    if (bin.isEmpty())
        return;
    runner.setProgramDir(bin);
    long bareKb = -1;
    {
        // The reference: the same program with its plug-in polling one meter.
        QProcessEnvironment env = runner.process().processEnvironment();
        env.insert("CORVANE_FLOWMETER_PORT", sim.link);
        env.insert("CORVANE_FLOWMETER_IDS", "1");
        runner.process().setProcessEnvironment(env);
        if (runner.start({})) {
            drain(runner, 3.0);
            bareKb = residentKb(long(runner.process().processId()));
            runner.stop();
        }
    }
    ProgramRunner many;
    many.setProgramDir(bin);
    QProcessEnvironment env = many.process().processEnvironment();
    env.insert("CORVANE_FLOWMETER_PORT", sim.link);
    env.insert("CORVANE_FLOWMETER_IDS", all);
    many.process().setProcessEnvironment(env);
    if (!many.start({}))
        return;
    drain(many, benchShortOr(8.0, 3.0));
    const long manyKb = residentKb(long(many.process().processId()));
    many.stop();
    printf("  resident memory: %ld kB polling 247 meters, %ld kB polling one (ratio %.2f)\n", manyKb, bareKb,
           bareKb > 0 ? double(manyKb) / double(bareKb) : 0.0);
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("CORVANE_BIN_DIR"))
        qputenv("CORVANE_BIN_DIR", ProgramRunner::binDir().toLocal8Bit());
    const Line lines[2] = {Line{"9600 8N1", cLineSettings(9600, 8, 'N', 1), "none"},
                           Line{"19200 8E1", cLineSettings(19200, 8, 'E', 1), "even"}};
    printf("Two lines of %d FM-1 meters each, flowsim --pace, polls counted over %.0f s\n", kMeters, kSeconds);
    double alone[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        PacedSim sim(lines[i], idList(kMeters));
        sim.unsetRate();
        const Polled p = pollLines({&sim}, {lines[i]});
        alone[i] = p.ok ? p.perSecond[0] : 0;
    }
    PacedSim first(lines[0], idList(kMeters));
    PacedSim second(lines[1], idList(kMeters));
    first.unsetRate();
    second.unsetRate();
    const Polled both = pollLines({&first, &second}, {lines[0], lines[1]});
    printf("  %-10s %9s %9s %7s %9s %7s\n", "line", "polls/s", "bus limit", "ratio", "alone", "ratio");
    for (int i = 0; i < 2; ++i) {
        const double limit = busLimit(lines[i]);
        const double rate = both.ok ? both.perSecond[i] : 0;
        printf("  %-10s %9.2f %9.2f %7.3f %9.2f %7.3f\n", lines[i].name, rate, limit, rate / limit, alone[i],
               alone[i] > 0 ? rate / alone[i] : 0.0);
    }
    printf("  polls/s: both lines polled at once; alone: the same line polled alone by the program.\n");
    printf("  bus limit: (%d + %d characters) plus two silences of 3.5 characters per poll.\n", kRequestBytes,
           kAnswerBytes);
    manyMeters();
    return both.ok ? 0 : 1;
}
