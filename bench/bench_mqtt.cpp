// The MQTT link on loopback, against a mosquitto broker started here: the latency from
// publish() to a subscriber's callback at QoS 1, against QoS 0 in the same run; and how fast the
// spool is replayed after the broker was away, against the same messages sent while connected.
#include "BenchShort.h"
#include "MeterReading.h"
#include "MosquittoBroker.h"
#include "MeterModelLoader.h"
#include "MqttLink.h"
#include "MqttPublisher.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <mosquitto.h>

#include <algorithm>
#include <sys/resource.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// A subscriber to `filter` on loopback; `onMessage` runs on its own thread, with the arrival time.
struct BenchSubscriber
{
    using Handler = std::function<void(const mosquitto_message*, std::int64_t arrivedNs)>;
    mosquitto* m = nullptr;
    std::atomic<bool> subscribed{false};
    QByteArray filter;
    Handler onMessage;

    BenchSubscriber(int port, const char* id, const char* topicFilter, Handler handler)
        : filter(topicFilter), onMessage(std::move(handler))
    {
        m = mosquitto_new(id, true, this);
        mosquitto_message_callback_set(m, [](mosquitto*, void* self, const mosquitto_message* msg) {
            const std::int64_t now = nowNs();
            static_cast<BenchSubscriber*>(self)->onMessage(msg, now);
        });
        mosquitto_subscribe_callback_set(m, [](mosquitto*, void* self, int, int, const int*) {
            static_cast<BenchSubscriber*>(self)->subscribed.store(true);
        });
        mosquitto_connect_callback_set(m, [](mosquitto* mq, void* self, int rc) {
            if (rc == 0)
                mosquitto_subscribe(mq, nullptr, static_cast<BenchSubscriber*>(self)->filter.constData(), 1);
        });
        mosquitto_connect(m, "127.0.0.1", port, 30);
        mosquitto_loop_start(m);
    }
    ~BenchSubscriber()
    {
        mosquitto_disconnect(m);
        mosquitto_loop_stop(m, false);
        mosquitto_destroy(m);
    }
};

// Counts arrivals and, for payloads that carry their send time, the latency.
struct Receiver
{
    std::mutex lock;
    std::vector<double> latencyMs;
    std::atomic<int> got{0};
    // Last: it calls back into the members above as soon as it is made.
    BenchSubscriber sub;

    explicit Receiver(int port)
        : sub(port, "bench-receiver", "bench/#", [this](const mosquitto_message* msg, std::int64_t now) {
              std::int64_t sent = 0;
              if (msg->payloadlen >= int(sizeof sent))
                  std::memcpy(&sent, msg->payload, sizeof sent);
              std::lock_guard<std::mutex> g(lock);
              latencyMs.push_back((now - sent) / 1e6);
              got.fetch_add(1);
          })
    {
    }
    void reset()
    {
        std::lock_guard<std::mutex> g(lock);
        latencyMs.clear();
        got.store(0);
    }
};

// Bounded waits: a figure that does not come in time is said missing, not waited for forever.
template <typename F> bool waitFor(F done, int seconds)
{
    const auto until = Clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (Clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

QByteArray stamped(int size)
{
    QByteArray p(size, 'x');
    const std::int64_t t = nowNs();
    std::memcpy(p.data(), &t, sizeof t);
    return p;
}

struct Latency
{
    double median = 0, p99 = 0;
    int lost = 0;
};

Latency latency(MqttLink& link, Receiver& r, int qos, int n)
{
    r.reset();
    for (int i = 0; i < n; ++i) {
        link.publish(QStringLiteral("bench/latency"), stamped(300), qos, false);
        // Paced: the latency of one reading, not of a queue.
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    waitFor([&] { return r.got.load() >= n; }, 20);
    std::vector<double> v;
    {
        std::lock_guard<std::mutex> g(r.lock);
        v = r.latencyMs;
    }
    Latency out;
    out.lost = n - int(v.size());
    if (v.empty())
        return out;
    std::sort(v.begin(), v.end());
    out.median = v[v.size() / 2];
    out.p99 = v[std::min(v.size() - 1, size_t(v.size() * 0.99))];
    return out;
}

// As a broker tuned for readings is: else its QoS 0 deliveries wait for the subscriber's
// delayed ACK, and the figures measure the broker rather than the link.
MosquittoBroker::Options tunedBroker()
{
    MosquittoBroker::Options options;
    options.tcpNoDelay = true;
    return options;
}

bool startBroker(MosquittoBroker& broker)
{
    if (broker.start(tunedBroker()))
        return true;
    std::fprintf(stderr, "bench_mqtt: %s\n", qPrintable(broker.error()));
    return false;
}

int measure(double* qos1P99)
{
    MosquittoBroker broker;
    if (!startBroker(broker))
        return 1;
    Receiver receiver(broker.port());
    if (!waitFor([&] { return receiver.sub.subscribed.load(); }, 10)) {
        std::fprintf(stderr, "bench_mqtt: the subscriber did not subscribe\n");
        return 1;
    }
    QTemporaryDir spoolDir;
    MqttSettings s;
    s.host = QStringLiteral("127.0.0.1");
    s.port = broker.port();
    s.topicPrefix = QStringLiteral("bench");
    s.clientId = QStringLiteral("bench-link");
    MqttLink link(s, spoolDir.path());
    link.start();
    if (!waitFor([&] { return link.state() == MqttLink::State::Connected; }, 10)) {
        std::fprintf(stderr, "bench_mqtt: the link did not connect: %s\n", qPrintable(link.stateText()));
        return 1;
    }
    waitFor([&] { return receiver.got.load() >= 1; }, 5); // the "online"
    const int n = benchShortOr(2000, 500);
    const Latency q0 = latency(link, receiver, 0, n);
    const Latency q1 = latency(link, receiver, 1, n);
    *qos1P99 = q1.p99;
    std::printf("publish() to subscriber, %d messages of 300 bytes paced 0.5 ms, loopback, broker with "
                "set_tcp_nodelay:\n", n);
    std::printf("  QoS 0 (reference): median %.3f ms, p99 %.3f ms, lost %d\n", q0.median, q0.p99, q0.lost);
    std::printf("  QoS 1:             median %.3f ms, p99 %.3f ms, lost %d (p99 %.2fx the reference)\n",
                q1.median, q1.p99, q1.lost, q0.p99 > 0 ? q1.p99 / q0.p99 : 0.0);

    // The same messages sent while connected, as fast as publish() takes them: the reference.
    // A minute of 247 meters once a second: what a 60 s outage leaves in the spool.
    const int m = 247 * benchShortOr(60, 5);
    receiver.reset();
    auto t0 = Clock::now();
    for (int i = 0; i < m; ++i)
        link.publish(QStringLiteral("bench/replay"), stamped(300), 1, false);
    waitFor([&] { return receiver.got.load() >= m && link.unconfirmed() == 0; }, 60);
    const double directS = std::chrono::duration<double>(Clock::now() - t0).count();

    broker.stop();
    waitFor([&] { return link.state() != MqttLink::State::Connected; }, 10);
    t0 = Clock::now();
    for (int i = 0; i < m; ++i)
        link.publish(QStringLiteral("bench/replay"), stamped(300), 1, false);
    const double spoolS = std::chrono::duration<double>(Clock::now() - t0).count();
    const int spooled = link.spooled();
    broker.start(tunedBroker());
    // The receiver's own session ended with the broker; it comes back within its 1 s retry.
    receiver.sub.subscribed.store(false);
    waitFor([&] { return link.state() == MqttLink::State::Connected; }, 70);
    t0 = Clock::now();
    const bool caughtUp = waitFor([&] { return link.spooled() == 0; }, 120);
    const double replayS = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("spool: %d messages of 300 bytes handed over in %.3f s (%.1f us each on the caller's thread; "
                "the link's thread writes them, one fdatasync per batch)\n",
                spooled, spoolS, spoolS * 1e6 / std::max(spooled, 1));
    std::printf("replay after the broker came back: %s%d messages in %.2f s, %.0f/s; connected: %.0f/s "
                "(reference); %.2fx the reference\n",
                caughtUp ? "" : "NOT CAUGHT UP: ", spooled, replayS, spooled / replayS, m / directS,
                (spooled / replayS) / (m / directS));
    link.stop();
    return caughtUp ? 0 : 1;
}

// Arrival times of the meters' state messages (and which meter's), for the publisher's figures.
struct StateCounter
{
    struct Arrival
    {
        int id;
        std::int64_t atNs;
    };
    std::mutex lock;
    std::vector<Arrival> arrivals;
    BenchSubscriber sub;

    explicit StateCounter(int port)
        : sub(port, "bench-states", "station/#", [this](const mosquitto_message* msg, std::int64_t now) {
              const std::size_t len = std::strlen(msg->topic);
              const char* meter = std::strstr(msg->topic, "/meter");
              if (len > 6 && std::strcmp(msg->topic + len - 6, "/state") == 0 && meter) {
                  std::lock_guard<std::mutex> g(lock);
                  arrivals.push_back({std::atoi(meter + 6), now});
              }
          })
    {
    }
    std::size_t count()
    {
        std::lock_guard<std::mutex> g(lock);
        return arrivals.size();
    }
    std::vector<Arrival> take()
    {
        std::lock_guard<std::mutex> g(lock);
        return std::exchange(arrivals, {});
    }
};

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(double(v.size()) * p))];
}

// The plug-in's publisher as a line and the internet timer drive it: 247 meters on one line read
// one after the other over each second (as a line at 115200 baud reads them) and published at
// QoS 1 the moment each reading is handed over from the line's thread, the timer ticking once a
// second. Latency from the reading to its arrival at a subscriber, against the link's own p99
// measured above; messages lost; this process's CPU (publisher, link and the subscriber's thread
// together). Then the same meters with no new readings, each tick publishing all 247 at once:
// from the tick to each state's arrival, and the time a tick takes on the calling (GUI) thread.
// BENCH_MQTT_SECONDS sets the length of the first part (default 60).
int publisherFigures(double linkP99)
{
    ModelProblem problem;
    const auto model = MeterModelLoader::parseFile(QStringLiteral(FLOWMETER_SOURCE_DIR "/models/tessmark-fm1.json"), &problem);
    if (!model) {
        std::fprintf(stderr, "bench_mqtt: no meter model\n");
        return 1;
    }
    MosquittoBroker broker;
    if (!startBroker(broker))
        return 1;
    StateCounter counter(broker.port());
    if (!waitFor([&] { return counter.sub.subscribed.load(); }, 10))
        return 1;
    MqttSettings s;
    s.host = QStringLiteral("127.0.0.1");
    s.port = broker.port();
    s.topicPrefix = QStringLiteral("station");
    s.clientId = QStringLiteral("bench-station");
    s.qos = 1;
    QTemporaryDir spool;
    MqttPublisher publisher([](const QString&) {});
    publisher.start(s, spool.path());
    if (!waitFor([&] {
            QCoreApplication::processEvents();
            return publisher.currentLink()->state() == MqttLink::State::Connected;
        }, 10))
        return 1;
    const int meters = 247;
    MqttPublisher::Line line;
    line.config.port = QStringLiteral("/dev/ttyUSB0");
    const QString port = line.config.port;
    for (int id = 1; id <= meters; ++id)
        line.config.meters.push_back(MeterConfig{id, model->name(), QString()});
    const QMap<QString, MeterModel> models{{model->name(), *model}};
    const ValueFormat format(DisplayUnits(), QLocale::c());
    auto reading = [&](int id, int k) {
        return meterReading(*model, 0, id, 10.0 + id * 0.01 + k, QDateTime::currentDateTime(), nowNs() / 1000000);
    };
    for (int id = 1; id <= meters; ++id)
        line.units[id] = reading(id, 0);
    // The first tick tells the publisher the models and units; its burst is not counted.
    publisher.tick({line}, models, format);
    if (!waitFor([&] { return int(counter.count()) >= meters; }, 30))
        return 1;
    counter.take();

    const int seconds = qEnvironmentVariableIntValue("BENCH_MQTT_SECONDS") > 0 ? qEnvironmentVariableIntValue("BENCH_MQTT_SECONDS") : benchShortOr(60, 3);
    // When each meter's readings were handed over, written by the line's thread only.
    std::vector<std::vector<std::int64_t>> readAt(meters + 1);
    double cpu0 = cpuSeconds();
    auto start = Clock::now() + std::chrono::milliseconds(100);
    std::thread lineThread([&] {
        for (int k = 0; k < seconds; ++k)
            for (int id = 1; id <= meters; ++id) {
                std::this_thread::sleep_until(start + std::chrono::seconds(k) + std::chrono::microseconds(4000 * (id - 1)));
                readAt[id].push_back(nowNs());
                publisher.reading(port, reading(id, k + 1));
            }
    });
    for (int k = 1; k <= seconds; ++k) {
        // The interval's end, after its readings: the tick has nothing left to publish.
        std::this_thread::sleep_until(start + std::chrono::seconds(k) - std::chrono::milliseconds(5));
        QCoreApplication::processEvents();
        publisher.tick({line}, models, format);
    }
    lineThread.join();
    int expected = meters * seconds;
    waitFor([&] { return int(counter.count()) >= expected; }, 30);
    double wall = std::chrono::duration<double>(Clock::now() - start).count();
    double cpu = cpuSeconds() - cpu0;
    std::vector<double> lat;
    std::vector<StateCounter::Arrival> got = counter.take();
    for (const StateCounter::Arrival& a : got) {
        if (a.id < 1 || a.id > meters)
            continue;
        const std::vector<std::int64_t>& r = readAt[a.id];
        auto it = std::upper_bound(r.begin(), r.end(), a.atNs);
        if (it != r.begin())
            lat.push_back((a.atNs - *(it - 1)) / 1e6);
    }
    std::printf("publisher: %d meters read one after the other over each second, for %d s at QoS 1 (states only):\n", meters, seconds);
    std::printf("  messages lost %d of %d; reading to subscriber: median %.2f ms, p99 %.2f ms (p99 %.2fx the link's own)\n",
                expected - std::min(int(got.size()), expected), expected, percentile(lat, 0.5), percentile(lat, 0.99),
                linkP99 > 0 ? percentile(lat, 0.99) / linkP99 : 0.0);
    std::printf("  CPU of the process %.1f %% of one core\n", 100.0 * cpu / wall);

    // No new readings: every meter from the tick, all at once (once a whole interval has
    // passed without one; the first tick only ends the interval of the last readings).
    publisher.tick({line}, models, format);
    const int ticks = benchShortOr(10, 3);
    std::vector<std::int64_t> tickAt;
    std::vector<double> tickMs;
    start = Clock::now();
    for (int k = 0; k < ticks; ++k) {
        std::this_thread::sleep_until(start + std::chrono::seconds(k));
        for (int id = 1; id <= meters; ++id)
            line.units[id] = reading(id, seconds + k + 1);
        const std::int64_t t = nowNs();
        tickAt.push_back(t);
        publisher.tick({line}, models, format);
        tickMs.push_back((nowNs() - t) / 1e6);
        QCoreApplication::processEvents();
    }
    expected = meters * ticks;
    waitFor([&] { return int(counter.count()) >= expected; }, 30);
    got = counter.take();
    lat.clear();
    for (const StateCounter::Arrival& a : got) {
        auto it = std::upper_bound(tickAt.begin(), tickAt.end(), a.atNs);
        if (it != tickAt.begin())
            lat.push_back((a.atNs - *(it - 1)) / 1e6);
    }
    std::printf("  without new readings, %d ticks of all %d at once: lost %d; tick to subscriber median %.2f ms, p99 %.2f ms;\n"
                "  a tick on the calling thread: median %.2f ms, max %.2f ms\n",
                ticks, meters, expected - std::min(int(got.size()), expected), percentile(lat, 0.5), percentile(lat, 0.99),
                percentile(tickMs, 0.5), percentile(tickMs, 1.0));
    publisher.stop();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    mosquitto_lib_init();
    double linkP99 = 0;
    int rc = measure(&linkP99);
    if (rc == 0)
        rc = publisherFigures(linkP99);
    mosquitto_lib_cleanup();
    return rc;
}
