// The real program with the real flow-meter plug-in polling three simulated meters, in two runs:
//
//  1. Polling every 200 ms on an unpaced link: the CPU of the program and of the simulator,
//     and how many polls were answered on time.
//  2. Polling back to back (the shortest period the plug-in takes) on a link paced at the
//     9600 8N1 wire rate, through a tap that timestamps every byte: polls per second against
//     the bus limit of the same frames, against a bare client measured in the same run, and
//     the silence the program leaves between an answer and its next request.
#include "BenchShort.h"
#include "ProcessCpu.h"
#include "FlowSim.h"
#include "ModbusCrc.h"
#include "ProgramRunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QMap>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// One character of 9600 8N1 is ten bits; the simulator paces at this rate.
constexpr double kCharMs = 10.0 / 9.6;
constexpr double kSilenceChars = 3.5;
constexpr int kMeters = 3;
constexpr int kPeriodMs = 200;
// A meter read later than this after its previous reading was not read on time.
constexpr int kLateAfterMs = kPeriodMs + 20;
const int kCpuSeconds = benchShortOr(15, 3);
const int kPacedSeconds = benchShortOr(10, 3);
const int kBareSeconds = benchShortOr(5, 2);

double msNow()
{
    return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
}

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Every line a process writes, with the time it arrived.
struct TimedLines
{
    struct Line
    {
        double ms;
        QString text;
    };
    std::vector<Line> lines;
    QByteArray partial;
    QMetaObject::Connection connection;

    // The process may still write while it ends, after these lines are gone.
    ~TimedLines() { QObject::disconnect(connection); }

    void attach(QProcess& p, QProcess::ProcessChannel channel)
    {
        const auto take = [this, &p, channel] {
            const double t = msNow();
            p.setReadChannel(channel);
            partial += p.readAll();
            int eol;
            while ((eol = partial.indexOf('\n')) >= 0) {
                lines.push_back({t, QString::fromLocal8Bit(partial.left(eol))});
                partial.remove(0, eol + 1);
            }
        };
        connection = QObject::connect(&p, channel == QProcess::StandardOutput ? &QProcess::readyReadStandardOutput
                                                                 : &QProcess::readyReadStandardError,
                         take);
    }

    // Waits, at most 10 s, until a line holds `text`.
    bool waitFor(const QString& text)
    {
        for (int i = 0; i < 100; ++i) {
            if (std::any_of(lines.begin(), lines.end(), [&](const Line& l) { return l.text.contains(text); }))
                return true;
            spin(100);
        }
        return false;
    }
};

// The program staged in its own folder with a copy of the built plug-in, as an installed
// program is: its plug-ins beside it, its settings in a temporary folder.
struct StagedProgram
{
    QTemporaryDir root;
    ProgramRunner runner;
    TimedLines out;
    bool ok = false;

    // `settings` are keys of the [FlowMeter] group.
    StagedProgram(const QString& port, const QVariantMap& settings)
    {
        const QString bin = ProgramRunner::stageProgram(root.path());
        if (bin.isEmpty() || !ProgramRunner::stageFlowmeter(bin))
            return;
        runner.setProgramDir(bin);
        QProcessEnvironment env = runner.process().processEnvironment();
        env.insert("CORVANE_FLOWMETER_PORT", port);
        env.insert("CORVANE_FLOWMETER_IDS", "1,2,3");
        // The readings are timed by the plug-in's line per reading.
        env.insert("CORVANE_FLOWMETER_POLL_LINES", "1");
        runner.process().setProcessEnvironment(env);
        if (!settings.isEmpty()) {
            QSettings conf(runner.configDir() + "/Tessmark/Corvane.conf", QSettings::IniFormat);
            for (auto i = settings.begin(); i != settings.end(); ++i)
                conf.setValue("FlowMeter/" + i.key(), i.value());
            conf.sync();
            if (conf.status() != QSettings::NoError)
                return;
        }
        if (!runner.start({}))
            return;
        out.attach(runner.process(), QProcess::StandardOutput);
        // Running once every meter has been read.
        ok = out.waitFor("plugin: Unit 3: flow");
    }
    ~StagedProgram() { runner.stop(); }
};

// One line on `port` with meters 1 to 3 (the first model), polled every `periodMs`, meter `selected` of
// it on show (0: none), as the plug-in saves its settings.
QVariantMap oneLine(const QString& port, int periodMs, int selected)
{
    QVariantMap s{{"lines/size", 1},          {"lines/1/port", port},       {"lines/1/period", periodMs},
                  {"lines/1/meters/size", kMeters}, {"selectedLine", 0}, {"selected", selected}};
    for (int id = 1; id <= kMeters; ++id)
        s.insert(QString("lines/1/meters/%1/id").arg(id), id);
    return s;
}

// A man in the middle on the line: the program opens one end of a pseudo-terminal pair of its
// own, the tap forwards every byte to and from the simulator at once and notes when it passed.
// Answer bytes leave the paced simulator at the end of their time on the wire, so the tap sees
// the line as a meter on a real bus would.
class Tap
{
public:
    struct Chunk
    {
        double ms;
        bool fromHost;
        int bytes;
    };

    explicit Tap(const QString& simulatorPath, const QString& linkPath)
    {
        sim = ::open(simulatorPath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        char name[256];
        if (sim < 0 || openpty(&host, &hostSide, name, nullptr, nullptr) != 0)
            return;
        for (int fd : {sim, hostSide}) {
            termios t;
            if (tcgetattr(fd, &t) == 0) {
                cfmakeraw(&t);
                tcsetattr(fd, TCSANOW, &t);
            }
        }
        fcntl(host, F_SETFL, fcntl(host, F_GETFL) | O_NONBLOCK);
        if (!QFile::link(QString::fromLocal8Bit(name), linkPath))
            return;
        chunks.reserve(200000);
        worker = std::thread([this] { run(); });
        ok = true;
    }
    ~Tap()
    {
        stopping = true;
        if (worker.joinable())
            worker.join();
        for (int fd : {sim, host, hostSide})
            if (fd >= 0)
                ::close(fd);
    }
    std::vector<Chunk> taken()
    {
        std::lock_guard<std::mutex> g(mutex);
        return chunks;
    }

    bool ok = false;

private:
    void run()
    {
        while (!stopping) {
            pollfd fds[2] = {{host, POLLIN, 0}, {sim, POLLIN, 0}};
            if (poll(fds, 2, 50) <= 0)
                continue;
            for (int i = 0; i < 2; ++i) {
                if (!(fds[i].revents & POLLIN))
                    continue;
                unsigned char buf[512];
                const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
                if (n <= 0)
                    continue;
                const double t = msNow();
                const int to = i == 0 ? sim : host;
                for (ssize_t done = 0; done < n;) {
                    const ssize_t w = ::write(to, buf + done, size_t(n - done));
                    if (w > 0)
                        done += w;
                    else if (errno != EAGAIN && errno != EINTR)
                        break;
                }
                std::lock_guard<std::mutex> g(mutex);
                chunks.push_back({t, i == 0, int(n)});
            }
        }
    }

    int sim = -1, host = -1, hostSide = -1;
    std::atomic<bool> stopping{false};
    std::thread worker;
    std::mutex mutex;
    std::vector<Chunk> chunks;
};

struct Frame
{
    double start, end;
    bool fromHost;
    int bytes;
};

// The line is half duplex: a frame runs until the other side speaks.
std::vector<Frame> frames(const std::vector<Tap::Chunk>& chunks, double from, double to)
{
    std::vector<Frame> all;
    for (const Tap::Chunk& c : chunks) {
        if (c.ms < from || c.ms > to)
            continue;
        if (!all.empty() && all.back().fromHost == c.fromHost) {
            all.back().end = c.ms;
            all.back().bytes += c.bytes;
        } else {
            all.push_back({c.ms, c.ms, c.fromHost, c.bytes});
        }
    }
    // The window cuts into the frames at its edges.
    if (all.size() < 2)
        return {};
    return std::vector<Frame>(all.begin() + 1, all.end() - 1);
}

// The best a client can do on the same paced simulator: each request written exactly 3.5
// characters after the last byte of the previous answer, with nothing else in between.
double barePollsPerSecond(const QString& path, int seconds, int* wrong)
{
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t;
    if (fd < 0 || tcgetattr(fd, &t) != 0)
        return 0;
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    std::vector<std::vector<unsigned char>> requests;
    for (int id = 1; id <= kMeters; ++id)
        requests.push_back(withModbusCrc({(unsigned char)id, 0x03, 0x00, 0x00, 0x00, 0x10}));
    const size_t answerSize = 37;
    int done = 0;
    timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    const double t0 = msNow();
    while (msNow() - t0 < seconds * 1000.0) {
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        const auto& request = requests[size_t(done % kMeters)];
        if (::write(fd, request.data(), request.size()) != ssize_t(request.size()))
            break;
        unsigned char answer[64];
        size_t got = 0;
        while (got < answerSize) {
            pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, 200) <= 0)
                break;
            const ssize_t n = ::read(fd, answer + got, sizeof answer - got);
            if (n <= 0)
                break;
            got += size_t(n);
        }
        if (got != answerSize || answer[0] != request[0])
            (*wrong)++;
        clock_gettime(CLOCK_MONOTONIC, &next);
        const long silenceNs = long(kSilenceChars * kCharMs * 1e6);
        next.tv_nsec += silenceNs;
        if (next.tv_nsec >= 1000000000L) {
            next.tv_nsec -= 1000000000L;
            next.tv_sec++;
        }
        done++;
    }
    const double elapsed = msNow() - t0;
    ::close(fd);
    return done * 1000.0 / elapsed;
}

int pollingEvery200ms()
{
    FlowSim sim("1,2,3");
    if (!sim.started) {
        fprintf(stderr, "flowsim did not start\n");
        return 1;
    }
    TimedLines simOut;
    simOut.attach(sim.proc, QProcess::StandardOutput);
    // Meter 1 on show, as the plug-in restores it from its settings: its page and trend are
    // redrawn at every reading, which is the window's real work.
    StagedProgram program(sim.link, oneLine(sim.link, kPeriodMs, 1));
    if (!program.ok || !program.out.waitFor("cMainWindow: Selected " + sim.link + " / Meter 1 (")) {
        fprintf(stderr, "the program did not read the meters or show meter 1:\n%s\n",
                qPrintable(program.runner.err().right(2000)));
        return 1;
    }
    // The start-up is behind us; the window is steady polling only.
    spin(1000);
    const qint64 programPid = program.runner.process().processId();
    const qint64 simPid = sim.proc.processId();
    const double programCpu0 = cpuSeconds(programPid), simCpu0 = cpuSeconds(simPid);
    const double t0 = msNow();
    spin(kCpuSeconds * 1000);
    const double programCpu1 = cpuSeconds(programPid), simCpu1 = cpuSeconds(simPid);
    const double t1 = msNow();
    const double wall = (t1 - t0) / 1000.0;

    // Readings and failures per meter, as the plug-in logged them.
    QMap<int, std::vector<double>> readAt;
    int failed = 0;
    const QRegularExpression reading("plugin: Unit (\\d+): flow ");
    QMap<int, double> before;
    for (const TimedLines::Line& l : program.out.lines) {
        if (l.ms > t1)
            continue;
        const auto m = reading.match(l.text);
        if (m.hasMatch() && l.ms < t0)
            before[m.captured(1).toInt()] = l.ms;
        else if (m.hasMatch())
            readAt[m.captured(1).toInt()].push_back(l.ms);
        else if (l.ms >= t0 && l.text.contains(": poll failed"))
            failed++;
    }
    int made = failed, onTime = 0, due = 0;
    double longest = 0, intervals = 0, sumInterval = 0;
    for (int id = 1; id <= kMeters; ++id) {
        const std::vector<double>& at = readAt[id];
        made += int(at.size());
        due += int(wall * 1000 / kPeriodMs);
        // The first reading in the window is judged against the last one before it.
        double previous = before.value(id, t0);
        for (double t : at) {
            const double gap = t - previous;
            if (gap <= kLateAfterMs)
                onTime++;
            longest = std::max(longest, gap);
            sumInterval += gap;
            intervals++;
            previous = t;
        }
    }
    int simAnswers = 0;
    for (const TimedLines::Line& l : simOut.lines)
        if (l.ms >= t0 && l.ms <= t1 && l.text.startsWith("flowsim: -> "))
            simAnswers++;

    const double programPct = 100.0 * (programCpu1 - programCpu0) / wall;
    const double simPct = 100.0 * (simCpu1 - simCpu0) / wall;
    printf("Three meters polled every %d ms, unpaced link, meter 1 on show, %.1f s window after start-up\n",
           kPeriodMs, wall);
    printf("  CPU of the program:   %6.2f %% of one core (target under 3 %%: %.2f of the target)\n", programPct,
           programPct / 3.0);
    printf("  CPU of the simulator: %6.2f %% of one core (with -v); program / simulator = %.2f\n", simPct,
           simPct > 0 ? programPct / simPct : 0.0);
    printf("  polls made %d (simulator answered %d), due at exactly %d ms: %d; failed %d\n", made, simAnswers,
           kPeriodMs, due, failed);
    printf("  a poll is on time when its reading is logged within %d ms (period + 20 ms) of the\n"
           "  meter's previous reading; a failed poll is not on time\n",
           kLateAfterMs);
    printf("  answered on time: %d of %d polls made = %.1f %% (mean interval %.1f ms, longest %.1f ms)\n", onTime,
           made, made ? 100.0 * onTime / made : 0.0, intervals ? sumInterval / intervals : 0.0, longest);
    return 0;
}

int pollingBackToBack()
{
    FlowSim sim("1,2,3", {"--pace"});
    if (!sim.started) {
        fprintf(stderr, "flowsim did not start\n");
        return 1;
    }
    // The simulator's -v lines are drained so that it never waits on a full pipe.
    TimedLines simOut;
    simOut.attach(sim.proc, QProcess::StandardOutput);
    const QString tapped = sim.dir.path() + "/tapped";
    std::vector<Tap::Chunk> chunks;
    double t0 = 0, t1 = 0;
    int failed = 0;
    {
        Tap tap(sim.link, tapped);
        if (!tap.ok) {
            fprintf(stderr, "cannot tap the simulator's line\n");
            return 1;
        }
        // 50 ms is the shortest period the plug-in takes: three paced polls take longer, so
        // it polls back to back.
        StagedProgram program(tapped, oneLine(tapped, 50, 0));
        if (!program.ok) {
            fprintf(stderr, "the program did not read the meters:\n%s\n", qPrintable(program.runner.err().right(2000)));
            return 1;
        }
        spin(1000);
        t0 = msNow();
        spin(kPacedSeconds * 1000);
        t1 = msNow();
        chunks = tap.taken();
        for (const TimedLines::Line& l : program.out.lines)
            if (l.ms >= t0 && l.ms <= t1 && l.text.contains(": poll failed"))
                failed++;
    }

    const std::vector<Frame> line = frames(chunks, t0, t1);
    int requests = 0, answers = 0;
    double requestBytes = 0, answerBytes = 0;
    double firstRequest = -1, lastRequest = 0;
    double minSilence = 1e9, sumSilence = 0;
    int silences = 0, tooShort = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        const Frame& f = line[i];
        if (f.fromHost) {
            requests++;
            requestBytes += f.bytes;
            if (firstRequest < 0)
                firstRequest = f.start;
            lastRequest = f.start;
            if (i > 0 && !line[i - 1].fromHost) {
                const double s = f.start - line[i - 1].end;
                minSilence = std::min(minSilence, s);
                sumSilence += s;
                silences++;
                if (s < kSilenceChars * kCharMs)
                    tooShort++;
            }
        } else {
            answers++;
            answerBytes += f.bytes;
        }
    }
    if (requests < 2 || answers == 0) {
        fprintf(stderr, "no polls seen on the tapped line\n");
        return 1;
    }
    const double pollsPerSecond = (requests - 1) * 1000.0 / (lastRequest - firstRequest);
    const double req = requestBytes / requests, ans = answerBytes / answers;
    const double limitMs = (req + ans + 2 * kSilenceChars) * kCharMs;
    const double limit = 1000.0 / limitMs;

    int bareWrong = 0;
    const double bare = barePollsPerSecond(sim.link, kBareSeconds, &bareWrong);

    printf("Three meters polled back to back (period 50 ms), link paced at 9600 8N1, %.1f s window\n",
           (t1 - t0) / 1000.0);
    printf("  one character = 10 bits / 9600 = %.3f ms (the simulator's pacing); 3.5 characters = %.2f ms\n"
           "  (3.36 ms if one took 0.96 ms per character)\n",
           kCharMs, kSilenceChars * kCharMs);
    printf("  frames: request %.1f bytes, answer %.1f bytes; failed polls %d\n", req, ans, failed);
    printf("  bus limit = (request + answer + 2 x 3.5 characters) x %.3f ms = %.2f ms per poll = %.2f polls/s\n",
           kCharMs, limitMs, limit);
    printf("  program:     %6.2f polls/s = %.1f %% of the bus limit (target at least 90 %%)\n", pollsPerSecond,
           100.0 * pollsPerSecond / limit);
    printf("  bare client: %6.2f polls/s = %.1f %% of the bus limit (same simulator, exactly 3.5 characters of\n"
           "               silence after each answer, %d wrong answers); program / bare client = %.3f\n",
           bare, 100.0 * bare / limit, bareWrong, bare > 0 ? pollsPerSecond / bare : 0.0);
    printf("  silence from the end of an answer to the next request, at a tap on the line (%d gaps):\n"
           "    smallest %.2f ms, mean %.2f ms; %d below 3.5 characters (%.2f ms)\n",
           silences, minSilence, silences ? sumSilence / silences : 0.0, tooShort, kSilenceChars * kCharMs);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    qputenv("CORVANE_BIN_DIR", ProgramRunner::binDir().toLocal8Bit());
    if (!QFile::exists(ProgramRunner::binDir() + "/flowsim") ||
        !QFile::exists(ProgramRunner::binDir() + "/plugins/flowmeter.plg")) {
        printf("bench_flowmeter: flowsim or the flow-meter plug-in was not built; nothing to measure\n");
        return 0;
    }
    const int first = pollingEvery200ms();
    const int second = pollingBackToBack();
    return first || second;
}
