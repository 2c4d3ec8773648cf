#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// The units a user may choose to see a quantity in, and the conversion between them.
class DisplayUnit
{
public:
    enum Quantity { NoQuantity, Flow, Volume, Temperature };
    enum Unit {
        Unknown,
        CubicMetrePerHour,
        LitrePerMinute,
        LitrePerSecond,
        UsGallonPerMinute,
        CubicMetre,
        Litre,
        UsGallon,
        Celsius,
        Fahrenheit,
    };

    // A unit as model files and settings write it ("m3/h", "m³/h", "l/min", "l/s", "gpm",
    // "m3", "m³", "l", "gal", "degC", "°C", "degF", "°F"); Unknown for any other text.
    static Unit parse(const QString& text);
    // The stable name stored in settings ("m3/h", ...).
    static QString key(Unit unit);
    // What the pages show ("m³/h", "°C", "US gal/min", ...).
    static QString symbol(Unit unit);
    static Quantity quantity(Unit unit);
    // The units of a quantity, in the order the setup page offers them.
    static QVector<Unit> units(Quantity quantity);
    // `value` in `from` expressed in `to`; unchanged when either is Unknown or they measure
    // different quantities.
    static double convert(double value, Unit from, Unit to);
};
