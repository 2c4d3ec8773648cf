// The MQTT link against a real mosquitto broker started by the test, its spool on real files,
// and the payloads from the shipped meter model.
#include "MeterModelLoader.h"
#include "MeterReading.h"
#include "MosquittoBroker.h"
#include "MqttLink.h"
#include "MqttPayload.h"
#include "MqttPublisher.h"
#include "MqttSpool.h"
#include "WaitUntil.h"
#include "FlowSim.h"
#include "HostFixture.h"
#include "ProgramRunner.h"
#include "SmallTmpfs.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QStandardPaths>
#include <QProcess>
#include <QSignalSpy>
#include <QPointer>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <thread>

#include <mosquitto.h>

#include <csignal>
#include <cmath>
#include <mutex>
#include <unistd.h>

Q_DECLARE_METATYPE(DisplayUnits)

namespace {

// A subscriber of the test's own, on libmosquitto's thread: what arrived, in order.
class Subscriber
{
public:
    struct Got
    {
        QString topic;
        QByteArray payload;
        bool retain;
    };

    // `lasting`: a session the broker keeps, with what arrives while the subscriber is away.
    // `qos` 0: the broker passes everything on at once in the order it came, where with 1 it
    // would hold QoS 1 messages back behind its in-flight limit and let QoS 0 ones pass.
    Subscriber(int port, const QString& filter, bool lasting = false, int qos = 1) : subQos(qos)
    {
        static int n = 0;
        const QByteArray id = QByteArray("test-sub-") + QByteArray::number(getpid()) + "-" + QByteArray::number(++n);
        m = mosquitto_new(id.constData(), !lasting, this);
        mosquitto_message_callback_set(m, [](mosquitto*, void* self, const mosquitto_message* msg) {
            auto* s = static_cast<Subscriber*>(self);
            std::lock_guard<std::mutex> g(s->lock);
            s->got.push_back({QString::fromUtf8(msg->topic),
                              QByteArray(static_cast<const char*>(msg->payload), msg->payloadlen), msg->retain});
        });
        mosquitto_subscribe_callback_set(m, [](mosquitto*, void* self, int, int, const int*) {
            static_cast<Subscriber*>(self)->subscribed.store(true);
        });
        const QByteArray f = filter.toUtf8();
        topicFilter = f;
        mosquitto_connect_callback_set(m, [](mosquitto* mq, void* self, int rc) {
            if (rc == 0)
                mosquitto_subscribe(mq, nullptr, static_cast<Subscriber*>(self)->topicFilter.constData(),
                                    static_cast<Subscriber*>(self)->subQos);
        });
        mosquitto_connect(m, "127.0.0.1", port, 30);
        mosquitto_loop_start(m);
    }
    ~Subscriber()
    {
        mosquitto_disconnect(m);
        mosquitto_loop_stop(m, false);
        mosquitto_destroy(m);
    }
    bool ready() { return waitUntil([this] { return subscribed.load(); }, 10000); }
    std::vector<Got> messages()
    {
        std::lock_guard<std::mutex> g(lock);
        return got;
    }
    std::vector<Got> on(const QString& topic)
    {
        std::vector<Got> out;
        for (const Got& g : messages())
            if (g.topic == topic)
                out.push_back(g);
        return out;
    }
    bool waitFor(const QString& topic, const QByteArray& payload, int timeoutMs = 15000)
    {
        return waitUntil([&] {
            for (const Got& g : messages())
                if (g.topic == topic && g.payload == payload)
                    return true;
            return false;
        }, timeoutMs);
    }

private:
    mosquitto* m = nullptr;
    QByteArray topicFilter;
    int subQos;
    std::mutex lock;
    std::vector<Got> got;
    std::atomic<bool> subscribed{false};
};

MqttSettings settingsFor(const MosquittoBroker& broker, const QString& prefix)
{
    MqttSettings s;
    s.host = QStringLiteral("127.0.0.1");
    s.port = broker.port();
    s.topicPrefix = prefix;
    s.clientId = prefix;
    s.qos = 1;
    return s;
}

// The numbers 0..n-1 that arrived on `topic`, in their order.
QList<int> sequence(const std::vector<Subscriber::Got>& got)
{
    QList<int> out;
    for (const auto& g : got)
        out << QJsonDocument::fromJson(g.payload).object().value(QStringLiteral("n")).toInt(-1);
    return out;
}

QByteArray numbered(int n)
{
    QJsonObject o;
    o.insert(QStringLiteral("n"), n);
    o.insert(QStringLiteral("time"), MqttPayload::isoTime(QDateTime::currentDateTime()));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

bool run(const QString& program, const QStringList& args, QString* out = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    const bool ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (out)
        *out = QString::fromLocal8Bit(p.readAll());
    return ok;
}

// The test binary started as `--link-child <port> <prefix>`: a link that says "online" and
// publishes until it is killed.
int linkChild(int argc, char** argv, int port, const QString& prefix)
{
    QCoreApplication app(argc, argv);
    MqttSettings s;
    s.host = QStringLiteral("127.0.0.1");
    s.port = port;
    s.topicPrefix = prefix;
    s.clientId = prefix;
    QTemporaryDir spool;
    MqttLink link(s, spool.path());
    link.start();
    for (;;) {
        link.publish(prefix + QStringLiteral("/alive"), QByteArrayLiteral("yes"), 1, true);
        ::usleep(100000);
    }
}

// The test's own CA ("ca.crt"), a stranger's ("other.crt"), a server certificate for 127.0.0.1
// signed by the first ("server.crt", "server.key") and a password file ("passwords") with the
// user "station" and the password "s3cret-Pw", all in `dir`.
bool makePki(const QString& dir, QString* failed)
{
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    const QString passwd = QStandardPaths::findExecutable(QStringLiteral("mosquitto_passwd"));
    if (openssl.isEmpty() || passwd.isEmpty()) {
        *failed = QStringLiteral("openssl or mosquitto_passwd is not installed");
        return false;
    }
    auto p = [&](const QString& f) { return dir + '/' + f; };
    QFile ext(p("ext.cnf"));
    if (!ext.open(QIODevice::WriteOnly))
        return false;
    ext.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n");
    ext.close();
    for (const QString& name : {QStringLiteral("ca"), QStringLiteral("other")})
        if (!run(openssl, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Test " + name,
                           "-keyout", p(name + ".key"), "-out", p(name + ".crt")}, failed))
            return false;
    if (!run(openssl, {"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-keyout", p("server.key"),
                       "-out", p("server.csr")}, failed)
        || !run(openssl, {"x509", "-req", "-in", p("server.csr"), "-CA", p("ca.crt"), "-CAkey", p("ca.key"),
                          "-CAcreateserial", "-days", "2", "-extfile", p("ext.cnf"), "-out", p("server.crt")}, failed)
        || !run(passwd, {"-c", "-b", p("passwords"), "station", "s3cret-Pw"}, failed))
        return false;
    QFile::setPermissions(p("passwords"), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return true;
}

// A broker of the test's own on `port` that takes connections and messages but confirms them
// only when told: what a real broker does too fast to catch in between.
class HoldingBroker
{
public:
    struct Got
    {
        int mid;
        QString topic;
        QByteArray payload;
    };

    explicit HoldingBroker(int port)
    {
        server.listen(QHostAddress::LocalHost, quint16(port));
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = server.nextPendingConnection()) {
                peer = s;
                buffer.clear();
                QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] { read(s); });
            }
        });
    }
    bool listening() const { return server.isListening(); }
    // Confirms every message received so far.
    void confirmAll()
    {
        for (const Got& g : got)
            if (g.mid > 0 && !confirmed.contains(g.mid) && peer) {
                const char ack[] = {0x40, 0x02, char(g.mid >> 8), char(g.mid & 0xff)};
                peer->write(ack, 4);
                confirmed.insert(g.mid);
            }
    }
    void close()
    {
        if (peer)
            peer->abort();
        server.close();
    }
    QList<Got> got;

private:
    void read(QTcpSocket* s)
    {
        buffer += s->readAll();
        for (;;) {
            // Fixed header and remaining length (a variable-length integer).
            int at = 1, length = 0, shift = 0;
            for (;; ++at, shift += 7) {
                if (at >= buffer.size())
                    return;
                length |= (quint8(buffer[at]) & 0x7f) << shift;
                if (!(quint8(buffer[at]) & 0x80))
                    break;
            }
            ++at;
            if (buffer.size() < at + length)
                return;
            const quint8 header = quint8(buffer[0]);
            const QByteArray body = buffer.mid(at, length);
            buffer.remove(0, at + length);
            switch (header >> 4) {
            case 1: // CONNECT: accepted
                s->write(QByteArray::fromHex("20020000"));
                break;
            case 12: // PINGREQ
                s->write(QByteArray::fromHex("d000"));
                break;
            case 3: { // PUBLISH: topic, the id when QoS > 0, the payload
                const int topicSize = (quint8(body[0]) << 8) | quint8(body[1]);
                int p = 2 + topicSize;
                int mid = 0;
                if ((header >> 1) & 3) {
                    mid = (quint8(body[p]) << 8) | quint8(body[p + 1]);
                    p += 2;
                }
                got << Got{mid, QString::fromUtf8(body.mid(2, topicSize)), body.mid(p)};
                break;
            }
            default:
                break;
            }
        }
    }

    QTcpServer server;
    QPointer<QTcpSocket> peer;
    QByteArray buffer;
    QSet<int> confirmed;
};

// A first run's settings that publish every second to `broker` under `prefix`, plus `more`
// (keys of the plug-in's group).
void publishTo(const QString& configDir, const MosquittoBroker& broker, const QString& prefix,
               const QVariantMap& more = {})
{
    QSettings s(configDir + "/Tessmark/Corvane.conf", QSettings::IniFormat);
    s.setValue("FlowMeter/mqtt/enabled", true);
    s.setValue("FlowMeter/mqtt/host", "127.0.0.1");
    s.setValue("FlowMeter/mqtt/port", broker.port());
    s.setValue("FlowMeter/mqtt/topicPrefix", prefix);
    s.setValue("FlowMeter/mqtt/clientId", prefix.section('/', -1));
    s.setValue("FlowMeter/mqtt/interval", 1);
    for (auto it = more.cbegin(); it != more.cend(); ++it)
        s.setValue("FlowMeter/mqtt/" + it.key(), it.value());
}

// Starts the real program on the simulator's meters `ids`, every poll in its log.
bool startStation(ProgramRunner& p, const FlowSim& sim, const QString& ids, const QMap<QString, QString>& env = {})
{
    if (!ProgramRunner::setSerialDebug(p.configDir(), true))
        return false;
    QProcessEnvironment e = p.process().processEnvironment();
    e.insert("CORVANE_FLOWMETER_PORT", sim.link);
    e.insert("CORVANE_FLOWMETER_IDS", ids);
    for (auto it = env.cbegin(); it != env.cend(); ++it)
        e.insert(it.key(), it.value());
    p.process().setProcessEnvironment(e);
    return p.start({"-debug"});
}

// The distinct reading times of the state messages in `got`, in the order they first came.
QList<QDateTime> readingTimes(const std::vector<Subscriber::Got>& got)
{
    QList<QDateTime> out;
    for (const auto& g : got) {
        const QDateTime t = QDateTime::fromString(QJsonDocument::fromJson(g.payload).object().value("time").toString(),
                                                  Qt::ISODateWithMs);
        if (t.isValid() && !out.contains(t))
            out << t;
    }
    return out;
}

} // namespace

class TestMqtt : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!MosquittoBroker::available())
            QFAIL("mosquitto is not installed (Debian package mosquitto)");
    }

    // Append, peek, remove; the order and the messages themselves survive a reopen; a torn
    // tail is cut back, a damaged header replays rather than loses, a foreign file is kept.
    void spoolKeepsOrderAcrossRestartsAndCrashes()
    {
        QTemporaryDir dir;
        const QDateTime t0 = QDateTime::fromString(QStringLiteral("2026-12-08T14:03:05.250+01:00"), Qt::ISODateWithMs);
        {
            MqttSpool spool(dir.path(), 1 << 20);
            QVERIFY2(spool.open(), qPrintable(spool.error()));
            for (int i = 0; i < 5; ++i)
                QVERIFY(spool.append({QStringLiteral("a/b/%1").arg(i), numbered(i), i % 2, i == 3, t0.addSecs(i)}));
            QVERIFY(spool.removeOldest());
        }
        MqttSpool::Message m;
        {
            MqttSpool spool(dir.path(), 1 << 20);
            QVERIFY(spool.open());
            QCOMPARE(spool.count(), 4);
            QVERIFY(spool.peek(&m));
            QCOMPARE(m.topic, QStringLiteral("a/b/1"));
            QCOMPARE(m.qos, 1);
            QCOMPARE(m.time, t0.addSecs(1));
            QCOMPARE(m.time.offsetFromUtc(), 3600);
            QVERIFY(spool.peek(&m, 2));
            QCOMPARE(m.topic, QStringLiteral("a/b/3"));
            QVERIFY(m.retain);
            QVERIFY(!spool.peek(&m, 4));
        }
        // A crash in the middle of an append: half a message at the end.
        QFile f(dir.filePath(QStringLiteral("spool.dat")));
        QVERIFY(f.open(QIODevice::Append));
        const QByteArray half = MqttSpool::encode({QStringLiteral("torn"), numbered(99), 1, false, t0});
        f.write(QByteArray("\x31\x53\x51\x4d\xff\x00\x00\x00", 8) + half.left(10));
        f.close();
        const qint64 tornSize = f.size();
        {
            MqttSpool spool(dir.path(), 1 << 20);
            QVERIFY(spool.open());
            QCOMPARE(spool.count(), 4);
            QCOMPARE(spool.repairedBytes(), 18);
            QCOMPARE(QFileInfo(f.fileName()).size(), tornSize - 18);
            QVERIFY(spool.append({QStringLiteral("after"), numbered(5), 1, false, t0}));
            QCOMPARE(spool.count(), 5);
            QVERIFY(spool.peek(&m, 4));
            QCOMPARE(m.topic, QStringLiteral("after"));
        }
        // A header torn in its own write: the messages are all sent again, none is lost.
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.seek(10);
        f.write("\x7f", 1);
        f.close();
        {
            MqttSpool spool(dir.path(), 1 << 20);
            QVERIFY(spool.open());
            QCOMPARE(spool.count(), 6);
            QVERIFY(spool.peek(&m));
            QCOMPARE(m.topic, QStringLiteral("a/b/0"));
            while (spool.removeOldest()) {
            }
            QCOMPARE(QFileInfo(f.fileName()).size(), 32);
        }
        // Not a spool: kept as it is, and said.
        QTemporaryDir other;
        QFile foreign(other.filePath(QStringLiteral("spool.dat")));
        QVERIFY(foreign.open(QIODevice::WriteOnly));
        foreign.write(QByteArray(100, 'x'));
        foreign.close();
        MqttSpool spool(other.path(), 1 << 20);
        QVERIFY(!spool.open());
        QVERIFY(spool.error().contains(QStringLiteral("not an MQTT spool")));
        QVERIFY(!spool.append({QStringLiteral("x"), "y", 0, false, t0}));
        QCOMPARE(QFileInfo(foreign.fileName()).size(), 100);
    }

    // A frame damaged in the middle: the damage is skipped, the messages after it kept, in
    // order, and the loss counted with the dropped ones; a frame that only looks whole inside
    // the damage is not taken for one. The file is mended, so a second open finds nothing.
    void damagedSpoolKeepsWhatFollowsTheDamage()
    {
        const QDateTime t0 = QDateTime::currentDateTime();
        struct Damage
        {
            const char* name;
            int first;       // the message hit first
            QByteArray with; // written over the spool from the middle of that message on
        };
        const QByteArray fakeHeader = QByteArray("\x4d\x51\x53\x31\x10\x00\x00\x00\xde\xad\xbe\xef", 12);
        const QList<Damage> cases{
            {"one byte of a body", 10, QByteArray(1, '\xff')},
            {"garbage over several", 40, QByteArray(400, '\x5a')},
            {"garbage holding a frame's header", 70, QByteArray(50, '\x00') + fakeHeader + QByteArray(300, '\x11')},
        };
        for (const Damage& d : cases) {
            QTemporaryDir dir;
            QList<qint64> at;
            {
                MqttSpool spool(dir.path(), 1 << 20);
                QVERIFY(spool.open());
                for (int i = 0; i < 100; ++i) {
                    at << QFileInfo(spool.path()).size();
                    QVERIFY(spool.append({QStringLiteral("dmg/seq"), numbered(i), 1, false, t0}));
                }
                at << QFileInfo(spool.path()).size();
            }
            // Every message the damage touches is lost, and only those.
            const qint64 from = at[d.first] + 40;
            int lost = 0;
            while (at[d.first + lost] < from + d.with.size())
                ++lost;
            QFile f(dir.filePath(QStringLiteral("spool.dat")));
            QVERIFY(f.open(QIODevice::ReadWrite));
            f.seek(from);
            f.write(d.with);
            f.close();
            MqttSpool spool(dir.path(), 1 << 20);
            QVERIFY2(spool.open(), d.name);
            QCOMPARE(spool.count(), 100 - lost);
            QCOMPARE(spool.lostToDamage(), lost);
            QCOMPARE(spool.skippedBytes(), at[d.first + lost] - at[d.first]);
            QCOMPARE(spool.dropped(), lost);
            QCOMPARE(spool.repairedBytes(), 0);
            QList<int> kept;
            MqttSpool::Message m;
            for (int i = 0; spool.peek(&m, i); ++i)
                kept << QJsonDocument::fromJson(m.payload).object().value(QStringLiteral("n")).toInt();
            QList<int> expected;
            for (int i = 0; i < 100; ++i)
                if (i < d.first || i >= d.first + lost)
                    expected << i;
            QVERIFY2(kept == expected, d.name);
            QVERIFY(spool.removeOldest(5));
            MqttSpool again(dir.path(), 1 << 20);
            QVERIFY(again.open());
            QCOMPARE(again.count(), 95 - lost);
            QCOMPARE(again.lostToDamage(), 0);
            QCOMPARE(again.dropped(), lost);
        }

        // The publisher says it in the log once, and counts the loss with the drops it shows.
        QTemporaryDir dir;
        qint64 third = 0;
        {
            MqttSpool spool(dir.path(), 1 << 20);
            QVERIFY(spool.open());
            for (int i = 0; i < 10; ++i) {
                if (i == 3)
                    third = QFileInfo(spool.path()).size();
                QVERIFY(spool.append({QStringLiteral("dmg/seq"), numbered(i), 1, false, t0}));
            }
        }
        QFile f(dir.filePath(QStringLiteral("spool.dat")));
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.seek(third + 30);
        f.write("\xff\xff", 2);
        f.close();
        QStringList logged;
        MqttPublisher publisher([&](const QString& line) { logged << line; });
        MqttSettings s;
        s.host = QStringLiteral("127.0.0.1");
        s.port = MosquittoBroker::freePort();
        s.topicPrefix = s.clientId = QStringLiteral("dmg");
        publisher.start(s, dir.path());
        QVERIFY2(logged.filter(QStringLiteral("MQTT: the spool was damaged; skipped ")).size() == 1
                     && logged.filter(QStringLiteral("messages lost: about 1, kept: 9")).size() == 1,
                 qPrintable(logged.join('\n')));
        QVERIFY2(publisher.statusText().contains(QStringLiteral(", 1 reading")), qPrintable(publisher.statusText()));
        publisher.stop();
    }

    // The bound: the oldest go, the newest stay in order, and the count of the dropped is kept
    // in the file; removals much larger than what is left shrink the file.
    void spoolBoundDropsTheOldest()
    {
        QTemporaryDir dir;
        const QDateTime t0 = QDateTime::currentDateTime();
        const qint64 one = 12 + MqttSpool::encode({QStringLiteral("t"), numbered(10), 1, false, t0}).size();
        {
            MqttSpool spool(dir.path(), one * 5);
            QVERIFY(spool.open());
            for (int i = 10; i < 30; ++i)
                QVERIFY(spool.append({QStringLiteral("t"), numbered(i), 1, false, t0}));
            QCOMPARE(spool.count(), 5);
            QCOMPARE(spool.dropped(), 15);
            QVERIFY(spool.bytes() <= one * 5);
            QVERIFY(!spool.append({QStringLiteral("t"), QByteArray(int(one * 6), 'x'), 1, false, t0}));
            QCOMPARE(spool.dropped(), 16);
            QCOMPARE(spool.count(), 5);
        }
        MqttSpool spool(dir.path(), one * 5);
        QVERIFY(spool.open());
        QCOMPARE(spool.dropped(), 16);
        QList<int> kept;
        MqttSpool::Message m;
        for (int i = 0; spool.peek(&m, i); ++i)
            kept << QJsonDocument::fromJson(m.payload).object().value(QStringLiteral("n")).toInt();
        QCOMPARE(kept, QList<int>({25, 26, 27, 28, 29}));

        // Many sent and confirmed while a few wait: the file does not grow without end.
        MqttSpool big(dir.path() + QStringLiteral("/big"), 64 << 20);
        QVERIFY(big.open());
        const QByteArray payload(4000, 'p');
        for (int i = 0; i < 600; ++i) {
            QVERIFY(big.append({QStringLiteral("t"), payload + QByteArray::number(i), 1, false, t0}));
            if (i >= 3 && i % 2 == 0)
                QVERIFY(big.removeOldest(2));
        }
        QCOMPARE(big.count(), 4);
        QVERIFY(big.peek(&m));
        QCOMPARE(m.payload, payload + "596");
        QVERIFY(!big.removeOldest(0));
        QVERIFY2(QFileInfo(big.path()).size() < 2 * 1024 * 1024, qPrintable(QString::number(QFileInfo(big.path()).size())));
        MqttSpool again(dir.path() + QStringLiteral("/big"), 64 << 20);
        QVERIFY(again.open());
        QCOMPARE(again.count(), 4);
        QVERIFY(again.peek(&m, 3));
        QCOMPARE(m.payload, payload + "599");
    }

    void payloadsAndTopics()
    {
        ModelProblem problem;
        const auto model = MeterModelLoader::parseFile(QStringLiteral(FLOWMETER_SOURCE_DIR "/models/tessmark-fm1.json"), &problem);
        QVERIFY(model);
        MeterState st;
        st.line = 1;
        st.id = 7;
        st.online = true;
        st.seen = true;
        st.lastGood = QDateTime::fromString(QStringLiteral("2026-12-08T14:03:05.123+01:00"), Qt::ISODateWithMs);
        for (const ModelValue& v : model->values) {
            double x = 0;
            switch (v.role) {
            case ValueRole::FlowRate: x = 12.5; break;
            case ValueRole::Totalizer: x = std::nan(""); break;
            case ValueRole::AlarmBits: x = 5; break;
            case ValueRole::SerialNumber: x = 123456; break;
            case ValueRole::FirmwareVersion: x = 0x0102; break;
            default: x = 1;
            }
            st.values << x;
            st.wholes << 0;
            st.problems << ReadingCheck::Valid;
        }
        const ValueFormat format(DisplayUnits(), QLocale(QLocale::Swedish));
        const QJsonObject o = QJsonDocument::fromJson(MqttPayload::state(st, *model, format)).object();
        QCOMPARE(o.value("time").toString(), QStringLiteral("2026-12-08T14:03:05.123+01:00"));
        QCOMPARE(o.value("line").toInt(), 2);
        QCOMPARE(o.value("meter").toInt(), 7);
        QCOMPARE(o.value("state").toString(), QStringLiteral("alarm"));
        const QJsonObject values = o.value("values").toObject();
        QCOMPARE(values.value("flow_rate").toObject().value("value").toDouble(), 12.5);
        QCOMPARE(values.value("flow_rate").toObject().value("unit").toString(), QStringLiteral("m³/h"));
        QVERIFY(values.value("totalizer").toObject().value("value").isNull());
        QCOMPARE(values.value("serial_number").toObject().value("value").toDouble(), 123456.0);
        QVERIFY(!values.contains("reset_command"));
        // The firmware as the page and the records write it, not its register's number.
        QCOMPARE(values.value("firmware_version").toObject().value("value").toString(), QStringLiteral("1.2"));
        QCOMPARE(o.value("alarms").toArray(),
                 QJsonArray({QStringLiteral("Flow above limit"), QStringLiteral("Temperature above 60 °C")}));

        // Why it is away goes out in English whatever language the window speaks; the page
        // says it in Swedish.
        QTranslator sv;
        QVERIFY(sv.load(ProgramRunner::binDir() + "/lang/flowmeter/lang_sv_SE.qm"));
        QCoreApplication::installTranslator(&sv);
        st.online = false;
        st.reason = Reason(QT_TRANSLATE_NOOP("FlowMeter", "short answer (%1 of %2 bytes)")).arg(3).arg(37);
        const QJsonObject away = QJsonDocument::fromJson(MqttPayload::state(st, *model, format)).object();
        QCoreApplication::removeTranslator(&sv);
        QCOMPARE(away.value("state").toString(), QStringLiteral("offline"));
        QCOMPARE(away.value("detail").toString(), QStringLiteral("short answer (3 of 37 bytes)"));
        QCoreApplication::installTranslator(&sv);
        QCOMPARE(st.reason.text(), QStringLiteral("kort svar (3 av 37 byte)"));
        QCoreApplication::removeTranslator(&sv);
        QCOMPARE(MqttPayload::availability(st), QByteArray("offline"));

        MeterEvent e;
        e.kind = MeterEvent::AlarmRaised;
        e.line = 0;
        e.id = 3;
        e.bits = 2;
        e.wall = QDateTime::fromString(QStringLiteral("2026-12-08T13:03:05.000Z"), Qt::ISODateWithMs);
        const QJsonObject a = QJsonDocument::fromJson(MqttPayload::alarm(e, &*model)).object();
        QCOMPARE(a.value("event").toString(), QStringLiteral("raised"));
        QCOMPARE(a.value("alarms").toArray(), QJsonArray({QStringLiteral("No flow")}));
        QCOMPARE(a.value("time").toString(), QStringLiteral("2026-12-08T13:03:05.000+00:00"));
        e.kind = MeterEvent::CameBack;
        QVERIFY(MqttPayload::alarm(e, &*model).isEmpty());

        QCOMPARE(MqttPayload::stateTopic(QStringLiteral("corvane/st1"), 0, 12), QStringLiteral("corvane/st1/line1/meter12/state"));
        QCOMPARE(MqttLink::topicLevel(QStringLiteral(" pump/house #2+b ")), QStringLiteral("pump_house__2_b"));
        QVERIFY(MqttLink::defaultTopicPrefix().startsWith(QStringLiteral("corvane/")));
        QVERIFY(!MqttLink::defaultTopicPrefix().mid(8).contains(QLatin1Char('/')));
    }

    // In order, "online" on the status topic, and the retained ones there for a subscriber that
    // comes later.
    void messagesArriveInOrderAndRetainedForLateSubscribers()
    {
        MosquittoBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.error()));
        Subscriber early(broker.port(), QStringLiteral("order/#"), false, 0);
        QVERIFY(early.ready());
        QTemporaryDir spool;
        {
            // Left from an earlier run: one the broker would never take must not hold up the rest.
            MqttSpool left(spool.path(), 1 << 20);
            QVERIFY(left.open());
            QVERIFY(left.append({QStringLiteral("order/bad/#"), "x", 1, false, QDateTime::currentDateTime()}));
            QVERIFY(left.append({QStringLiteral("order/left"), numbered(-1), 1, false, QDateTime::currentDateTime()}));
        }
        MqttLink link(settingsFor(broker, QStringLiteral("order")), spool.path());
        QSignalSpy states(&link, &MqttLink::stateChanged);
        QVERIFY(link.start());
        QVERIFY(waitUntil([&] { return link.state() == MqttLink::State::Connected; }));
        QVERIFY(link.stateText().contains(QStringLiteral("connected")));
        QVERIFY(early.waitFor(QStringLiteral("order/status"), "online"));
        QVERIFY(waitUntil([&] { return early.on(QStringLiteral("order/left")).size() == 1; }));
        QVERIFY(waitUntil([&] { return link.spooled() == 0; }));
        QCOMPARE(link.refusedMessages(), 1);
        QVERIFY(!link.publish(QStringLiteral("order/+/x"), "y", 1, false));
        QVERIFY(link.error().contains(QStringLiteral("not valid")));
        for (int i = 0; i < 200; ++i)
            QVERIFY(link.publish(QStringLiteral("order/seq"), numbered(i), i % 2, false));
        QVERIFY(link.publish(QStringLiteral("order/line1/meter1/state"), numbered(1000), 1, true));
        QVERIFY(waitUntil([&] { return early.on(QStringLiteral("order/line1/meter1/state")).size() == 1; }));
        QList<int> expected;
        for (int i = 0; i < 200; ++i)
            expected << i;
        QCOMPARE(sequence(early.on(QStringLiteral("order/seq"))), expected);
        QCOMPARE(link.spooled(), 0);

        Subscriber late(broker.port(), QStringLiteral("order/#"));
        QVERIFY(late.ready());
        QVERIFY(late.waitFor(QStringLiteral("order/status"), "online"));
        QVERIFY(waitUntil([&] { return late.on(QStringLiteral("order/line1/meter1/state")).size() == 1; }));
        QVERIFY(late.on(QStringLiteral("order/line1/meter1/state")).front().retain);
        QCOMPARE(sequence(late.on(QStringLiteral("order/line1/meter1/state"))), QList<int>({1000}));
        QVERIFY(late.on(QStringLiteral("order/seq")).empty());

        link.stop();
        QVERIFY(late.waitFor(QStringLiteral("order/status"), "offline"));
        QCOMPARE(link.state(), MqttLink::State::Stopped);
        QVERIFY(!states.isEmpty());
    }

    // The last will: a link whose process dies is said "offline" by the broker.
    void lastWillWhenTheProcessDies()
    {
        MosquittoBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.error()));
        Subscriber sub(broker.port(), QStringLiteral("will/#"));
        QVERIFY(sub.ready());
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--link-child"), QString::number(broker.port()), QStringLiteral("will")});
        QVERIFY(child.waitForStarted());
        QVERIFY(sub.waitFor(QStringLiteral("will/status"), "online"));
        QVERIFY(sub.waitFor(QStringLiteral("will/alive"), "yes"));
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished());
        // The broker notices the dead socket at once on loopback.
        QVERIFY(sub.waitFor(QStringLiteral("will/status"), "offline"));
        Subscriber late(broker.port(), QStringLiteral("will/status"));
        QVERIFY(late.ready());
        QVERIFY(late.waitFor(QStringLiteral("will/status"), "offline"));
    }

    // The broker goes away for some seconds while messages are published, and comes back on
    // the same port: every message of that time arrives, in order, with its own time; the
    // state said why meanwhile. Then a small spool: the oldest go, and the number is said.
    void brokerOutageSpoolsAndReplaysInOrder()
    {
        MosquittoBroker broker;
        MosquittoBroker::Options lasting;
        lasting.persistence = true;
        QVERIFY2(broker.start(lasting), qPrintable(broker.error()));
        Subscriber sub(broker.port(), QStringLiteral("outage/seq"), true);
        QVERIFY(sub.ready());
        QTemporaryDir spool;
        MqttLink link(settingsFor(broker, QStringLiteral("outage")), spool.path());
        QVERIFY(link.start());
        QVERIFY(waitUntil([&] { return link.state() == MqttLink::State::Connected; }));
        int n = 0;
        for (; n < 20; ++n)
            QVERIFY(link.publish(QStringLiteral("outage/seq"), numbered(n), 1, false));
        QVERIFY(waitUntil([&] { return sub.on(QStringLiteral("outage/seq")).size() == 20 && link.unconfirmed() == 0; }));
        broker.stop();
        QVERIFY(waitUntil([&] { return link.state() != MqttLink::State::Connected; }));
        QList<QString> timesDuring;
        QElapsedTimer down;
        down.start();
        while (down.elapsed() < 3000) {
            const QByteArray p = numbered(n++);
            timesDuring << QJsonDocument::fromJson(p).object().value("time").toString();
            QVERIFY(link.publish(QStringLiteral("outage/seq"), p, 1, false));
            QTest::qWait(50);
        }
        // Between two tries it says why the last failed (while trying, "connecting").
        QVERIFY2(waitUntil([&] { return link.stateText().contains(QStringLiteral("not reachable")); }, 10000),
                 qPrintable(link.stateText()));
        QVERIFY(link.spooled() > 0);
        const QDateTime restarted = QDateTime::currentDateTime();
        QVERIFY2(broker.start(lasting), qPrintable(broker.error()));
        for (int i = 0; i < 20; ++i)
            QVERIFY(link.publish(QStringLiteral("outage/seq"), numbered(n++), 1, false));
        // The back-off may have grown to 4 s by now.
        QVERIFY(waitUntil([&] { return sequence(sub.on(QStringLiteral("outage/seq"))).contains(n - 1); }, 30000));
        QList<int> expected;
        for (int i = 0; i < n; ++i)
            expected << i;
        // The broker may deliver again to the lasting session what it had not seen confirmed when
        // it stopped (the link had all of it confirmed): each number counts at its first arrival.
        QList<int> firsts;
        for (int k : sequence(sub.on(QStringLiteral("outage/seq"))))
            if (!firsts.contains(k))
                firsts << k;
        QCOMPARE(firsts, expected);
        for (const auto& g : sub.on(QStringLiteral("outage/seq"))) {
            const QJsonObject o = QJsonDocument::fromJson(g.payload).object();
            const int k = o.value("n").toInt();
            if (k >= 20 && k < 20 + timesDuring.size()) {
                QCOMPARE(o.value("time").toString(), timesDuring[k - 20]);
                QVERIFY(QDateTime::fromString(o.value("time").toString(), Qt::ISODateWithMs) < restarted);
            }
        }
        QVERIFY(waitUntil([&] { return link.spooled() == 0; }));
        QVERIFY(link.connectAttempts() >= 2);
    }

    // Messages handed over but never confirmed (the broker hangs, then dies) are sent again
    // after the restart rather than lost with the connection.
    void unconfirmedMessagesAreSentAgain()
    {
        MosquittoBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.error()));
        QTemporaryDir spool;
        MqttLink link(settingsFor(broker, QStringLiteral("hang")), spool.path());
        QVERIFY(link.start());
        QVERIFY(waitUntil([&] { return link.state() == MqttLink::State::Connected; }));
        broker.suspend();
        for (int i = 0; i < 30; ++i)
            QVERIFY(link.publish(QStringLiteral("hang/seq/%1").arg(i), numbered(i), 1, true));
        QCOMPARE(link.unconfirmed(), 30);
        QCOMPARE(link.spooled(), 0);
        broker.kill();
        QVERIFY(waitUntil([&] { return link.state() != MqttLink::State::Connected; }));
        QCOMPARE(link.spooled(), 30);
        QVERIFY2(broker.start(), qPrintable(broker.error()));
        QVERIFY(waitUntil([&] { return link.spooled() == 0 && link.state() == MqttLink::State::Connected; }, 30000));
        Subscriber late(broker.port(), QStringLiteral("hang/seq/#"));
        QVERIFY(late.ready());
        QVERIFY(waitUntil([&] { return late.messages().size() >= 30; }));
        QList<int> got = sequence(late.messages());
        std::sort(got.begin(), got.end());
        QList<int> expected;
        for (int i = 0; i < 30; ++i)
            expected << i;
        QCOMPARE(got, expected);
    }

    void smallSpoolDropsTheOldestAndCounts()
    {
        MosquittoBroker broker;
        MosquittoBroker::Options lasting;
        lasting.persistence = true;
        QVERIFY2(broker.start(lasting), qPrintable(broker.error()));
        Subscriber sub(broker.port(), QStringLiteral("small/seq"), true);
        QVERIFY(sub.ready());
        QTemporaryDir spool;
        MqttSettings s = settingsFor(broker, QStringLiteral("small"));
        const qint64 one = 12 + MqttSpool::encode({QStringLiteral("small/seq"), numbered(10), 1, false, QDateTime::currentDateTime()}).size();
        s.spoolLimitBytes = one * 10;
        MqttLink link(s, spool.path());
        QSignalSpy dropped(&link, &MqttLink::messagesDropped);
        QVERIFY(link.start());
        QVERIFY(waitUntil([&] { return link.state() == MqttLink::State::Connected; }));
        broker.stop();
        QVERIFY(waitUntil([&] { return link.state() != MqttLink::State::Connected; }));
        for (int i = 10; i < 40; ++i)
            link.publish(QStringLiteral("small/seq"), numbered(i), 1, false);
        QVERIFY2(waitUntil([&] { return link.spooled() == 10; }), qPrintable(QString::number(link.spooled())));
        QCOMPARE(link.spoolDropped(), 20);
        QVERIFY(waitUntil([&] { return !dropped.isEmpty() && dropped.last().at(0).toLongLong() == 20; }));
        QCOMPARE(dropped.last().at(0).toLongLong(), 20);

        QVERIFY2(broker.start(lasting), qPrintable(broker.error()));
        QVERIFY(waitUntil([&] { return sub.on(QStringLiteral("small/seq")).size() >= 10; }, 30000));
        QCOMPARE(sequence(sub.on(QStringLiteral("small/seq"))), QList<int>({30, 31, 32, 33, 34, 35, 36, 37, 38, 39}));
    }

    // A spool full while it is being sent: the oldest it drops to make room may be the ones in
    // flight. Their confirmation must not take newer messages with them, and none is lost.
    void fullSpoolWhileSendingLosesNothingNewer()
    {
        const int port = MosquittoBroker::freePort();
        MqttSettings s;
        s.host = QStringLiteral("127.0.0.1");
        s.port = port;
        s.topicPrefix = QStringLiteral("evict");
        s.clientId = QStringLiteral("evict");
        const qint64 one = 12 + MqttSpool::encode({QStringLiteral("evict/seq"), numbered(10), 1, false,
                                                    QDateTime::currentDateTime()}).size();
        s.spoolLimitBytes = one * 10;
        QTemporaryDir spool;
        MqttLink link(s, spool.path());
        QVERIFY(link.start());
        for (int i = 0; i < 10; ++i)
            QVERIFY(link.publish(QStringLiteral("evict/seq"), numbered(i), 1, false));
        QVERIFY(waitUntil([&] { return link.spooled() == 10; }));

        HoldingBroker held(port);
        QVERIFY(held.listening());
        auto sent = [&] {
            std::vector<Subscriber::Got> seq;
            for (const HoldingBroker::Got& g : held.got)
                if (g.topic == QStringLiteral("evict/seq"))
                    seq.push_back({g.topic, g.payload, false});
            return sequence(seq);
        };
        QVERIFY2(waitUntil([&] { return sent().size() == 10; }, 15000), qPrintable(link.stateText()));
        // Five more while those ten wait for their confirmation: the spool drops five of them.
        for (int i = 10; i < 15; ++i)
            QVERIFY(link.publish(QStringLiteral("evict/seq"), numbered(i), 1, false));
        QVERIFY(waitUntil([&] { return link.spoolDropped() == 5; }));
        held.confirmAll();
        QVERIFY2(waitUntil([&] { return sent().contains(14); }), qPrintable(QString::number(link.spooled())));
        held.confirmAll();
        QVERIFY(waitUntil([&] { return link.spooled() == 0 && link.unconfirmed() == 0; }));
        QList<int> expected;
        for (int i = 0; i < 15; ++i)
            expected << i;
        QCOMPARE(sent(), expected);
        QCOMPARE(link.spoolDropped(), 5);
        link.stop(0);
        held.close();
    }

    // A full disk while the broker is away: said in words, the messages wait in memory, go into
    // the spool once there is room, and every one arrives in order when the broker is back.
    void fullDiskKeepsTheMessagesUntilThereIsRoom()
    {
        SmallTmpfs disk(256);
        if (!disk.problem().isEmpty())
            QSKIP(qPrintable(disk.problem()));
        MosquittoBroker broker;
        MosquittoBroker::Options lasting;
        lasting.persistence = true;
        QVERIFY2(broker.start(lasting), qPrintable(broker.error()));
        Subscriber sub(broker.port(), QStringLiteral("disk/seq"), true);
        QVERIFY(sub.ready());
        MqttLink link(settingsFor(broker, QStringLiteral("disk")), disk.path());
        QSignalSpy failed(&link, &MqttLink::spoolFailed);
        QVERIFY(link.start());
        QVERIFY(waitUntil([&] { return link.state() == MqttLink::State::Connected; }));
        broker.stop();
        QVERIFY(waitUntil([&] { return link.state() != MqttLink::State::Connected; }));
        QVERIFY(disk.fill());
        // Each larger than a page, so that none fits into what the file already holds.
        auto padded = [](int n) {
            QJsonObject o = QJsonDocument::fromJson(numbered(n)).object();
            o.insert(QStringLiteral("pad"), QString(5000, QLatin1Char('x')));
            return QJsonDocument(o).toJson(QJsonDocument::Compact);
        };
        for (int i = 0; i < 20; ++i)
            QVERIFY(link.publish(QStringLiteral("disk/seq"), padded(i), 1, false));
        QVERIFY(waitUntil([&] { return failed.size() == 1; }));
        QVERIFY2(failed.first().at(0).toString().contains(QStringLiteral("No space left on device")),
                 qPrintable(failed.first().at(0).toString()));
        QCOMPARE(link.spooled(), 20);
        QVERIFY(disk.free());
        QVERIFY(waitUntil([&] { return failed.size() == 2; }, 10000));
        QVERIFY(failed.last().at(0).toString().isEmpty());
        QCOMPARE(link.spoolDropped(), 0);
        QVERIFY(QFileInfo(disk.path() + QStringLiteral("/spool.dat")).size() > 20 * 5000);

        QVERIFY2(broker.start(lasting), qPrintable(broker.error()));
        QVERIFY(waitUntil([&] { return sub.on(QStringLiteral("disk/seq")).size() >= 20; }, 30000));
        QList<int> expected;
        for (int i = 0; i < 20; ++i)
            expected << i;
        QCOMPARE(sequence(sub.on(QStringLiteral("disk/seq"))), expected);
        // The broker's confirmation may come after its subscriber had them.
        QVERIFY(waitUntil([&] { return link.spooled() == 0; }));
    }

    // TLS with the test's own CA, and a password file: the right password gets through, a wrong
    // one is said in words and tried again with back-off, a stranger's CA is a TLS failure.
    void tlsAndPasswords()
    {
        QTemporaryDir pki;
        QString failed;
        QVERIFY2(makePki(pki.path(), &failed), qPrintable(failed));
        auto p = [&](const QString& f) { return pki.filePath(f); };

        MosquittoBroker broker;
        MosquittoBroker::Options o;
        o.caFile = p("ca.crt");
        o.certFile = p("server.crt");
        o.keyFile = p("server.key");
        o.passwordFile = p("passwords");
        QVERIFY2(broker.start(o), qPrintable(broker.error()));

        MqttSettings s = settingsFor(broker, QStringLiteral("secure"));
        s.tls = true;
        s.caFile = p("ca.crt");
        s.userName = QStringLiteral("station");
        s.password = QStringLiteral("s3cret-Pw");
        {
            QTemporaryDir spool;
            MqttLink link(s, spool.path());
            QVERIFY(link.start());
            QVERIFY2(waitUntil([&] { return link.state() == MqttLink::State::Connected; }), qPrintable(link.stateText()));
            link.stop();
        }
        QVERIFY2(broker.log().contains(QStringLiteral("u'station'")), qPrintable(broker.log()));

        // A wrong password: words, and few tries in 4 s (1 + 2 s of back-off: three at most).
        s.password = QStringLiteral("wrong-Pw");
        s.clientId = QStringLiteral("secure-wrong");
        {
            QTemporaryDir spool;
            MqttLink link(s, spool.path());
            QStringList said;
            QObject::connect(&link, &MqttLink::stateChanged, &link,
                             [&](MqttLink::State, const QString& words) { said << words; });
            QVERIFY(link.start());
            QVERIFY(waitUntil([&] { return link.state() == MqttLink::State::Refused; }));
            QVERIFY2(link.stateText().startsWith(QStringLiteral("refused: wrong user name or password")), qPrintable(link.stateText()));
            QElapsedTimer refusedAt;
            refusedAt.start();
            QVERIFY(waitUntil([&] { return refusedAt.elapsed() >= 4000 && link.connectAttempts() >= 2; }, 30000));
            const int tries = link.connectAttempts();
            QVERIFY2(tries >= 2 && tries <= 4, qPrintable(QString::number(tries)));
            QVERIFY(link.stateText().contains(QStringLiteral("next try in")));
            link.stop();
            for (const QString& w : said)
                QVERIFY(!w.contains(QStringLiteral("wrong-Pw")));
            QVERIFY(!said.isEmpty());
        }
        QVERIFY(!broker.log().contains(QStringLiteral("wrong-Pw")));

        // A broker whose certificate our CA did not sign.
        s.password = QStringLiteral("s3cret-Pw");
        s.caFile = p("other.crt");
        s.clientId = QStringLiteral("secure-other");
        QTemporaryDir spool;
        MqttLink link(s, spool.path());
        QVERIFY(link.start());
        QVERIFY2(waitUntil([&] { return link.state() == MqttLink::State::TlsFailure; }), qPrintable(link.stateText()));
        QVERIFY2(link.stateText().startsWith(QStringLiteral("TLS failure")), qPrintable(link.stateText()));
    }

    // Something on the broker's port that takes the connection and never answers it: said as
    // such after the connect's own time-out, not as a connection lost once the keep-alive ran out,
    // and tried again.
    void silentBrokerIsSaidNotToAnswer()
    {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        MqttSettings s;
        s.host = QStringLiteral("127.0.0.1");
        s.port = silent.serverPort();
        s.topicPrefix = s.clientId = QStringLiteral("silent");
        QTemporaryDir spool;
        // Before the link: its end says "stopped" into it.
        QStringList said;
        MqttLink link(s, spool.path());
        QObject::connect(&link, &MqttLink::stateChanged, &link,
                         [&](MqttLink::State, const QString& words) { said << words; });
        QVERIFY(link.start());
        QVERIFY(waitUntil([&] { return silent.hasPendingConnections(); }));
        QVERIFY2(waitUntil([&] { return link.connectAttempts() >= 2; }, 90000), qPrintable(said.join('\n')));
        QVERIFY2(said.filter(QStringLiteral("the broker did not answer the connection within 10 s")).size() >= 1,
                 qPrintable(said.join('\n')));
        QVERIFY2(said.filter(QStringLiteral("connection lost")).isEmpty(), qPrintable(said.join('\n')));
        QCOMPARE(link.connections(), 0);
        link.stop(0);
    }

    // The real program publishing its meters: every meter's state with the values the simulator
    // served, retained for a subscriber that comes later; an alarm set at the meter as an alarm
    // message; the broker's last will "offline" once the program is killed.
    void programPublishesMetersRetainedWithAlarmsAndLastWill()
    {
        MosquittoBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.error()));
        FlowSim sim("1,2");
        QVERIFY(sim.started);
        ProgramRunner p;
        publishTo(p.configDir(), broker, "test/station", {{"homeAssistant", true}});
        Subscriber sub(broker.port(), "test/station/#", false, 0);
        QVERIFY(sub.ready());
        QVERIFY(startStation(p, sim, "1,2"));
        QVERIFY(sub.waitFor("test/station/status", "online"));

        for (int unit : {1, 2}) {
            const QString topic = QString("test/station/line1/meter%1/state").arg(unit);
            // A few publications, so that the one compared is of a reading, not of the start.
            QVERIFY2(waitUntil([&] { return sub.on(topic).size() >= 3; }, 30000), qPrintable(topic));
            const QJsonObject o = QJsonDocument::fromJson(sub.on(topic).back().payload).object();
            QCOMPARE(o.value("meter").toInt(), unit);
            QCOMPARE(o.value("state").toString(), QString("online"));
            QVERIFY(QDateTime::fromString(o.value("time").toString(), Qt::ISODateWithMs).isValid());
            const QJsonObject flow = o.value("values").toObject().value("flow_rate").toObject();
            QCOMPARE(flow.value("unit").toString(), QString::fromUtf8("m³/h"));
            const double published = flow.value("value").toDouble(std::nan(""));
            const double total = o.value("values").toObject().value("totalizer").toObject().value("value").toDouble();
            const bool matched = sim.answered(unit, [&](const QVector<float>& a) {
                return std::abs(double(a[0]) - published) < 1e-4 && std::abs(double(a[1]) - total) < 1e-2;
            });
            QVERIFY2(matched, qPrintable(QString("unit %1 published flow %2, total %3, which no answer held")
                                             .arg(unit).arg(published).arg(total)));
            QVERIFY(sub.waitFor(QString("test/station/line1/meter%1/availability").arg(unit), "online"));
        }

        // Home Assistant is told of each meter's flow, read from its state topic.
        {
            Subscriber ha(broker.port(), "homeassistant/#", false, 0);
            QVERIFY(ha.ready());
            const QString config = "homeassistant/sensor/station/line1_meter2_flow_rate/config";
            QVERIFY(waitUntil([&] { return !ha.on(config).empty(); }));
            const QJsonObject o = QJsonDocument::fromJson(ha.on(config).front().payload).object();
            QCOMPARE(o.value("state_topic").toString(), QString("test/station/line1/meter2/state"));
            QCOMPARE(o.value("unit_of_measurement").toString(), QString::fromUtf8("m³/h"));
            QVERIFY(o.value("value_template").toString().contains("flow_rate"));
            QVERIFY(ha.on(config).front().retain);
        }

        // Unit 2's flow limit under its flow: an alarm message in the model's words.
        QVERIFY(sim.command("set 2 13 50"));
        const QString alarmTopic = "test/station/line1/meter2/alarm";
        QVERIFY(waitUntil([&] { return !sub.on(alarmTopic).empty(); }, 20000));
        const QJsonObject alarm = QJsonDocument::fromJson(sub.on(alarmTopic).front().payload).object();
        QCOMPARE(alarm.value("event").toString(), QString("raised"));
        QVERIFY2(alarm.value("alarms").toArray().contains(QJsonValue("Flow above limit")),
                 sub.on(alarmTopic).front().payload.constData());
        QVERIFY(!sub.on(alarmTopic).front().retain);

        {
            Subscriber late(broker.port(), "test/station/#", false, 0);
            QVERIFY(late.ready());
            QVERIFY(waitUntil([&] {
                int retained = 0;
                for (const Subscriber::Got& g : late.messages())
                    retained += g.retain && (g.topic.endsWith("meter1/state") || g.topic.endsWith("meter2/state")
                                             || g.topic == "test/station/status") ? 1 : 0;
                return retained >= 3;
            }));
            // An alarm is an event: none waits for a subscriber that comes later.
            for (const Subscriber::Got& g : late.messages())
                QVERIFY2(!g.topic.endsWith("/alarm") || !g.retain, qPrintable(g.topic));
        }

        QVERIFY(waitUntil([&] { return p.log().contains("Flow meter plugin: MQTT: connected"); }));
        p.process().kill();
        p.process().waitForFinished(10000);
        QVERIFY(sub.waitFor("test/station/status", "offline", 20000));
    }

    void programQuitLeavesTheMetersAsTheyWere_data()
    {
        QTest::addColumn<bool>("menu");
        QTest::newRow("quit through the menu") << true;
        QTest::newRow("SIGTERM") << false;
    }

    // A station that quits says so on its status topic; its meters, fine all along, are neither
    // raised as alarms nor said offline or lost: the lines stop before their ports close.
    void programQuitLeavesTheMetersAsTheyWere()
    {
        QFETCH(bool, menu);
        MosquittoBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.error()));
        FlowSim sim("1,2");
        QVERIFY(sim.started);
        QTemporaryDir root;
        const QString bin = ProgramRunner::stageProgram(root.path());
        QVERIFY(!bin.isEmpty() && ProgramRunner::stageFlowmeter(bin));
        // Loaded after the flow meter, it quits through the window's menu action, answering Yes.
        const QString quitNow = root.filePath("quit-now");
        if (menu)
            QVERIFY(QFile::copy(testPlugin("tp_driver"), bin + "/plugins/zdriver.plg"));
        ProgramRunner p;
        p.setProgramDir(bin);
        publishTo(p.configDir(), broker, "quit/station");
        Subscriber sub(broker.port(), "quit/station/#", false, 0);
        QVERIFY(sub.ready());
        QVERIFY(startStation(p, sim, "1,2", {{"CORVANE_TEST_QUIT_AFTER", quitNow}}));
        for (int unit : {1, 2}) {
            QVERIFY(sub.waitFor(QString("quit/station/line1/meter%1/availability").arg(unit), "online", 30000));
            const QString state = QString("quit/station/line1/meter%1/state").arg(unit);
            QVERIFY(waitUntil([&] { return !sub.on(state).empty(); }, 30000));
        }
        QVERIFY(waitUntil([&] { return p.log().count("Flow meter plugin: Unit 2: flow") >= 3; }, 30000));

        if (menu) {
            QVERIFY(QFile(quitNow).open(QIODevice::WriteOnly));
            QVERIFY(p.process().waitForFinished(30000));
            p.collect();
            QCOMPARE(p.process().exitStatus(), QProcess::NormalExit);
            QCOMPARE(p.exitCode(), 0);
            QVERIFY(p.log().contains("driver: quitting"));
        } else {
            QVERIFY(p.stop());
        }
        QVERIFY(sub.waitFor("quit/station/status", "offline", 20000));

        const QString log = p.log();
        QVERIFY2(!log.contains("lost (device gone)") && !log.contains(" offline: "), qPrintable(log.right(3000)));
        QVERIFY2(!p.err().contains("port that is not in port list"), qPrintable(p.err().right(3000)));
        QVERIFY2(!p.err().contains("Transaction thread not running"), qPrintable(p.err().right(3000)));
        QFile alarms(p.dataDir() + "/Tessmark/Corvane/records/alarms.json");
        if (alarms.open(QIODevice::ReadOnly)) {
            const QByteArray json = alarms.readAll();
            QVERIFY2(QJsonDocument::fromJson(json).object().value("entries").toArray().isEmpty(), json.constData());
        }
        // What a subscriber that comes later is told of the meters: as they were.
        Subscriber late(broker.port(), "quit/station/#", false, 0);
        QVERIFY(late.ready());
        for (int unit : {1, 2}) {
            const QString topic = QString("quit/station/line1/meter%1/availability").arg(unit);
            QVERIFY(late.waitFor(topic, "online"));
            for (const Subscriber::Got& g : sub.on(topic))
                QCOMPARE(g.payload, QByteArray("online"));
            const QString state = QString("quit/station/line1/meter%1/state").arg(unit);
            QVERIFY(waitUntil([&] { return !late.on(state).empty(); }));
            QCOMPARE(QJsonDocument::fromJson(late.on(state).back().payload).object().value("state").toString(),
                     QString("online"));
        }
        QVERIFY(late.waitFor("quit/station/status", "offline"));
    }

    // The broker gone for a minute while the program polls, then back: every reading of that
    // minute arrives after it, in order, each with the time it was read.
    void programReplaysAMinuteWithoutBrokerInOrder()
    {
        MosquittoBroker broker;
        MosquittoBroker::Options lasting;
        lasting.persistence = true;
        QVERIFY2(broker.start(lasting), qPrintable(broker.error()));
        FlowSim sim("1");
        QVERIFY(sim.started);
        ProgramRunner p;
        publishTo(p.configDir(), broker, "replay/station");
        const QString topic = "replay/station/line1/meter1/state";
        Subscriber sub(broker.port(), topic, true);
        QVERIFY(sub.ready());
        QVERIFY(startStation(p, sim, "1"));
        QVERIFY(waitUntil([&] { return readingTimes(sub.on(topic)).size() >= 3; }, 30000));
        broker.stop();
        const QDateTime stopped = QDateTime::currentDateTime();
        QVERIFY(p.waitFor("MQTT: broker not reachable", 20000));
        QTest::qWait(60000);
        const QDateTime restarted = QDateTime::currentDateTime();
        QVERIFY2(broker.start(lasting), qPrintable(broker.error()));
        // The back-off may have reached 60 s, and the lasting session comes back on its own.
        QVERIFY(waitUntil([&] {
            const QList<QDateTime> t = readingTimes(sub.on(topic));
            return !t.isEmpty() && t.last() > restarted.addSecs(2);
        }, 90000));
        const QList<QDateTime> times = readingTimes(sub.on(topic));
        int during = 0;
        for (int i = 1; i < times.size(); ++i) {
            QVERIFY2(times[i] > times[i - 1], qPrintable(times[i].toString(Qt::ISODateWithMs)));
            // One a second: readings lost would leave a hole. A starved machine polls late now
            // and then, so only a hole of many readings is taken for a loss; the count below
            // holds the rest.
            QVERIFY2(times[i - 1].msecsTo(times[i]) < 10000,
                     qPrintable(times[i - 1].toString(Qt::ISODateWithMs) + " .. " + times[i].toString(Qt::ISODateWithMs)));
            during += times[i] > stopped.addSecs(1) && times[i] < restarted ? 1 : 0;
        }
        QVERIFY2(during >= 50, qPrintable(QString::number(during)));
        QVERIFY(p.log().contains("Flow meter plugin: MQTT: connected"));
        QVERIFY(p.stop());
    }

    // Over TLS with the test's CA: a wrong password is said in words and the program tries again,
    // ever later, not in a loop; the password itself is in no line of the log and not in the
    // settings file. With the right one it connects and its readings arrive.
    void programOverTlsWithAWrongPasswordSaysSoAndBacksOff()
    {
        QTemporaryDir pki;
        QString failed;
        QVERIFY2(makePki(pki.path(), &failed), qPrintable(failed));
        MosquittoBroker broker;
        MosquittoBroker::Options o;
        o.caFile = pki.filePath("ca.crt");
        o.certFile = pki.filePath("server.crt");
        o.keyFile = pki.filePath("server.key");
        o.passwordFile = pki.filePath("passwords");
        QVERIFY2(broker.start(o), qPrintable(broker.error()));
        FlowSim sim("1");
        QVERIFY(sim.started);
        ProgramRunner p;
        publishTo(p.configDir(), broker, "auth/station",
                  {{"user", "station"}, {"tls", true}, {"caFile", pki.filePath("ca.crt")}});
        QVERIFY(startStation(p, sim, "1", {{"CORVANE_FLOWMETER_MQTT_PASSWORD", "wrong-Pw-5521"}}));
        QVERIFY(p.waitFor("MQTT: refused: wrong user name or password", 20000));
        QElapsedTimer refusedAt;
        refusedAt.start();
        QVERIFY(waitUntil([&] { return refusedAt.elapsed() >= 6000 && broker.log().count("not authorised") >= 2; }, 30000));
        // Waits of 1, 2 and 4 s: at most four tries in the first seven seconds.
        const int tries = int(broker.log().count("not authorised"));
        QVERIFY2(tries >= 2 && tries <= 4, qPrintable(broker.log()));
        const QString log = p.log();
        const int two = int(log.indexOf("wrong user name or password - next try in 2 s"));
        QVERIFY2(two > 0 && log.indexOf("wrong user name or password - next try in 4 s") > two, qPrintable(log));
        QVERIFY(log.contains("MQTT: the password is taken from the environment"));
        QVERIFY(p.stop());
        QVERIFY(!p.log().contains("wrong-Pw-5521"));
        QVERIFY(!p.out().contains("wrong-Pw-5521") && !p.err().contains("wrong-Pw-5521"));
        QFile settings(p.configDir() + "/Tessmark/Corvane.conf");
        QVERIFY(settings.open(QIODevice::ReadOnly));
        const QByteArray stored = settings.readAll();
        QVERIFY2(stored.contains("mqtt\\user=station"), stored.constData());
        QVERIFY(!stored.contains("wrong-Pw-5521"));
        QVERIFY(!stored.contains("password"));

        ProgramRunner right;
        publishTo(right.configDir(), broker, "auth/station",
                  {{"user", "station"}, {"tls", true}, {"caFile", pki.filePath("ca.crt")}});
        QVERIFY(startStation(right, sim, "1", {{"CORVANE_FLOWMETER_MQTT_PASSWORD", "s3cret-Pw"}}));
        QVERIFY2(right.waitFor("Flow meter plugin: MQTT: connected", 20000), qPrintable(right.log()));
        QVERIFY(right.log().contains("MQTT: publishing to 127.0.0.1:" + QString::number(broker.port()) + " (TLS)"));
        QVERIFY2(waitUntil([&] { return broker.log().contains("'auth/station/line1/meter1/state'"); }, 20000),
                 qPrintable(broker.log()));
        QVERIFY(right.stop());
        QVERIFY(!right.log().contains("s3cret-Pw"));
    }

    // A reading taken on a line's thread goes out at once, not at the next tick; each meter once
    // an interval: a second reading within it is not sent, and the tick publishes only the
    // meters that had none.
    void readingsGoOutAtOnceOnceAnInterval()
    {
        ModelProblem problem;
        const auto model = MeterModelLoader::parseFile(QStringLiteral(FLOWMETER_SOURCE_DIR "/models/tessmark-fm1.json"), &problem);
        QVERIFY(model);
        MosquittoBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.error()));
        Subscriber sub(broker.port(), "fresh/#");
        QVERIFY(sub.ready());
        QTemporaryDir spool;
        MqttPublisher publisher([](const QString&) {});
        publisher.start(settingsFor(broker, "fresh"), spool.path());
        QVERIFY(waitUntil([&] { return publisher.currentLink()->state() == MqttLink::State::Connected; }));
        MqttPublisher::Line line;
        line.config.port = "/dev/ttyUSB0";
        line.config.meters = {MeterConfig{1, model->name(), "one"}, MeterConfig{2, model->name(), "two"}};
        const QMap<QString, MeterModel> models{{model->name(), *model}};
        const ValueFormat format(DisplayUnits(), QLocale::c());
        const QDateTime t0 = QDateTime::currentDateTime();
        auto read = [&](int id, int second) { return meterReading(*model, 0, id, second, t0.addSecs(second), 1000 * (second + 1)); };
        auto flows = [&](int id) {
            QList<int> out;
            for (const auto& g : sub.on(QString("fresh/line1/meter%1/state").arg(id)))
                out << int(QJsonDocument::fromJson(g.payload).object().value("values").toObject().value("flow_rate")
                               .toObject().value("value").toDouble());
            return out;
        };
        auto readOnALine = [&](const MeterState& st, const QString& port = "/dev/ttyUSB0") {
            std::thread lineThread([&] { publisher.reading(port, st); });
            lineThread.join();
        };

        // Before the link's first tick nothing says how to publish: the tick does.
        readOnALine(read(1, 0));
        line.units[1] = read(1, 0);
        line.units[2] = read(2, 0);
        publisher.tick({line}, models, format);
        QVERIFY(waitUntil([&] { return flows(1).size() == 1 && flows(2).size() == 1; }));
        // Meter 1's next reading, without a tick.
        readOnALine(read(1, 1));
        QVERIFY(waitUntil([&] { return flows(1) == QList<int>({0, 1}); }));
        // Its third in the same interval waits; at the tick only meter 2 goes out.
        readOnALine(read(1, 2));
        line.units[1] = read(1, 2);
        publisher.tick({line}, models, format);
        QVERIFY(waitUntil([&] { return flows(2).size() == 2; }));
        QCOMPARE(flows(1), QList<int>({0, 1}));
        // A new interval: at once again, and a reading the tick already took is not sent twice.
        readOnALine(read(1, 3));
        QVERIFY(waitUntil([&] { return flows(1) == QList<int>({0, 1, 3}); }));
        line.units[1] = read(1, 4);
        line.units[2] = read(2, 4);
        publisher.tick({line}, models, format);
        readOnALine(read(2, 4));
        readOnALine(read(2, 5));
        QVERIFY(waitUntil([&] { return flows(2) == QList<int>({0, 0, 4, 5}); }));
        QCOMPARE(flows(1), QList<int>({0, 1, 3}));
        // Read just before a tick, a meter is not sent again at the next: the tick sends a meter
        // only after a whole interval without a reading.
        line.units[1] = read(1, 7);
        publisher.tick({line}, models, format);
        publisher.tick({line}, models, format);
        QVERIFY(waitUntil([&] { return flows(1) == QList<int>({0, 1, 3, 7}); }));
        QCOMPARE(flows(2), QList<int>({0, 0, 4, 5}));
        // The same reading turned out of range is news: sent, its flow without a number.
        MeterState invalid = read(1, 7);
        invalid.problems[model->indexOf(ValueRole::FlowRate)] = ReadingCheck::OutOfRange;
        readOnALine(invalid);
        QVERIFY(waitUntil([&] { return flows(1).size() == 5; }));
        QVERIFY(QJsonDocument::fromJson(sub.on("fresh/line1/meter1/state").back().payload).object().value("values")
                    .toObject().value("flow_rate").toObject().value("value").isNull());
        // A line that read in a place the last tick gave to another port (lines moved since):
        // its reading waits for the tick, rather than going out as the other line's meter.
        readOnALine(read(2, 9), "/dev/ttyUSB1");
        readOnALine(read(2, 10));
        QVERIFY(waitUntil([&] { return flows(2) == QList<int>({0, 0, 4, 5, 10}); }));
        // A line may still read after the link stopped: nothing goes to a link gone.
        publisher.stop();
        readOnALine(read(1, 6));
    }

    // After a start each meter's first reading goes out at once, not an interval later; the
    // first tick then does not send it again, and the next reading after it goes out: one a
    // meter an interval. A meter read before the start is sent with the start.
    void firstReadingGoesOutAtOnceAfterAStart()
    {
        ModelProblem problem;
        const auto model = MeterModelLoader::parseFile(QStringLiteral(FLOWMETER_SOURCE_DIR "/models/tessmark-fm1.json"), &problem);
        QVERIFY(model);
        MosquittoBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.error()));
        Subscriber sub(broker.port(), "first/#");
        QVERIFY(sub.ready());
        QTemporaryDir spool;
        MqttPublisher publisher([](const QString&) {});
        MqttPublisher::Line line;
        line.config.port = "/dev/ttyUSB0";
        line.config.meters = {MeterConfig{1, model->name(), "one"}, MeterConfig{2, model->name(), "two"},
                              MeterConfig{3, model->name(), "three"}};
        const QMap<QString, MeterModel> models{{model->name(), *model}};
        const ValueFormat format(DisplayUnits(), QLocale::c());
        const QDateTime t0 = QDateTime::currentDateTime();
        auto read = [&](int id, int second) { return meterReading(*model, 0, id, second, t0.addSecs(second), 1000 * (second + 1)); };
        auto flows = [&](int id) {
            QList<int> out;
            for (const auto& g : sub.on(QString("first/line1/meter%1/state").arg(id)))
                out << int(QJsonDocument::fromJson(g.payload).object().value("values").toObject().value("flow_rate")
                               .toObject().value("value").toDouble());
            return out;
        };
        auto readOnALine = [&](const MeterState& st) {
            std::thread lineThread([&] { publisher.reading("/dev/ttyUSB0", st); });
            lineThread.join();
        };
        // Meter 3 was read before the publisher started.
        line.units[3] = read(3, 0);
        publisher.start(settingsFor(broker, "first"), spool.path());
        publisher.begin({line}, models, format);
        QVERIFY(waitUntil([&] { return flows(3) == QList<int>({0}); }));
        readOnALine(read(1, 1));
        readOnALine(read(2, 1));
        QVERIFY(waitUntil([&] { return flows(1) == QList<int>({1}) && flows(2) == QList<int>({1}); }));
        // The first tick, an interval after the start: all three were sent in it.
        line.units[1] = read(1, 1);
        line.units[2] = read(2, 1);
        line.units[3] = read(3, 1);
        publisher.tick({line}, models, format);
        readOnALine(read(1, 11));
        QVERIFY(waitUntil([&] { return flows(1) == QList<int>({1, 11}); }));
        QCOMPARE(flows(2), QList<int>({1}));
        QCOMPARE(flows(3), QList<int>({0}));
        publisher.stop();

        // The program: with an interval of an hour, its meter's first reading still goes out.
        FlowSim sim("1");
        QVERIFY(sim.started);
        ProgramRunner p;
        publishTo(p.configDir(), broker, "first/station", {{"interval", 3600}});
        QVERIFY(startStation(p, sim, "1"));
        QVERIFY2(waitUntil([&] { return !sub.on("first/station/line1/meter1/state").empty(); }, 30000),
                 qPrintable(p.log()));
        QVERIFY(p.stop());
    }

    void homeAssistantConfigsFollowTheDiscoverySchema_data()
    {
        QTest::addColumn<DisplayUnits>("units");
        // What Home Assistant is told: its own spelling of the unit the state carries.
        QTest::addColumn<QStringList>("haUnits");
        QTest::newRow("m³/h, m³, °C") << DisplayUnits{} << QStringList{"m³/h", "m³", "°C"};
        QTest::newRow("l/min, l, °F")
            << DisplayUnits{DisplayUnit::LitrePerMinute, DisplayUnit::Litre, DisplayUnit::Fahrenheit}
            << QStringList{"L/min", "L", "°F"};
        QTest::newRow("US gal/min, US gal, °C")
            << DisplayUnits{DisplayUnit::UsGallonPerMinute, DisplayUnit::UsGallon, DisplayUnit::Celsius}
            << QStringList{"gal/min", "gal", "°C"};
    }

    // Every config a station publishes for the shipped models, as Home Assistant's MQTT
    // discovery documents it: only keys it knows, a device class only with a unit it takes for
    // that class, the device named after the meter with its firmware as the page shows it
    // (known only once the meter was read), and the alarm as a problem sensor.
    void homeAssistantConfigsFollowTheDiscoverySchema()
    {
        QFETCH(DisplayUnits, units);
        QFETCH(QStringList, haUnits);
        ModelProblem problem;
        QMap<QString, MeterModel> models;
        for (const char* file : {"tessmark-fm1.json", "tessmark-fm2i.json"}) {
            const auto model = MeterModelLoader::parseFile(QStringLiteral(FLOWMETER_SOURCE_DIR "/models/") + file, &problem);
            QVERIFY2(model, file);
            models.insert(model->name(), *model);
        }
        const QStringList names = models.keys();
        const QSet<QString> allowed{"name", "unique_id", "default_entity_id", "state_topic", "value_template",
                                    "unit_of_measurement", "device_class", "state_class", "entity_category",
                                    "availability", "availability_mode", "device", "origin", "payload_on",
                                    "payload_off", "suggested_display_precision", "icon"};
        const QSet<QString> required{"name", "unique_id", "default_entity_id", "state_topic", "value_template",
                                     "availability", "availability_mode", "device", "origin"};
        // The units Home Assistant takes for each device class we may send.
        const QMap<QString, QStringList> classUnits{
            {"volume_flow_rate", {"m³/h", "m³/min", "m³/s", "ft³/min", "L/h", "L/min", "L/s", "gal/h", "gal/min", "gal/d", "mL/s"}},
            {"water", {"m³", "L", "gal", "ft³", "CCF", "MCF"}},
            {"volume", {"m³", "L", "mL", "gal", "fl. oz.", "ft³", "CCF", "MCF"}},
            {"temperature", {"°C", "°F", "K"}},
            {"problem", {}}};
        const QSet<QString> stateClasses{"measurement", "total", "total_increasing"};

        MosquittoBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.error()));
        Subscriber ha(broker.port(), "homeassistant/#", false, 0);
        QVERIFY(ha.ready());
        QTemporaryDir spool;
        MqttSettings s = settingsFor(broker, "ha");
        s.homeAssistantDiscovery = true;
        const QString port = "/dev/ttyUSB0";
        MqttPublisher::Line line;
        line.config.port = port;
        line.config.meters = {MeterConfig{1, names[0], "Boiler room"}, MeterConfig{2, names[1], ""}};
        const ValueFormat format(units, QLocale(QLocale::Swedish));
        MqttPublisher publisher([](const QString&) {});
        publisher.start(s, spool.path());
        // Not read yet: announced at once, its firmware told once it is read.
        publisher.begin({line}, models, format);
        auto configs = [&] {
            QMap<QString, QJsonObject> last;
            for (const auto& g : ha.messages())
                if (!g.payload.isEmpty())
                    last.insert(g.topic, QJsonDocument::fromJson(g.payload).object());
            return last;
        };
        auto firmwareTold = [&] {
            const auto all = configs();
            return all.size() >= 2 && std::all_of(all.cbegin(), all.cend(), [](const QJsonObject& o) {
                return o.value("device").toObject().contains("sw_version");
            });
        };
        QVERIFY(waitUntil([&] { return configs().size() >= 2; }));
        for (int i = 0; i < 2; ++i) {
            const MeterModel& model = models[names[i]];
            MeterState st = meterReading(model, 0, i + 1, 1, QDateTime::currentDateTime(), 1000);
            st.values[model.indexOf(ValueRole::FirmwareVersion)] = 258;
            publisher.reading(port, st);
        }
        // Each config's sw_version is checked below, with all else that may be wrong of it.
        waitUntil(firmwareTold);
        // Other units chosen on the setup page: the state carries them from the next tick, and
        // the configs say so; then back.
        const QString flowConfig = "homeassistant/sensor/ha/line1_meter1_flow_rate/config";
        auto flowUnit = [&] { return configs().value(flowConfig).value("unit_of_measurement").toString(); };
        DisplayUnits other = units;
        other.flow = DisplayUnit::LitrePerSecond;
        publisher.tick({line}, models, ValueFormat(other, QLocale::c()));
        QVERIFY2(waitUntil([&] { return flowUnit() == "L/s"; }), qPrintable(flowUnit()));
        publisher.tick({line}, models, format);
        QVERIFY2(waitUntil([&] { return flowUnit() == haUnits[0]; }), qPrintable(flowUnit()));
        publisher.stop();

        const QMap<QString, QJsonObject> all = configs();
        QSet<QString> uniqueIds;
        QStringList wrong;
        for (auto it = all.cbegin(); it != all.cend(); ++it) {
            const QString topic = it.key();
            const QJsonObject& o = it.value();
            const QString component = topic.section('/', 1, 1);
            auto fault = [&](const QString& what) { wrong << topic + ": " + what; };
            for (const QString& k : o.keys())
                if (!allowed.contains(k))
                    fault("unknown key " + k);
            for (const QString& k : required)
                if (!o.contains(k))
                    fault("no " + k);
            if (uniqueIds.contains(o.value("unique_id").toString()))
                fault("unique_id twice");
            uniqueIds.insert(o.value("unique_id").toString());
            const QString entityId = o.value("default_entity_id").toString();
            if (!QRegularExpression("^" + component + "\\.[a-z0-9_]+$").match(entityId).hasMatch())
                fault("default_entity_id " + entityId);
            const QString name = o.value("name").toString();
            if (name.isEmpty() || name.contains('_') || !name.at(0).isUpper())
                fault("name " + name);
            const int meter = topic.contains("_meter1_") ? 1 : 2;
            if (o.value("state_topic").toString() != QString("ha/line1/meter%1/state").arg(meter))
                fault("state_topic " + o.value("state_topic").toString());
            const QJsonArray availability = o.value("availability").toArray();
            if (availability.size() != 2 || o.value("availability_mode").toString() != "all")
                fault("availability");
            const QJsonObject device = o.value("device").toObject();
            for (const char* k : {"identifiers", "name", "manufacturer", "model", "sw_version"})
                if (device.value(k).toVariant().toString().isEmpty() && device.value(k).toArray().isEmpty())
                    fault(QString("device without ") + k);
            if (device.value("sw_version").toString() != "1.2")
                fault("sw_version " + device.value("sw_version").toVariant().toString());
            if (device.value("name").toString() != (meter == 1 ? "Boiler room" : "line 1 meter 2"))
                fault("device name " + device.value("name").toString());
            const QJsonObject origin = o.value("origin").toObject();
            for (const char* k : {"name", "sw", "url"})
                if (origin.value(k).toString().isEmpty())
                    fault(QString("origin without ") + k);
            const QString deviceClass = o.value("device_class").toString();
            const QString unit = o.value("unit_of_measurement").toString();
            if (!deviceClass.isEmpty()) {
                if (!classUnits.contains(deviceClass))
                    fault("device_class " + deviceClass);
                else if (!classUnits[deviceClass].isEmpty() && !classUnits[deviceClass].contains(unit))
                    fault(deviceClass + " in " + unit);
            }
            if (o.contains("state_class") && !stateClasses.contains(o.value("state_class").toString()))
                fault("state_class " + o.value("state_class").toString());
            if (component == "binary_sensor") {
                if (deviceClass != "problem" || o.value("payload_on").toString().isEmpty()
                    || o.value("payload_off").toString().isEmpty())
                    fault("not a problem sensor");
                continue;
            }
            // The measured values by their roles: what they are and how they count.
            const struct
            {
                const char* key;
                const char* name;
                QStringList deviceClasses;
                const char* stateClass;
                QString unit;
            } roles[] = {{"flow_rate", "Flow", {"volume_flow_rate"}, "measurement", haUnits[0]},
                         {"totalizer", "Total", {"water", "volume"}, "total_increasing", haUnits[1]},
                         {"temperature", "Temperature", {"temperature"}, "measurement", haUnits[2]}};
            for (const auto& role : roles) {
                if (!topic.endsWith(QString("_") + role.key + "/config"))
                    continue;
                if (name != role.name)
                    fault("name " + name);
                if (!role.deviceClasses.contains(deviceClass) || o.value("state_class").toString() != role.stateClass)
                    fault("class " + deviceClass + "/" + o.value("state_class").toString());
                if (unit != role.unit)
                    fault("unit " + unit);
            }
        }
        // One line each: QTest cuts a long message short.
        for (const QString& w : wrong)
            qWarning().noquote() << w;
        QVERIFY2(wrong.isEmpty(), qPrintable(QString("%1 faults in the configs, listed above").arg(wrong.size())));
        // Each meter's measured values (FM-1 eight, FM-2i nine) and its alarm.
        QCOMPARE(all.size(), 8 + 9 + 2);
        for (int meter : {1, 2})
            QVERIFY(all.contains(QString("homeassistant/binary_sensor/ha/line1_meter%1_alarm/config").arg(meter)));
        QCOMPARE(all.value("homeassistant/sensor/ha/line1_meter2_flow_velocity/config").value("name").toString(),
                 QString("Flow velocity"));
    }

    // A meter gone from the setup (removed, or moved so that its topics changed) has its
    // retained state, availability and Home Assistant entries cleared at the broker; also when
    // the broker is away at the time (through the spool, in order) and when it went while the
    // program was stopped. A meter still set up keeps its own, even one whose model is missing.
    void meterGoneFromTheSetupIsClearedAtTheBroker()
    {
        ModelProblem problem;
        const auto model = MeterModelLoader::parseFile(QStringLiteral(FLOWMETER_SOURCE_DIR "/models/tessmark-fm1.json"), &problem);
        QVERIFY(model);
        MosquittoBroker broker;
        MosquittoBroker::Options lasting;
        lasting.persistence = true;
        QVERIFY2(broker.start(lasting), qPrintable(broker.error()));
        Subscriber live(broker.port(), "#", true);
        QVERIFY(live.ready());
        QTemporaryDir spool;
        MqttSettings s = settingsFor(broker, "gone");
        s.homeAssistantDiscovery = true;
        const QMap<QString, MeterModel> models{{model->name(), *model}};
        const ValueFormat format(DisplayUnits(), QLocale::c());
        QVector<MqttPublisher::Line> lines(2);
        lines[0].config.port = "/dev/ttyUSB0";
        lines[0].config.meters = {MeterConfig{1, model->name(), "one"}, MeterConfig{2, model->name(), "two"}};
        lines[1].config.port = "/dev/ttyUSB1";
        lines[1].config.meters = {MeterConfig{5, model->name(), "five"}};
        auto fill = [&] {
            for (int l = 0; l < lines.size(); ++l)
                for (const MeterConfig& m : lines[l].config.meters)
                    lines[l].units[m.id] = meterReading(*model, l, m.id, 1, QDateTime::currentDateTime(), 1000);
        };
        auto state = [](int line, int id) { return QString("gone/line%1/meter%2/state").arg(line).arg(id); };
        auto ha = [](int line, int id) {
            return QString("homeassistant/sensor/gone/line%1_meter%2_flow_rate/config").arg(line).arg(id);
        };
        auto haAlarm = [](int line, int id) {
            return QString("homeassistant/binary_sensor/gone/line%1_meter%2_alarm/config").arg(line).arg(id);
        };
        auto cleared = [&](const QString& topic) { return live.waitFor(topic, QByteArray(), 20000); };
        auto neverCleared = [&](const QString& topic) {
            for (const auto& g : live.on(topic))
                if (g.payload.isEmpty())
                    return false;
            return !live.on(topic).empty();
        };
        fill();
        {
            MqttPublisher publisher([](const QString&) {});
            publisher.start(s, spool.path());
            publisher.begin(lines, models, format);
            for (const QString& t : {state(1, 1), state(1, 2), state(2, 5), ha(1, 2), haAlarm(1, 2)})
                QVERIFY2(waitUntil([&] { return !live.on(t).empty(); }), qPrintable(t));
            // Meter 2 now answers at id 4; meter 5's model is not loaded, but it is still set up.
            lines[0].config.meters[1].id = 4;
            lines[1].config.meters[0].model = "Not Loaded FM-0";
            fill();
            publisher.tick(lines, models, format);
            for (const QString& t : {state(1, 2), QString("gone/line1/meter2/availability"), ha(1, 2), haAlarm(1, 2)})
                QVERIFY2(cleared(t), qPrintable(t));
            QVERIFY(waitUntil([&] { return !live.on(state(1, 4)).empty(); }));
            for (const QString& t : {state(1, 1), state(2, 5), ha(1, 1), ha(2, 5), haAlarm(1, 1), haAlarm(2, 5)})
                QVERIFY2(neverCleared(t), qPrintable(t));

            // Meter 1 removed while the broker is away: cleared once it is back, after what
            // was published before.
            broker.stop();
            QVERIFY(waitUntil([&] { return publisher.linkState() != MqttLink::State::Connected; }));
            lines[0].config.meters.removeFirst();
            fill();
            publisher.tick(lines, models, format);
            publisher.stop();
        }
        QVERIFY2(broker.start(lasting), qPrintable(broker.error()));
        {
            // Line 2 removed while the program was stopped.
            lines.removeLast();
            MqttPublisher publisher([](const QString&) {});
            publisher.start(s, spool.path());
            publisher.begin(lines, models, format);
            for (const QString& t : {state(1, 1), ha(1, 1), state(2, 5), ha(2, 5), haAlarm(1, 1), haAlarm(2, 5)})
                QVERIFY2(cleared(t), qPrintable(t));
            QVERIFY(neverCleared(state(1, 4)));
            publisher.stop();
        }
        Subscriber late(broker.port(), "#");
        QVERIFY(late.ready());
        QVERIFY(waitUntil([&] { return !late.on(state(1, 4)).empty() && !late.on("gone/status").empty(); }));
        for (const auto& g : late.messages())
            QVERIFY2(!g.topic.contains("meter1") && !g.topic.contains("meter2") && !g.topic.contains("meter5"),
                     qPrintable(g.topic));
    }

    // With no broker and a spool of a few KiB the oldest readings go; how many is in the status
    // line and in the log, which says it once per drop, not once per message.
    void publisherSaysWhatAFullSpoolDropped()
    {
        ModelProblem problem;
        const auto model = MeterModelLoader::parseFile(QStringLiteral(FLOWMETER_SOURCE_DIR "/models/tessmark-fm1.json"), &problem);
        QVERIFY(model);
        MqttSettings s;
        s.enabled = true;
        s.host = "127.0.0.1";
        s.port = MosquittoBroker::freePort();
        s.topicPrefix = "full";
        s.clientId = "full";
        s.spoolLimitBytes = 4096;
        QStringList logged;
        QTemporaryDir spool;
        MqttPublisher publisher([&](const QString& line) { logged << line; });
        publisher.start(s, spool.path());
        QVERIFY(publisher.running());
        MqttPublisher::Line line;
        line.config.meters = {MeterConfig{1, model->name(), "one"}, MeterConfig{2, model->name(), "two"}};
        const QMap<QString, MeterModel> models{{model->name(), *model}};
        const ValueFormat format(DisplayUnits(), QLocale::c());
        for (int i = 0; i < 20; ++i) {
            for (int id : {1, 2})
                line.units[id] = meterReading(*model, 0, id, i, QDateTime::currentDateTime().addSecs(i), 1000 * (i + 1));
            publisher.tick({line}, models, format);
        }
        // Handed over: two availabilities and forty states of some hundred bytes; once the
        // link's thread has them in the spool of 4 KiB, fewer than twenty are left.
        QVERIFY(waitUntil([&] {
            return publisher.currentLink()->spoolDropped() > 0 && publisher.currentLink()->spooled() < 20;
        }));
        QVERIFY(waitUntil([&] { return publisher.dropped() == publisher.currentLink()->spoolDropped(); }));
        const QString n = QString::number(publisher.dropped());
        QVERIFY2(publisher.statusText().startsWith("MQTT: "), qPrintable(publisher.statusText()));
        QVERIFY2(publisher.statusText().contains(", " + n + " reading"), qPrintable(publisher.statusText()));
        QVERIFY2(logged.filter("spool full").size() >= 1 && logged.filter(", " + n + " in all").size() == 1, qPrintable(logged.join('\n')));
        // What is left is the newest: the spool's oldest state is of a late tick.
        QVERIFY(publisher.currentLink()->spooled() > 0);
        publisher.stop();
        MqttSpool kept(spool.path(), 4096);
        QVERIFY(kept.open());
        MqttSpool::Message m;
        QVERIFY(kept.peek(&m));
        QVERIFY2(QJsonDocument::fromJson(m.payload).object().value("values").toObject().value("flow_rate")
                     .toObject().value("value").toDouble() >= 10, m.payload.constData());
    }
};

int main(int argc, char** argv)
{
    if (argc == 4 && qstrcmp(argv[1], "--link-child") == 0)
        return linkChild(argc, argv, atoi(argv[2]), QString::fromLocal8Bit(argv[3]));
    QCoreApplication app(argc, argv);
    // For the test's own subscribers; the links take and release the library themselves.
    mosquitto_lib_init();
    TestMqtt t;
    const int failed = QTest::qExec(&t, argc, argv);
    mosquitto_lib_cleanup();
    return failed;
}

#include "test_mqtt.moc"
