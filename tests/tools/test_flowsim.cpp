// The flow-meter simulator against libmodbus's own master on the other end of its link.
#include "FlowSim.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <modbus/modbus.h>

#include <cerrno>
#include <cmath>
#include <chrono>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

qint64 monotonicUs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// What a host does to an open port: new rate and stop bits, the rest as it was.
bool setLine(modbus_t* m, speed_t rate, int stopBits)
{
    termios t;
    const int fd = modbus_get_socket(m);
    if (tcgetattr(fd, &t) != 0)
        return false;
    cfsetispeed(&t, rate);
    cfsetospeed(&t, rate);
    t.c_cflag = stopBits == 2 ? t.c_cflag | CSTOPB : t.c_cflag & ~tcflag_t(CSTOPB);
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

float toFloat(const uint16_t* r)
{
    const uint32_t bits = (uint32_t(r[0]) << 16) | r[1];
    float f;
    memcpy(&f, &bits, sizeof f);
    return f;
}

// A running simulator in a temporary folder, and a libmodbus master on its link.
class Sim
{
public:
    explicit Sim(const QStringList& extra = {})
    {
        link = dir.path() + "/link";
        control = dir.path() + "/control";
        tap = dir.path() + "/tap";
        proc.setProcessChannelMode(QProcess::MergedChannels);
        const QByteArray bin = qgetenv("CORVANE_BIN_DIR");
        proc.start(QString::fromLocal8Bit(bin) + "/flowsim",
                   QStringList{"--ids", "1,2,3", "--link", link, "--control", control, "--tap", tap} + extra);
        started = proc.waitForStarted(5000) && waitFor("flowsim: open");
    }
    ~Sim()
    {
        closeMaster();
        proc.terminate();
        proc.waitForFinished(5000);
    }

    bool waitFor(const QString& text, int ms = 5000)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            output += QString::fromLocal8Bit(proc.readAll());
            if (output.contains(text))
                return true;
            proc.waitForReadyRead(20);
        }
        return false;
    }

    void command(const QString& line, const QString& answer = QString())
    {
        const QByteArray bytes = (line + "\n").toLocal8Bit();
        const int fd = ::open(control.toLocal8Bit().constData(), O_WRONLY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
        ::close(fd);
        QVERIFY(waitFor(answer.isEmpty() ? "flowsim: " + line : answer));
    }

    modbus_t* master()
    {
        if (!ctx) {
            ctx = modbus_new_rtu(link.toLocal8Bit().constData(), baud, parity, 8, stopBits);
            modbus_set_response_timeout(ctx, 0, 300000);
            if (modbus_connect(ctx) != 0) {
                modbus_free(ctx);
                ctx = nullptr;
            }
        }
        return ctx;
    }
    void closeMaster()
    {
        if (ctx) {
            modbus_close(ctx);
            modbus_free(ctx);
            ctx = nullptr;
        }
    }

    QTemporaryDir dir;
    QString link, control, tap, output;
    QProcess proc;
    bool started = false;
    modbus_t* ctx = nullptr;
    // The master's line, taken when it connects.
    int baud = 9600;
    char parity = 'N';
    int stopBits = 1;
};

} // namespace

class TestFlowsim : public QObject
{
    Q_OBJECT

private slots:
    void metersAnswerWithTheirRegisterMap()
    {
        Sim sim;
        QVERIFY(sim.started);
        QVERIFY(QFileInfo(sim.link).isSymLink());
        modbus_t* m = sim.master();
        QVERIFY(m);
        for (int id = 1; id <= 3; ++id) {
            modbus_set_slave(m, id);
            uint16_t r[16];
            QCOMPARE(modbus_read_registers(m, 0, 16, r), 16);
            const float flow = toFloat(r);
            const float base = 8.0f + 4.0f * (id - 1);
            QVERIFY2(flow > base * 0.7f && flow < base * 1.3f, qPrintable(QString::number(flow)));
            QVERIFY(toFloat(r + 2) > 1000.0f * id);           // totalizer
            QVERIFY(toFloat(r + 4) > 10 && toFloat(r + 4) < 30); // temperature
            QCOMPARE((uint32_t(r[8]) << 16) | r[9], uint32_t(24070000 + id * 137));
            QCOMPARE(int(r[10]), 0x0102);
            QCOMPARE(int(r[7]) & 1, 1);
        }
        // No meter at id 4: the line stays silent.
        modbus_set_slave(m, 4);
        uint16_t r[2];
        QCOMPARE(modbus_read_registers(m, 0, 2, r), -1);
        QCOMPARE(errno, ETIMEDOUT);
        // An address beyond the map is refused by the meter.
        modbus_set_slave(m, 1);
        QCOMPARE(modbus_read_registers(m, 100, 2, r), -1);
        QCOMPARE(errno, int(EMBXILADD));
    }

    void totalizerResetsAndSettingsStick()
    {
        Sim sim;
        QVERIFY(sim.started);
        modbus_t* m = sim.master();
        QVERIFY(m);
        modbus_set_slave(m, 2);
        uint16_t r[16];
        QCOMPARE(modbus_read_registers(m, 0, 16, r), 16);
        QVERIFY(toFloat(r + 2) > 2000.0f);
        QCOMPARE(modbus_write_register(m, 12, 1), 1);
        QCOMPARE(modbus_write_register(m, 11, 25), 1);
        QCOMPARE(modbus_read_registers(m, 0, 16, r), 16);
        QVERIFY(toFloat(r + 2) < 0.01f);
        QCOMPARE(int(r[11]), 25);
        QCOMPARE(int(r[12]), 0);
        // The totalizer integrates the flow from zero again.
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        QCOMPARE(modbus_read_registers(m, 0, 4, r), 4);
        QVERIFY(toFloat(r + 2) > 0.0f);
        // Other meters are untouched.
        modbus_set_slave(m, 3);
        QCOMPARE(modbus_read_registers(m, 2, 2, r), 2);
        QVERIFY(toFloat(r) > 3000.0f);
    }

    void faultsOnRequest()
    {
        Sim sim;
        QVERIFY(sim.started);
        modbus_t* m = sim.master();
        QVERIFY(m);
        modbus_set_slave(m, 1);
        uint16_t r[4];

        sim.command("silence 1");
        QCOMPARE(modbus_read_registers(m, 0, 4, r), -1);
        QCOMPARE(errno, ETIMEDOUT);
        QCOMPARE(modbus_read_registers(m, 0, 4, r), 4);

        sim.command("crc 1");
        QCOMPARE(modbus_read_registers(m, 0, 4, r), -1);
        QCOMPARE(errno, int(EMBBADCRC));
        QCOMPARE(modbus_read_registers(m, 0, 4, r), 4);

        sim.command("short 1");
        QCOMPARE(modbus_read_registers(m, 0, 4, r), -1);
        modbus_flush(m);
        QCOMPARE(modbus_read_registers(m, 0, 4, r), 4);

        sim.command("delay 150 1");
        const auto t0 = std::chrono::steady_clock::now();
        QCOMPARE(modbus_read_registers(m, 0, 4, r), 4);
        QVERIFY(std::chrono::steady_clock::now() - t0 >= std::chrono::milliseconds(150));

        sim.command("bogus", "flowsim: unknown command 'bogus'");
    }

    // A measured float held at what a meter without a valid measurement sends, then measured
    // again; the others of the same answer go on as before.
    void heldFloats()
    {
        Sim sim;
        QVERIFY(sim.started);
        modbus_t* m = sim.master();
        QVERIFY(m);
        modbus_set_slave(m, 2);
        uint16_t r[6];
        sim.command("setf 2 0 nan");
        QCOMPARE(modbus_read_registers(m, 0, 6, r), 6);
        QVERIFY(std::isnan(toFloat(r)));
        QVERIFY(toFloat(r + 2) > 2000.0f);
        sim.command("setf 2 4 -inf");
        sim.command("setf 2 2 3e38");
        QCOMPARE(modbus_read_registers(m, 0, 6, r), 6);
        QCOMPARE(toFloat(r + 2), 3e38f);
        QVERIFY(std::isinf(toFloat(r + 4)) && toFloat(r + 4) < 0);
        sim.command("setf 2 0 off");
        QCOMPARE(modbus_read_registers(m, 0, 6, r), 6);
        QVERIFY(toFloat(r) > 8.0f && toFloat(r) < 16.0f);
        QCOMPARE(toFloat(r + 2), 3e38f);
        // Only the measured floats can be held, and only by a float.
        const QString refused = "flowsim: setf needs a known unit, register 0, 2 or 4 and a float or off";
        sim.command("setf 2 13 1", refused);
        sim.output.clear();
        sim.command("setf 9 0 1", refused);
        sim.output.clear();
        sim.command("setf 2 0 1.5x", refused);
    }

    // The link goes away (the master's reads fail, the symbolic link is gone) and comes back
    // on a new terminal behind the same link path.
    void vanishAndComeBack()
    {
        Sim sim;
        QVERIFY(sim.started);
        QVERIFY(sim.master());
        sim.command("vanish 300", "flowsim: gone for 300 ms");
        QVERIFY(!QFileInfo::exists(sim.link));
        modbus_set_slave(sim.master(), 1);
        uint16_t r[2];
        QCOMPARE(modbus_read_registers(sim.master(), 0, 2, r), -1);
        sim.closeMaster();
        QVERIFY(sim.waitFor("flowsim: back on"));
        QVERIFY(QFileInfo(sim.link).isSymLink());
        modbus_t* m = sim.master();
        QVERIFY(m);
        modbus_set_slave(m, 1);
        QCOMPARE(modbus_read_registers(m, 0, 2, r), 2);
    }

    // Paced, a read of 2 registers (8 bytes out, 9 back) cannot be faster than its 17
    // characters plus the turn-around silence on a 9600-baud wire.
    void pacedAtTheWireRate()
    {
        Sim sim({"--pace"});
        QVERIFY(sim.started);
        modbus_t* m = sim.master();
        QVERIFY(m);
        modbus_set_slave(m, 1);
        uint16_t r[2];
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < 5; ++i)
            QCOMPARE(modbus_read_registers(m, 0, 2, r), 2);
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        QVERIFY2(ms >= 5 * (17 + 3.5) * 10.0 / 9.6, qPrintable(QString::number(ms)));
    }

    // A master on another rate or stop bits than the meters' is not heard - not even its
    // writes - until it sets its open port right again; the simulator needs no restart.
    void onlyAMatchingLineIsHeard()
    {
        Sim sim({"-v"});
        QVERIFY(sim.started);
        modbus_t* m = sim.master();
        QVERIFY(m);
        modbus_set_slave(m, 1);
        uint16_t r[12];
        QCOMPARE(modbus_read_registers(m, 0, 2, r), 2);

        QVERIFY(setLine(m, B19200, 1));
        QCOMPARE(modbus_read_registers(m, 0, 2, r), -1);
        QCOMPARE(errno, ETIMEDOUT);
        QVERIFY(sim.waitFor("flowsim: the host's line differs from the meters' 9600 8N1 (rate 19200): requests go unheard"));
        QVERIFY(sim.waitFor("flowsim: -> (not heard: host at rate 19200)"));
        QCOMPARE(modbus_write_register(m, 11, 33), -1);

        QVERIFY(setLine(m, B9600, 1));
        QCOMPARE(modbus_read_registers(m, 0, 12, r), 12);
        QVERIFY(int(r[11]) != 33);
        QVERIFY(sim.waitFor("flowsim: the host's line matches the meters' 9600 8N1 again"));

        QVERIFY(setLine(m, B9600, 2));
        QCOMPARE(modbus_read_registers(m, 0, 2, r), -1);
        QVERIFY(sim.waitFor("(stop bits 2)"));
        QVERIFY(setLine(m, B9600, 1));
        QCOMPARE(modbus_read_registers(m, 0, 2, r), 2);
    }

    // Meters at 19200 8E2: a master connecting at those settings is answered (the terminal's
    // own way with parity must not make them deaf), one at 9600 is not.
    void metersAtOtherSettings()
    {
        Sim sim({"--baud", "19200", "--parity", "even", "--stop-bits", "2"});
        QVERIFY(sim.started);
        QVERIFY(sim.waitFor("flowsim: open " + sim.link + " at 19200 8E2"));
        uint16_t r[2];
        sim.baud = 9600;
        sim.stopBits = 1;
        modbus_t* m = sim.master();
        QVERIFY(m);
        modbus_set_slave(m, 1);
        QCOMPARE(modbus_read_registers(m, 0, 2, r), -1);
        sim.closeMaster();
        sim.baud = 19200;
        sim.parity = 'E';
        sim.stopBits = 2;
        m = sim.master();
        QVERIFY(m);
        modbus_set_slave(m, 1);
        QCOMPARE(modbus_read_registers(m, 0, 2, r), 2);
    }

    // The tap has a line per frame that arrived - answered, unanswered or unheard - with its
    // length, within the time the master spent sending it and waiting for the answer, and
    // with at least the pauses the master left between frames.
    void tapRecordsEveryFrame()
    {
        Sim sim;
        QVERIFY(sim.started);
        modbus_t* m = sim.master();
        QVERIFY(m);
        struct Sent
        {
            qint64 before, after;
            int length, pauseMs;
        };
        QVector<Sent> sent;
        const uint16_t values[2] = {20, 0};
        uint16_t r[16];
        const int pauses[] = {0, 30, 5, 60, 0, 15};
        for (int i = 0; i < 6; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(pauses[i]));
            modbus_set_slave(m, i == 4 ? 9 : 1); // no meter at 9: the frame goes unanswered
            if (i == 5)
                QVERIFY(setLine(m, B38400, 1));
            const qint64 before = monotonicUs();
            int length = 8;
            if (i == 2) {
                QCOMPARE(modbus_write_registers(m, 11, 2, values), 2);
                length = 7 + 4 + 2;
            } else {
                QCOMPARE(modbus_read_registers(m, 0, 16, r), i >= 4 ? -1 : 16);
            }
            sent << Sent{before, monotonicUs(), length, pauses[i]};
        }
        QTRY_COMPARE(FlowSim::readTap(sim.tap).size(), sent.size());
        const QVector<FlowSim::Frame> frames = FlowSim::readTap(sim.tap);
        for (int i = 0; i < sent.size(); ++i) {
            const QString at = QString("frame %1").arg(i);
            QVERIFY2(frames[i].length == sent[i].length, qPrintable(at));
            QVERIFY2(sent[i].before <= frames[i].startUs, qPrintable(at));
            QVERIFY2(frames[i].startUs <= frames[i].endUs, qPrintable(at));
            QVERIFY2(frames[i].endUs <= sent[i].after, qPrintable(at));
            if (i > 0)
                QVERIFY2(frames[i].startUs - frames[i - 1].endUs >= sent[i].pauseMs * 1000, qPrintable(at));
        }
    }

    // Paced, a read of 2 registers (8 bytes out, 9 back) takes at least its characters and the
    // turn-around silence at the chosen rate and character frame: 10 bits at 19200 8N1, 12
    // (start, 8 data, parity, 2 stop) at 1200 8E2.
    void pacedAtTheChosenRate()
    {
        struct Line
        {
            const char* baud;
            int rate;
            char parity;
            int stopBits;
            int bits;
        };
        for (const Line& l : {Line{"19200", 19200, 'N', 1, 10}, Line{"1200", 1200, 'E', 2, 12}}) {
            Sim sim({"--pace", "--baud", l.baud, "--parity", l.parity == 'E' ? "even" : "none", "--stop-bits",
                     QString::number(l.stopBits)});
            QVERIFY(sim.started);
            sim.baud = l.rate;
            sim.parity = l.parity;
            sim.stopBits = l.stopBits;
            modbus_t* m = sim.master();
            QVERIFY(m);
            modbus_set_slave(m, 1);
            uint16_t r[2];
            const auto t0 = std::chrono::steady_clock::now();
            for (int i = 0; i < 2; ++i)
                QCOMPARE(modbus_read_registers(m, 0, 2, r), 2);
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            const double wire = 2 * (17 + 3.5) * l.bits * 1000.0 / l.rate;
            QVERIFY2(ms >= wire, qPrintable(QString("%1 ms at %2, the wire takes %3").arg(ms).arg(l.baud).arg(wire)));
        }
    }

    // A line setting the meters lack stops the simulator before it opens anything, saying what
    // it takes; a tap file it cannot open stops it too.
    void badLineOptions()
    {
        const QList<QStringList> cases = {{"--baud", "9601"},       {"--baud", "96OO"},      {"--baud", "-9600"},
                                          {"--data-bits", "9"},     {"--parity", "mark"},    {"--stop-bits", "1.5"},
                                          {"--ids", "1", "--baud"}, {"--parity", ""},        {"--tap"}};
        for (const QStringList& args : cases) {
            QProcess p;
            p.setProcessChannelMode(QProcess::MergedChannels);
            p.start(qEnvironmentVariable("CORVANE_BIN_DIR") + "/flowsim", args);
            QVERIFY(p.waitForFinished(5000));
            const QString said = QString::fromLocal8Bit(p.readAll());
            const QString what = args.join(' ');
            QVERIFY2(p.exitCode() == 2, qPrintable(what));
            QVERIFY2(said.startsWith("flowsim: " + args[args.size() > 2 ? 2 : 0]), qPrintable(what + ": " + said));
            QVERIFY2(!said.contains("flowsim: open"), qPrintable(what));
        }
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(qEnvironmentVariable("CORVANE_BIN_DIR") + "/flowsim", {"--tap", "/nonexistent-folder/tap"});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(p.readAll().contains("cannot open the tap file /nonexistent-folder/tap"));
    }

    // The paths given for the link and the control pipe may hold someone's file: the simulator
    // refuses to start rather than replace it, and the file is left as it was.
    void aFileInTheWayIsKept()
    {
        for (const char* which : {"--link", "--control"}) {
            QTemporaryDir dir;
            const QString path = dir.path() + "/kept";
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("notes\n");
            f.close();
            QProcess p;
            p.setProcessChannelMode(QProcess::MergedChannels);
            const QString other = dir.path() + (QString(which) == "--link" ? "/control" : "/link");
            p.start(qEnvironmentVariable("CORVANE_BIN_DIR") + "/flowsim",
                    {which, path, QString(which) == "--link" ? "--control" : "--link", other});
            QVERIFY(p.waitForFinished(5000));
            QCOMPARE(p.exitCode(), 1);
            QVERIFY2(p.readAll().contains("exists and is not"), which);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray("notes\n"));
            f.close();
        }
    }
};

QTEST_GUILESS_MAIN(TestFlowsim)
#include "test_flowsim.moc"
