// Back-to-back polls against the simulator paced at each line rate: how many whole-map reads a
// libmodbus master gets through per second, against the bus limit of the same frames at that
// rate, and the silence it leaves between an answer and its next request (from the
// simulator's tap). The libmodbus master is the reference a host's poll loop is held to.
#include "FlowSim.h"
#include "ProgramRunner.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <modbus/modbus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr int kRequestBytes = 8;        // 01 03 00 00 00 10 + CRC
constexpr int kAnswerBytes = 3 + 32 + 2; // id, function, count, 16 registers, CRC
constexpr double kSeconds = 3.0;

struct Line
{
    const char* baud;
    int rate;
    int frameBits;
};

double gapSeconds(const Line& l)
{
    const double gap = 3.5 * l.frameBits / l.rate;
    return l.rate > 19200 && gap < 0.00175 ? 0.00175 : gap;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    printf("Back-to-back whole-map reads of meter 1, flowsim --pace, libmodbus master, %.0f s per rate\n", kSeconds);
    printf("  %-7s %9s %9s %7s %14s %14s\n", "rate", "polls/s", "bus limit", "ratio", "silence med ms",
           "min silence ms");
    for (const Line& l : {Line{"9600", 9600, 10}, Line{"19200", 19200, 10}, Line{"38400", 38400, 10},
                          Line{"115200", 115200, 10}}) {
        // Without -v: a back-to-back master would otherwise wait on a reader of its log.
        QTemporaryDir dir;
        const QString link = dir.path() + "/link", tap = dir.path() + "/tap";
        QProcess sim;
        sim.setStandardOutputFile(dir.path() + "/out");
        sim.setStandardErrorFile(dir.path() + "/out");
        sim.start(ProgramRunner::binDir() + "/flowsim", {"--ids", "1", "--link", link, "--tap", tap, "--pace", "--baud", l.baud});
        for (int i = 0; i < 250 && !QFileInfo::exists(link) && sim.state() != QProcess::NotRunning; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        modbus_t* m = modbus_new_rtu(link.toLocal8Bit().constData(), l.rate, 'N', 8, 1);
        if (!m || modbus_connect(m) != 0) {
            fprintf(stderr, "flowsim did not start, or its link %s cannot be opened\n", qPrintable(link));
            return 1;
        }
        modbus_set_slave(m, 1);
        modbus_set_response_timeout(m, 0, 500000);
        uint16_t r[16];
        int polls = 0, failed = 0;
        std::vector<double> answerEnds; // seconds, CLOCK_MONOTONIC (steady_clock on Linux)
        const auto t0 = std::chrono::steady_clock::now();
        const auto until = t0 + std::chrono::duration<double>(kSeconds);
        while (std::chrono::steady_clock::now() < until) {
            if (modbus_read_registers(m, 0, 16, r) == 16)
                ++polls;
            else
                ++failed;
            answerEnds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count());
        }
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        modbus_close(m);
        modbus_free(m);

        // The master's silence: from the end of an answer it took in to the next request's
        // first byte at the meter.
        const QVector<FlowSim::Frame> frames = FlowSim::readTap(tap);
        std::vector<double> silences;
        for (int i = 1; i < frames.size() && size_t(i) <= answerEnds.size(); ++i)
            silences.push_back(double(frames[i].startUs) / 1e3 - answerEnds[size_t(i) - 1] * 1e3);
        std::sort(silences.begin(), silences.end());
        const double median = silences.empty() ? 0 : silences[silences.size() / 2];
        const double least = silences.empty() ? 0 : silences.front();

        const double perPoll = (kRequestBytes + kAnswerBytes) * double(l.frameBits) / l.rate + 2 * gapSeconds(l);
        sim.terminate();
        sim.waitForFinished(5000);
        const double rate = polls / elapsed;
        printf("  %-7s %9.1f %9.1f %7.2f %14.3f %14.3f%s\n", l.baud, rate, 1 / perPoll, rate * perPoll, median, least,
               failed ? qPrintable(QString("  (%1 failed)").arg(failed)) : "");
    }
    printf("  bus limit: (%d + %d characters) plus two silences of 3.5 characters (1.75 ms above 19200)\n",
           kRequestBytes, kAnswerBytes);
    printf("  per poll; ratio = polls/s / bus limit. Silence: the master's own, answer end to next request.\n");
    return 0;
}
