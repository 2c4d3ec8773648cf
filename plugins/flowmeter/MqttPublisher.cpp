#include "MqttPublisher.h"

#include "BoundedFile.h"
#include "MqttPayload.h"
#include "corvaneVersion.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <iterator>
#include <utility>

MqttPublisher::MqttPublisher(Log log, QObject* parent)
    : QObject(parent), log(std::move(log)), composerContext(std::make_unique<QObject>())
{
    qRegisterMetaType<MqttLink::State>();
    composer.setObjectName(QStringLiteral("MQTT composer"));
    composerContext->moveToThread(&composer);
    composer.start();
}

MqttPublisher::~MqttPublisher()
{
    stop();
    composer.quit();
    composer.wait();
}

void MqttPublisher::post(std::function<void()> work)
{
    QMetaObject::invokeMethod(composerContext.get(), std::move(work), Qt::QueuedConnection);
}

void MqttPublisher::finishComposing()
{
    QMetaObject::invokeMethod(composerContext.get(), [] {}, Qt::BlockingQueuedConnection);
}

namespace {

// Home Assistant is told of the measured values only: not of a command, text or a bit field.
bool announcedValue(const ModelValue& value)
{
    return !(value.function == 5 || value.role == ValueRole::ResetCommand || ValueFormat::isBitField(value));
}

// Home Assistant's spelling of a unit, for the device classes it checks units of: a unit it
// does not spell this way (or not take at all) is a unit without a device class.
QString haUnit(DisplayUnit::Unit unit)
{
    switch (unit) {
    case DisplayUnit::CubicMetrePerHour: return QStringLiteral("m³/h");
    case DisplayUnit::LitrePerMinute: return QStringLiteral("L/min");
    case DisplayUnit::LitrePerSecond: return QStringLiteral("L/s");
    case DisplayUnit::UsGallonPerMinute: return QStringLiteral("gal/min");
    case DisplayUnit::CubicMetre: return QStringLiteral("m³");
    case DisplayUnit::Litre: return QStringLiteral("L");
    case DisplayUnit::UsGallon: return QStringLiteral("gal");
    case DisplayUnit::Celsius: return QStringLiteral("°C");
    case DisplayUnit::Fahrenheit: return QStringLiteral("°F");
    case DisplayUnit::Unknown: break;
    }
    return QString();
}

// An entity id's part after the domain: lower-case letters, digits and `_`, as Home Assistant
// takes it.
QString entityPart(const QString& text)
{
    QString out;
    for (QChar c : text.toLower())
        out += (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                   ? c
                   : QLatin1Char('_');
    return out;
}

// The English name of a measured value: it is the entity's name, shown after the meter's.
QString entityName(const ModelValue& value)
{
    switch (value.role) {
    case ValueRole::FlowRate: return QStringLiteral("Flow");
    case ValueRole::Totalizer: return QStringLiteral("Total");
    case ValueRole::Temperature: return QStringLiteral("Temperature");
    case ValueRole::SerialNumber: return QStringLiteral("Serial number");
    case ValueRole::FirmwareVersion: return QStringLiteral("Firmware");
    case ValueRole::Damping: return QStringLiteral("Damping");
    case ValueRole::AlarmLimit: return QStringLiteral("Alarm limit");
    case ValueRole::CalibrationFactor: return QStringLiteral("Calibration factor");
    case ValueRole::AlarmBits: return QStringLiteral("Alarm");
    case ValueRole::StatusBits: return QStringLiteral("Status");
    case ValueRole::ResetCommand: return QStringLiteral("Reset");
    case ValueRole::Extra: break;
    }
    const QString name = value.name.trimmed();
    return name.isEmpty() ? QStringLiteral("Value") : name;
}

// The firmware a meter's last reading holds, as the page writes it; empty when not read.
QString firmwareOf(const MeterState& s, const MeterModel& model)
{
    const int i = model.indexOf(ValueRole::FirmwareVersion);
    if (i < 0 || i >= s.values.size() || std::isnan(s.values[i])
        || (i < s.problems.size() && s.problems[i] != ReadingCheck::Valid))
        return QString();
    const QString version = ValueFormat::versionText(model.values[i], s.values[i]);
    return version.isEmpty() ? QString::number(s.values[i], 'g', 12) : version;
}

bool sameSettings(const MqttSettings& a, const MqttSettings& b)
{
    return a.host == b.host && a.port == b.port && a.clientId == b.clientId && a.userName == b.userName
        && a.password == b.password && a.tls == b.tls && a.caFile == b.caFile && a.topicPrefix == b.topicPrefix
        && a.qos == b.qos && a.homeAssistantDiscovery == b.homeAssistantDiscovery
        && a.spoolLimitBytes == b.spoolLimitBytes;
}

} // namespace

void MqttPublisher::start(const MqttSettings& settings, const QString& spoolFolder)
{
    if (link && folder == spoolFolder && sameSettings(cfg, settings)) {
        // The interval is the caller's timer: nothing of the link changes with it.
        cfg.publishIntervalS = settings.publishIntervalS;
        return;
    }
    stop();
    cfg = settings;
    folder = spoolFolder;
    link = std::make_unique<MqttLink>(cfg, folder);
    // The link signals from its own thread; these run queued on ours, and what an earlier link
    // had queued before it went is not taken for this one's.
    const int generation = ++linkGeneration;
    connect(link.get(), &MqttLink::stateChanged, this, [this, generation](MqttLink::State st, const QString& text) {
        if (generation == linkGeneration)
            onLinkState(st, text);
    }, Qt::QueuedConnection);
    connect(link.get(), &MqttLink::messagesDropped, this, [this, generation](qint64 total) {
        if (generation == linkGeneration)
            onDropped(total);
    }, Qt::QueuedConnection);
    connect(link.get(), &MqttLink::spoolFailed, this, [this, generation](const QString& words) {
        if (generation == linkGeneration)
            onSpoolFailed(words);
    }, Qt::QueuedConnection);
    spoolProblem.clear();
    log(QString("MQTT: publishing to %1:%2%3 as %4 under %5")
            .arg(cfg.host)
            .arg(cfg.port)
            .arg(cfg.tls ? QStringLiteral(" (TLS)") : QString())
            .arg(link->clientId(), link->prefix()));
    if (!link->start())
        log(QString("MQTT: no spool, readings are lost while the broker cannot be reached: %1").arg(link->error()));
    if (link->spoolSkippedBytes() > 0)
        log(QString("MQTT: the spool was damaged; skipped %1 bytes, messages lost: about %2, kept: %3")
                .arg(link->spoolSkippedBytes())
                .arg(link->spoolLostToDamage())
                .arg(link->spooled()));
    droppedTotal = link->spoolDropped();
    if (droppedTotal > 0)
        log(QString("MQTT: %1 readings dropped from the full spool so far").arg(droppedTotal));
    state = QCoreApplication::translate("FlowMeter", "connecting");
    linkNow = MqttLink::State::Connecting;
    const QString record = QDir(folder).filePath(QStringLiteral("retained.txt"));
    post([this, record] {
        retainedFile = record;
        loadRetained();
        availability.clear();
        announced.clear();
        announcedFirmware.clear();
        tickLink = nullptr;
        publishedInInterval.clear();
        publishedInPrevious.clear();
        publishedReading.clear();
        tickPorts.clear();
    });
    emit statusChanged();
}

void MqttPublisher::stop()
{
    if (!link)
        return;
    // What was given to the composer goes to the link (and its spool) before the link goes;
    // readings that come after are not for it.
    post([this] { tickLink = nullptr; });
    finishComposing();
    link->stop();
    // Whatever it still queued for us is of a link gone.
    ++linkGeneration;
    link->disconnect(this);
    link.reset();
    log("MQTT: stopped");
    state.clear();
    linkNow = MqttLink::State::Stopped;
    emit statusChanged();
}

void MqttPublisher::tick(const QVector<Line>& lines, const QMap<QString, MeterModel>& all, const ValueFormat& format)
{
    schedule(lines, all, format, false);
}

void MqttPublisher::begin(const QVector<Line>& lines, const QMap<QString, MeterModel>& all, const ValueFormat& format)
{
    schedule(lines, all, format, true);
}

void MqttPublisher::schedule(const QVector<Line>& lines, const QMap<QString, MeterModel>& all,
                             const ValueFormat& format, bool starting)
{
    if (!link)
        return;
    MqttLink* to = link.get();
    const int qos = cfg.qos != 0 ? 1 : 0;
    const bool discovery = cfg.homeAssistantDiscovery;
    // Copies (shared until changed): the composer forms the payloads while this thread goes on.
    post([this, to, lines, all, format, qos, discovery, starting] {
        compose(to, lines, all, format, qos, discovery, starting);
    });
}

void MqttPublisher::onMeterEvent(const MeterEvent& event)
{
    if (!link)
        return;
    MqttLink* to = link.get();
    const int qos = cfg.qos != 0 ? 1 : 0;
    post([this, to, event, qos] { composeEvent(to, event, qos); });
}

void MqttPublisher::reading(const QString& port, const MeterState& state)
{
    post([this, port, state] { composeReading(port, state); });
}

void MqttPublisher::compose(MqttLink* to, const QVector<Line>& lines, const QMap<QString, MeterModel>& all,
                            const ValueFormat& format, int qos, bool discovery, bool first)
{
    models = all;
    clearGone(to, lines, all, discovery, qos);
    modelOf.clear();
    nameOf.clear();
    tickLink = to;
    tickQos = qos;
    tickFormat = format;
    tickDiscovery = discovery;
    tickPorts.resize(lines.size());
    for (int l = 0; l < lines.size(); ++l) {
        // Another line in this place: what was published of the one before says nothing of it.
        if (tickPorts[l] != lines[l].config.port) {
            tickPorts[l] = lines[l].config.port;
            for (QSet<QPair<int, int>>* set : {&publishedInInterval, &publishedInPrevious})
                set->removeIf([l](const QPair<int, int>& key) { return key.first == l; });
        }
        for (const MeterConfig& m : lines[l].config.meters) {
            const auto model = all.constFind(m.model);
            if (model == all.constEnd())
                continue;
            const QPair<int, int> key(l, m.id);
            modelOf.insert(key, m.model);
            nameOf.insert(key, m.name);
            MeterState s = lines[l].units.value(m.id);
            s.line = l;
            s.id = m.id;
            if (discovery)
                announceIfChanged(to, key, m.name, *model, format, s, qos);
            // A meter read about as often as the interval may have its reading just before
            // this tick or just after: only one that had none in this interval nor the one
            // before is published from here, with what it last had.
            if (publishedInInterval.contains(key) || publishedInPrevious.contains(key))
                continue;
            // Right after a start a meter not read yet has nothing to say: its first reading
            // goes out the moment it is taken.
            if (first && !s.seen)
                continue;
            publishState(to, key, s, *model, format, qos);
            if (first)
                publishedInInterval.insert(key);
        }
    }
    if (!first)
        publishedInPrevious = std::exchange(publishedInInterval, {});
    saveRetained();
}

void MqttPublisher::clearGone(MqttLink* to, const QVector<Line>& lines, const QMap<QString, MeterModel>& all,
                              bool discovery, int qos)
{
    const QString prefix = to->prefix();
    QSet<QString> wanted;
    QSet<QPair<int, int>> configured;
    // Of a meter whose model is not loaded it is not known which values it announced: all it
    // has stays.
    QSet<QPair<int, int>> unknown;
    for (int l = 0; l < lines.size(); ++l)
        for (const MeterConfig& m : lines[l].config.meters) {
            const QPair<int, int> key(l, m.id);
            configured.insert(key);
            wanted.insert(MqttPayload::stateTopic(prefix, l, m.id));
            wanted.insert(MqttPayload::availabilityTopic(prefix, l, m.id));
            const auto model = all.constFind(m.model);
            if (model == all.constEnd()) {
                unknown.insert(key);
                continue;
            }
            if (discovery) {
                for (const ModelValue& v : model->values)
                    if (announcedValue(v))
                        wanted.insert(discoveryTopic(to->clientId(), l, m.id, v));
                if (model->find(ValueRole::AlarmBits))
                    wanted.insert(alarmDiscoveryTopic(to->clientId(), l, m.id));
            }
        }
    for (auto it = retained.begin(); it != retained.end();) {
        if (wanted.contains(it.key()) || unknown.contains(it.value())) {
            ++it;
            continue;
        }
        // Empty and retained: the broker forgets the topic's message.
        to->publish(it.key(), QByteArray(), qos, true);
        it = retained.erase(it);
        retainedChanged = true;
    }
    // A meter set up at a place again later is new there: its availability and its
    // announcement go out afresh.
    auto gone = [&configured](const QPair<int, int>& key) { return !configured.contains(key); };
    for (auto it = availability.begin(); it != availability.end();)
        it = gone(it.key()) ? availability.erase(it) : std::next(it);
    for (auto it = publishedReading.begin(); it != publishedReading.end();)
        it = gone(it.key()) ? publishedReading.erase(it) : std::next(it);
    for (auto it = announced.begin(); it != announced.end();)
        it = gone(it.key()) ? announced.erase(it) : std::next(it);
    for (auto it = announcedFirmware.begin(); it != announcedFirmware.end();)
        it = gone(it.key()) ? announcedFirmware.erase(it) : std::next(it);
}

void MqttPublisher::noteRetained(const QString& topic, const QPair<int, int>& key)
{
    const auto it = retained.constFind(topic);
    if (it != retained.constEnd() && *it == key)
        return;
    retained.insert(topic, key);
    retainedChanged = true;
}

void MqttPublisher::loadRetained()
{
    retained.clear();
    retainedChanged = false;
    // A record is a few dozen bytes a topic: 4 MiB holds far more meters than a station has.
    bool ok = false, missing = false, tooLarge = false;
    QString why;
    const QByteArray text = BoundedFile::read(retainedFile, 4 * 1024 * 1024, &ok, &why, &missing, &tooLarge);
    if (!ok) {
        if (!missing)
            log(QString("MQTT: %1 is not read (%2); topics of meters gone before now are not cleared")
                    .arg(retainedFile, why));
        return;
    }
    if (tooLarge)
        log(QString("MQTT: %1 is larger than 4 MiB; only its start is read").arg(retainedFile));
    // "<line> <id> <topic, percent-encoded>" a line.
    for (const QByteArray& row : text.split('\n')) {
        const QList<QByteArray> parts = row.trimmed().split(' ');
        bool lineOk = false, idOk = false;
        if (parts.size() != 3)
            continue;
        const int line = parts[0].toInt(&lineOk);
        const int id = parts[1].toInt(&idOk);
        const QString topic = QString::fromUtf8(QByteArray::fromPercentEncoding(parts[2]));
        if (lineOk && idOk && !topic.isEmpty())
            retained.insert(topic, qMakePair(line, id));
    }
}

void MqttPublisher::saveRetained()
{
    if (!retainedChanged || retainedFile.isEmpty())
        return;
    QSaveFile f(retainedFile);
    bool written = f.open(QIODevice::WriteOnly);
    for (auto it = retained.cbegin(); written && it != retained.cend(); ++it)
        f.write(QByteArray::number(it.value().first) + ' ' + QByteArray::number(it.value().second) + ' '
                + it.key().toUtf8().toPercentEncoding() + '\n');
    written = written && f.commit();
    // Kept for the next try when it cannot be written: what is in memory still holds, and
    // only a start after a failure that lasts would not know which topics to clear.
    if (written != retainedWritable)
        log(written ? QString("MQTT: %1 is written again").arg(retainedFile)
                    : QString("MQTT: %1 cannot be written (%2); kept in memory").arg(retainedFile, f.errorString()));
    retainedWritable = written;
    retainedChanged = !written;
}

void MqttPublisher::composeReading(const QString& port, const MeterState& s)
{
    const QPair<int, int> key(s.line, s.id);
    // Before the link's first tick nothing says which models, units and announcements hold:
    // that tick publishes every meter. Lines moved, or a meter given another model, since the
    // last tick: its topic or its words may be another meter's, and the next tick tells.
    if (!tickLink || publishedInInterval.contains(key) || (tickDiscovery && !announced.contains(key))
        || tickPorts.value(s.line) != port || modelOf.value(key) != s.model)
        return;
    const auto model = models.constFind(s.model);
    if (model == models.constEnd())
        return;
    // Its firmware, read for the first time or changed, goes to Home Assistant before the state.
    if (tickDiscovery)
        announceIfChanged(tickLink, key, nameOf.value(key), *model, tickFormat, s, tickQos);
    // Nothing new: an answer as invalid as the last, or a reading published at the tick
    // already (taken just before it, handed over just after).
    const QPair<qint64, bool> now(s.lastGoodMs, s.readingValid());
    const auto was = publishedReading.constFind(key);
    if (was != publishedReading.constEnd() && *was == now)
        return;
    publishState(tickLink, key, s, *model, tickFormat, tickQos);
    publishedInInterval.insert(key);
    saveRetained();
}

void MqttPublisher::publishState(MqttLink* to, const QPair<int, int>& key, const MeterState& s, const MeterModel& model,
                                 const ValueFormat& format, int qos)
{
    const QString prefix = to->prefix();
    const auto was = availability.constFind(key);
    if (was == availability.constEnd() || *was != s.online) {
        availability.insert(key, s.online);
        const QString topic = MqttPayload::availabilityTopic(prefix, key.first, key.second);
        to->publish(topic, MqttPayload::availability(s), qos, true);
        noteRetained(topic, key);
    }
    // Stamped with the reading's own time: replayed from the spool, it still says when.
    const QString topic = MqttPayload::stateTopic(prefix, key.first, key.second);
    to->publish(topic, MqttPayload::state(s, model, format), qos, true,
                s.lastGood.isValid() ? s.lastGood : QDateTime::currentDateTime());
    noteRetained(topic, key);
    publishedReading.insert(key, qMakePair(s.lastGoodMs, s.readingValid()));
}

void MqttPublisher::composeEvent(MqttLink* to, const MeterEvent& event, int qos)
{
    const QString prefix = to->prefix();
    const QPair<int, int> key(event.line, event.id);
    switch (event.kind) {
    case MeterEvent::AlarmRaised:
    case MeterEvent::AlarmCleared: {
        const auto model = models.constFind(modelOf.value(key));
        const QByteArray payload = MqttPayload::alarm(event, model == models.constEnd() ? nullptr : &*model);
        // An event, not a state: a subscriber that comes later is not told of an old alarm.
        to->publish(MqttPayload::alarmTopic(prefix, event.line, event.id), payload, qos, false, event.wall);
        break;
    }
    case MeterEvent::WentOffline:
    case MeterEvent::CameBack: {
        const bool online = event.kind == MeterEvent::CameBack;
        if (availability.value(key, !online) == online)
            break;
        availability.insert(key, online);
        const QString topic = MqttPayload::availabilityTopic(prefix, event.line, event.id);
        to->publish(topic, online ? QByteArrayLiteral("online") : QByteArrayLiteral("offline"), qos, true, event.wall);
        noteRetained(topic, key);
        saveRetained();
        break;
    }
    case MeterEvent::TotalizerReset:
        break;
    }
}

QString MqttPublisher::statusText() const
{
    if (!link)
        return QString();
    QString s = QCoreApplication::translate("FlowMeter", "MQTT: %1").arg(state);
    if (!spoolProblem.isEmpty())
        s += QStringLiteral(", ") + QCoreApplication::translate("FlowMeter", "readings kept in memory only");
    if (droppedTotal > 0)
        s += QStringLiteral(", ") + QCoreApplication::translate("FlowMeter", "%n reading(s) dropped from the full spool", nullptr, int(droppedTotal));
    return s;
}

void MqttPublisher::onLinkState(MqttLink::State s, const QString& text)
{
    if (!link)
        return;
    linkNow = s;
    state = text;
    // The link's words never hold the password; a change only, as the link signals changes.
    log(QString("MQTT: %1").arg(text));
    emit statusChanged();
}

void MqttPublisher::onSpoolFailed(const QString& words)
{
    if (!link || words == spoolProblem)
        return;
    if (words.isEmpty())
        log("MQTT: the spool is written again");
    else
        log(QString("MQTT: %1; readings wait in memory until it can be written").arg(words));
    spoolProblem = words;
    emit statusChanged();
}

void MqttPublisher::onDropped(qint64 total)
{
    if (!link || total == droppedTotal)
        return;
    log(QString("MQTT: spool full (limit %1 bytes): %2 oldest readings dropped, %3 in all")
            .arg(cfg.spoolLimitBytes)
            .arg(total - droppedTotal)
            .arg(total));
    droppedTotal = total;
    emit statusChanged();
}

QString MqttPublisher::discoveryTopic(const QString& nodeId, int line, int unitId, const ModelValue& value)
{
    return QString("homeassistant/sensor/%1/line%2_meter%3_%4/config")
        .arg(MqttLink::topicLevel(nodeId))
        .arg(line + 1)
        .arg(unitId)
        .arg(MqttPayload::valueKey(value));
}

QString MqttPublisher::alarmDiscoveryTopic(const QString& nodeId, int line, int unitId)
{
    return QString("homeassistant/binary_sensor/%1/line%2_meter%3_alarm/config")
        .arg(MqttLink::topicLevel(nodeId))
        .arg(line + 1)
        .arg(unitId);
}

namespace {

// What every entity of a meter says alike: where it is read from, when it is there, and the
// meter it belongs to, named as the user named it, with the firmware the page shows.
QJsonObject entityOf(const QString& component, const QString& key, const QString& prefix, const QString& nodeId,
                     int line, int unitId, const QString& meterName, const MeterModel& model, const QString& firmware)
{
    const QString device = QString("%1_line%2_meter%3").arg(MqttLink::topicLevel(nodeId)).arg(line + 1).arg(unitId);
    QJsonObject o;
    o.insert("unique_id", device + "_" + key);
    // The id Home Assistant gives the entity when it first sees it: the one this program
    // has always suggested, so that a new installation names its entities as the old did.
    o.insert("default_entity_id", component + "." + entityPart(device + "_" + key));
    o.insert("state_topic", MqttPayload::stateTopic(prefix, line, unitId));
    // Gone when either the program or the meter is.
    o.insert("availability", QJsonArray{QJsonObject{{"topic", prefix + "/status"}},
                                        QJsonObject{{"topic", MqttPayload::availabilityTopic(prefix, line, unitId)}}});
    o.insert("availability_mode", "all");
    QJsonObject d{{"identifiers", QJsonArray{device}},
                  {"name", meterName.trimmed().isEmpty() ? QString("line %1 meter %2").arg(line + 1).arg(unitId)
                                                         : meterName.trimmed()},
                  {"manufacturer", model.maker},
                  {"model", model.model}};
    if (!firmware.isEmpty())
        d.insert("sw_version", firmware);
    o.insert("device", d);
    o.insert("origin", QJsonObject{{"name", "Corvane"}, {"sw", CORVANE_VERSION}, {"url", "https://tessmark.se/corvane"}});
    return o;
}

} // namespace

QByteArray MqttPublisher::discoveryPayload(const QString& prefix, const QString& nodeId, int line, int unitId,
                                           const QString& meterName, const MeterModel& model, const ModelValue& value,
                                           const ValueFormat& format, const QString& firmware)
{
    if (!announcedValue(value))
        return QByteArray();
    const QString key = MqttPayload::valueKey(value);
    QJsonObject o = entityOf("sensor", key, prefix, nodeId, line, unitId, meterName, model, firmware);
    o.insert("name", entityName(value));
    o.insert("value_template", QString("{{ value_json['values']['%1']['value'] }}").arg(key));
    // The state carries the value in the unit chosen for the pages; Home Assistant is told
    // that unit in its own spelling, and the kind of quantity only where it takes the unit.
    const DisplayUnit::Unit shown = format.shownUnit(value);
    const QString haSpelt = haUnit(shown);
    const QString unit = haSpelt.isEmpty() ? format.unitText(value) : haSpelt;
    if (!unit.isEmpty())
        o.insert("unit_of_measurement", unit);
    const DisplayUnit::Quantity quantity = haSpelt.isEmpty() ? DisplayUnit::NoQuantity : DisplayUnit::quantity(shown);
    switch (value.role) {
    case ValueRole::FlowRate:
        if (quantity == DisplayUnit::Flow)
            o.insert("device_class", "volume_flow_rate");
        o.insert("state_class", "measurement");
        break;
    case ValueRole::Totalizer:
        if (quantity == DisplayUnit::Volume)
            o.insert("device_class", "water");
        o.insert("state_class", "total_increasing");
        break;
    case ValueRole::Temperature:
        if (quantity == DisplayUnit::Temperature)
            o.insert("device_class", "temperature");
        o.insert("state_class", "measurement");
        break;
    case ValueRole::SerialNumber:
    case ValueRole::FirmwareVersion:
    case ValueRole::Damping:
    case ValueRole::AlarmLimit:
    case ValueRole::CalibrationFactor:
        // Of the meter, not of the water: out of the way on the device's page.
        o.insert("entity_category", "diagnostic");
        break;
    default:
        break;
    }
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray MqttPublisher::alarmDiscoveryPayload(const QString& prefix, const QString& nodeId, int line, int unitId,
                                                const QString& meterName, const MeterModel& model,
                                                const QString& firmware)
{
    const ModelValue* field = model.find(ValueRole::AlarmBits);
    if (!field)
        return QByteArray();
    QJsonObject o = entityOf("binary_sensor", "alarm", prefix, nodeId, line, unitId, meterName, model, firmware);
    o.insert("name", "Alarm");
    o.insert("device_class", "problem");
    // On while an alarm bit is set; unknown ("None") while the bits were not read.
    o.insert("value_template", QString("{% set a = value_json['values']['%1'] %}"
                                       "{% if a is not defined or a['value'] is none %}None"
                                       "{% elif a['alarms'] | length > 0 %}ON{% else %}OFF{% endif %}")
                                   .arg(MqttPayload::valueKey(*field)));
    o.insert("payload_on", "ON");
    o.insert("payload_off", "OFF");
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

void MqttPublisher::announce(MqttLink* to, const QPair<int, int>& key, const QString& meterName,
                             const MeterModel& model, const ValueFormat& format, const QString& firmware, int qos)
{
    const int line = key.first;
    const int id = key.second;
    for (const ModelValue& v : model.values) {
        const QByteArray payload = discoveryPayload(to->prefix(), to->clientId(), line, id, meterName, model, v, format,
                                                    firmware);
        if (payload.isEmpty())
            continue;
        const QString topic = discoveryTopic(to->clientId(), line, id, v);
        to->publish(topic, payload, qos, true);
        noteRetained(topic, key);
    }
    const QByteArray alarm = alarmDiscoveryPayload(to->prefix(), to->clientId(), line, id, meterName, model, firmware);
    if (!alarm.isEmpty()) {
        const QString topic = alarmDiscoveryTopic(to->clientId(), line, id);
        to->publish(topic, alarm, qos, true);
        noteRetained(topic, key);
    }
}

void MqttPublisher::announceIfChanged(MqttLink* to, const QPair<int, int>& key, const QString& meterName,
                                      const MeterModel& model, const ValueFormat& format, const MeterState& s, int qos)
{
    // A firmware not read (yet, or this time) leaves what was told of it.
    QString firmware = firmwareOf(s, model);
    if (firmware.isEmpty())
        firmware = announcedFirmware.value(key);
    const DisplayUnits& u = format.units();
    const QString told = QStringList{meterName, model.name(), firmware, DisplayUnit::key(u.flow),
                                     DisplayUnit::key(u.volume), DisplayUnit::key(u.temperature)}
                             .join(QChar(0x1f));
    const auto was = announced.constFind(key);
    if (was != announced.constEnd() && *was == told)
        return;
    announce(to, key, meterName, model, format, firmware, qos);
    announced.insert(key, told);
    announcedFirmware.insert(key, firmware);
}
