#include "MqttLink.h"

#include <QCoreApplication>
#include <QFile>
#include <QSysInfo>

#include <mosquitto.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <cstring>

namespace {

// libmosquitto is set up once while any link lives, and let go with the last one: never from
// a static destructor, which would run after the plug-in or Qt is gone.
std::mutex libraryLock;
int libraryUsers = 0;

void takeLibrary()
{
    std::lock_guard<std::mutex> g(libraryLock);
    if (libraryUsers++ == 0)
        mosquitto_lib_init();
}

void releaseLibrary()
{
    std::lock_guard<std::mutex> g(libraryLock);
    if (--libraryUsers == 0)
        mosquitto_lib_cleanup();
}

// Messages of ours in flight before the rest of the spool waits for them to be confirmed.
const int spoolWindow = 64;
// Sent straight out and not yet confirmed, before the rest goes by the spool: a broker that is
// there but slow to confirm must not make memory grow without end.
const int directWindow = 2000;
const int keepAliveS = 30;
// A broker (or something else on its port) that takes the connection but never answers it
// would otherwise be noticed only when the keep-alive runs out, and then as a connection lost.
const int connectTimeoutS = 10;

} // namespace

MqttLink::MqttLink(const MqttSettings& settings, const QString& spoolFolder, QObject* parent)
    : QObject(parent), cfg(settings), spoolDir(spoolFolder)
{
    qRegisterMetaType<MqttLink::State>();
    topicPrefix = cfg.topicPrefix.trimmed();
    while (topicPrefix.endsWith(QLatin1Char('/')))
        topicPrefix.chop(1);
    if (topicPrefix.isEmpty())
        topicPrefix = defaultTopicPrefix();
    id = cfg.clientId.trimmed();
    if (id.isEmpty())
        id = QStringLiteral("corvane-") + topicLevel(QSysInfo::machineHostName());
    if (cfg.qos != 0)
        cfg.qos = 1;
    spool = std::make_unique<MqttSpool>(spoolDir, cfg.spoolLimitBytes);
    text = tr("stopped");
}

MqttLink::~MqttLink()
{
    stop(0);
}

QString MqttLink::topicLevel(const QString& textIn)
{
    QString out;
    for (QChar c : textIn.trimmed()) {
        if (c == QLatin1Char('/') || c == QLatin1Char('+') || c == QLatin1Char('#') || c.isSpace()
            || c.category() == QChar::Other_Control || c == QChar(0))
            out += QLatin1Char('_');
        else
            out += c;
    }
    return out.isEmpty() ? QStringLiteral("_") : out;
}

QString MqttLink::defaultTopicPrefix()
{
    return QStringLiteral("corvane/") + topicLevel(QSysInfo::machineHostName());
}

QString MqttLink::prefix() const
{
    return topicPrefix;
}

QString MqttLink::statusTopic() const
{
    return topicPrefix + QStringLiteral("/status");
}

QString MqttLink::clientId() const
{
    return id;
}

bool MqttLink::start()
{
    if (worker.joinable())
        return true;
    if (!libraryTaken) {
        takeLibrary();
        libraryTaken = true;
    }
    bool ok;
    {
        std::lock_guard<std::mutex> g(lock);
        ok = spool->open();
        if (!ok)
            lastError = spool->error();
        skippedAtOpen = spool->skippedBytes();
        lostAtOpen = spool->lostToDamage();
        droppedSeen = spool->dropped() + droppedWaiting;
        droppedTotal.store(droppedSeen);
        spoolCount.store(spool->count());
        threadRunning = true;
    }
    stopping.store(false);
    attempts.store(0);
    worker = std::thread([this] { run(); });
    return ok;
}

void MqttLink::stop(int graceMs)
{
    if (worker.joinable()) {
        graceLeftMs.store(graceMs);
        stopping.store(true);
        wake.notify_all();
        worker.join();
        qint64 droppedNow = -1;
        {
            std::lock_guard<std::mutex> g(lock);
            threadRunning = false;
            // Handed over after the thread's last look: kept all the same.
            std::vector<MqttSpool::Message> late(std::make_move_iterator(incoming.begin()),
                                                 std::make_move_iterator(incoming.end()));
            incoming.clear();
            incomingBytes = 0;
            if (!late.empty() && !spool->append(late))
                lastError = spool->error();
            noteSpoolLocked(&droppedNow);
        }
        if (droppedNow >= 0)
            emit messagesDropped(droppedNow);
        setState(State::Stopped, tr("stopped"));
    }
    if (libraryTaken) {
        releaseLibrary();
        libraryTaken = false;
    }
}

MqttLink::State MqttLink::state() const
{
    std::lock_guard<std::mutex> g(lock);
    return current;
}

QString MqttLink::stateText() const
{
    std::lock_guard<std::mutex> g(lock);
    return text;
}

int MqttLink::spooled() const
{
    std::lock_guard<std::mutex> g(lock);
    return spoolCount.load() + int(incoming.size()) + drainingCount;
}

int MqttLink::refusedMessages() const
{
    std::lock_guard<std::mutex> g(lock);
    return refused;
}

int MqttLink::unconfirmed() const
{
    std::lock_guard<std::mutex> g(lock);
    return openInFlight;
}

std::int64_t MqttLink::spoolDropped() const
{
    return droppedTotal.load();
}

std::int64_t MqttLink::spoolSkippedBytes() const
{
    std::lock_guard<std::mutex> g(lock);
    return skippedAtOpen;
}

std::int64_t MqttLink::spoolLostToDamage() const
{
    std::lock_guard<std::mutex> g(lock);
    return lostAtOpen;
}

QString MqttLink::error() const
{
    std::lock_guard<std::mutex> g(lock);
    return lastError;
}

void MqttLink::setState(State s, const QString& words)
{
    {
        std::lock_guard<std::mutex> g(lock);
        if (current == s && text == words)
            return;
        current = s;
        text = words;
    }
    // Outside the lock: a receiver in this thread may ask for the state.
    emit stateChanged(s, words);
}

bool MqttLink::publish(const QString& topic, const QByteArray& payload, int qos, bool retain,
                       const QDateTime& time)
{
    MqttSpool::Message m;
    m.topic = topic;
    m.payload = payload;
    m.qos = qos != 0 ? 1 : 0;
    m.retain = retain;
    m.time = time.isValid() ? time : QDateTime::currentDateTime();
    const QByteArray topicBytes = topic.toUtf8();
    if (topicBytes.isEmpty() || mosquitto_pub_topic_check2(topicBytes.constData(), size_t(topicBytes.size())) != MOSQ_ERR_SUCCESS) {
        // Refused here, before it is spooled: the broker would never take it, and it would
        // hold up everything behind it.
        std::lock_guard<std::mutex> g(lock);
        lastError = tr("MQTT topic \"%1\" not valid for publishing (empty, or with + or #)").arg(topic);
        return false;
    }
    qint64 droppedNow = -1;
    bool ok = true;
    {
        std::lock_guard<std::mutex> g(lock);
        if (!threadRunning) {
            // No thread to hand it to: the caller waits for the disk itself.
            ok = spoolLocked(m);
            noteSpoolLocked(&droppedNow);
        } else if (connected && spoolCount.load() == 0 && spoolSent == 0 && incoming.empty() && drainingCount == 0
                   && openInFlight < directWindow) {
            // A failed hand-over stays in flight unconfirmed, and goes into the spool with the
            // rest when the connection ends.
            if (!sendLocked(m, false))
                settle();
            return true;
        } else {
            incomingBytes += waitingSize(m);
            incoming.push_back(std::move(m));
            ++arrivals;
            keepWaitingBoundedLocked(&droppedNow);
        }
    }
    wake.notify_all();
    if (droppedNow >= 0)
        emit messagesDropped(droppedNow);
    return ok;
}

void MqttLink::noteSpoolLocked(qint64* droppedNow)
{
    spoolCount.store(spool->count());
    const std::int64_t total = spool->dropped() + droppedWaiting;
    droppedTotal.store(total);
    if (total != droppedSeen) {
        droppedSeen = total;
        *droppedNow = total;
    }
}

void MqttLink::drainIncoming()
{
    std::vector<MqttSpool::Message> batch;
    {
        std::lock_guard<std::mutex> g(lock);
        if (incoming.empty())
            return;
        if (connected && spoolCount.load() == 0 && spoolSent == 0
            && openInFlight + int(incoming.size()) <= directWindow) {
            // Nothing older waits: straight out, as publish() would have sent them.
            for (const MqttSpool::Message& m : incoming)
                if (!sendLocked(m, false))
                    settle();
            incoming.clear();
            incomingBytes = 0;
            return;
        }
        if (spoolBroken && std::chrono::steady_clock::now() < spoolRetryAt)
            return;
        batch.assign(std::make_move_iterator(incoming.begin()), std::make_move_iterator(incoming.end()));
        incoming.clear();
        incomingBytes = 0;
        drainingCount = int(batch.size());
    }
    // Only this thread touches the spool while it runs, so the disk is waited for without the
    // lock: publish() and the status go on meanwhile. One that could not be opened (a folder
    // not there yet, a full disk at the start) is tried again.
    const bool ok = (spool->isOpen() || spool->open()) && spool->append(batch);
    const QString failed = ok ? QString() : spool->error();
    qint64 droppedNow = -1;
    bool changed;
    {
        std::lock_guard<std::mutex> g(lock);
        drainingCount = 0;
        if (!ok) {
            // A full disk or a spool that could not be opened: the messages wait in memory,
            // before anything newer, and the spool is tried again in a second.
            lastError = failed;
            std::move(incoming.begin(), incoming.end(), std::back_inserter(batch));
            incoming.assign(std::make_move_iterator(batch.begin()), std::make_move_iterator(batch.end()));
            incomingBytes = 0;
            for (const MqttSpool::Message& m : incoming)
                incomingBytes += waitingSize(m);
            keepWaitingBoundedLocked(&droppedNow);
            spoolRetryAt = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        }
        changed = spoolBroken != !ok;
        spoolBroken = !ok;
        if (ok)
            forgetEvictedLocked(spool->evictedByLastAppend());
        noteSpoolLocked(&droppedNow);
        if (connected)
            pump();
    }
    if (changed)
        emit spoolFailed(failed);
    if (droppedNow >= 0)
        emit messagesDropped(droppedNow);
}

void MqttLink::forgetEvictedLocked(std::int64_t evicted)
{
    // The spool made room by dropping its oldest, and those may be the ones in flight: they are
    // no longer the spool's first messages, so their confirmation must not remove others, and
    // the next to send is that many places nearer the front.
    const int n = int(std::min<std::int64_t>(evicted, spoolSent));
    int marked = 0;
    for (Sent& s : inFlight) {
        if (marked == n)
            break;
        if (s.fromSpool && !s.evicted) {
            s.evicted = true;
            ++marked;
        }
    }
    spoolSent -= marked;
}

std::int64_t MqttLink::waitingSize(const MqttSpool::Message& m)
{
    return m.topic.size() * 2 + m.payload.size() + 64;
}

void MqttLink::keepWaitingBoundedLocked(qint64* droppedNow)
{
    // The spool itself keeps to its limit; this bounds what waits in memory for a thread held
    // up by a slow or full disk, or by a connect that takes long.
    const std::int64_t bound = std::clamp<std::int64_t>(cfg.spoolLimitBytes, 4 << 20, 64 << 20);
    std::int64_t gone = 0;
    while (incomingBytes > bound && incoming.size() > 1) {
        incomingBytes -= waitingSize(incoming.front());
        incoming.pop_front();
        ++gone;
    }
    // The spool is the link thread's alone: only this count is changed here.
    if (gone > 0) {
        droppedWaiting += gone;
        droppedSeen = droppedTotal.fetch_add(gone) + gone;
        *droppedNow = droppedSeen;
    }
}

bool MqttLink::spoolLocked(const MqttSpool::Message& m)
{
    if (!spool->append(m)) {
        lastError = spool->error();
        return false;
    }
    return true;
}

bool MqttLink::sendLocked(const MqttSpool::Message& m, bool fromSpool)
{
    Sent s;
    s.fromSpool = fromSpool;
    s.message = m;
    const QByteArray topic = m.topic.toUtf8();
    const int rc = mosquitto_publish(client, &s.mid, topic.constData(), m.payload.size(),
                                     m.payload.constData(), m.qos, m.retain);
    if (rc != MOSQ_ERR_SUCCESS) {
        s.mid = -1;
        // A message the library will never send (a spool written by another version, a payload
        // past the protocol's size) must not hold up the rest: it counts as gone, and is said.
        // Without a connection it stays, and goes back to the spool with the rest.
        if (rc != MOSQ_ERR_NO_CONN && rc != MOSQ_ERR_CONN_LOST && rc != MOSQ_ERR_NOMEM) {
            s.done = true;
            ++refused;
            lastError = tr("MQTT message to %1 refused by the library: %2")
                            .arg(m.topic, QString::fromUtf8(mosquitto_strerror(rc)));
        }
    }
    if (!s.done)
        ++openInFlight;
    inFlight.push_back(std::move(s));
    return rc == MOSQ_ERR_SUCCESS;
}

void MqttLink::pump()
{
    int window = openInFlight;
    while (connected && window < spoolWindow && spoolSent < spool->count()) {
        MqttSpool::Message m;
        if (!spool->peek(&m, spoolSent)) {
            lastError = spool->error();
            break;
        }
        ++spoolSent;
        if (sendLocked(m, true)) {
            ++window;
        } else if (!inFlight.back().done) {
            break; // no connection after all: the next one sends it
        } else {
            settle();
        }
    }
}

void MqttLink::onConnect(mosquitto*, void* self, int rc)
{
    auto* link = static_cast<MqttLink*>(self);
    if (rc != 0) {
        QString words;
        switch (rc) {
        case 1:
            words = tr("refused: protocol version not accepted");
            break;
        case 2:
            words = tr("refused: client id rejected");
            break;
        case 3:
            words = tr("refused: broker unavailable");
            break;
        case 4:
        case 5:
            // MQTT 3.1.1 brokers answer a wrong password with either.
            words = tr("refused: wrong user name or password");
            break;
        default:
            words = tr("refused (%1)").arg(QString::fromUtf8(mosquitto_connack_string(rc)));
        }
        {
            std::lock_guard<std::mutex> g(link->lock);
            link->refusal = rc;
        }
        link->setState(State::Refused, words);
        return;
    }
    {
        std::lock_guard<std::mutex> g(link->lock);
        link->connected = true;
        link->spoolSent = 0;
        link->accepted.fetch_add(1, std::memory_order_relaxed);
        const QByteArray status = link->statusTopic().toUtf8();
        mosquitto_publish(link->client, nullptr, status.constData(), 6, "online", 1, true);
        link->pump();
    }
    link->setState(State::Connected, tr("connected to %1:%2").arg(link->cfg.host).arg(link->cfg.port));
}

void MqttLink::onDisconnect(mosquitto*, void*, int)
{
    // serve() sees the end of the connection in mosquitto_loop's answer.
}

void MqttLink::onPublish(mosquitto*, void* self, int mid)
{
    auto* link = static_cast<MqttLink*>(self);
    std::lock_guard<std::mutex> g(link->lock);
    if (mid == link->statusMid)
        link->statusDone = true;
    for (Sent& s : link->inFlight)
        if (s.mid == mid && !s.done) {
            s.done = true;
            --link->openInFlight;
            break;
        }
    link->settle();
    link->pump();
}

void MqttLink::settle()
{
    // Confirmations may come out of order; the spool gives up its oldest only.
    int confirmed = 0;
    while (!inFlight.empty() && inFlight.front().done) {
        if (inFlight.front().fromSpool && !inFlight.front().evicted)
            ++confirmed;
        inFlight.pop_front();
    }
    if (confirmed > 0) {
        spool->removeOldest(confirmed);
        spoolSent -= confirmed;
        spoolCount.store(spool->count());
    }
}

void MqttLink::onLog(mosquitto*, void* self, int level, const char* line)
{
    if (!(level & MOSQ_LOG_ERR) || !line)
        return;
    auto* link = static_cast<MqttLink*>(self);
    // Not `lock`: the library calls this holding a lock of its own, which a publish() under
    // `lock` on another thread may be waiting for.
    std::lock_guard<std::mutex> g(link->libraryErrorLock);
    link->libraryError = QString::fromUtf8(line);
}

bool MqttLink::connectOnce()
{
    const QByteArray clientName = id.toUtf8();
    mosquitto* m = mosquitto_new(clientName.constData(), true, this);
    if (!m) {
        setState(State::Unreachable, tr("cannot make an MQTT client: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        return false;
    }
    mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_threaded_set(m, true);
    // The library holds back QoS 1 messages beyond its in-flight limit but lets QoS 0 pass:
    // a mix would arrive out of order. The spool's window bounds what is in flight instead.
    mosquitto_max_inflight_messages_set(m, 0);
    // A reading is one small packet: Nagle's wait for the broker's ACK (itself delayed) would
    // hold each QoS 0 message back by up to 40 ms.
    mosquitto_int_option(m, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(m, &MqttLink::onConnect);
    mosquitto_disconnect_callback_set(m, &MqttLink::onDisconnect);
    mosquitto_publish_callback_set(m, &MqttLink::onPublish);
    mosquitto_log_callback_set(m, &MqttLink::onLog);
    if (!cfg.userName.isEmpty()) {
        const QByteArray user = cfg.userName.toUtf8();
        const QByteArray pass = cfg.password.toUtf8();
        mosquitto_username_pw_set(m, user.constData(), cfg.password.isEmpty() ? nullptr : pass.constData());
    }
    const QByteArray status = statusTopic().toUtf8();
    mosquitto_will_set(m, status.constData(), 7, "offline", 1, true);
    if (cfg.tls) {
        int rc;
        if (cfg.caFile.isEmpty()) {
            rc = mosquitto_int_option(m, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        } else {
            const QByteArray ca = QFile::encodeName(cfg.caFile);
            rc = mosquitto_tls_set(m, ca.constData(), nullptr, nullptr, nullptr, nullptr);
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            mosquitto_destroy(m);
            setState(State::TlsFailure, tr("TLS failure: the CA file %1 cannot be used (%2)")
                                            .arg(cfg.caFile, QString::fromUtf8(mosquitto_strerror(rc))));
            return false;
        }
    }
    {
        std::lock_guard<std::mutex> g(lock);
        client = m;
        refusal = 0;
    }
    {
        std::lock_guard<std::mutex> g(libraryErrorLock);
        libraryError.clear();
    }
    setState(State::Connecting, tr("connecting to %1:%2").arg(cfg.host).arg(cfg.port));
    attempts.fetch_add(1, std::memory_order_relaxed);
    const QByteArray host = cfg.host.toUtf8();
    // Without waiting for the broker's answer (a host that drops the packets takes minutes to
    // fail): the loop in serve() completes it, and stop() is heard meanwhile.
    const int rc = mosquitto_connect_async(m, host.constData(), cfg.port, keepAliveS);
    if (rc != MOSQ_ERR_SUCCESS) {
        const int err = errno;
        setState(rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_TLS_HANDSHAKE ? State::TlsFailure : State::Unreachable,
                 endWords(rc, err));
        return false;
    }
    return true;
}

QString MqttLink::endWords(int rc, int err) const
{
    QString detail;
    {
        std::lock_guard<std::mutex> g(libraryErrorLock);
        detail = libraryError;
    }
    switch (rc) {
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_TLS_HANDSHAKE:
        return detail.isEmpty() ? tr("TLS failure") : tr("TLS failure: %1").arg(detail);
    case MOSQ_ERR_ERRNO:
        return tr("broker not reachable: %1").arg(QString::fromLocal8Bit(std::strerror(err)));
    case MOSQ_ERR_EAI:
    case MOSQ_ERR_LOOKUP:
        return tr("broker not reachable: host %1 unknown").arg(cfg.host);
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_KEEPALIVE:
    case MOSQ_ERR_NO_CONN:
        return tr("connection lost");
    default:
        return tr("broker not reachable: %1").arg(QString::fromUtf8(mosquitto_strerror(rc)));
    }
}

void MqttLink::serve()
{
    int rc = MOSQ_ERR_SUCCESS;
    int err = 0;
    bool waitingForAnswer = true;
    bool unanswered = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(connectTimeoutS);
    while (!stopping.load()) {
        rc = mosquitto_loop(client, 100, 1);
        err = errno;
        if (rc != MOSQ_ERR_SUCCESS)
            break;
        drainIncoming();
        if (waitingForAnswer && std::chrono::steady_clock::now() >= deadline) {
            std::lock_guard<std::mutex> g(lock);
            // A refusal is an answer too: onConnect said it, and the broker closes.
            waitingForAnswer = false;
            unanswered = !connected && refusal == 0;
            if (unanswered)
                break;
        }
    }
    bool wasConnected;
    int refused;
    {
        std::lock_guard<std::mutex> g(lock);
        wasConnected = connected;
        refused = refusal;
    }
    if (unanswered && !stopping.load()) {
        setState(State::Unreachable, tr("the broker did not answer the connection within %1 s").arg(connectTimeoutS));
        return;
    }
    if (stopping.load()) {
        if (wasConnected && rc == MOSQ_ERR_SUCCESS)
            sayOffline();
        return;
    }
    if (refused != 0)
        return; // onConnect said why
    const QString words = endWords(rc, err);
    if (rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_TLS_HANDSHAKE)
        setState(State::TlsFailure, words);
    else if (wasConnected)
        setState(State::Lost, tr("connection lost"));
    else
        setState(State::Unreachable, words);
}

void MqttLink::sayOffline()
{
    // The will is only for a link that dies: one that stops says it itself, and waits a little
    // for what is in flight, so that less is sent twice at the next start.
    {
        std::lock_guard<std::mutex> g(lock);
        statusDone = false;
        const QByteArray status = statusTopic().toUtf8();
        if (mosquitto_publish(client, &statusMid, status.constData(), 7, "offline", 1, true) != MOSQ_ERR_SUCCESS)
            statusMid = -1;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceLeftMs.load());
    while (std::chrono::steady_clock::now() < until) {
        {
            std::lock_guard<std::mutex> g(lock);
            if ((statusDone || statusMid < 0) && inFlight.empty())
                break;
        }
        if (mosquitto_loop(client, 20, 1) != MOSQ_ERR_SUCCESS)
            return;
    }
    mosquitto_disconnect(client);
    // Let the DISCONNECT go out; the loop answers "no connection" once it has.
    for (int i = 0; i < 10 && mosquitto_loop(client, 10, 1) == MOSQ_ERR_SUCCESS; ++i) {
    }
}

void MqttLink::takeBack()
{
    std::vector<MqttSpool::Message> back;
    {
        std::lock_guard<std::mutex> g(lock);
        connected = false;
        // Handed straight to the broker, not confirmed: into the spool (empty while such
        // messages go out), so they leave again first. Spool messages in flight never left it.
        for (const Sent& s : inFlight)
            if (!s.fromSpool && !s.done)
                back.push_back(s.message);
        inFlight.clear();
        openInFlight = 0;
        spoolSent = 0;
        statusMid = -1;
        if (client) {
            mosquitto_destroy(client);
            client = nullptr;
        }
        // Before whatever publish() handed over meanwhile; into the spool with it.
        for (auto it = back.rbegin(); it != back.rend(); ++it) {
            incomingBytes += waitingSize(*it);
            incoming.push_front(std::move(*it));
        }
    }
    drainIncoming();
}

void MqttLink::waitBackOff(int seconds)
{
    State s;
    QString words;
    {
        std::lock_guard<std::mutex> g(lock);
        s = current;
        words = text;
    }
    setState(s, words + QCoreApplication::translate("MqttLink", " - next try in %n s", nullptr, seconds));
    // Bounded by the back-off; stop() cuts it short. What is published meanwhile goes into the
    // spool as it comes (a spool that failed is tried again each second).
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::unique_lock<std::mutex> g(lock);
    while (!stopping.load()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= until)
            break;
        const auto next = incoming.empty() ? until : std::min(until, now + std::chrono::seconds(1));
        const std::uint64_t seen = arrivals;
        wake.wait_until(g, next, [&] { return stopping.load() || arrivals != seen; });
        if (stopping.load())
            break;
        g.unlock();
        drainIncoming();
        g.lock();
    }
}

void MqttLink::run()
{
    int delay = 1;
    while (!stopping.load()) {
        if (connectOnce()) {
            const int before = accepted.load();
            serve();
            if (accepted.load() != before)
                delay = 1;
        }
        takeBack();
        if (stopping.load())
            break;
        waitBackOff(delay);
        delay = std::min(delay * 2, 60);
    }
}
