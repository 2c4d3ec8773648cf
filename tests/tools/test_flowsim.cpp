// The flow-meter simulator against libmodbus's own master on the other end of its link.
#include "FlowSim.h"
#include "MeterModelLoader.h"
#include "ReadPlan.h"

#include <QDir>
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

// A model of another make, as the tests write it: input registers with a CDAB float and a
// scaled u32 totalizer, holding registers with gaps and other word orders, units the meter
// converts into (l/min), and a coil that resets the totalizer.
const char* const kOtherModel = R"({
  "maker": "Testco", "model": "TM-2", "maxGap": 8,
  "values": [
    {"role": "flowRate", "function": 4, "address": 0, "type": "f32", "order": "CDAB", "unit": "l/min"},
    {"role": "totalizer", "function": 4, "address": 2, "type": "u32", "scale": 0.001, "unit": "m3"},
    {"role": "temperature", "function": 4, "address": 4, "type": "i16", "scale": 0.1, "unit": "degC"},
    {"role": "serialNumber", "function": 4, "address": 10, "type": "u32", "order": "CDAB"},
    {"role": "alarmBits", "function": 3, "address": 0, "type": "u16",
     "bits": [{"bit": 3, "text": "flow above limit", "alarm": true}]},
    {"role": "statusBits", "function": 3, "address": 1, "type": "u16", "bits": [{"bit": 2, "text": "measuring"}]},
    {"role": "alarmLimit", "function": 3, "address": 2, "type": "u16", "scale": 0.1, "unit": "l/min",
     "writable": true, "min": 0, "max": 6000},
    {"role": "damping", "function": 3, "address": 3, "type": "u16", "scale": 0.1, "unit": "s", "writable": true},
    {"role": "calibrationFactor", "function": 3, "address": 4, "type": "f32", "order": "DCBA", "writable": true,
     "min": 0.5, "max": 2},
    {"role": "firmwareVersion", "function": 3, "address": 8, "type": "u16"},
    {"role": "extra", "name": "Pressure", "function": 3, "address": 20, "type": "i32", "order": "BADC",
     "scale": 0.01, "unit": "bar"},
    {"role": "resetCommand", "function": 5, "address": 7, "type": "coil"}
  ]
})";

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& text)
{
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
        return QString();
    return f.fileName();
}

// The float of two registers in CDAB order (low word first).
float cdabFloat(const uint16_t* r)
{
    const uint32_t bits = (uint32_t(r[1]) << 16) | r[0];
    float f;
    memcpy(&f, &bits, sizeof f);
    return f;
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
    // Meters of the model text `json` (written beside the link): every id, or those of `ids`.
    static QStringList withModel(QTemporaryDir& dir, const QByteArray& json, const QList<int>& ids = {})
    {
        return FlowSim::modelOptions(writeFile(dir, "model.json", json), ids);
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
            // Generous: a simulator starved by a busy machine still answers in time; a silence is
            // waited out once per case that asks for one.
            modbus_set_response_timeout(ctx, 1, 500000);
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

    // A second terminal onto the same meters: what it reads is what the first one serves,
    // a write through one is seen through the other, and the first one's faults stay there.
    void monitorReadsTheSameMeters()
    {
        QTemporaryDir here;
        const QString path = here.filePath("monitor");
        Sim sim({"--monitor", path});
        QVERIFY(sim.started);
        QVERIFY(sim.waitFor("flowsim: monitor " + path + " -> /dev/pts/"));
        modbus_t* m = sim.master();
        QVERIFY(m);
        modbus_t* other = modbus_new_rtu(path.toLocal8Bit().constData(), 9600, 'N', 8, 1);
        QVERIFY(other);
        modbus_set_response_timeout(other, 1, 500000);
        QCOMPARE(modbus_connect(other), 0);
        modbus_set_slave(m, 2);
        modbus_set_slave(other, 2);
        uint16_t a[6], b[6];
        QCOMPARE(modbus_read_registers(m, 0, 6, a), 6);
        QCOMPARE(modbus_read_registers(other, 0, 6, b), 6);
        // Within the noise of the few milliseconds between the two reads; one totalizer.
        QVERIFY(std::abs(toFloat(a) - toFloat(b)) < 0.5f);
        QVERIFY(std::abs(toFloat(a + 2) - toFloat(b + 2)) < 0.01f);
        QVERIFY(toFloat(b + 2) > 2000.0f);

        QCOMPARE(modbus_write_register(m, 12, 1), 1);
        QCOMPARE(modbus_read_registers(other, 0, 6, b), 6);
        QVERIFY(toFloat(b + 2) < 1.0f);

        sim.command("silence 2");
        QCOMPARE(modbus_read_registers(other, 0, 6, b), 6);
        QCOMPARE(modbus_read_registers(m, 0, 6, a), -1);
        modbus_close(other);
        modbus_free(other);
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
            QVERIFY2(frames[i].function == (i == 2 ? 16 : 3), qPrintable(at));
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

    // A meter of a model file answers functions 3 and 4 with the words its model lays out:
    // the expected words are worked out here from the model's numbers, not by the codec.
    void modelMeterServesItsLayout()
    {
        QTemporaryDir models;
        Sim sim(Sim::withModel(models, kOtherModel));
        QVERIFY2(sim.started, qPrintable(sim.output));
        QVERIFY(sim.output.contains("flowsim: unit 2 is a Testco TM-2 (" + models.filePath("model.json") + ")"));
        modbus_t* m = sim.master();
        QVERIFY(m);
        modbus_set_slave(m, 2);

        // Input registers 0..11 in one read, across the gap 6..9 the model leaves.
        uint16_t in[12];
        QCOMPARE(modbus_read_input_registers(m, 0, 12, in), 12);
        const float lpm = cdabFloat(in); // unit 2: 12 m3/h +-20 % and noise, in l/min
        QVERIFY2(lpm > 12 * 0.7 * 1000 / 60 && lpm < 12 * 1.3 * 1000 / 60, qPrintable(QString::number(lpm)));
        const double m3 = ((uint32_t(in[2]) << 16) | in[3]) * 0.001;
        QVERIFY2(m3 >= 2123.4 - 0.001 && m3 < 2124, qPrintable(QString::number(m3)));
        const double celsius = int16_t(in[4]) * 0.1;
        QVERIFY2(celsius > 10 && celsius < 30, qPrintable(QString::number(celsius)));
        for (int gap = 5; gap < 10; ++gap)
            QCOMPARE(int(in[gap]), 0);
        const uint32_t serial = 24070000 + 2 * 137;
        QCOMPARE(int(in[10]), int(serial & 0xFFFF));
        QCOMPARE(int(in[11]), int(serial >> 16));

        // Holding registers 0..21: one bank from the first to the last value's address.
        uint16_t r[22];
        QCOMPARE(modbus_read_registers(m, 0, 22, r), 22);
        QCOMPARE(int(r[0]), 0);                     // no alarm: the flow is below its limit
        QCOMPARE(int(r[1]), 1 << 2);                // measuring
        QCOMPARE(int(r[2]), 2500);                  // 125 % of 12 m3/h = 250.0 l/min, in tenths
        QCOMPARE(int(r[3]), 10);                    // 1 s, in tenths
        QCOMPARE(int(r[4]), 0x0000);                // 1.0f is 3F 80 00 00; DCBA sends 00 00 80 3F
        QCOMPARE(int(r[5]), 0x803F);
        QCOMPARE(int(r[6]) | r[7] | r[9] | r[19], 0); // gaps
        QCOMPARE(int(r[8]), 0x0102);
        QCOMPARE(int(r[20]), 0x0000);               // the extra's steady 12.5 bar: raw 1250 = 00 00 04 E2,
        QCOMPARE(int(r[21]), 0xE204);               // BADC sends 00 00 E2 04

        // Beyond the bank, and kinds the model has none of, are refused as libmodbus does.
        QCOMPARE(modbus_read_registers(m, 21, 2, r), -1);
        QCOMPARE(errno, int(EMBXILADD));
        QCOMPARE(modbus_read_input_registers(m, 12, 1, in), -1);
        QCOMPARE(errno, int(EMBXILADD));
        uint8_t bits[8];
        QCOMPARE(modbus_read_bits(m, 8, 1, bits), -1);
        QCOMPARE(errno, int(EMBXILADD));
    }

    // Writes reach the model meter's state: a lower limit (in the model's l/min) raises the
    // alarm bit, a calibration outside the model's range is refused, the coil resets the
    // totalizer and reads off again, and words placed with seti/set/setf are served as placed.
    void modelMeterTakesWrites()
    {
        QTemporaryDir models;
        Sim sim(Sim::withModel(models, kOtherModel));
        QVERIFY(sim.started);
        modbus_t* m = sim.master();
        QVERIFY(m);
        modbus_set_slave(m, 3);
        uint16_t r[6], in[4], in8[8];
        QCOMPARE(modbus_read_input_registers(m, 2, 2, in), 2);
        QVERIFY((uint32_t(in[0]) << 16 | in[1]) > 3000000u);

        QCOMPARE(modbus_write_register(m, 2, 50), 1); // 5.0 l/min = 0.3 m3/h: the flow is above it
        const uint16_t badCalibration[2] = {0x0000, 0x2040}; // 2.5f DCBA, above the model's 2
        QCOMPARE(modbus_write_registers(m, 4, 2, badCalibration), 2);
        QCOMPARE(modbus_read_registers(m, 0, 6, r), 6);
        QCOMPARE(int(r[0]), 1 << 3);
        QCOMPARE(int(r[2]), 50);
        QCOMPARE(int(r[5]), 0x803F);

        QCOMPARE(modbus_write_bit(m, 7, 1), 1);
        QCOMPARE(modbus_read_input_registers(m, 2, 2, in), 2);
        QVERIFY2((uint32_t(in[0]) << 16 | in[1]) < 1000u, qPrintable(QString::number(in[1])));
        uint8_t coil = 1;
        QCOMPARE(modbus_read_bits(m, 7, 1, &coil), 1);
        QCOMPARE(int(coil), 0);
        // Another meter's totalizer is untouched.
        modbus_set_slave(m, 1);
        QCOMPARE(modbus_read_input_registers(m, 2, 2, in), 2);
        QVERIFY((uint32_t(in[0]) << 16 | in[1]) > 1000000u);

        // Raw words into the measured flow stay until released; placed into the writable limit
        // they are a master's write.
        modbus_set_slave(m, 3);
        sim.command("seti 3 0 0");
        sim.command("seti 3 1 16672"); // 0x4120 0000 is 10.0f, sent CDAB
        sim.command("set 3 2 75");
        sim.command("setf 3 4 1.25");
        sim.command("seti 3 7 4660"); // in the gap
        QCOMPARE(modbus_read_input_registers(m, 7, 1, in), 1);
        QCOMPARE(int(in[0]), 4660);
        QCOMPARE(modbus_read_input_registers(m, 0, 2, in), 2);
        QCOMPARE(cdabFloat(in), 10.0f);
        QCOMPARE(modbus_read_registers(m, 2, 4, r), 4);
        QCOMPARE(int(r[0]), 75);
        QCOMPARE(int(r[2]), 0x0000); // 1.25f is 3F A0 00 00
        QCOMPARE(int(r[3]), 0xA03F);
        sim.command("seti 3 1 off");
        sim.command("seti 3 0 off");
        sim.command("seti 3 7 off");
        QCOMPARE(modbus_read_input_registers(m, 0, 8, in8), 8);
        QVERIFY(cdabFloat(in8) > 100.0f);
        QCOMPARE(int(in8[7]), 0);
        sim.command("seti 3 99 1", "flowsim: seti needs a model meter's unit, an input register and a value 0..65535 or off");
    }

    // Models per id: the ids named get theirs, a model for all covers the rest, FM-1 is left
    // where none is given; the built-in map and the model's are each whole.
    void modelsPerId()
    {
        QTemporaryDir models;
        const QString other = writeFile(models, "other.json", kOtherModel);
        QByteArray smallModel = R"({"maker": "Testco", "model": "TM-1", "values": [
            {"role": "flowRate", "function": 3, "address": 100, "type": "f64", "order": "DCBA", "unit": "m3/h"}]})";
        const QString small = writeFile(models, "small.json", smallModel);
        Sim sim({"--model", "2=" + other, "--model", "3=" + small});
        QVERIFY2(sim.started, qPrintable(sim.output));
        modbus_t* m = sim.master();
        QVERIFY(m);
        uint16_t r[16];
        modbus_set_slave(m, 1);
        QCOMPARE(modbus_read_registers(m, 0, 16, r), 16);
        QCOMPARE((uint32_t(r[8]) << 16) | r[9], uint32_t(24070000 + 137));
        QCOMPARE(modbus_read_input_registers(m, 0, 2, r), -1);
        modbus_set_slave(m, 2);
        QCOMPARE(modbus_read_input_registers(m, 10, 2, r), 2);
        QCOMPARE(int(r[0]), int((24070000 + 2 * 137) & 0xFFFF));
        modbus_set_slave(m, 3);
        QCOMPARE(modbus_read_registers(m, 0, 2, r), -1);
        QCOMPARE(errno, int(EMBXILADD));
        QCOMPARE(modbus_read_registers(m, 100, 4, r), 4);
        // DCBA: the double's lowest byte first.
        uint64_t bits = 0;
        for (int k = 3; k >= 0; --k)
            bits = (bits << 16) | uint16_t((r[k] >> 8) | (r[k] << 8));
        double flow;
        memcpy(&flow, &bits, sizeof flow);
        QVERIFY2(flow > 16 * 0.7 && flow < 16 * 1.3, qPrintable(QString::number(flow)));

        // A model for all, and one id of another.
        Sim all({"--model", other, "--model", "1=" + small});
        QVERIFY2(all.started, qPrintable(all.output));
        m = all.master();
        QVERIFY(m);
        modbus_set_slave(m, 1);
        QCOMPARE(modbus_read_registers(m, 100, 4, r), 4);
        for (int id : {2, 3}) {
            modbus_set_slave(m, id);
            QCOMPARE(modbus_read_input_registers(m, 10, 2, r), 2);
            QCOMPARE(int(r[0]), int((24070000 + id * 137) & 0xFFFF));
        }
    }

    // The shipped models served as the plug-in reads them: every request of the read plan is
    // answered in full, and the FM-1 model file gives what the built-in FM-1 map gives.
    void shippedModels()
    {
        const QString folder = qEnvironmentVariable("CORVANE_BIN_DIR") + "/plugins/models";
        const QStringList files = QDir(folder).entryList({"*.json"}, QDir::Files);
        QVERIFY2(files.contains("tessmark-fm1.json") && files.contains("tessmark-fm2i.json"), qPrintable(folder));
        int models = 0;
        for (const QString& name : files) {
            ModelProblem problem;
            const std::optional<MeterModel> model = MeterModelLoader::parseFile(folder + "/" + name, &problem);
            if (!model)
                continue; // the schema
            ++models;
            Sim sim({"--model", "3=" + folder + "/" + name});
            QVERIFY2(sim.started, qPrintable(sim.output));
            modbus_t* m = sim.master();
            QVERIFY(m);
            modbus_set_slave(m, 3);
            for (const ReadRequest& read : ReadPlan::make(*model)) {
                uint16_t words[ReadPlan::kMaxRegisters];
                uint8_t bits[ReadPlan::kMaxCoils];
                const int got = read.function == 4   ? modbus_read_input_registers(m, read.address, read.count, words)
                                : read.function == 3 ? modbus_read_registers(m, read.address, read.count, words)
                                                     : modbus_read_bits(m, read.address, read.count, bits);
                QVERIFY2(got == read.count, qPrintable(QString("%1: function %2 at %3").arg(name).arg(read.function).arg(read.address)));
            }
        }
        QCOMPARE(models, 2);

        Sim sim({"--model", "3=" + folder + "/tessmark-fm1.json"});
        QVERIFY(sim.started);
        modbus_t* m = sim.master();
        QVERIFY(m);
        modbus_set_slave(m, 3);
        uint16_t r[16];
        QCOMPARE(modbus_read_registers(m, 0, 16, r), 16);
        QCOMPARE((uint32_t(r[8]) << 16) | r[9], uint32_t(24070000 + 3 * 137));
        QCOMPARE(int(r[6]) & 1, 0);
        QCOMPARE(int(r[7]) & 1, 1);
        QCOMPARE(int(r[10]), 0x0102);
        QCOMPARE(int(r[11]), 10);  // 1 s
        QCOMPARE(int(r[12]), 0);
        QCOMPARE(int(r[13]), 200); // 125 % of 16 m3/h
        QCOMPARE(toFloat(r + 14), 1.0f);
        QVERIFY(toFloat(r + 2) > 3123.0f);
        QCOMPARE(modbus_write_register(m, 12, 1), 1);
        QCOMPARE(modbus_read_registers(m, 2, 2, r), 2);
        QVERIFY(toFloat(r) < 1.0f);
    }

    // A model file that is not one, or one for an id that does not answer, stops the
    // simulator before it opens anything, with the loader's place and reason.
    void badModelFiles()
    {
        QTemporaryDir dir;
        QByteArray wrongType = kOtherModel;
        wrongType.replace("\"type\": \"i16\"", "\"type\": \"i17\"");
        const QString bad = writeFile(dir, "bad.json", wrongType);
        const QString broken = writeFile(dir, "broken.json", "{\"maker\": \"Testco\",\n  \"model\" ");
        const QString good = writeFile(dir, "good.json", kOtherModel);
        struct Case
        {
            QStringList args;
            QString said;
        };
        const QList<Case> cases = {
            {{"--model", bad}, "flowsim: " + bad + ": $.values[2].type: "},
            {{"--ids", "1,2", "--model", "2=" + bad}, "flowsim: " + bad + ": $.values[2].type: "},
            {{"--model", broken}, "flowsim: " + broken + ": line 2"},
            {{"--model", dir.filePath("none.json")}, "flowsim: " + dir.filePath("none.json") + ": "},
            {{"--ids", "1,2", "--model", "5=" + good}, "flowsim: --model 5=" + good + ": unit 5 is not among"},
            {{"--model", "2=" + good, "--model", "2=" + good}, "flowsim: --model 2=" + good + ": unit 2 has a model already"},
            {{"--model", "0=" + good}, "flowsim: --model 0=" + good + ": give a model file"},
            {{"--model"}, "flowsim: --model needs a value"},
        };
        for (const Case& c : cases) {
            QProcess p;
            p.setProcessChannelMode(QProcess::MergedChannels);
            p.start(qEnvironmentVariable("CORVANE_BIN_DIR") + "/flowsim", c.args);
            QVERIFY(p.waitForFinished(5000));
            const QString said = QString::fromLocal8Bit(p.readAll());
            QVERIFY2(p.exitCode() == 2, qPrintable(c.args.join(' ') + ": " + said));
            QVERIFY2(said.startsWith(c.said), qPrintable(c.args.join(' ') + ": " + said));
            QVERIFY2(!said.contains("flowsim: open"), qPrintable(said));
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
