#pragma once

#include <QString>
#include <QVector>

#include <cmath>
#include <optional>

// What a meter of one make and model keeps where: read from a model file (docs/meter-models.md)
// by MeterModelLoader. Plain data, shared by the plug-in and the simulator.

// What a value means to the plug-in. Extra is a value with a free name, shown on the pages.
enum class ValueRole {
    Extra,
    FlowRate,
    Totalizer,
    Temperature,
    AlarmBits,
    StatusBits,
    SerialNumber,
    FirmwareVersion,
    Damping,
    AlarmLimit,
    CalibrationFactor,
    ResetCommand,
};

enum class ValueType { U16, I16, U32, I32, U64, F32, F64, Coil };

// The order of a value's bytes on the wire, A the most significant: ABCD is MODBUS's own
// (high word first, high byte first), CDAB swaps the words, BADC the bytes of each word, DCBA both.
enum class WordOrder { ABCD, CDAB, BADC, DCBA };

// What is confirmed after a reset command was taken.
enum class ResetConfirm { None, TotalizerFalls };

struct BitMeaning
{
    int bit = 0;
    QString text;
    bool alarm = false;
};

struct ModelValue
{
    ValueRole role = ValueRole::Extra;
    // The free name of an extra value; empty for a role (the pages name roles themselves).
    QString name;
    // 3 holding registers, 4 input registers (read only), 1 coils (read), 5 a coil (command).
    int function = 3;
    int address = 0;
    ValueType type = ValueType::U16;
    WordOrder order = WordOrder::ABCD;
    // Engineering value = raw * scale + offset, in `unit`.
    double scale = 1.0;
    double offset = 0.0;
    // As written in the file: a unit DisplayUnit knows ("m3/h", "l/min", "degC", ...) or free text.
    QString unit;
    bool writable = false;
    // The range a written value must keep, in `unit`; NaN where the model sets none.
    double minimum = std::nan("");
    double maximum = std::nan("");
    // For alarm and status bits: what each bit means.
    QVector<BitMeaning> bits;
    // For the reset command: the value written (a register) and how the reset is confirmed.
    double commandValue = 1.0;
    ResetConfirm confirm = ResetConfirm::TotalizerFalls;
    // A totalizer at or below this (in the totalizer's unit) after the command counts as reset.
    double confirmBelow = 0.5;

    // Registers (or coils) the value takes: 1 for u16, i16 and a coil, 2 for 32 bits, 4 for 64.
    int registerCount() const;
    bool isRegister() const { return function == 3 || function == 4; }
};

struct MeterModel
{
    QString maker;
    QString model;
    // Where it was read from (for messages); empty for one built in code.
    QString sourcePath;
    // Registers of a gap that a read may take along to save a request; 0 where the meter
    // refuses reads of addresses it does not map.
    int maxGap = 8;
    QVector<ModelValue> values;

    // "Tessmark FM-1": the name settings store and the user's own file overrides by.
    QString name() const { return maker + " " + model; }
    // The first value of `role`, or null.
    const ModelValue* find(ValueRole role) const;
    int indexOf(ValueRole role) const;
};
