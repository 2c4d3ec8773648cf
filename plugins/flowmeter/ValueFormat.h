#pragma once

#include "FlowConfig.h"
#include "MeterModel.h"
#include "ReadingCheck.h"

#include <QLocale>
#include <QString>

// A model's value as people read it: in the unit they chose for its quantity, with as many
// decimals as the quantity deserves, in the language's own number form. One place, so the
// display page, the information page and the limit editor never disagree on a figure.
class ValueFormat
{
public:
    ValueFormat(const DisplayUnits& units = DisplayUnits(), const QLocale& locale = QLocale());

    const DisplayUnits& units() const { return chosen; }
    const QLocale& locale() const { return loc; }

    // The unit the model sends `value` in, and the one it is shown in (the same for a unit
    // of no known quantity).
    static DisplayUnit::Unit modelUnit(const ModelValue& value);
    DisplayUnit::Unit shownUnit(const ModelValue& value) const;
    // What follows the number: "m³/h", the model's own text for a unit we do not know, or
    // nothing.
    QString unitText(const ModelValue& value) const;
    // Decimals worth showing of `value` in the unit it is shown in.
    int decimals(const ModelValue& value) const;

    // An engineering value (in the model's unit) in the shown unit, and back.
    double toShown(const ModelValue& value, double modelValue) const;
    double toModel(const ModelValue& value, double shownValue) const;

    // The number and its unit ("12,35 m³/h"); an integer without grouping for serial numbers,
    // "1.2" for a firmware kept as major and minor byte, words for bit fields. A value not
    // read, or one that is no reading (`problem`), is said in words instead of a number.
    QString text(const ModelValue& value, double modelValue,
                 ReadingCheck::Problem problem = ReadingCheck::Valid) const;
    // A u64 that is a whole count (scale 1, offset 0) from its raw number, to its last digit:
    // the double `text` takes is off by up to 2048 beyond 2^53. Empty for any other value,
    // which `text` shows as well as it can be.
    QString wholeText(const ModelValue& value, quint64 raw) const;
    // The number alone, in the shown unit and the locale ("12,35").
    QString number(const ModelValue& value, double modelValue) const;
    // The set bits of a bit field in words from the model's meanings; alarm bits first and
    // marked. `alarm` is set when one of them is an alarm.
    QString bits(const ModelValue& value, double modelValue, bool* alarm = nullptr) const;
    // True when a bit of the field that the model calls an alarm is set.
    static bool alarmSet(const ModelValue& value, double modelValue);
    // The alarm bits of the field that are set: those the model marks as an alarm, no other.
    static quint64 alarmBits(const ModelValue& value, double modelValue);
    // Those bits in the model's words ("high flow, bit 7"), as the model file has them for
    // the log and the records, or in the user's language.
    static QString alarmWords(const ModelValue& value, quint64 bits, bool translated);

    // A number typed in the locale ("12,5" in Swedish); a point is taken too where the locale
    // does not group with it. False for anything else, and for NaN or infinity.
    bool parse(const QString& typed, double* out) const;

    static bool isBitField(const ModelValue& value);
    // A firmware version kept as major and minor byte of a u16 (and nothing else said of it), as
    // "1.2": the one way the page, the records and the broker write it. Empty for any other value.
    static QString versionText(const ModelValue& value, double modelValue);

private:
    DisplayUnits chosen;
    QLocale loc;
};
