#include "LinePoller.h"
#include "MeterLink.h"

#include <serial/cSerial.h>

#include "DisplayUnit.h"
#include "FlowLog.h"
#include "FlowPages.h"
#include "ValueFormat.h"

#include <QCoreApplication>

#include <cmath>

#include <chrono>
#include <thread>

namespace {

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

// Whether a value of a measuring role is a measurement, judged in the units the checks know.
ReadingCheck::Problem check(const ModelValue& v, double value)
{
    const DisplayUnit::Unit unit = DisplayUnit::parse(v.unit);
    switch (v.role) {
    case ValueRole::FlowRate:
        return ReadingCheck::flow(float(DisplayUnit::convert(value, unit, DisplayUnit::CubicMetrePerHour)));
    case ValueRole::Totalizer:
        return ReadingCheck::total(float(DisplayUnit::convert(value, unit, DisplayUnit::CubicMetre)));
    case ValueRole::Temperature:
        return ReadingCheck::temperature(float(DisplayUnit::convert(value, unit, DisplayUnit::Celsius)));
    default:
        return ReadingCheck::Valid;
    }
}

// How the log writes a value's unit: the stable key, and C or F for a temperature as the
// lines have always had it.
QString logUnit(const ModelValue& v)
{
    const DisplayUnit::Unit unit = DisplayUnit::parse(v.unit);
    if (unit == DisplayUnit::Celsius)
        return "C";
    if (unit == DisplayUnit::Fahrenheit)
        return "F";
    return unit == DisplayUnit::Unknown ? v.unit : DisplayUnit::key(unit);
}

double valueOf(const MeterModel& m, const QVector<double>& values, ValueRole role)
{
    const int i = m.indexOf(role);
    return i >= 0 && i < values.size() ? values[i] : std::nan("");
}

// The bit field as the meter sent it: a u64 to its last bit, the others from their value.
quint64 fieldBits(double value, quint64 whole)
{
    if (whole)
        return whole;
    return value >= 0 && value < 18446744073709551616.0 ? quint64(std::llround(value)) : 0;
}

// How far a totalizer may fall without being taken for a reset: the model's own margin for
// confirming one.
double fallMargin(const MeterModel& m)
{
    const ModelValue* command = m.find(ValueRole::ResetCommand);
    return command ? command->confirmBelow : ModelValue().confirmBelow;
}

} // namespace

LinePoller::LinePoller(int index, cThread* logTo)
    : cThread("FLOWMETER" + std::to_string(index + 1), logTo->outStream(), logTo->errStream()),
      lineIndex(index),
      logThread(logTo)
{
    qRegisterMetaType<MeterEvent>();
}

LinePoller::~LinePoller()
{
    stopAndWait();
}

QString LinePoller::unitTag(int id) const
{
    const int index = lineIndex;
    return index == 0 ? QString("Unit %1").arg(id) : QString("Line %1 unit %2").arg(index + 1).arg(id);
}

void LinePoller::log(const QString& text) const
{
    FlowLog::line(logThread->outStream(), text.toLocal8Bit().constData());
}

MeterEvent LinePoller::event(MeterEvent::Kind kind, int id) const
{
    const FlowTrend::Stamp now = FlowTrend::Stamp::now();
    MeterEvent e;
    e.kind = kind;
    e.line = lineIndex;
    e.id = id;
    e.wall = now.wall;
    e.monotonicMs = now.monotonicMs;
    return e;
}

void LinePoller::emitEvents(const QVector<MeterEvent>& events)
{
    for (const MeterEvent& e : events)
        emit meterEvent(e);
}

QSet<int> LinePoller::offlineIds() const
{
    std::lock_guard<std::mutex> g(stateMutex);
    QSet<int> ids;
    for (auto it = said.begin(); it != said.end(); ++it)
        if (it->presence == Said::Offline)
            ids.insert(it.key());
    return ids;
}

void LinePoller::setConfig(const LineConfig& l, const QMap<QString, MeterModel>& known)
{
    std::lock_guard<std::mutex> g(stateMutex);
    const bool portChanged = !line.port.isEmpty() && (l.port != line.port || l.line != line.line);
    if (portChanged)
        log(QString("Line %1: port %2 at %3 changed to %4 at %5; the meters keep their state while it opens")
                .arg(lineIndex + 1)
                .arg(line.port, QString::fromStdString(line.line.text()), l.port, QString::fromStdString(l.line.text())));
    line = l;
    answerTimeoutMs = l.answerTimeoutMs;
    models.clear();
    plans.clear();
    QMap<int, MeterState> kept;
    for (const MeterConfig& m : l.meters) {
        MeterState u = unitStates.value(m.id);
        const auto found = known.constFind(m.model);
        const MeterModel* model = found == known.constEnd() ? nullptr : &found.value();
        if (model && !models.contains(m.model)) {
            models.insert(m.model, *model);
            plans.insert(m.model, ReadPlan::make(*model));
        }
        // A meter given another model starts afresh: its values are another model's.
        if (u.model != m.model || !model) {
            said.remove(m.id);
            owed.remove(m.id);
            u = MeterState();
            u.values.fill(std::nan(""), model ? model->values.size() : 0);
            u.wholes.fill(0, model ? model->values.size() : 0);
            u.problems.fill(ReadingCheck::Valid, model ? model->values.size() : 0);
        }
        u.line = lineIndex;
        u.id = m.id;
        u.model = m.model;
        if (!model) {
            u.online = false;
            u.reason = Reason(QT_TRANSLATE_NOOP("FlowMeter", "model %1 not found")).arg(m.model);
        }
        kept.insert(m.id, u);
    }
    unitStates = kept;
    for (auto it = said.begin(); it != said.end();)
        it = kept.contains(it.key()) ? std::next(it) : said.erase(it);
    for (auto it = owed.begin(); it != owed.end();)
        it = kept.contains(it.key()) ? std::next(it) : owed.erase(it);
    if (portChanged)
        reopenPort = true;
}

const MeterModel* LinePoller::modelOf(int id) const
{
    auto it = unitStates.find(id);
    if (it == unitStates.end())
        return nullptr;
    auto m = models.find(it->model);
    return m == models.end() ? nullptr : &m.value();
}

LineConfig LinePoller::config() const
{
    std::lock_guard<std::mutex> g(stateMutex);
    return line;
}

QMap<int, MeterState> LinePoller::units() const
{
    std::lock_guard<std::mutex> g(stateMutex);
    return unitStates;
}

Reason LinePoller::openFailure() const
{
    std::lock_guard<std::mutex> g(stateMutex);
    return failure;
}

void LinePoller::portOpened(cSerial* p)
{
    {
        std::lock_guard<std::mutex> g(stateMutex);
        failure = Reason();
    }
    openFailed = false;
    port = p;
    portRequested = false;
}

void LinePoller::portFailed(const Reason& why)
{
    {
        std::lock_guard<std::mutex> g(stateMutex);
        failure = why;
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
    // The plug-in's streams as they are now: the host may have given it others since.
    setOut(logThread->outStream());
    setErr(logThread->errStream());
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

void LinePoller::requestWrite(int id, ValueRole role, double value)
{
    {
        std::lock_guard<std::mutex> g(stateMutex);
        writes.push_back(Write{id, role, value});
    }
    writesRequested = true;
}

void LinePoller::requestSetupWrites(std::optional<int> dampingTenths, std::optional<float> calibration)
{
    if (!dampingTenths && !calibration)
        return;
    {
        std::lock_guard<std::mutex> g(stateMutex);
        for (const MeterConfig& m : line.meters) {
            Owed& o = owed[m.id];
            if (dampingTenths)
                o.dampingTenths = dampingTenths;
            if (calibration)
                o.calibration = calibration;
        }
    }
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
        {
            std::lock_guard<std::mutex> g(stateMutex);
            c = line;
        }
        cSerial* p = usablePort();
        if (!p) {
            const QString path = c.port;
            // While an open is on its way the meters keep the state they had.
            Reason reason;
            // A port the user changed is no fault of the meters: no alarm, and no flap of their
            // availability while the new one opens. Whether they answer there, the polls tell.
            bool away = true;
            if (reopenPort) {
                reason = Reason(QT_TRANSLATE_NOOP("FlowMeter", "port changed to %1")).arg(path);
                away = false;
            } else if (port)
                reason = Reason(QT_TRANSLATE_NOOP("FlowMeter", "port %1 lost (device gone)")).arg(path);
            else if (openFailed) {
                const Reason why = openFailure();
                reason = why.isEmpty() ? Reason(QT_TRANSLATE_NOOP("FlowMeter", "port %1 cannot be opened")).arg(path)
                                       : Reason(QT_TRANSLATE_NOOP("FlowMeter", "port %1 cannot be opened: %2")).arg(path).arg(why);
            }
            if (away && !reason.isEmpty() && !portRequested)
                markAllOffline(reason);
            if (!portRequested && cycleStart - lastOpenTry >= std::chrono::milliseconds(kReopenEveryMs)) {
                lastOpenTry = cycleStart;
                reopenPort = false;
                portRequested = true;
                emit portWanted(lineIndex);
            }
            // A scan or reset asked for meanwhile ends here, saying why.
            const QString why =
                reason.isEmpty() ? QCoreApplication::translate("FlowMeter", "no port") : reason.text();
            if (scanRequested.exchange(false))
                emit scanDone(lineIndex, QString(), why);
            if (resetRequested.exchange(false))
                emit resetDone(lineIndex, false, why);
            if (writesRequested.exchange(false)) {
                QVector<Write> dropped;
                {
                    std::lock_guard<std::mutex> g(stateMutex);
                    dropped.swap(writes);
                }
                for (const Write& w : dropped)
                    emit writeDone(lineIndex, w.id, false, why);
            }
            sleepWhile(running, 50);
            continue;
        }
        const MeterLink link(p, answerTimeoutMs, &lineUnsure);
        if (scanRequested.exchange(false))
            runScan(link);
        if (resetRequested.exchange(false))
            runReset(link);
        if (setupWritesRequested.exchange(false))
            runSetupWrites(link);
        if (writesRequested.exchange(false))
            runWrites(link);
        for (const MeterConfig& m : c.meters) {
            if (!running)
                break;
            pollUnit(link, m);
        }
        emit changed(lineIndex);
        const auto spent = std::chrono::steady_clock::now() - cycleStart;
        const int left = c.periodMs - int(std::chrono::duration_cast<std::chrono::milliseconds>(spent).count());
        if (left > 0)
            sleepWhile(running, left);
    }
}

void LinePoller::pollUnit(const MeterLink& link, const MeterConfig& meter)
{
    const int id = meter.id;
    MeterModel model;
    QVector<ReadRequest> plan;
    {
        std::lock_guard<std::mutex> g(stateMutex);
        const MeterModel* m = modelOf(id);
        // A meter of a model not known is not asked anything: what it sent could not be read.
        if (!m)
            return;
        model = *m;
        plan = plans.value(meter.model);
    }
    QVector<double> values;
    QVector<quint64> wholes;
    const MeterLink::Result read = link.readModel(id, model, plan, &values, &wholes);
    countLate(id, read.late);
    if (!read.ok) {
        recordFailure(id, read.reason);
        return;
    }
    QVector<ReadingCheck::Problem> problems(values.size(), ReadingCheck::Valid);
    bool valid = true;
    for (int i = 0; i < values.size(); ++i) {
        problems[i] = std::isnan(values[i]) && !model.values[i].isRegister() ? ReadingCheck::Valid
                                                                            : check(model.values[i], values[i]);
        valid = valid && problems[i] == ReadingCheck::Valid;
    }
    const int flowIndex = model.indexOf(ValueRole::FlowRate);
    const int alarmIndex = model.indexOf(ValueRole::AlarmBits);
    const int totalIndex = model.indexOf(ValueRole::Totalizer);
    const FlowTrend::Stamp now = FlowTrend::Stamp::now();
    bool cameBack = false;
    bool becameInvalid = false;
    QVector<MeterEvent> events;
    MeterState taken;
    QString port;
    {
        std::lock_guard<std::mutex> g(stateMutex);
        if (!unitStates.contains(id))
            return;
        MeterState& u = unitStates[id];
        cameBack = !u.online;
        u.online = true;
        u.seen = true;
        u.failuresInRow = 0;
        becameInvalid = !valid && (u.readingValid() || u.problems != problems);
        u.values = values;
        u.wholes = wholes;
        u.problems = problems;
        // A meter that answers without a valid measurement is there, but has not been read:
        // its last good reading stays where it was.
        if (valid) {
            u.lastGood = now.wall;
            u.lastGoodMs = now.monotonicMs;
        }
        if (flowIndex >= 0 && problems[flowIndex] == ReadingCheck::Valid)
            u.trend.add(float(values[flowIndex]), now);

        Said& s = said[id];
        if (s.presence != Said::Online) {
            s.presence = Said::Online;
            events << event(MeterEvent::CameBack, id);
        }
        // A field that was not read this time says nothing of the alarms.
        if (alarmIndex >= 0 && !std::isnan(values[alarmIndex])) {
            const ModelValue& field = model.values[alarmIndex];
            const quint64 set = ValueFormat::alarmBits(field, values[alarmIndex]);
            if ((set & ~s.alarmBits) || (!set && s.alarmBits)) {
                MeterEvent e = event(set ? MeterEvent::AlarmRaised : MeterEvent::AlarmCleared, id);
                e.detail = ValueFormat::alarmWords(field, set, false);
                e.bits = fieldBits(values[alarmIndex], wholes.value(alarmIndex));
                events << e;
            }
            s.alarmBits = set;
        }
        if (totalIndex >= 0 && problems[totalIndex] == ReadingCheck::Valid && std::isfinite(values[totalIndex])) {
            const double total = values[totalIndex];
            // Our own resets move `total` themselves; a fall beyond the noise is the meter's.
            if (s.total - total > fallMargin(model)) {
                MeterEvent e = event(MeterEvent::TotalizerReset, id);
                e.detail = "totalizer fell at the meter";
                e.value = s.total;
                e.unit = model.values[totalIndex].unit;
                events << e;
            }
            s.total = total;
        }
        taken = u;
        // Shared with the line's trend, the copy would make its next point copy it all.
        taken.trend = FlowTrend();
        taken.line = lineIndex;
        taken.id = id;
        port = line.port;
    }
    emitEvents(events);
    emit reading(port, taken);
    const QString tag = unitTag(id);
    if (cameBack)
        log(tag + " online");
    for (const MeterEvent& e : events) {
        if (e.kind == MeterEvent::AlarmRaised)
            log(tag + ": alarm on (" + e.detail + ")");
        else if (e.kind == MeterEvent::AlarmCleared)
            log(tag + ": alarm off");
        else if (e.kind == MeterEvent::TotalizerReset)
            log(QString::asprintf("%s: totalizer fell at the meter from %.3f %s", local(tag).constData(), e.value,
                                  local(logUnit(model.values[totalIndex])).constData()));
    }
    // A meter back after being away is given only what Save could not write to it then: a
    // setting the user did not change for it stays as the meter has it.
    if (cameBack)
        writeOwed(link, id, model, values);
    // Every reading only while the host's serial debugging is on; the log would otherwise grow
    // by a line per meter and poll, day and night.
    if (valid && logPolls) {
        QStringList parts;
        auto add = [&](ValueRole role, const char* what, int decimals) {
            const int i = model.indexOf(role);
            if (i >= 0)
                parts << QString("%1 %2 %3").arg(what).arg(values[i], 0, 'f', decimals).arg(logUnit(model.values[i]));
        };
        add(ValueRole::FlowRate, "flow", 3);
        add(ValueRole::Totalizer, "totalizer", 3);
        add(ValueRole::Temperature, "temperature", 2);
        const double alarm = valueOf(model, values, ValueRole::AlarmBits);
        if (!std::isnan(alarm))
            parts << QString::asprintf("alarm 0x%04llX", static_cast<unsigned long long>(std::llround(alarm)));
        log(tag + ": " + parts.join(", "));
    } else if (!valid && becameInvalid) {
        log(tag + ": invalid reading (" + invalidReadingText(model, problems, false) + ")");
    }
}

void LinePoller::recordFailure(int id, const Reason& reason)
{
    bool wentOffline = false;
    int errors = 0;
    QVector<MeterEvent> events;
    {
        std::lock_guard<std::mutex> g(stateMutex);
        if (!unitStates.contains(id))
            return;
        MeterState& u = unitStates[id];
        errors = ++u.errors;
        u.reason = reason;
        if (++u.failuresInRow >= kOfflineAfter && (u.online || !u.seen)) {
            wentOffline = u.online || u.failuresInRow == kOfflineAfter;
            u.online = false;
        }
        // Its alarms stay as they were: nothing is known of them while it is away.
        Said& s = said[id];
        if (!u.online && u.failuresInRow >= kOfflineAfter && s.presence != Said::Offline) {
            s.presence = Said::Offline;
            events << event(MeterEvent::WentOffline, id);
            events.back().detail = reason.english();
            events.back().why = reason;
        }
    }
    emitEvents(events);
    if (logPolls)
        log(QString("%1: poll failed (%2), %3 errors").arg(unitTag(id), reason.english()).arg(errors));
    if (wentOffline)
        log(unitTag(id) + " offline: " + reason.english());
}

void LinePoller::countLate(int id, int late)
{
    if (late <= 0) {
        lateSaid.remove(id);
        return;
    }
    int errors = 0;
    {
        std::lock_guard<std::mutex> g(stateMutex);
        if (!unitStates.contains(id))
            return;
        errors = unitStates[id].errors += late;
    }
    if (!lateSaid.contains(id)) {
        lateSaid.insert(id);
        log(QString("%1: late answer dropped, the answer time-out may be too short (%2 errors)").arg(unitTag(id)).arg(errors));
    }
}

void LinePoller::markAllOffline(const Reason& reason)
{
    QList<int> changedIds;
    QVector<MeterEvent> events;
    {
        std::lock_guard<std::mutex> g(stateMutex);
        for (MeterState& u : unitStates) {
            // A meter of a model not known keeps saying so.
            if (!modelOf(u.id))
                continue;
            if (u.online || u.reason != reason) {
                if (u.online)
                    ++u.errors;
                u.online = false;
                u.reason = reason;
                changedIds << u.id;
            }
            // A new reason for a meter already away is no new event.
            Said& s = said[u.id];
            if (s.presence != Said::Offline) {
                s.presence = Said::Offline;
                events << event(MeterEvent::WentOffline, u.id);
                events.back().detail = reason.english();
                events.back().why = reason;
            }
        }
    }
    emitEvents(events);
    for (int id : changedIds)
        log(unitTag(id) + " offline: " + reason.english());
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
    {
        std::lock_guard<std::mutex> g(stateMutex);
        c = line;
    }
    // The question comes from the line's model: its firmware register, else its first value.
    ModelValue probe;
    {
        std::lock_guard<std::mutex> g(stateMutex);
        for (const MeterConfig& m : c.meters) {
            const MeterModel* model = modelOf(m.id);
            if (!model)
                continue;
            const ModelValue* firmware = model->find(ValueRole::FirmwareVersion);
            for (const ModelValue& v : model->values)
                if (!firmware && v.function != 5)
                    firmware = &v;
            if (firmware) {
                probe = *firmware;
                break;
            }
        }
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
        const MeterLink::Result r = link.read(id, probe.function, probe.address, 1);
        if (r.ok || r.check == modbus::Check::Exception)
            found << QString::number(id);
        if (std::chrono::steady_clock::now() - lastRound >= std::chrono::milliseconds(c.periodMs)) {
            lastRound = std::chrono::steady_clock::now();
            for (const MeterConfig& m : c.meters) {
                if (!running)
                    break;
                pollUnit(link, m);
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
        MeterModel model;
        {
            std::lock_guard<std::mutex> g(stateMutex);
            if (const MeterModel* known = modelOf(id))
                model = *known;
        }
        const ModelValue* command = model.find(ValueRole::ResetCommand);
        const ModelValue* total = model.find(ValueRole::Totalizer);
        Reason reason;
        bool confirmed = false;
        bool knewBefore = false;
        double totalBefore = std::nan("");
        double totalAfter = std::nan("");
        if (!command) {
            reason = model.values.isEmpty() ? Reason(QT_TRANSLATE_NOOP("FlowMeter", "model %1 not found")).arg(m.model)
                                            : Reason(QT_TRANSLATE_NOOP("FlowMeter", "its model has no reset command"));
        } else {
            const bool byTotal = command->confirm == ResetConfirm::TotalizerFalls && total;
            // The totalizer is read before and after: a meter that takes the command and does
            // nothing (write-protected, busy) answers the write all the same.
            auto readTotal = [&](double* value) {
                const MeterLink::Result r = link.readValue(id, *total, value);
                if (!r.ok) {
                    reason = r.reason;
                    return false;
                }
                // -inf is below anything and would count as a reset done; NaN as one never
                // done for a reason nobody is told.
                const ReadingCheck::Problem problem = check(*total, *value);
                if (problem != ReadingCheck::Valid) {
                    // Two words of the catalogue side by side.
                    reason = Reason("%1 %2")
                                 .arg(Reason(QT_TRANSLATE_NOOP("FlowMeter", "totalizer")))
                                 .arg(Reason(ReadingCheck::name(problem)));
                    return false;
                }
                return true;
            };
            double before = 0;
            knewBefore = byTotal && readTotal(&before);
            totalBefore = knewBefore ? before : std::nan("");
            reason = Reason();
            const MeterLink::Result done = link.command(id, *command);
            if (!done.ok)
                reason = done.reason;
            confirmed = done.ok && !byTotal;
            // Confirmed once the totalizer reads near zero and below what it was; read back a
            // few times before giving up.
            for (int tries = 0; done.ok && byTotal && !confirmed && tries < 10 && running; ++tries) {
                double after = 0;
                if (readTotal(&after)) {
                    confirmed = after < command->confirmBelow && (!knewBefore || after < before);
                    totalAfter = after;
                }
                if (!confirmed)
                    sleepWhile(running, 20);
            }
        }
        if (confirmed) {
            MeterEvent e = event(MeterEvent::TotalizerReset, id);
            e.detail = "totalizer reset from Corvane";
            e.unit = total ? total->unit : QString();
            {
                std::lock_guard<std::mutex> g(stateMutex);
                Said& s = said[id];
                // Without a read before, the last poll's is the best there is.
                e.value = knewBefore ? totalBefore : s.total;
                // What the polls compare the next reading with: not the total before, or
                // this reset would be said again as a fall at the meter.
                s.total = totalAfter;
            }
            emit meterEvent(e);
        }
        if (confirmed)
            log(unitTag(id) + ": totalizer reset");
        else
            log(unitTag(id) + ": totalizer reset failed (" + (reason.isEmpty() ? QString("not confirmed") : reason.english()) + ")");
        if (!confirmed && failureText.isEmpty())
            failureText = m.shownName() + ": " +
                          (reason.isEmpty() ? QCoreApplication::translate("FlowMeter", "not confirmed") : reason.text());
        ok = ok && confirmed;
    }
    emit resetDone(lineIndex, ok, failureText);
}

void LinePoller::runSetupWrites(const MeterLink& link)
{
    LineConfig c;
    QMap<int, MeterModel> byId;
    {
        std::lock_guard<std::mutex> g(stateMutex);
        c = line;
        for (const MeterConfig& m : c.meters)
            if (const MeterModel* model = modelOf(m.id); model && owed.contains(m.id))
                byId.insert(m.id, *model);
    }
    for (const MeterConfig& m : c.meters) {
        if (!running)
            break;
        if (byId.contains(m.id))
            writeOwed(link, m.id, byId.value(m.id), {});
    }
}

void LinePoller::writeOwed(const MeterLink& link, int id, const MeterModel& model, const QVector<double>& values)
{
    Owed o;
    QString name;
    {
        std::lock_guard<std::mutex> g(stateMutex);
        const auto it = owed.constFind(id);
        if (it == owed.constEnd())
            return;
        o = *it;
        for (const MeterConfig& m : line.meters)
            if (m.id == id)
                name = m.shownName();
    }
    const QString tag = unitTag(id);
    const int dampingIndex = model.indexOf(ValueRole::Damping);
    const ModelValue* d = dampingIndex >= 0 ? &model.values[dampingIndex] : nullptr;
    // A meter without the value writable owes nothing.
    bool dampingDone = !o.dampingTenths || !d || !d->writable;
    if (!dampingDone) {
        const double seconds = *o.dampingTenths / 10.0;
        const double had = dampingIndex < values.size() ? values[dampingIndex] : std::nan("");
        const MeterLink::Result w = link.writeValue(id, *d, seconds);
        dampingDone = w.ok;
        if (w.ok && std::isnan(had))
            log(QString::asprintf("%s: damping set to %.1f s", local(tag).constData(), seconds));
        else if (w.ok)
            log(QString::asprintf("%s: damping set to %.1f s (it had %.1f s)", local(tag).constData(), seconds, had));
        else {
            log(tag + ": damping not written (" + w.reason.english() + ")");
            // Kept, and written when the meter is next back; but said now.
            emit statusMessage(QCoreApplication::translate("FlowMeter", "%1: damping not written (%2)")
                                   .arg(name, w.reason.text()));
        }
    }
    const ModelValue* f = model.find(ValueRole::CalibrationFactor);
    bool calibrationDone = !o.calibration || !f || !f->writable;
    if (!calibrationDone) {
        const MeterLink::Result w = link.writeValue(id, *f, double(*o.calibration));
        calibrationDone = w.ok;
        if (w.ok)
            log(QString::asprintf("%s: calibration factor set to %.4f", local(tag).constData(), double(*o.calibration)));
        else
            log(tag + ": calibration factor not written (" + w.reason.english() + ")");
    }
    std::lock_guard<std::mutex> g(stateMutex);
    auto it = owed.find(id);
    if (it == owed.end())
        return;
    // A later Save may have asked for another value meanwhile: that one stays owed.
    if (dampingDone && it->dampingTenths == o.dampingTenths)
        it->dampingTenths.reset();
    if (calibrationDone && it->calibration == o.calibration)
        it->calibration.reset();
    if (!it->dampingTenths && !it->calibration)
        owed.erase(it);
}

void LinePoller::runWrites(const MeterLink& link)
{
    QVector<Write> todo;
    QMap<int, MeterModel> byId;
    LineConfig c;
    {
        std::lock_guard<std::mutex> g(stateMutex);
        todo.swap(writes);
        c = line;
        for (const Write& w : todo)
            if (const MeterModel* model = modelOf(w.id))
                byId.insert(w.id, *model);
    }
    for (const Write& w : todo) {
        const ModelValue* v = byId.value(w.id).find(w.role);
        if (!v) {
            emit writeDone(lineIndex, w.id, false, QCoreApplication::translate("FlowMeter", "its model has no such value"));
            continue;
        }
        const MeterLink::Result r = link.writeValue(w.id, *v, w.value);
        if (r.ok)
            log(QString::asprintf("%s: alarm limit set to %.3f %s", local(unitTag(w.id)).constData(), w.value,
                                  local(logUnit(*v)).constData()));
        else
            log(unitTag(w.id) + ": alarm limit not written (" + r.reason.english() + ")");
        emit writeDone(lineIndex, w.id, r.ok, r.reason.text());
    }
}
