#pragma once

#include "FlowConfig.h"
#include "MeterEvent.h"
#include "MeterModel.h"
#include "MeterState.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

// The rows of one line's record file (docs/recording.md): its header from the models of the
// line's meters, and one row per meter and interval, or per event. Numbers in the C locale and
// the display units the user chose, so that any spreadsheet reads the file alike.
class RecordRow
{
public:
    // The line's meters' models in the order of the meters (null for a model not known, which
    // adds no column).
    RecordRow(const QVector<const MeterModel*>& models, const DisplayUnits& units);

    // The value columns, "flow rate [m³/h]", ..., without the fixed ones in front.
    const QStringList& columns() const { return valueColumns; }
    QString header() const;

    // The row of a meter as its line's thread last saw it. `stale`: the reading is the one the
    // previous row had already (none newer arrived), so its values are not written again.
    QString meter(const QDateTime& at, int line, const QString& name, int id, const MeterModel* model,
                  const MeterState& u, bool stale) const;
    // The event row of a totalizer reset: the totalizer column holds the value before.
    QString reset(const MeterEvent& e, const QString& name, const MeterModel* model) const;

    // ISO 8601 local time with milliseconds and the offset from UTC, never "Z".
    static QString time(const QDateTime& at);
    // The column a value of a model is written in: its name and the unit it is written in.
    QString column(const ModelValue& value) const;
    // Whether a value goes into the file at all (commands do not).
    static bool recorded(const ModelValue& value);

private:
    QString row(const QDateTime& at, int line, const QString& name, int id, const QString& state,
                const QString& detail, const QStringList& values) const;
    // The model's values by column: the column of each value (empty for one not recorded).
    QStringList columnsOf(const MeterModel& model) const;

    DisplayUnits units;
    QStringList valueColumns;
};
