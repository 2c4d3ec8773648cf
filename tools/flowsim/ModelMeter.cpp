#include "ModelMeter.h"

#include "DisplayUnit.h"
#include "ValueCodec.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

// `v` in `ours` expressed in the unit the model writes; unchanged where the model's unit is
// another quantity's or one DisplayUnit does not know.
double toModelUnit(double v, DisplayUnit::Unit ours, const QString& theirs)
{
    const DisplayUnit::Unit unit = DisplayUnit::parse(theirs);
    return DisplayUnit::quantity(unit) == DisplayUnit::quantity(ours) ? DisplayUnit::convert(v, ours, unit) : v;
}

double fromModelUnit(double v, const QString& theirs, DisplayUnit::Unit ours)
{
    const DisplayUnit::Unit unit = DisplayUnit::parse(theirs);
    return DisplayUnit::quantity(unit) == DisplayUnit::quantity(ours) ? DisplayUnit::convert(v, unit, ours) : v;
}

bool isInteger(ValueType type)
{
    return type != ValueType::F32 && type != ValueType::F64 && type != ValueType::Coil;
}

// The lowest bit of a bit field that means `alarm` (an alarm, or a state such as measuring);
// bit 0 where the model names none.
int firstBit(const ModelValue& value, bool alarm)
{
    int bit = INT_MAX;
    for (const BitMeaning& b : value.bits)
        if (b.alarm == alarm)
            bit = std::min(bit, b.bit);
    return bit == INT_MAX || bit > 31 ? 0 : bit;
}

// The words of `engineering` in `value`'s layout. The simulator serves values that are not
// writable too, and NaN or infinities in a float, which the codec refuses for a write: those
// go in as the float's bit pattern, an integer of the same width and word order.
std::vector<uint16_t> wordsOf(const ModelValue& value, double engineering)
{
    ModelValue any = value;
    any.writable = true;
    any.minimum = any.maximum = std::nan("");
    Reason why;
    if (std::isfinite(engineering))
        return ValueCodec::encode(any, engineering, &why);
    any.scale = 1.0;
    any.offset = 0.0;
    if (value.type == ValueType::F32) {
        const float f = float(engineering);
        uint32_t bits;
        memcpy(&bits, &f, sizeof bits);
        any.type = ValueType::U32;
        return ValueCodec::encode(any, double(bits), &why);
    }
    if (value.type == ValueType::F64) {
        uint64_t bits;
        memcpy(&bits, &engineering, sizeof bits);
        any.type = ValueType::U64;
        return ValueCodec::encode(any, double(bits), &why);
    }
    return {};
}

} // namespace

ModelMeter::ModelMeter(int id, const MeterModel& model)
    : unitId(id),
      meterModel(model),
      process(id),
      dampingS(model.find(ValueRole::Damping) ? 1.0 : 0.0),
      limit(process.baseFlow * 1.25),
      serialNumber(uint32_t(24070000 + id * 137))
{
    // Each bank spans its values' addresses, gaps included.
    int low[3] = {INT_MAX, INT_MAX, INT_MAX}, high[3] = {0, 0, 0};
    for (int i = 0; i < meterModel.values.size(); ++i) {
        const ModelValue& v = meterModel.values[i];
        const Table t = tableOf(v);
        low[t] = std::min(low[t], v.address);
        high[t] = std::max(high[t], v.address + v.registerCount());
        if (v.role == ValueRole::Extra) {
            // Steady: the middle of its range, else 12.5 in its unit, else what a raw 0 means.
            double steady = !std::isnan(v.minimum) && !std::isnan(v.maximum) ? (v.minimum + v.maximum) / 2 : 12.5;
            if (v.type == ValueType::Coil)
                steady = 1;
            else if (wordsOf(v, steady).empty())
                steady = ValueCodec::engineering(v, 0.0);
            extras[i] = steady;
        }
    }
    for (int t = 0; t < 3; ++t) {
        if (low[t] == INT_MAX)
            continue;
        banks[t].start = low[t];
        if (t == Coils)
            coilBits.assign(size_t(high[t] - low[t]), 0);
        else
            banks[t].words.assign(size_t(high[t] - low[t]), 0);
    }
    paintAll();
}

ModelMeter::Table ModelMeter::tableOf(const ModelValue& value)
{
    if (value.function == 4)
        return InputRegisters;
    if (value.function == 3)
        return HoldingRegisters;
    return Coils;
}

int ModelMeter::size(Table table) const
{
    return table == Coils ? int(coilBits.size()) : int(banks[table].words.size());
}

uint16_t* ModelMeter::word(Table table, int address)
{
    const int at = address - banks[table].start;
    if (table == Coils || at < 0 || at >= int(banks[table].words.size()))
        return nullptr;
    return &banks[table].words[size_t(at)];
}

void ModelMeter::advance(double seconds)
{
    process.advance(seconds, dampingS, calibration);
    paintAll();
}

bool ModelMeter::current(int index, double* engineering) const
{
    const ModelValue& v = meterModel.values[index];
    if (const auto held = heldValues.find(index); held != heldValues.end()) {
        *engineering = held->second;
        return true;
    }
    const ModelValue* flowValue = meterModel.find(ValueRole::FlowRate);
    const QString flowUnit = flowValue ? flowValue->unit : QString();
    switch (v.role) {
    case ValueRole::FlowRate:
        *engineering = toModelUnit(process.flow, DisplayUnit::CubicMetrePerHour, v.unit);
        return true;
    case ValueRole::Totalizer:
        *engineering = toModelUnit(process.total, DisplayUnit::CubicMetre, v.unit);
        return true;
    case ValueRole::Temperature:
        *engineering = toModelUnit(process.temperature, DisplayUnit::Celsius, v.unit);
        return true;
    case ValueRole::AlarmBits:
        *engineering = v.type == ValueType::Coil ? double(process.flow > limit)
                                                 : ValueCodec::engineering(v, process.flow > limit ? double(1u << firstBit(v, true)) : 0.0);
        return true;
    case ValueRole::StatusBits:
        *engineering = v.type == ValueType::Coil ? 1.0 : ValueCodec::engineering(v, double(1u << firstBit(v, false)));
        return true;
    case ValueRole::SerialNumber:
        *engineering = ValueCodec::engineering(v, v.registerCount() == 1 ? 1000.0 + unitId : double(serialNumber));
        return true;
    case ValueRole::FirmwareVersion:
        *engineering = isInteger(v.type) ? ValueCodec::engineering(v, 0x0102) : 1.2;
        return true;
    case ValueRole::Damping:
        *engineering = dampingS;
        return true;
    case ValueRole::AlarmLimit:
        // A limit without a flow unit of its own is in the flow's unit.
        *engineering = toModelUnit(limit, DisplayUnit::CubicMetrePerHour,
                                   DisplayUnit::quantity(DisplayUnit::parse(v.unit)) == DisplayUnit::Flow ? v.unit
                                                                                                           : flowUnit);
        return true;
    case ValueRole::CalibrationFactor:
        *engineering = calibration;
        return true;
    case ValueRole::ResetCommand:
        // Reads 0 once done, as FM-1's command register does.
        *engineering = ValueCodec::engineering(v, 0.0);
        return true;
    case ValueRole::Extra:
        *engineering = extras.at(index);
        return true;
    }
    return false;
}

void ModelMeter::paint(int index)
{
    const ModelValue& v = meterModel.values[index];
    double engineering = 0;
    if (!current(index, &engineering))
        return;
    const Table t = tableOf(v);
    if (t == Coils) {
        coilBits[size_t(v.address - banks[Coils].start)] = engineering != 0 ? 1 : 0;
        return;
    }
    const std::vector<uint16_t> words = wordsOf(v, engineering);
    for (size_t k = 0; k < words.size(); ++k)
        *word(t, v.address + int(k)) = words[k];
}

void ModelMeter::paintAll()
{
    for (int i = 0; i < meterModel.values.size(); ++i)
        paint(i);
    // Placed words win over the meter's own.
    for (const auto& [at, w] : heldWords)
        if (uint16_t* p = word(Table(at.first), at.second))
            *p = w;
}

void ModelMeter::restore(Table table, int address, int count)
{
    if (table == Coils) {
        for (int a = address; a < address + count; ++a)
            if (a >= banks[Coils].start && a < banks[Coils].start + int(coilBits.size()))
                coilBits[size_t(a - banks[Coils].start)] = 0;
    } else {
        for (int a = address; a < address + count; ++a)
            if (uint16_t* p = word(table, a))
                *p = 0;
    }
    // Values and held words write themselves over the zeros.
    paintAll();
}

void ModelMeter::take(int index)
{
    const ModelValue& v = meterModel.values[index];
    const Table t = tableOf(v);
    std::vector<uint16_t> words;
    if (t == Coils) {
        words.push_back(coilBits[size_t(v.address - banks[Coils].start)]);
    } else {
        for (int k = 0; k < v.registerCount(); ++k)
            words.push_back(*word(t, v.address + k));
    }
    double raw = 0;
    if (!ValueCodec::raw(v, words.data(), words.size(), &raw))
        return;
    const double engineering = ValueCodec::engineering(v, raw);
    if (v.role == ValueRole::ResetCommand) {
        // A coil switched on, or the register given its command value (as the model writes it,
        // raw or in its unit: the two differ only where a scale is set on a command).
        const bool reset = t == Coils ? raw != 0 : (raw == v.commandValue || engineering == v.commandValue);
        if (reset)
            process.total = 0;
        return;
    }
    if (!v.writable || !std::isfinite(engineering))
        return;
    if ((!std::isnan(v.minimum) && engineering < v.minimum) || (!std::isnan(v.maximum) && engineering > v.maximum))
        return;
    switch (v.role) {
    case ValueRole::Damping:
        if (engineering >= 0 && engineering <= 600)
            dampingS = engineering;
        break;
    case ValueRole::AlarmLimit: {
        const ModelValue* flowValue = meterModel.find(ValueRole::FlowRate);
        const QString unit = DisplayUnit::quantity(DisplayUnit::parse(v.unit)) == DisplayUnit::Flow ? v.unit
                             : flowValue                                                             ? flowValue->unit
                                                                                                     : QString();
        const double inM3h = fromModelUnit(engineering, unit, DisplayUnit::CubicMetrePerHour);
        if (inM3h > 0)
            limit = inM3h;
        break;
    }
    case ValueRole::CalibrationFactor:
        if (engineering > 0)
            calibration = engineering;
        break;
    case ValueRole::Extra:
        extras[index] = engineering;
        break;
    default:
        break;
    }
}

void ModelMeter::takeWrites(Table table, int address, int count, bool apply)
{
    if (apply) {
        for (int i = 0; i < meterModel.values.size(); ++i) {
            const ModelValue& v = meterModel.values[i];
            if (tableOf(v) == table && v.address < address + count && address < v.address + v.registerCount())
                take(i);
        }
    }
    restore(table, address, count);
}

bool ModelMeter::place(Table table, int address, uint16_t w)
{
    if (table == Coils || !word(table, address))
        return false;
    if (table == HoldingRegisters) {
        for (const ModelValue& v : meterModel.values) {
            if (tableOf(v) == table && (v.writable || v.role == ValueRole::ResetCommand) && address >= v.address &&
                address < v.address + v.registerCount()) {
                heldWords.erase({table, address});
                *word(table, address) = w;
                takeWrites(table, address, 1, true);
                return true;
            }
        }
    }
    heldWords[{table, address}] = w;
    paintAll();
    return true;
}

bool ModelMeter::release(Table table, int address)
{
    if (table == Coils || !word(table, address))
        return false;
    heldWords.erase({table, address});
    restore(table, address, 1);
    return true;
}

bool ModelMeter::holdValue(int address, double engineering)
{
    for (int i = 0; i < meterModel.values.size(); ++i) {
        const ModelValue& v = meterModel.values[i];
        if (v.function != 3 || v.address != address || v.role == ValueRole::ResetCommand)
            continue;
        if (wordsOf(v, engineering).empty())
            return false;
        heldValues[i] = engineering;
        paintAll();
        return true;
    }
    return false;
}

bool ModelMeter::releaseValue(int address)
{
    for (int i = 0; i < meterModel.values.size(); ++i) {
        const ModelValue& v = meterModel.values[i];
        if (v.function == 3 && v.address == address && v.role != ValueRole::ResetCommand) {
            heldValues.erase(i);
            paintAll();
            return true;
        }
    }
    return false;
}
