#include "DisplayUnit.h"


namespace {

// One US gallon in litres, exact by definition (231 cubic inches).
constexpr double kLitresPerUsGallon = 3.785411784;

// Each unit as a factor of its quantity's base unit: m³/h for flow, m³ for volume.
double factor(DisplayUnit::Unit unit)
{
    switch (unit) {
    case DisplayUnit::CubicMetrePerHour: return 1.0;
    case DisplayUnit::LitrePerMinute: return 60.0 / 1000.0;
    case DisplayUnit::LitrePerSecond: return 3600.0 / 1000.0;
    case DisplayUnit::UsGallonPerMinute: return kLitresPerUsGallon * 60.0 / 1000.0;
    case DisplayUnit::CubicMetre: return 1.0;
    case DisplayUnit::Litre: return 1.0 / 1000.0;
    case DisplayUnit::UsGallon: return kLitresPerUsGallon / 1000.0;
    default: return 1.0;
    }
}

} // namespace

DisplayUnit::Unit DisplayUnit::parse(const QString& text)
{
    // Plain data: no Qt object lives on to be destroyed after the plug-in is gone.
    static constexpr struct
    {
        const char* name;
        Unit unit;
    } names[] = {
        {"m3/h", CubicMetrePerHour}, {"m³/h", CubicMetrePerHour},
        {"l/min", LitrePerMinute}, {"L/min", LitrePerMinute},
        {"l/s", LitrePerSecond}, {"L/s", LitrePerSecond},
        {"gpm", UsGallonPerMinute}, {"US gal/min", UsGallonPerMinute},
        {"m3", CubicMetre}, {"m³", CubicMetre},
        {"l", Litre}, {"L", Litre},
        {"gal", UsGallon}, {"US gal", UsGallon},
        {"degC", Celsius}, {"°C", Celsius},
        {"degF", Fahrenheit}, {"°F", Fahrenheit},
    };
    const QString wanted = text.trimmed();
    for (const auto& n : names)
        if (wanted == QString::fromUtf8(n.name))
            return n.unit;
    return Unknown;
}

QString DisplayUnit::key(Unit unit)
{
    switch (unit) {
    case CubicMetrePerHour: return QStringLiteral("m3/h");
    case LitrePerMinute: return QStringLiteral("l/min");
    case LitrePerSecond: return QStringLiteral("l/s");
    case UsGallonPerMinute: return QStringLiteral("gpm");
    case CubicMetre: return QStringLiteral("m3");
    case Litre: return QStringLiteral("l");
    case UsGallon: return QStringLiteral("gal");
    case Celsius: return QStringLiteral("degC");
    case Fahrenheit: return QStringLiteral("degF");
    case Unknown: break;
    }
    return QString();
}

QString DisplayUnit::symbol(Unit unit)
{
    switch (unit) {
    case CubicMetrePerHour: return QStringLiteral("m³/h");
    case LitrePerMinute: return QStringLiteral("l/min");
    case LitrePerSecond: return QStringLiteral("l/s");
    case UsGallonPerMinute: return QStringLiteral("US gal/min");
    case CubicMetre: return QStringLiteral("m³");
    case Litre: return QStringLiteral("l");
    case UsGallon: return QStringLiteral("US gal");
    case Celsius: return QStringLiteral("°C");
    case Fahrenheit: return QStringLiteral("°F");
    case Unknown: break;
    }
    return QString();
}

DisplayUnit::Quantity DisplayUnit::quantity(Unit unit)
{
    switch (unit) {
    case CubicMetrePerHour:
    case LitrePerMinute:
    case LitrePerSecond:
    case UsGallonPerMinute:
        return Flow;
    case CubicMetre:
    case Litre:
    case UsGallon:
        return Volume;
    case Celsius:
    case Fahrenheit:
        return Temperature;
    case Unknown:
        break;
    }
    return NoQuantity;
}

QVector<DisplayUnit::Unit> DisplayUnit::units(Quantity quantity)
{
    switch (quantity) {
    case Flow: return {CubicMetrePerHour, LitrePerMinute, LitrePerSecond, UsGallonPerMinute};
    case Volume: return {CubicMetre, Litre, UsGallon};
    case Temperature: return {Celsius, Fahrenheit};
    case NoQuantity: break;
    }
    return {};
}

double DisplayUnit::convert(double value, Unit from, Unit to)
{
    if (from == to || from == Unknown || to == Unknown || quantity(from) != quantity(to))
        return value;
    if (quantity(from) == Temperature)
        return from == Celsius ? value * 9.0 / 5.0 + 32.0 : (value - 32.0) * 5.0 / 9.0;
    return value * factor(from) / factor(to);
}
