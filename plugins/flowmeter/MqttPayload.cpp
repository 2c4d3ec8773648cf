#include "MqttPayload.h"
#include "Csv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace {

quint64 rawOf(const ModelValue& value, double modelValue)
{
    const double scale = value.scale == 0 ? 1.0 : value.scale;
    const double raw = std::round((modelValue - value.offset) / scale);
    if (!(raw >= 0) || raw >= 18446744073709551616.0)
        return 0;
    return quint64(raw);
}

} // namespace

QString MqttPayload::meterTopic(const QString& prefix, int line, int unitId)
{
    return QStringLiteral("%1/line%2/meter%3").arg(prefix).arg(line + 1).arg(unitId);
}

QString MqttPayload::stateTopic(const QString& prefix, int line, int unitId)
{
    return meterTopic(prefix, line, unitId) + QStringLiteral("/state");
}

QString MqttPayload::availabilityTopic(const QString& prefix, int line, int unitId)
{
    return meterTopic(prefix, line, unitId) + QStringLiteral("/availability");
}

QString MqttPayload::alarmTopic(const QString& prefix, int line, int unitId)
{
    return meterTopic(prefix, line, unitId) + QStringLiteral("/alarm");
}

QString MqttPayload::isoTime(const QDateTime& time)
{
    return Csv::time(time);
}

QString MqttPayload::valueKey(const ModelValue& value)
{
    switch (value.role) {
    case ValueRole::FlowRate: return QStringLiteral("flow_rate");
    case ValueRole::Totalizer: return QStringLiteral("totalizer");
    case ValueRole::Temperature: return QStringLiteral("temperature");
    case ValueRole::AlarmBits: return QStringLiteral("alarm_bits");
    case ValueRole::StatusBits: return QStringLiteral("status_bits");
    case ValueRole::SerialNumber: return QStringLiteral("serial_number");
    case ValueRole::FirmwareVersion: return QStringLiteral("firmware_version");
    case ValueRole::Damping: return QStringLiteral("damping");
    case ValueRole::AlarmLimit: return QStringLiteral("alarm_limit");
    case ValueRole::CalibrationFactor: return QStringLiteral("calibration_factor");
    case ValueRole::ResetCommand: return QStringLiteral("reset_command");
    case ValueRole::Extra: break;
    }
    QString key;
    for (QChar c : value.name.trimmed().toLower())
        key += c.isLetterOrNumber() ? c : QLatin1Char('_');
    return key.isEmpty() ? QStringLiteral("value") : key;
}

QStringList MqttPayload::alarmWords(const ModelValue& field, quint64 bits)
{
    QStringList words;
    for (int bit = 0; bit < 64; ++bit) {
        if (!(bits >> bit & 1))
            continue;
        auto meaning = std::find_if(field.bits.begin(), field.bits.end(),
                                    [bit](const BitMeaning& m) { return m.bit == bit; });
        if (meaning == field.bits.end())
            continue;
        if (meaning->alarm)
            words << (meaning->text.trimmed().isEmpty() ? QStringLiteral("bit %1").arg(bit) : meaning->text.trimmed());
    }
    return words;
}

QString MqttPayload::stateWord(const MeterState& meter, const MeterModel& model)
{
    if (!meter.online)
        return QStringLiteral("offline");
    if (!meter.readingValid())
        return QStringLiteral("invalid");
    for (int i = 0; i < model.values.size() && i < meter.values.size(); ++i)
        if (model.values[i].role == ValueRole::AlarmBits && ValueFormat::alarmSet(model.values[i], meter.values[i]))
            return QStringLiteral("alarm");
    return QStringLiteral("online");
}

QByteArray MqttPayload::availability(const MeterState& meter)
{
    return meter.online ? QByteArrayLiteral("online") : QByteArrayLiteral("offline");
}

QByteArray MqttPayload::state(const MeterState& meter, const MeterModel& model, const ValueFormat& format)
{
    QJsonObject o;
    o.insert(QStringLiteral("time"), meter.lastGood.isValid() ? QJsonValue(isoTime(meter.lastGood)) : QJsonValue());
    o.insert(QStringLiteral("line"), meter.line + 1);
    o.insert(QStringLiteral("meter"), meter.id);
    o.insert(QStringLiteral("model"), model.name());
    o.insert(QStringLiteral("state"), stateWord(meter, model));
    if (!meter.online && !meter.reason.isEmpty())
        o.insert(QStringLiteral("detail"), meter.reason.english());

    QJsonObject values;
    QStringList alarms;
    for (int i = 0; i < model.values.size(); ++i) {
        const ModelValue& v = model.values[i];
        if (v.function == 5 || v.role == ValueRole::ResetCommand)
            continue;
        const double x = i < meter.values.size() ? meter.values[i] : std::nan("");
        QJsonObject entry;
        const ReadingCheck::Problem problem =
            i < meter.problems.size() ? meter.problems[i] : ReadingCheck::Valid;
        if (std::isnan(x) || problem != ReadingCheck::Valid) {
            // A value not read is said, never made up.
            entry.insert(QStringLiteral("value"), QJsonValue());
            if (problem != ReadingCheck::Valid)
                entry.insert(QStringLiteral("problem"), QString::fromLatin1(ReadingCheck::name(problem)));
        } else if (const QString version = ValueFormat::versionText(v, x); !version.isEmpty()) {
            entry.insert(QStringLiteral("value"), version);
        } else if (ValueFormat::isBitField(v)) {
            const quint64 raw = rawOf(v, x);
            entry.insert(QStringLiteral("value"), double(raw));
            const QStringList set = alarmWords(v, raw);
            if (v.role == ValueRole::AlarmBits) {
                entry.insert(QStringLiteral("alarms"), QJsonArray::fromStringList(set));
                alarms += set;
            }
        } else if (i < meter.wholes.size() && meter.wholes[i] != 0 && v.type == ValueType::U64
                   && !format.wholeText(v, meter.wholes[i]).isEmpty()) {
            // Past 2^53 a JSON number loses the last digits: a count that large goes as text.
            const quint64 whole = meter.wholes[i];
            if (whole > (quint64(1) << 53))
                entry.insert(QStringLiteral("value"), QString::number(whole));
            else
                entry.insert(QStringLiteral("value"), double(whole));
        } else {
            entry.insert(QStringLiteral("value"), format.toShown(v, x));
        }
        const QString unit = ValueFormat::isBitField(v) ? QString() : format.unitText(v);
        if (!unit.isEmpty())
            entry.insert(QStringLiteral("unit"), unit);
        values.insert(valueKey(v), entry);
    }
    o.insert(QStringLiteral("values"), values);
    o.insert(QStringLiteral("alarms"), QJsonArray::fromStringList(alarms));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray MqttPayload::alarm(const MeterEvent& event, const MeterModel* model)
{
    if (event.kind != MeterEvent::AlarmRaised && event.kind != MeterEvent::AlarmCleared)
        return QByteArray();
    QJsonObject o;
    o.insert(QStringLiteral("time"), isoTime(event.wall));
    o.insert(QStringLiteral("line"), event.line + 1);
    o.insert(QStringLiteral("meter"), event.id);
    o.insert(QStringLiteral("event"), event.kind == MeterEvent::AlarmRaised ? QStringLiteral("raised")
                                                                           : QStringLiteral("cleared"));
    o.insert(QStringLiteral("bits"), double(event.bits));
    QStringList words;
    const ModelValue* field = model ? model->find(ValueRole::AlarmBits) : nullptr;
    if (field)
        words = alarmWords(*field, event.bits);
    else if (!event.detail.isEmpty())
        words << event.detail;
    o.insert(QStringLiteral("alarms"), QJsonArray::fromStringList(words));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}
