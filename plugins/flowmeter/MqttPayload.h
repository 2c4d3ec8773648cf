#pragma once

#include "MeterEvent.h"
#include "MeterModel.h"
#include "MeterState.h"
#include "ValueFormat.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

// What a station publishes about its meters, and where (docs/mqtt.md): JSON written for
// machines, so keys, states and numbers are the same whatever the program's language; values
// are in the units the user chose for the pages, each with its unit.
class MqttPayload
{
public:
    // `<prefix>/line<N>/meter<id>`: N counts lines from 1 (the plug-in's 0 is line1), id is
    // the meter's MODBUS unit id. Both stay when meters are renamed or reordered.
    static QString meterTopic(const QString& prefix, int line, int unitId);
    static QString stateTopic(const QString& prefix, int line, int unitId);
    static QString availabilityTopic(const QString& prefix, int line, int unitId);
    static QString alarmTopic(const QString& prefix, int line, int unitId);

    // The meter's state: time of the reading, every value read with its unit, the state in a
    // word and the set alarm bits in the model's words.
    static QByteArray state(const MeterState& meter, const MeterModel& model, const ValueFormat& format);
    // "online" or "offline".
    static QByteArray availability(const MeterState& meter);
    // An alarm raised or cleared; other kinds of event give an empty payload.
    static QByteArray alarm(const MeterEvent& event, const MeterModel* model);

    // online, alarm, invalid or offline (as the recordings say it).
    static QString stateWord(const MeterState& meter, const MeterModel& model);
    // The key of a value in the payload: `flow_rate`, ..., an extra's name in lower case with
    // `_` for anything but letters and digits.
    static QString valueKey(const ModelValue& value);
    // The model's words for the alarm bits set in `bits`.
    static QStringList alarmWords(const ModelValue& field, quint64 bits);
    // ISO 8601 with milliseconds and the offset from UTC, `+00:00` rather than `Z`.
    static QString isoTime(const QDateTime& time);
};
