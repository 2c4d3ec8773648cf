// The real program recording 64 simulated meters (two lines of 32) every second, against the
// same program polling the same meters without recording, measured in the same run:
//
//  - CPU of the program over a minute (from /proc/<pid>/stat), with and without recording;
//  - bytes written to the record files, per minute and per day;
//  - fdatasync calls per minute, counted by strace in a third run of its own (strace stops the
//    program at each traced call, so its CPU is not taken from that run).
//
// CORVANE_BENCH_SECONDS sets the runs' length (default 60, 4 with CORVANE_BENCH_SHORT=1).
#include "BenchShort.h"
#include "ProcessCpu.h"
#include "FlowSim.h"
#include "ProgramRunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

qint64 folderBytes(const QString& folder)
{
    qint64 n = 0;
    for (const QFileInfo& f : QDir(folder).entryInfoList({"*.csv"}, QDir::Files))
        n += f.size();
    return n;
}

QString ids(int from, int count)
{
    QStringList out;
    for (int i = from; i < from + count; ++i)
        out << QString::number(i);
    return out.join(',');
}

struct Run
{
    double cpu = -1;
    qint64 bytes = 0;
    int fdatasyncs = -1;
    double seconds = 0;
};

// One run of the program on the two lines; recording into `records` when it is not empty.
Run run(const FlowSim& a, const FlowSim& b, const QString& records, int seconds, bool strace)
{
    Run r;
    ProgramRunner p;
    {
        QSettings s(p.configDir() + "/Tessmark/Corvane.conf", QSettings::IniFormat);
        s.setValue("FlowMeter/recordFolder", records.isEmpty() ? p.dataDir() + "/none" : records);
        s.setValue("FlowMeter/recordInterval", 1);
        s.setValue("FlowMeter/recording", !records.isEmpty());
    }
    QProcessEnvironment env = p.process().processEnvironment();
    env.insert("CORVANE_FLOWMETER_PORT", a.link);
    env.insert("CORVANE_FLOWMETER_IDS", ids(1, 32));
    env.insert("CORVANE_FLOWMETER_PORT2", b.link);
    env.insert("CORVANE_FLOWMETER_IDS2", ids(33, 32));
    p.process().setProcessEnvironment(env);
    if (!p.start({}))
        return r;
    // Settled: both lines polled, the first rows written.
    spin(5000);
    const qint64 pid = p.process().processId();
    QProcess tracer;
    if (strace) {
        tracer.setProcessChannelMode(QProcess::MergedChannels);
        tracer.start("strace", {"-f", "-c", "-e", "trace=fdatasync", "-p", QString::number(pid)});
        tracer.waitForStarted();
        spin(1000);
    }
    const double cpu0 = cpuSeconds(pid);
    const qint64 bytes0 = records.isEmpty() ? 0 : folderBytes(records);
    spin(seconds * 1000);
    r.cpu = cpuSeconds(pid) - cpu0;
    r.bytes = records.isEmpty() ? 0 : folderBytes(records) - bytes0;
    r.seconds = seconds;
    if (strace) {
        tracer.terminate();
        tracer.waitForFinished(10000);
        const QString out = QString::fromLocal8Bit(tracer.readAll());
        // "% time  seconds  usecs/call  calls  [errors]  syscall": the calls are the fourth.
        r.fdatasyncs = out.contains("fdatasync") ? -1 : 0;
        for (const QString& l : out.split('\n')) {
            const QStringList f = l.simplified().split(' ');
            if (f.size() >= 5 && f.last() == "fdatasync")
                r.fdatasyncs = f[3].toInt();
        }
        if (r.fdatasyncs < 0)
            fprintf(stderr, "strace said:\n%s\n", qPrintable(out));
    }
    p.stop();
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The simulators and the program are the build's, beside the benchmark.
    qputenv("CORVANE_BIN_DIR", ProgramRunner::binDir().toLocal8Bit());
    const int seconds = qEnvironmentVariableIntValue("CORVANE_BENCH_SECONDS") > 0
                            ? qEnvironmentVariableIntValue("CORVANE_BENCH_SECONDS")
                            : benchShortOr(60, 4);
    FlowSim a(ids(1, 32));
    FlowSim b(ids(33, 32));
    if (!a.started || !b.started) {
        fprintf(stderr, "bench_recorder: the simulators did not start\n");
        return 1;
    }
    QTemporaryDir records;
    printf("64 meters on 2 lines (FM-1, 200 ms poll period), recording every 1 s, %d s per run\n", seconds);
    const Run polling = run(a, b, QString(), seconds, false);
    const Run recording = run(a, b, records.path() + "/cpu", seconds, false);
    const Run traced = run(a, b, records.path() + "/traced", seconds / 2, true);
    if (polling.cpu < 0 || recording.cpu < 0) {
        fprintf(stderr, "bench_recorder: the program did not run\n");
        return 1;
    }
    if (recording.bytes <= 0) {
        fprintf(stderr, "bench_recorder: the program recorded nothing into %s\n", qPrintable(records.path() + "/cpu"));
        return 1;
    }
    printf("CPU of the program, polling only (reference): %.2f s in %d s (%.2f %%)\n", polling.cpu, seconds,
           100 * polling.cpu / seconds);
    printf("CPU of the program, polling and recording:    %.2f s in %d s (%.2f %%)\n", recording.cpu, seconds,
           100 * recording.cpu / seconds);
    printf("recording adds %.2f s of CPU per minute (%.2f x the reference)\n",
           (recording.cpu - polling.cpu) * 60 / seconds, recording.cpu / std::max(polling.cpu, 0.01));
    printf("bytes written: %lld in %d s = %.0f per minute, %.1f MB per day (%.0f bytes per row)\n",
           static_cast<long long>(recording.bytes), seconds, recording.bytes * 60.0 / seconds,
           recording.bytes * 86400.0 / seconds / 1e6, recording.bytes / (64.0 * seconds));
    if (traced.fdatasyncs >= 0)
        printf("fdatasync calls: %d in %.0f s = %.1f per minute (2 lines, 1 row batch per line and second: 120 expected)\n",
               traced.fdatasyncs, traced.seconds, traced.fdatasyncs * 60.0 / traced.seconds);
    else
        printf("fdatasync calls: not counted (strace missing or not permitted)\n");
    return 0;
}
