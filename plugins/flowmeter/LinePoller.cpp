#include "LinePoller.h"
#include "MeterLink.h"

#include <core/cLog.h>
#include <serial/cSerial.h>

#include <QCoreApplication>

#include <chrono>
#include <thread>

namespace {

// Registers 0 to 15: the whole map in one read.
constexpr uint16_t kMapSize = 16;
// A reset totalizer has counted at most a few seconds' flow when it is read back.
constexpr float kResetConfirmedBelowM3 = 0.5f;
constexpr uint16_t kRegTotal = 2;
constexpr uint16_t kRegDamping = 11;
constexpr uint16_t kRegCommand = 12;
constexpr uint16_t kRegCalibration = 14;
// One lost frame is common on a long RS-485 line; a meter counts as away after two in a row.
constexpr int kOfflineAfter = 2;
constexpr int kReopenEveryMs = 1000;

// Sleeps in short steps so that a stop request is seen at once.
bool sleepWhile(const std::atomic<bool>& running, int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (running && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return running;
}

QByteArray local(const QString& s)
{
    return s.toLocal8Bit();
}

} // namespace

LinePoller::LinePoller(int index, cThread* logTo)
    : cThread("FLOWMETER" + std::to_string(index + 1), logTo->outStream(), logTo->errStream()),
      lineIndex(index),
      logThread(logTo)
{
}

LinePoller::~LinePoller()
{
    stopAndWait();
}

QString LinePoller::meterName(const MeterConfig& m)
{
    return m.name.isEmpty() ? QCoreApplication::translate("FlowMeter", "Meter %1").arg(m.id) : m.name;
}

QString LinePoller::unitTag(int id) const
{
    return lineIndex == 0 ? QString("Unit %1").arg(id) : QString("Line %1 unit %2").arg(lineIndex + 1).arg(id);
}

void LinePoller::log(const QString& text) const
{
    cLog::line(logThread->outStream(), "Flow meter plugin: %s", text.toLocal8Bit().constData());
}

void LinePoller::setConfig(const LineConfig& l, int damping, float cal)
{
    std::lock_guard<std::mutex> g(stateMutex);
    const bool portChanged = !line.port.isEmpty() && (l.port != line.port || l.line != line.line);
    line = l;
    dampingTenths = damping;
    calibration = cal;
    answerTimeoutMs = l.answerTimeoutMs;
    QMap<int, UnitState> kept;
    for (const MeterConfig& m : l.meters) {
        UnitState u = unitStates.value(m.id);
        u.id = m.id;
        kept.insert(m.id, u);
    }
    unitStates = kept;
    if (portChanged)
        reopenPort = true;
}

LineConfig LinePoller::config() const
{
    std::lock_guard<std::mutex> g(stateMutex);
    return line;
}

QMap<int, UnitState> LinePoller::units() const
{
    std::lock_guard<std::mutex> g(stateMutex);
    return unitStates;
}

QString LinePoller::openFailure() const
{
    std::lock_guard<std::mutex> g(stateMutex);
    return failure;
}

void LinePoller::portOpened(cSerial* p)
{
    {
        std::lock_guard<std::mutex> g(stateMutex);
        failure.clear();
    }
    openFailed = false;
    port = p;
    portRequested = false;
}

void LinePoller::portFailed(const QString& words)
{
    {
        std::lock_guard<std::mutex> g(stateMutex);
        failure = words;
    }
    openFailed = true;
    portRequested = false;
}

cSerial* LinePoller::takePort()
{
    return port.exchange(nullptr);
}

void LinePoller::start()
{
    if (!running)
        startHandler(TYPE_PLAIN, this, std::string());
}

bool LinePoller::cancelScan()
{
    if (scanRequested.exchange(false))
        return true;
    scanCancel = true;
    return false;
}

void LinePoller::requestReset(int id)
{
    resetUnit = id;
    resetRequested = true;
}

void LinePoller::requestSetupWrites(bool factory)
{
    factoryWrites = factory;
    setupWritesRequested = true;
}

cSerial* LinePoller::usablePort() const
{
    // While the GUI thread replaces the port, the old one is not touched any more.
    cSerial* p = port;
    if (p && !reopenPort && !portRequested && p->handle >= 0 && p->running)
        return p;
    return nullptr;
}

void LinePoller::runHandler(void*)
{
    auto lastOpenTry = std::chrono::steady_clock::now() - std::chrono::hours(1);
    while (running) {
        const auto cycleStart = std::chrono::steady_clock::now();
        LineConfig c;
        int damping = 10;
        {
            std::lock_guard<std::mutex> g(stateMutex);
            c = line;
            damping = dampingTenths;
        }
        cSerial* p = usablePort();
        if (!p) {
            const QString path = c.port;
            // While an open is on its way the meters keep the state they had.
            QString reason;
            if (reopenPort)
                reason = QCoreApplication::translate("FlowMeter", "port changed to %1").arg(path);
            else if (port)
                reason = QCoreApplication::translate("FlowMeter", "port %1 lost (device gone)").arg(path);
            else if (openFailed) {
                reason = QCoreApplication::translate("FlowMeter", "port %1 cannot be opened").arg(path);
                const QString words = openFailure();
                if (!words.isEmpty())
                    reason += ": " + words;
            }
            if (!reason.isEmpty() && !portRequested)
                markAllOffline(reason);
            if (!portRequested && cycleStart - lastOpenTry >= std::chrono::milliseconds(kReopenEveryMs)) {
                lastOpenTry = cycleStart;
                reopenPort = false;
                portRequested = true;
                emit portWanted(lineIndex);
            }
            // A scan or reset asked for meanwhile ends here, saying why.
            const QString why = reason.isEmpty() ? QCoreApplication::translate("FlowMeter", "no port") : reason;
            if (scanRequested.exchange(false))
                emit scanDone(lineIndex, QString(), why);
            if (resetRequested.exchange(false))
                emit resetDone(lineIndex, false, why);
            sleepWhile(running, 50);
            continue;
        }
        const MeterLink link(p, answerTimeoutMs);
        if (scanRequested.exchange(false))
            runScan(link);
        if (resetRequested.exchange(false))
            runReset(link);
        if (setupWritesRequested.exchange(false))
            runSetupWrites(link);
        for (const MeterConfig& m : c.meters) {
            if (!running)
                break;
            pollUnit(link, m.id, damping);
        }
        emit changed(lineIndex);
        const auto spent = std::chrono::steady_clock::now() - cycleStart;
        const int left = c.periodMs - int(std::chrono::duration_cast<std::chrono::milliseconds>(spent).count());
        if (left > 0)
            sleepWhile(running, left);
    }
}

void LinePoller::pollUnit(const MeterLink& link, int id, int wanted)
{
    const MeterLink::Result read = link.readHolding(id, 0, kMapSize);
    if (!read.ok || read.registers.size() != kMapSize) {
        recordFailure(id, read.ok ? QCoreApplication::translate("FlowMeter", "malformed answer") : read.reason);
        return;
    }
    const std::vector<uint16_t>& r = read.registers;
    UnitState fresh;
    fresh.flow = modbus::toFloat(r[0], r[1]);
    fresh.total = modbus::toFloat(r[2], r[3]);
    fresh.temperature = modbus::toFloat(r[4], r[5]);
    fresh.alarm = r[6];
    fresh.status = r[7];
    fresh.serial = modbus::toUint32(r[8], r[9]);
    fresh.firmware = r[10];
    fresh.damping = r[11];
    fresh.calibration = modbus::toFloat(r[14], r[15]);
    fresh.flowProblem = ReadingCheck::flow(fresh.flow);
    fresh.totalProblem = ReadingCheck::total(fresh.total);
    fresh.temperatureProblem = ReadingCheck::temperature(fresh.temperature);
    const FlowTrend::Stamp now = FlowTrend::Stamp::now();
    bool cameBack = false;
    bool becameInvalid = false;
    {
        std::lock_guard<std::mutex> g(stateMutex);
        if (!unitStates.contains(id))
            return;
        UnitState& u = unitStates[id];
        cameBack = !u.online;
        u.online = true;
        u.seen = true;
        u.failuresInRow = 0;
        u.flow = fresh.flow;
        u.total = fresh.total;
        u.temperature = fresh.temperature;
        u.alarm = fresh.alarm;
        u.status = fresh.status;
        u.serial = fresh.serial;
        u.firmware = fresh.firmware;
        u.damping = fresh.damping;
        u.calibration = fresh.calibration;
        becameInvalid = !fresh.readingValid() &&
                        (u.readingValid() || u.flowProblem != fresh.flowProblem ||
                         u.totalProblem != fresh.totalProblem || u.temperatureProblem != fresh.temperatureProblem);
        u.flowProblem = fresh.flowProblem;
        u.totalProblem = fresh.totalProblem;
        u.temperatureProblem = fresh.temperatureProblem;
        // A meter that answers without a valid measurement is there, but has not been read:
        // its last good reading stays where it was.
        if (fresh.readingValid())
            u.lastGood = now.wall;
        if (fresh.flowProblem == ReadingCheck::Valid)
            u.trend.add(fresh.flow, now);
    }
    const QString tag = unitTag(id);
    if (cameBack)
        log(tag + " online");
    // A meter met for the first time, or back after being away (replaced, restarted, set by
    // hand), is given the damping of the setup.
    if (cameBack && fresh.damping != wanted) {
        const MeterLink::Result w = link.writeRegister(id, kRegDamping, uint16_t(wanted));
        if (w.ok)
            log(QString::asprintf("%s: damping set to %.1f s (it had %.1f s)", local(tag).constData(), wanted / 10.0,
                                  fresh.damping / 10.0));
        else
            log(tag + ": damping not written (" + w.reason + ")");
    }
    if (fresh.readingValid())
        log(QString::asprintf("%s: flow %.3f m3/h, totalizer %.3f m3, temperature %.2f C, alarm 0x%04X",
                              local(tag).constData(), double(fresh.flow), double(fresh.total),
                              double(fresh.temperature), unsigned(fresh.alarm)));
    else if (becameInvalid)
        log(tag + ": invalid reading (" + invalidReadingText(fresh, false) + ")");
}

void LinePoller::recordFailure(int id, const QString& reason)
{
    bool wentOffline = false;
    int errors = 0;
    {
        std::lock_guard<std::mutex> g(stateMutex);
        if (!unitStates.contains(id))
            return;
        UnitState& u = unitStates[id];
        errors = ++u.errors;
        u.reason = reason;
        if (++u.failuresInRow >= kOfflineAfter && (u.online || !u.seen)) {
            wentOffline = u.online || u.failuresInRow == kOfflineAfter;
            u.online = false;
        }
    }
    log(QString("%1: poll failed (%2), %3 errors").arg(unitTag(id), reason).arg(errors));
    if (wentOffline)
        log(unitTag(id) + " offline: " + reason);
}

void LinePoller::markAllOffline(const QString& reason)
{
    QList<int> changedIds;
    {
        std::lock_guard<std::mutex> g(stateMutex);
        for (UnitState& u : unitStates) {
            if (u.online || u.reason != reason) {
                if (u.online)
                    ++u.errors;
                u.online = false;
                u.reason = reason;
                changedIds << u.id;
            }
        }
    }
    for (int id : changedIds)
        log(unitTag(id) + " offline: " + reason);
    if (!changedIds.isEmpty())
        emit changed(lineIndex);
}

void LinePoller::runScan(const MeterLink& link)
{
    QStringList found;
    int lastPercent = -1;
    // The configured meters are polled between the tries at their usual period: a scan of an
    // empty bus takes 247 answer time-outs, half a minute, and their values must not stand
    // still meanwhile as if they were current.
    LineConfig c;
    int damping = 10;
    {
        std::lock_guard<std::mutex> g(stateMutex);
        c = line;
        damping = dampingTenths;
    }
    auto lastRound = std::chrono::steady_clock::now();
    for (int id = 1; id <= 247; ++id) {
        if (scanCancel.exchange(false)) {
            log(QString("Scan cancelled at unit %1").arg(id));
            emit scanDone(lineIndex, QString(), QCoreApplication::translate("FlowMeter", "cancelled"));
            return;
        }
        // A scan cut short is no picture of the bus: the meters keep their ids.
        if (!running) {
            log(QString("Scan stopped at unit %1: the plug-in is closing").arg(id));
            emit scanDone(lineIndex, QString(), QCoreApplication::translate("FlowMeter", "the plug-in is closing"));
            return;
        }
        if (!usablePort()) {
            const QString why = QCoreApplication::translate("FlowMeter", "port %1 lost").arg(c.port);
            log(QString("Scan stopped at unit %1: %2").arg(id).arg(why));
            emit scanDone(lineIndex, QString(), why);
            return;
        }
        // The firmware register alone: a short question, and any meter has it. A device that
        // refuses it with an exception is there all the same. The configured time-out, so
        // that a slow meter the poll would reach is found too.
        const MeterLink::Result r = link.readHolding(id, 10, 1);
        if (r.ok || r.check == modbus::Check::Exception)
            found << QString::number(id);
        if (std::chrono::steady_clock::now() - lastRound >= std::chrono::milliseconds(c.periodMs)) {
            lastRound = std::chrono::steady_clock::now();
            for (const MeterConfig& m : c.meters) {
                if (!running)
                    break;
                pollUnit(link, m.id, damping);
            }
            emit changed(lineIndex);
        }
        const int percent = id * 100 / 247;
        if (percent != lastPercent) {
            lastPercent = percent;
            emit scanProgress(lineIndex, percent);
        }
    }
    log("Scan found units " + (found.isEmpty() ? QString("none") : found.join(",")));
    emit scanDone(lineIndex, found.join(","), QString());
}

void LinePoller::runReset(const MeterLink& link)
{
    const int only = resetUnit;
    const LineConfig c = config();
    QVector<MeterConfig> meters;
    for (const MeterConfig& m : c.meters)
        if (!only || m.id == only)
            meters << m;
    bool ok = !meters.isEmpty();
    QString failureText = ok ? QString() : QCoreApplication::translate("FlowMeter", "no meter");
    for (const MeterConfig& m : meters) {
        const int id = m.id;
        QString reason;
        // The totalizer is read before and after: a meter that takes the command and does
        // nothing (write-protected, busy) answers the write all the same.
        auto readTotal = [&](float* total) {
            const MeterLink::Result r = link.readHolding(id, kRegTotal, 2);
            if (!r.ok || r.registers.size() != 2) {
                reason = r.ok ? QCoreApplication::translate("FlowMeter", "malformed answer") : r.reason;
                return false;
            }
            *total = modbus::toFloat(r.registers[0], r.registers[1]);
            // -inf is below anything and would count as a reset done; NaN as one never done
            // for a reason nobody is told.
            const ReadingCheck::Problem problem = ReadingCheck::total(*total);
            if (problem != ReadingCheck::Valid) {
                reason = QCoreApplication::translate("FlowMeter", "totalizer") + " " + ReadingCheck::text(problem);
                return false;
            }
            return true;
        };
        float before = 0;
        const bool knewBefore = readTotal(&before);
        reason.clear();
        const MeterLink::Result command = link.writeRegister(id, kRegCommand, 1);
        const bool done = command.ok;
        if (!done)
            reason = command.reason;
        // Confirmed once the totalizer reads near zero and below what it was; read back a few
        // times before giving up.
        bool confirmed = false;
        for (int tries = 0; done && !confirmed && tries < 10 && running; ++tries) {
            float after = 0;
            if (readTotal(&after))
                confirmed = after < kResetConfirmedBelowM3 && (!knewBefore || after < before);
            if (!confirmed)
                sleepWhile(running, 20);
        }
        if (confirmed)
            log(unitTag(id) + ": totalizer reset");
        else
            log(unitTag(id) + ": totalizer reset failed (" + (reason.isEmpty() ? QString("not confirmed") : reason) + ")");
        if (!confirmed && failureText.isEmpty())
            failureText = meterName(m) + ": " +
                          (reason.isEmpty() ? QCoreApplication::translate("FlowMeter", "not confirmed") : reason);
        ok = ok && confirmed;
    }
    emit resetDone(lineIndex, ok, failureText);
}

void LinePoller::runSetupWrites(const MeterLink& link)
{
    LineConfig c;
    int damping = 10;
    float cal = 1.0f;
    {
        std::lock_guard<std::mutex> g(stateMutex);
        c = line;
        damping = dampingTenths;
        cal = calibration;
    }
    for (const MeterConfig& m : c.meters) {
        const MeterLink::Result w = link.writeRegister(m.id, kRegDamping, uint16_t(damping));
        if (!w.ok) {
            log(unitTag(m.id) + ": damping not written (" + w.reason + ")");
            // Saved all the same, and written when the meter is next back; but said now.
            emit statusMessage(QCoreApplication::translate("FlowMeter", "%1: damping not written (%2)")
                                   .arg(meterName(m), w.reason));
        }
        if (factoryWrites) {
            uint16_t hi, lo;
            modbus::fromFloat(cal, &hi, &lo);
            const MeterLink::Result f = link.writeRegisters(m.id, kRegCalibration, {hi, lo});
            if (!f.ok)
                log(unitTag(m.id) + ": calibration factor not written (" + f.reason + ")");
        }
    }
}
