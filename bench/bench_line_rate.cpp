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
#include <QTemporaryDir>

#include <modbus/modbus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRequestBytes = 8;        // 01 03 00 00 00 10 + CRC
constexpr int kAnswerBytes = 3 + 32 + 2; // id, function, count, 16 registers, CRC
constexpr double kSeconds = 3.0;
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

// Eight meters at the plug-in's shortest period: a round of eight reads takes longer than the
// period at these rates, so the poll loop reads one meter after the other without a pause.
// Polls are counted at the simulator's tap, from a second after the first round on.
Run pluginPolls(const Line& l)
{
    PacedSim sim(l, "1,2,3,4,5,6,7,8");
    sim.unsetRate();
    QTemporaryDir root;
    ProgramRunner runner;
    const QString bin = stageFlowMeterProgram(root.path());
    if (bin.isEmpty()) {
        fprintf(stderr, "the program could not be staged in %s\n", qPrintable(root.path()));
        return {};
    }
    runner.setProgramDir(bin);
    QProcessEnvironment env = runner.process().processEnvironment();
    env.insert("CORVANE_FLOWMETER_PORT", sim.link);
    env.insert("CORVANE_FLOWMETER_IDS", "1-8");
    runner.process().setProcessEnvironment(env);
    QDir().mkpath(runner.configDir() + "/Tessmark");
    QFile conf(runner.configDir() + "/Tessmark/Corvane.conf");
    const QString settings = QString("[FlowMeter]\nbaud=%1\ndataBits=%2\nparity=%3\nstopBits=%4\nperiod=50\n")
                                 .arg(l.settings.baud)
                                 .arg(l.settings.dataBits)
                                 .arg(QChar(l.settings.parity))
                                 .arg(l.settings.stopBits);
    if (!conf.open(QIODevice::WriteOnly) || conf.write(settings.toLocal8Bit()) < 0)
        return {};
    conf.close();
    if (!runner.start({}) || !runner.waitFor("plugin: Unit 8: flow")) {
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
    const int failedBefore = runner.out().count(": poll failed");
    const double t0 = secondsNow();
    drain(kSeconds);
    const double t1 = secondsNow();
    const int failedAfter = runner.out().count(": poll failed");
    runner.stop();

    Run run;
    int polls = 0;
    std::vector<double> starts;
    for (const FlowSim::Frame& f : FlowSim::readTap(sim.tap)) {
        const double s = double(f.startUs) / 1e6;
        if (s >= t0 && s < t1) {
            ++polls;
            starts.push_back(s * 1e3);
        }
    }
    // The program's silence, from the tap alone: the time between two requests less what the
    // paced simulator takes for the request, its silence and the answer.
    const double answeredMs =
        ((kRequestBytes + kAnswerBytes) * l.settings.characterUs() + l.settings.interFrameSilenceUs()) / 1e3;
    std::vector<double> silences;
    for (size_t i = 1; i < starts.size(); ++i)
        silences.push_back(starts[i] - starts[i - 1] - answeredMs);
    std::sort(silences.begin(), silences.end());
    run.failed = failedAfter - failedBefore;
    run.pollsPerSecond = (polls - run.failed) / (t1 - t0);
    run.medianSilenceMs = silences.empty() ? 0 : silences[silences.size() / 2];
    run.leastSilenceMs = silences.empty() ? 0 : silences.front();
    run.ok = polls > 0;
    return run;
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
        const double perPoll = (kRequestBytes + kAnswerBytes) * l.settings.characterUs() / 1e6 +
                               2 * l.settings.interFrameSilenceUs() / 1e6;
        const Run reference = libmodbusMaster(l);
        const Run hostMs = hostPort(l, true);
        const Run host = hostPort(l, false);
        const bool withPlugin = l.settings.baud == 19200 || l.settings.baud == 115200;
        const Run plugin = withPlugin ? pluginPolls(l) : Run();
        const std::pair<const char*, const Run*> rows[] = {{"libmodbus", &reference}, {"host ms", &hostMs},
                                                           {"host", &host},
                                                           {"plug-in", withPlugin ? &plugin : nullptr}};
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
            printf("  %-11s %-9s %9.1f %9.1f %7.3f %10.3f %14.3f %14.3f%s\n", l.name, master, r.pollsPerSecond,
                   1 / perPoll, r.pollsPerSecond * perPoll, vsReference, r.medianSilenceMs, r.leastSilenceMs,
                   r.failed ? qPrintable(QString("  (%1 failed)").arg(r.failed)) : "");
        }
    }
    printf("  bus limit: (%d + %d characters) plus two silences of 3.5 characters (1.75 ms above 19200)\n",
           kRequestBytes, kAnswerBytes);
    printf("  per poll; ratio = polls/s / bus limit; /libmodbus = polls/s / libmodbus's at the same line.\n");
    printf("  host ms: the host's port with the request delay in whole ms; host: the line's silence\n");
    printf("  in us, as the flow-meter plug-in queues.\n");
    printf("  plug-in: the program polling meters 1 to 8 back to back, counted at the tap; its\n");
    printf("  silence is a request's start less the previous one's less the simulator's part.\n");
    printf("  Silence: the master's own, answer end to next request. The simulator answers a request\n");
    printf("  that came early as if it had waited, so a master that leaves no silence may pass 1.0.\n");
    return allRan ? 0 : 1;
}
