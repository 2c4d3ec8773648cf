#pragma once

#include "MeterModel.h"
#include "MeterProcess.h"

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

// A simulated meter of a model file: the model's holding registers, input registers and coils,
// each kind a bank from its lowest to its highest address so that a read across a gap the model
// leaves is answered (gap words read 0), and behind them the same process FlowMeter simulates,
// sent in the model's types, word orders, scales and units.
class ModelMeter
{
public:
    enum Table { Coils, InputRegisters, HoldingRegisters };

    ModelMeter(int unitId, const MeterModel& model);

    int id() const { return unitId; }
    const MeterModel& model() const { return meterModel; }

    // The first address of a bank and the number of words (coils: bits, one byte each) in it.
    int start(Table table) const { return banks[table].start; }
    int size(Table table) const;
    uint16_t* registers(Table table) { return banks[table].words.data(); }
    uint8_t* coils() { return coilBits.data(); }

    // Moves the process on to `seconds` (monotonic) and writes every value into its bank.
    void advance(double seconds);
    // A master wrote `count` words (coils) from `address` of `table`: writable values in that
    // range are taken, a reset command zeroes the totalizer, and whatever else the write
    // touched gets the meter's own words back. With `apply` false nothing is taken.
    void takeWrites(Table table, int address, int count, bool apply);

    // A raw word placed by the simulator's user: into a writable value or the reset command a
    // holding register is written as a master would; anywhere else in the bank the word is
    // served instead of the meter's own until released. False outside the bank.
    bool place(Table table, int address, uint16_t word);
    bool release(Table table, int address);
    // Serves `engineering` as the holding-register value that starts at `address` until
    // released; false where no such value is, or the value cannot carry the number.
    bool holdValue(int address, double engineering);
    bool releaseValue(int address);

    // The flow in m3/h and the totalizer in m3, whatever the model's units.
    double flow() const { return process.flow; }
    double total() const { return process.total; }

private:
    struct Bank
    {
        int start = 0;
        std::vector<uint16_t> words;
    };

    static Table tableOf(const ModelValue& value);
    // The number `value` serves now, in its own unit; false for a value the meter leaves alone.
    bool current(int index, double* engineering) const;
    // Writes value `index` into its bank (a value that cannot be encoded keeps its old words);
    // paintAll writes every value, then the placed words over them.
    void paint(int index);
    void paintAll();
    // The words of a range back as the meter has them: values, held words, else 0.
    void restore(Table table, int address, int count);
    void take(int index);
    uint16_t* word(Table table, int address);

    int unitId;
    MeterModel meterModel;
    Bank banks[3];
    std::vector<uint8_t> coilBits;

    MeterProcess process;
    // No damping value in the model: the meter shows its measurement undamped.
    double dampingS;
    double limit; // m3/h
    double calibration = 1.0;
    uint32_t serialNumber;
    // Extras keep what was last written to them (an engineering value per value index).
    std::map<int, double> extras;
    std::map<int, double> heldValues;
    std::map<std::pair<int, int>, uint16_t> heldWords; // (table, address) -> word
};
