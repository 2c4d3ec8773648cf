#include "ValueFormat.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

// Alarm bits stand out in the words even where colour is not seen.
const QString kAlarmMark = QStringLiteral("\u26A0 ");

bool isInteger(ValueType type)
{
    return type != ValueType::F32 && type != ValueType::F64;
}

// The field's raw bits back from its engineering value: bit fields normally have scale 1 and
// offset 0, but a model may still give them.
uint64_t rawBits(const ModelValue& value, double modelValue)
{
    const double scale = value.scale == 0 ? 1.0 : value.scale;
    const double raw = std::round((modelValue - value.offset) / scale);
    if (!(raw >= 0) || raw >= 18446744073709551616.0)
        return 0;
    return uint64_t(raw);
}

// The decimals that write `x` (a scale or an offset) as the model gave it, at most six.
int decimalsOf(double x)
{
    if (!std::isfinite(x))
        return 0;
    for (int d = 0; d < 6; ++d) {
        const double shifted = std::fabs(x) * std::pow(10.0, d);
        if (std::fabs(shifted - std::round(shifted)) <= 1e-9 * std::max(1.0, shifted))
            return d;
    }
    return 6;
}

} // namespace

ValueFormat::ValueFormat(const DisplayUnits& units, const QLocale& locale) : chosen(units), loc(locale)
{
}

DisplayUnit::Unit ValueFormat::modelUnit(const ModelValue& value)
{
    return DisplayUnit::parse(value.unit);
}

DisplayUnit::Unit ValueFormat::shownUnit(const ModelValue& value) const
{
    return chosen.shown(modelUnit(value));
}

QString ValueFormat::unitText(const ModelValue& value) const
{
    const DisplayUnit::Unit unit = shownUnit(value);
    return unit == DisplayUnit::Unknown ? value.unit.trimmed() : DisplayUnit::symbol(unit);
}

bool ValueFormat::isBitField(const ModelValue& value)
{
    return value.role == ValueRole::AlarmBits || value.role == ValueRole::StatusBits || !value.bits.isEmpty();
}

int ValueFormat::decimals(const ModelValue& value) const
{
    switch (shownUnit(value)) {
    case DisplayUnit::CubicMetrePerHour:
    case DisplayUnit::UsGallonPerMinute:
        return 2;
    case DisplayUnit::LitrePerMinute:
        return 1;
    case DisplayUnit::LitrePerSecond:
    case DisplayUnit::CubicMetre:
        return 3;
    case DisplayUnit::Litre:
    case DisplayUnit::UsGallon:
    case DisplayUnit::Celsius:
    case DisplayUnit::Fahrenheit:
        return 1;
    case DisplayUnit::Unknown:
        break;
    }
    if (value.role == ValueRole::CalibrationFactor)
        return 4;
    if (!isInteger(value.type))
        return 3;
    // An integer register holds steps of its scale, moved by the offset: tenths need one
    // decimal, and so does a half a unit of offset on whole steps.
    return std::max(decimalsOf(value.scale), decimalsOf(value.offset));
}

double ValueFormat::toShown(const ModelValue& value, double modelValue) const
{
    return DisplayUnit::convert(modelValue, modelUnit(value), shownUnit(value));
}

double ValueFormat::toModel(const ModelValue& value, double shownValue) const
{
    return DisplayUnit::convert(shownValue, shownUnit(value), modelUnit(value));
}

QString ValueFormat::wholeText(const ModelValue& value, quint64 raw) const
{
    if (value.type != ValueType::U64 || value.scale != 1 || value.offset != 0 || isBitField(value) ||
        shownUnit(value) != modelUnit(value))
        return QString();
    if (value.role == ValueRole::SerialNumber)
        return QString::number(raw);
    const QString unit = unitText(value);
    const QString figure = loc.toString(qulonglong(raw));
    return unit.isEmpty() ? figure : figure + " " + unit;
}

QString ValueFormat::number(const ModelValue& value, double modelValue) const
{
    const int d = decimals(value);
    double shown = toShown(value, modelValue);
    // "-0,00" for a flow that rounds to nothing reads like a fault.
    if (std::round(shown * std::pow(10.0, d)) == 0)
        shown = 0;
    return loc.toString(shown, 'f', d);
}

QString ValueFormat::bits(const ModelValue& value, double modelValue, bool* alarm) const
{
    const uint64_t raw = rawBits(value, modelValue);
    QStringList alarms, others;
    for (int bit = 0; bit < 64; ++bit) {
        if (!(raw >> bit & 1))
            continue;
        auto meaning = std::find_if(value.bits.begin(), value.bits.end(),
                                    [bit](const BitMeaning& m) { return m.bit == bit; });
        if (meaning == value.bits.end() || meaning->text.trimmed().isEmpty()) {
            // A bit the model does not explain is still said, not dropped: it may be the
            // one the user is looking for. It is no alarm: only the model marks those.
            others << QCoreApplication::translate("FlowMeter", "bit %1").arg(bit);
            continue;
        }
        // The shipped models' texts are in the catalogue; a user's own file is shown as written.
        const QString words = QCoreApplication::translate("FlowMeter", meaning->text.toUtf8().constData());
        if (meaning->alarm)
            alarms << kAlarmMark + words;
        else
            others << words;
    }
    if (alarm)
        *alarm = alarmSet(value, modelValue);
    if (alarms.isEmpty() && others.isEmpty())
        return value.role == ValueRole::AlarmBits ? QCoreApplication::translate("FlowMeter", "No alarm")
                                                  : QCoreApplication::translate("FlowMeter", "none");
    return (alarms + others).join(", ");
}

bool ValueFormat::alarmSet(const ModelValue& value, double modelValue)
{
    return alarmBits(value, modelValue) != 0;
}

quint64 ValueFormat::alarmBits(const ModelValue& value, double modelValue)
{
    if (std::isnan(modelValue))
        return 0;
    // Only the bits marked as alarms: a meter that keeps its status in the alarm register's
    // other bits would otherwise be in alarm all the time.
    uint64_t alarms = 0;
    for (const BitMeaning& m : value.bits)
        if (m.alarm && m.bit >= 0 && m.bit < 64)
            alarms |= uint64_t(1) << m.bit;
    return rawBits(value, modelValue) & alarms;
}

QString ValueFormat::alarmWords(const ModelValue& value, quint64 bits, bool translated)
{
    QStringList words;
    for (int bit = 0; bit < 64; ++bit) {
        if (!(bits >> bit & 1))
            continue;
        auto meaning = std::find_if(value.bits.begin(), value.bits.end(),
                                    [bit](const BitMeaning& m) { return m.bit == bit; });
        if (meaning == value.bits.end() || meaning->text.trimmed().isEmpty())
            words << (translated ? QCoreApplication::translate("FlowMeter", "bit %1").arg(bit)
                                 : QString("bit %1").arg(bit));
        else
            words << (translated ? QCoreApplication::translate("FlowMeter", meaning->text.toUtf8().constData())
                                 : meaning->text.trimmed());
    }
    return words.join(", ");
}

QString ValueFormat::text(const ModelValue& value, double modelValue, ReadingCheck::Problem problem) const
{
    if (problem != ReadingCheck::Valid)
        return QCoreApplication::translate("FlowMeter", "invalid: %1").arg(ReadingCheck::text(problem));
    if (std::isnan(modelValue))
        return QCoreApplication::translate("FlowMeter", "not read");
    if (std::isinf(modelValue))
        return QCoreApplication::translate("FlowMeter", "invalid: %1").arg(ReadingCheck::text(ReadingCheck::Infinite));
    if (isBitField(value))
        return bits(value, modelValue);
    // Below 2^64, where the conversion is defined: llround would already fail at 2^63.
    if (value.role == ValueRole::SerialNumber && isInteger(value.type) && modelValue >= 0 &&
        std::round(modelValue) < 18446744073709551616.0)
        return QString::number(qulonglong(std::round(modelValue)));
    const QString version = versionText(value, modelValue);
    if (!version.isEmpty())
        return version;
    const QString unit = unitText(value);
    const QString figure = number(value, modelValue);
    return unit.isEmpty() ? figure : figure + " " + unit;
}

QString ValueFormat::versionText(const ModelValue& value, double modelValue)
{
    if (value.role != ValueRole::FirmwareVersion || value.type != ValueType::U16 || value.scale != 1 ||
        value.offset != 0 || !value.unit.trimmed().isEmpty() || !std::isfinite(modelValue))
        return QString();
    const int v = int(std::lround(modelValue));
    return QString("%1.%2").arg(v >> 8 & 0xFF).arg(v & 0xFF);
}

bool ValueFormat::parse(const QString& typed, double* out) const
{
    const QString t = typed.trimmed();
    bool ok = false;
    double v = loc.toDouble(t, &ok);
    if (!ok && loc.decimalPoint() != "." && loc.groupSeparator() != ".")
        v = QLocale::c().toDouble(t, &ok);
    if (!ok || !std::isfinite(v))
        return false;
    *out = v;
    return true;
}
