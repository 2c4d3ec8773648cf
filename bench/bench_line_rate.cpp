// Back-to-back polls against the simulator paced at each line rate: how many whole-map reads a
// master gets through per second, against the bus limit of the same frames at that rate, and
// the silence it leaves between an answer and its next request (from the simulator's tap).
// Each master against a simulator of its own: libmodbus, the reference a host's poll loop is
// held to; the host's own path (a port opened at the line's settings, each read queued on the
// port's transaction thread with the line's silence in microseconds, as the flow-meter plug-in
// polls, and with the older whole-millisecond request delay beside it);
// and at 19200 8E1 and 115200 8N1 the real program with the real flow-meter plug-in. The
// plug-in lives in a window (its port comes from the window's registry, its readings go to its
// pages), so it runs in the staged program on the offscreen platform, not in this process.
#include "BenchShort.h"
#include "FlowSim.h"
#include "PacedSim.h"
#include "ModbusCrc.h"
#include "ProgramRunner.h"
#include "StdStreamCapture.h"
#include "serial/cSerial.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <modbus/modbus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRequestBytes = 8;        // 01 03 00 00 00 10 + CRC
constexpr int kAnswerBytes = 3 + 32 + 2; // id, function, count, 16 registers, CRC
const double kSeconds = benchShortOr(3.0, 1.0);
// The flow-meter plug-in's default answer time-out.
constexpr unsigned short kAnswerTimeoutMs = 100;

struct Run
{
    bool ok = false;
    double pollsPerSecond = 0;
    int failed = 0;
    double medianSilenceMs = 0;
    double leastSilenceMs = 0;
};

double secondsNow()
{
    // CLOCK_MONOTONIC on Linux, the clock of the simulator's tap.
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

// Polls back to back for kSeconds; `poll` makes one whole-map read and says whether it was
// answered. The master's silence runs from the end of an answer it took in to the next
// request's first byte at the meter.
Run pollBackToBack(const PacedSim& sim, const std::function<bool()>& poll)
{
    Run run;
    std::vector<double> answerEnds;
    int polls = 0;
    const auto t0 = Clock::now();
    const auto until = t0 + std::chrono::duration<double>(kSeconds);
    while (Clock::now() < until) {
        if (poll())
            ++polls;
        else
            ++run.failed;
        answerEnds.push_back(secondsNow());
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    run.pollsPerSecond = polls / elapsed;

    const QVector<FlowSim::Frame> frames = FlowSim::readTap(sim.tap);
    std::vector<double> silences;
    for (int i = 1; i < frames.size() && size_t(i) <= answerEnds.size(); ++i)
        silences.push_back(double(frames[i].startUs) / 1e3 - answerEnds[size_t(i) - 1] * 1e3);
    std::sort(silences.begin(), silences.end());
    run.medianSilenceMs = silences.empty() ? 0 : silences[silences.size() / 2];
    run.leastSilenceMs = silences.empty() ? 0 : silences.front();
    run.ok = true;
    return run;
}

Run libmodbusMaster(const Line& l)
{
    PacedSim sim(l);
    modbus_t* m = modbus_new_rtu(sim.link.toLocal8Bit().constData(), int(l.settings.baud), l.settings.parity,
                                 l.settings.dataBits, l.settings.stopBits);
    if (!m || modbus_connect(m) != 0) {
        fprintf(stderr, "flowsim did not start, or its link %s cannot be opened\n", qPrintable(sim.link));
        if (m)
            modbus_free(m);
        return {};
    }
    modbus_set_slave(m, 1);
    modbus_set_response_timeout(m, 0, kAnswerTimeoutMs * 1000);
    uint16_t r[16];
    const Run run = pollBackToBack(sim, [&] { return modbus_read_registers(m, 0, 16, r) == 16; });
    modbus_close(m);
    modbus_free(m);
    return run;
}

// `millisecondRule`: the request delay in whole milliseconds (requestDelayMs), as plug-ins
// built before the microsecond form queue; otherwise the line's silence in microseconds.
Run hostPort(const Line& l, bool millisecondRule)
{
    PacedSim sim(l);
    sim.unsetRate();
    Run run;
    const QString logPath = sim.dir.path() + "/host.log";
    FILE* log = fopen(logPath.toLocal8Bit().constData(), "w");
    if (!log)
        return run;
    {
        // The threads' stop lines go to standard output whatever the port's streams are.
        StdStreamCapture console(1), errors(2);
        cSerial port("line rate", log, log);
        if (port.open(sim.link.toStdString(), l.settings)) {
            const std::vector<unsigned char> request = withModbusCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x10});
            unsigned char answer[TRSC_BUFFER_SIZE];
            run = pollBackToBack(sim, [&] {
                unsigned short received = 0;
                const unsigned char result =
                    millisecondRule
                        ? port.transaction(request.data(), (unsigned short)request.size(), answer, &received,
                                           kAnswerBytes, port.requestDelayMs(), 0, kAnswerTimeoutMs, nullptr, 1)
                        : port.transaction(request.data(), (unsigned short)request.size(), answer, &received,
                                           kAnswerBytes, std::chrono::microseconds(port.interFrameSilenceUs()), 0,
                                           kAnswerTimeoutMs, nullptr, 1);
                return result == TRSC_OK && received == kAnswerBytes && answer[0] == 0x01 && answer[1] == 0x03;
            });
        }
        port.close();
    }
    fclose(log);
    if (!run.ok) {
        QFile f(logPath);
        f.open(QIODevice::ReadOnly);
        fprintf(stderr, "the host's port did not open %s:\n%s\n", qPrintable(sim.link), f.readAll().constData());
    }
    return run;
}

// Eight meters a line at the plug-in's shortest period: a round of eight reads takes longer than
// the period at these rates, so each line's poll loop reads one meter after the other without a
// pause. With two lines both are polled at once, each on its own simulator at the same settings.
// Polls are counted at each simulator's tap, from a second after the first round on.
std::vector<Run> pluginPolls(const Line& l, int lines = 1)
{
    std::vector<std::unique_ptr<PacedSim>> sims;
    for (int i = 0; i < lines; ++i) {
        sims.push_back(std::make_unique<PacedSim>(l, "1,2,3,4,5,6,7,8"));
        sims.back()->unsetRate();
    }
    QTemporaryDir root;
    ProgramRunner runner;
    const QString bin = ProgramRunner::stageProgram(root.path());
    if (bin.isEmpty() || !ProgramRunner::stageFlowmeter(bin)) {
        fprintf(stderr, "the program could not be staged in %s\n", qPrintable(root.path()));
        return {};
    }
    runner.setProgramDir(bin);
    // The polls are timed by the plug-in's line per reading, written without a log file too.
    QProcessEnvironment env = runner.process().processEnvironment();
    env.insert("CORVANE_FLOWMETER_POLL_LINES", "1");
    runner.process().setProcessEnvironment(env);
    QDir().mkpath(runner.configDir() + "/Tessmark");
    {
        QSettings conf(runner.configDir() + "/Tessmark/Corvane.conf", QSettings::IniFormat);
        conf.beginGroup("FlowMeter");
        conf.beginWriteArray("lines", lines);
        for (int i = 0; i < lines; ++i) {
            conf.setArrayIndex(i);
            conf.setValue("port", sims[size_t(i)]->link);
            conf.setValue("baud", int(l.settings.baud));
            conf.setValue("dataBits", int(l.settings.dataBits));
            conf.setValue("parity", QString(QChar(l.settings.parity)));
            conf.setValue("stopBits", int(l.settings.stopBits));
            conf.setValue("period", 50);
            conf.beginWriteArray("meters", 8);
            for (int m = 0; m < 8; ++m) {
                conf.setArrayIndex(m);
                conf.setValue("id", m + 1);
                conf.setValue("model", "Tessmark FM-1");
            }
            conf.endArray();
        }
        conf.endArray();
        conf.endGroup();
        conf.sync();
        if (conf.status() != QSettings::NoError)
            return {};
    }
    const QString last = lines > 1 ? QString("plugin: Line %1 unit 8: flow").arg(lines) : "plugin: Unit 8: flow";
    if (!runner.start({}) || !runner.waitFor("plugin: Unit 8: flow") || !runner.waitFor(last)) {
        fprintf(stderr, "the program did not read the meters at %s:\n%s\n", l.name,
                qPrintable(runner.err().right(2000)));
        runner.stop();
        return {};
    }
    // Its output is taken in all along: a full pipe would hold the program up.
    const auto drain = [&runner](double seconds) {
        const auto until = Clock::now() + std::chrono::duration<double>(seconds);
        while (Clock::now() < until) {
            runner.process().waitForReadyRead(50);
            runner.collect();
        }
    };
    drain(1.0);
    const auto failures = [&runner](int line) {
        return runner.out().count(QRegularExpression(line == 0 ? "plugin: Unit \\d+: poll failed"
                                                               : QString("plugin: Line %1 unit \\d+: poll failed").arg(line + 1)));
    };
    std::vector<int> failedBefore;
    for (int i = 0; i < lines; ++i)
        failedBefore.push_back(failures(i));
    const double t0 = secondsNow();
    drain(kSeconds);
    const double t1 = secondsNow();
    std::vector<Run> runs;
    for (int i = 0; i < lines; ++i) {
        Run run;
        int polls = 0;
        std::vector<double> starts;
        for (const FlowSim::Frame& f : FlowSim::readTap(sims[size_t(i)]->tap)) {
            const double s = double(f.startUs) / 1e6;
            if (s >= t0 && s < t1) {
                ++polls;
                starts.push_back(s * 1e3);
            }
        }
        // The program's silence, from the tap alone: the time between two requests less what
        // the paced simulator takes for the request, its silence and the answer.
        const double answeredMs =
            ((kRequestBytes + kAnswerBytes) * l.settings.characterUs() + l.settings.interFrameSilenceUs()) / 1e3;
        std::vector<double> silences;
        for (size_t k = 1; k < starts.size(); ++k)
            silences.push_back(starts[k] - starts[k - 1] - answeredMs);
        std::sort(silences.begin(), silences.end());
        run.failed = failures(i) - failedBefore[size_t(i)];
        run.pollsPerSecond = (polls - run.failed) / (t1 - t0);
        run.medianSilenceMs = silences.empty() ? 0 : silences[silences.size() / 2];
        run.leastSilenceMs = silences.empty() ? 0 : silences.front();
        run.ok = polls > 0;
        runs.push_back(run);
    }
    runner.stop();
    return runs;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    printf("Back-to-back whole-map reads of meter 1, flowsim --pace, %.0f s per rate and master\n", kSeconds);
    printf("  %-11s %-9s %9s %9s %7s %8s %14s %14s\n", "line", "master", "polls/s", "bus limit", "ratio",
           "/libmodbus", "silence med ms", "min silence ms");
    bool allRan = true;
    // A pseudo-terminal carries no parity: at 8E1 the simulator paces 11-bit characters anyway.
    for (const Line& l : {Line{"9600 8N1", cLineSettings(9600, 8, 'N', 1), "none"},
                          Line{"19200 8E1", cLineSettings(19200, 8, 'E', 1), "even"},
                          Line{"38400 8N1", cLineSettings(38400, 8, 'N', 1), "none"},
                          Line{"115200 8N1", cLineSettings(115200, 8, 'N', 1), "none"}}) {
        // A short run takes the slowest and the fastest rate.
        if (benchShort() && l.settings.baud != 9600 && l.settings.baud != 115200)
            continue;
        const double perPoll = (kRequestBytes + kAnswerBytes) * l.settings.characterUs() / 1e6 +
                               2 * l.settings.interFrameSilenceUs() / 1e6;
        const Run reference = libmodbusMaster(l);
        const Run hostMs = hostPort(l, true);
        const Run host = hostPort(l, false);
        const bool withPlugin = l.settings.baud == 9600 || l.settings.baud == 19200 || l.settings.baud == 115200;
        const std::vector<Run> alone = withPlugin ? pluginPolls(l) : std::vector<Run>();
        const std::vector<Run> both = withPlugin ? pluginPolls(l, 2) : std::vector<Run>();
        const Run none;
        const Run& plugin = alone.empty() ? none : alone[0];
        const Run& first = both.size() == 2 ? both[0] : none;
        const Run& second = both.size() == 2 ? both[1] : none;
        const std::pair<const char*, const Run*> rows[] = {{"libmodbus", &reference}, {"host ms", &hostMs},
                                                           {"host", &host},
                                                           {"plug-in", withPlugin ? &plugin : nullptr},
                                                           {"2 lines:1", withPlugin ? &first : nullptr},
                                                           {"2 lines:2", withPlugin ? &second : nullptr}};
        for (const auto& [master, run] : rows) {
            if (!run)
                continue;
            const Run& r = *run;
            if (!r.ok) {
                printf("  %-11s %-9s did not run\n", l.name, master);
                allRan = false;
                continue;
            }
            const double vsReference = reference.ok && reference.pollsPerSecond > 0
                                           ? r.pollsPerSecond / reference.pollsPerSecond
                                           : 0;
            printf("  %-11s %-9s %9.1f %9.1f %7.3f %10.3f %14.3f %14.3f%s", l.name, master, r.pollsPerSecond,
                   1 / perPoll, r.pollsPerSecond * perPoll, vsReference, r.medianSilenceMs, r.leastSilenceMs,
                   r.failed ? qPrintable(QString("  (%1 failed)").arg(r.failed)) : "");
            // Each of two lines polled at once against the line polled alone.
            if (run == &first || run == &second)
                printf("  %.3f of alone", plugin.ok && plugin.pollsPerSecond > 0 ? r.pollsPerSecond / plugin.pollsPerSecond : 0);
            printf("\n");
        }
    }
    printf("  bus limit: (%d + %d characters) plus two silences of 3.5 characters (1.75 ms above 19200)\n",
           kRequestBytes, kAnswerBytes);
    printf("  per poll; ratio = polls/s / bus limit; /libmodbus = polls/s / libmodbus's at the same line.\n");
    printf("  host ms: the host's port with the request delay in whole ms; host: the line's silence\n");
    printf("  in us, as the flow-meter plug-in queues.\n");
    printf("  plug-in: the program polling meters 1 to 8 back to back, counted at the tap; its\n");
    printf("  silence is a request's start less the previous one's less the simulator's part.\n");
    printf("  2 lines:N: line N of two polled at once, each on its own simulator at the same settings;\n");
    printf("  \"of alone\" = its polls/s / the plug-in's on one line alone.\n");
    printf("  Silence: the master's own, answer end to next request. The simulator answers a request\n");
    printf("  that came early as if it had waited, so a master that leaves no silence may pass 1.0.\n");
    return allRan ? 0 : 1;
}
