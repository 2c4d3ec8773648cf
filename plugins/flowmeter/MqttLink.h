#pragma once

#include "MqttSettings.h"
#include "MqttSpool.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct mosquitto;
struct mosquitto_message;

// One connection to an MQTT broker, kept on a thread of its own (docs/mqtt.md).
//
// publish() may be called from any thread. While the link is connected and nothing waits in
// the spool, a message goes straight out; otherwise the link's thread puts it into the spool on
// disk (many at once, with one fdatasync), which is sent first, oldest first, once the broker
// is back. A message handed to the broker and not yet
// acknowledged (QoS 1) or not yet written out (QoS 0) when the connection drops goes into the
// spool too, before anything newer, so nothing is lost and the order holds. Each (re)connection
// is a fresh client, so the library never sends again what the spool already sends.
//
// The broker is told `<prefix>/status` "offline" (retained) as the last will, and "online" on
// every connection; stop() says "offline" itself before it leaves. A broker that takes the
// connection but does not answer it within 10 s is given up on. Connecting again waits 1 s,
// doubling to 60 s, and starts from 1 s after a connection the broker accepted.
class MqttLink : public QObject
{
    Q_OBJECT
public:
    // The spool's file goes into `spoolFolder`.
    MqttLink(const MqttSettings& settings, const QString& spoolFolder, QObject* parent = nullptr);
    ~MqttLink() override;

    // Opens the spool and starts the thread. False (and error()) when the spool cannot be
    // opened: the link then still publishes while connected, and drops what it cannot send.
    bool start();
    // Says "offline", waits up to `graceMs` for what is in flight, and ends the thread. What
    // was not acknowledged stays in the spool for the next start.
    void stop(int graceMs = 2000);

    // Never waits for the network or the disk (but after stop(), when it spools the message
    // itself). False when the topic cannot be published to; a message the spool then cannot
    // keep is said by error() and, dropped to keep the limit, counted in spoolDropped().
    bool publish(const QString& topic, const QByteArray& payload, int qos, bool retain,
                 const QDateTime& time = QDateTime());

    enum class State { Stopped, Connecting, Connected, Refused, Unreachable, TlsFailure, Lost };
    State state() const;
    // The state in words, for the status area and the log; never holds the password.
    QString stateText() const;

    QString statusTopic() const;
    QString prefix() const;
    QString clientId() const;
    // Attempts to connect since start().
    int connectAttempts() const { return attempts.load(std::memory_order_relaxed); }
    int connections() const { return accepted.load(std::memory_order_relaxed); }
    // Messages waiting to be sent: in the spool, or handed over and on their way into it.
    int spooled() const;
    // Messages the library would not send at all (counted as gone).
    int refusedMessages() const;
    // Handed to the broker and not yet confirmed.
    int unconfirmed() const;
    std::int64_t spoolDropped() const;
    // Damage the spool's open skipped: its bytes and about how many messages it cost (counted in
    // spoolDropped() too); 0 when it had none.
    std::int64_t spoolSkippedBytes() const;
    std::int64_t spoolLostToDamage() const;
    QString error() const;

    // A topic level made safe: no wildcards, no level separator, no spaces or control
    // characters; empty becomes "_".
    static QString topicLevel(const QString& text);
    // `corvane/<host name>`.
    static QString defaultTopicPrefix();

signals:
    // Emitted on the link's thread: a receiver in another thread gets it queued.
    void stateChanged(MqttLink::State state, const QString& text);
    // Messages dropped from the spool to keep within its limit: the total so far.
    void messagesDropped(qint64 total);
    // The spool could not be written (a full disk, a folder gone), in words; empty once it can
    // be again. Meanwhile messages wait in memory, the oldest dropped past a bound.
    void spoolFailed(const QString& words);

private:
    struct Sent
    {
        int mid = 0;
        bool fromSpool = false;
        bool done = false;
        // A spool message the spool dropped (full) while it was in flight.
        bool evicted = false;
        MqttSpool::Message message;
    };

    void run();
    // Makes a new client and starts connecting it; false when that fails at once.
    bool connectOnce();
    void serve();
    // After the connection ended: what was not confirmed goes back to the spool, in order.
    void takeBack();
    void setState(State s, const QString& detail = QString());
    void waitBackOff(int seconds);
    // With `lock` held: sends from the spool while few enough are in flight.
    void pump();
    // With `lock` held: lets go of the confirmed (and refused) at the head of what is in flight.
    void settle();
    bool sendLocked(const MqttSpool::Message& m, bool fromSpool);
    bool spoolLocked(const MqttSpool::Message& m);
    // On the link's thread: what publish() handed over goes into the spool, without the lock
    // held while the disk is waited for.
    void drainIncoming();
    // With `lock` held: the spool's count for other threads; the new total of dropped messages
    // in `droppedNow` when it changed.
    void noteSpoolLocked(qint64* droppedNow);
    // With `lock` held, after an append that dropped `evicted` of the spool's oldest.
    void forgetEvictedLocked(std::int64_t evicted);
    // With `lock` held: drops the oldest waiting past the memory's bound.
    void keepWaitingBoundedLocked(qint64* droppedNow);
    static std::int64_t waitingSize(const MqttSpool::Message& m);

    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto*, void* self, int rc);
    static void onPublish(mosquitto*, void* self, int mid);
    static void onLog(mosquitto*, void* self, int level, const char* line);
    // Why a connection could not be made or ended, from libmosquitto's code and errno.
    QString endWords(int rc, int err) const;
    // Before a stop: "offline" on the status topic, then a clean disconnect.
    void sayOffline();

    MqttSettings cfg;
    QString topicPrefix;
    QString id;
    QString spoolDir;

    mutable std::mutex lock;
    std::condition_variable wake;
    std::unique_ptr<MqttSpool> spool;
    mosquitto* client = nullptr;
    bool connected = false;
    // In flight, oldest first; spool messages among them are still in the spool.
    std::deque<Sent> inFlight;
    // Of those, the ones not yet confirmed (kept as a count: bursts of thousands are in flight).
    int openInFlight = 0;
    // Handed over by publish(), not yet in the spool; bounded in memory as the spool is on disk.
    std::deque<MqttSpool::Message> incoming;
    std::int64_t incomingBytes = 0;
    // Taken from `incoming` by the link's thread and being written to the spool (0: none).
    int drainingCount = 0;
    // Messages handed over so far, for the back-off's wait to see new ones.
    std::uint64_t arrivals = 0;
    // The last write to the spool failed; tried again from spoolRetryAt (link thread only).
    bool spoolBroken = false;
    std::chrono::steady_clock::time_point spoolRetryAt;
    bool threadRunning = false;
    // Dropped from `incoming` because the link's thread could not keep up (never written).
    std::int64_t droppedWaiting = 0;
    // The spool's count, kept for other threads: only the link's thread touches the spool.
    std::atomic<int> spoolCount{0};
    std::atomic<std::int64_t> droppedTotal{0};
    int spoolSent = 0;
    State current = State::Stopped;
    QString text;
    QString lastError;
    std::int64_t droppedSeen = 0;
    std::int64_t skippedAtOpen = 0;
    std::int64_t lostAtOpen = 0;
    int refused = 0;

    std::atomic<bool> stopping{false};
    std::atomic<bool> online{false};
    std::atomic<int> attempts{0};
    std::atomic<int> accepted{0};
    // The CONNACK's refusal, set by the callback for serve() to say.
    int refusal = 0;
    // The library's last error line (a TLS verification's reason); no password is in these.
    QString libraryError;
    mutable std::mutex libraryErrorLock;
    int statusMid = -1;
    bool statusDone = false;
    std::atomic<int> graceLeftMs{0};
    std::thread worker;
    bool libraryTaken = false;
};

Q_DECLARE_METATYPE(MqttLink::State)
