#include "RecordRow.h"

#include "Csv.h"
#include "DisplayUnit.h"
#include "ValueFormat.h"

#include <QLocale>

#include <cmath>

namespace {

// The file's own names, the same whatever language the program speaks: a script that reads
// the files must not break when the user switches to Swedish.
QString roleName(const ModelValue& value)
{
    switch (value.role) {
    case ValueRole::FlowRate:
        return "flow rate";
    case ValueRole::Totalizer:
        return "totalizer";
    case ValueRole::Temperature:
        return "temperature";
    case ValueRole::AlarmBits:
        return "alarm bits";
    case ValueRole::StatusBits:
        return "status bits";
    case ValueRole::SerialNumber:
        return "serial number";
    case ValueRole::FirmwareVersion:
        return "firmware version";
    case ValueRole::Damping:
        return "damping";
    case ValueRole::AlarmLimit:
        return "alarm limit";
    case ValueRole::CalibrationFactor:
        return "calibration factor";
    case ValueRole::ResetCommand:
    case ValueRole::Extra:
        break;
    }
    return value.name.trimmed();
}

bool isInteger(ValueType type)
{
    return type != ValueType::F32 && type != ValueType::F64;
}

// The raw number of a bit field or whole count from its engineering value; false when it is no
// such number (negative, beyond 64 bits).
bool rawOf(const ModelValue& value, double engineering, quint64* raw)
{
    const double scale = value.scale == 0 ? 1.0 : value.scale;
    const double r = std::round((engineering - value.offset) / scale);
    if (!(r >= 0) || r >= 18446744073709551616.0)
        return false;
    *raw = quint64(r);
    return true;
}

} // namespace

RecordRow::RecordRow(const QVector<const MeterModel*>& models, const DisplayUnits& shown) : units(shown)
{
    for (const MeterModel* m : models) {
        if (!m)
            continue;
        for (const QString& c : columnsOf(*m))
            if (!c.isEmpty() && !valueColumns.contains(c))
                valueColumns << c;
    }
}

bool RecordRow::recorded(const ModelValue& value)
{
    return value.role != ValueRole::ResetCommand && value.function != 5;
}

QString RecordRow::column(const ModelValue& value) const
{
    const QString name = roleName(value);
    // The unit the number is written in; bit fields are numbers without one.
    const QString unit = ValueFormat::isBitField(value) ? QString() : ValueFormat(units, QLocale::c()).unitText(value);
    return unit.isEmpty() ? name : name + " [" + unit + "]";
}

QStringList RecordRow::columnsOf(const MeterModel& model) const
{
    QStringList out;
    for (const ModelValue& v : model.values) {
        if (!recorded(v)) {
            out << QString();
            continue;
        }
        // Two values of one name in a model (two extras alike) each keep a column of their own.
        QString c = column(v);
        for (int n = 2; out.contains(c); ++n)
            c = column(v) + QString(" (%1)").arg(n);
        out << c;
    }
    return out;
}

QString RecordRow::header() const
{
    return Csv::line(QStringList{"time", "line", "meter", "unit id", "state", "detail"} + valueColumns);
}

QString RecordRow::time(const QDateTime& at)
{
    return Csv::time(at);
}

QString RecordRow::row(const QDateTime& at, int line, const QString& name, int id, const QString& state,
                       const QString& detail, const QStringList& values) const
{
    QStringList fields{time(at), QString::number(line + 1), name, QString::number(id), state, detail};
    fields << values;
    return Csv::line(fields);
}

QString RecordRow::meter(const QDateTime& at, int line, const QString& name, int id, const MeterModel* model,
                         const MeterState& u, bool stale) const
{
    QStringList values;
    for (int i = 0; i < valueColumns.size(); ++i)
        values << QString();
    if (!model || !u.online) {
        const QString why = u.reason.isEmpty() ? QString("no reading yet") : u.reason.english();
        return row(at, line, name, id, "offline", why, values);
    }
    const QStringList columns = columnsOf(*model);
    const ValueFormat format(units, QLocale::c());
    QStringList invalid, alarms;
    for (int i = 0; i < model->values.size() && i < u.values.size(); ++i) {
        const ModelValue& v = model->values[i];
        const int col = valueColumns.indexOf(columns.value(i));
        if (col < 0)
            continue;
        const double x = u.values[i];
        const ReadingCheck::Problem problem = i < u.problems.size() ? u.problems[i] : ReadingCheck::Valid;
        if (problem != ReadingCheck::Valid) {
            invalid << roleName(v) + " " + ReadingCheck::name(problem);
            continue;
        }
        if (!std::isfinite(x))
            continue;
        quint64 raw = 0;
        const bool whole = isInteger(v.type) && format.shownUnit(v) == format.modelUnit(v) &&
                           (ValueFormat::isBitField(v) || (v.scale == 1 && v.offset == 0));
        if (const QString version = ValueFormat::versionText(v, x); !version.isEmpty()) {
            values[col] = version;
        } else if (whole && v.type == ValueType::U64 && v.scale == 1 && v.offset == 0 && i < u.wholes.size()) {
            // To its last digit, which the double does not keep beyond 2^53.
            values[col] = QString::number(u.wholes[i]);
        } else if (whole && x < 0 && v.scale == 1 && v.offset == 0 && !ValueFormat::isBitField(v)) {
            values[col] = QString::number(qint64(std::llround(x)));
        } else if (whole && rawOf(v, x, &raw)) {
            values[col] = QString::number(raw);
        } else {
            values[col] = Csv::number(format.toShown(v, x));
        }
        if (ValueFormat::isBitField(v) && ValueFormat::alarmSet(v, x) && rawOf(v, x, &raw)) {
            for (int bit = 0; bit < 64; ++bit) {
                if (!(raw >> bit & 1))
                    continue;
                const BitMeaning* meaning = nullptr;
                for (const BitMeaning& m : v.bits)
                    if (m.bit == bit)
                        meaning = &m;
                if (meaning && meaning->alarm)
                    alarms << (meaning->text.trimmed().isEmpty() ? QString("bit %1").arg(bit) : meaning->text.trimmed());
            }
        }
    }
    if (!invalid.isEmpty())
        return row(at, line, name, id, "invalid", invalid.join(", "), values);
    if (stale) {
        // The values are those of the row before: written again they would pass for a new reading.
        for (QString& v : values)
            v.clear();
        return row(at, line, name, id, "stale",
                   u.lastGood.isValid() ? "no new reading since " + time(u.lastGood) : QString("no new reading"),
                   values);
    }
    if (!alarms.isEmpty())
        return row(at, line, name, id, "alarm", alarms.join(", "), values);
    return row(at, line, name, id, "online", QString(), values);
}

QString RecordRow::reset(const MeterEvent& e, const QString& name, const MeterModel* model) const
{
    QStringList values;
    for (int i = 0; i < valueColumns.size(); ++i)
        values << QString();
    const ModelValue* total = model ? model->find(ValueRole::Totalizer) : nullptr;
    if (total && std::isfinite(e.value)) {
        const int at = valueColumns.indexOf(columnsOf(*model).value(model->indexOf(ValueRole::Totalizer)));
        // The event says its unit; the column has the one the user chose.
        const DisplayUnit::Unit from = DisplayUnit::parse(e.unit.isEmpty() ? total->unit : e.unit);
        if (at >= 0)
            values[at] = Csv::number(DisplayUnit::convert(e.value, from, units.shown(from)));
    }
    return row(e.wall.isValid() ? e.wall : QDateTime::currentDateTime(), e.line, name, e.id, "reset", e.detail, values);
}
