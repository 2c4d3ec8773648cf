#pragma once

#include "MeterModel.h"
#include "ModbusRtu.h"
#include "ReadPlan.h"
#include "Reason.h"

#include <QString>
#include <QVector>

#include <cstdint>
#include <vector>

class cSerial;

// The MODBUS conversation with the meters of one line over its port. Each exchange returns what
// came of it; nothing here keeps state of a meter or calls back into the plug-in.
class MeterLink
{
public:
    struct Result
    {
        bool ok = false;
        // The registers of a read that was answered.
        std::vector<uint16_t> registers;
        // Why it failed; empty on success.
        Reason reason;
        modbus::Check check = modbus::Check::NoAnswer;
        // Whether the port itself is gone (device unplugged), not only the meter silent.
        bool portGone = false;
        // Answers dropped on the way as late ones: they came when their request had given up.
        int late = 0;
    };

    // `lineUnsure`, kept by the line from one link to the next, says whether an answer of an
    // earlier request may still come: set after a time-out or an answer that was not ours.
    // While it is set, a read that is answered is asked once more and the second answer
    // taken, which no earlier request can have: the first may be the late one, and a read of
    // the same function and length would pass every check of the frame.
    MeterLink(cSerial* port, int answerTimeoutMs, bool* lineUnsure = nullptr);

    // One request and its answer of `answerSize` bytes, after the line's silence between frames.
    Result exchange(const std::vector<uint8_t>& request, unsigned short answerSize) const;
    Result readHolding(int id, uint16_t address, uint16_t count) const;
    Result writeRegister(int id, uint16_t address, uint16_t value) const;
    Result writeRegisters(int id, uint16_t address, const std::vector<uint16_t>& values) const;
    // Registers (function 3 or 4) or coils (function 1, one word each).
    Result read(int id, int function, int address, int count) const;

    // Every value of `model` that `plan` reads, as engineering values in the model's units, in
    // the model's order; NaN for a value not read (a command). Fails as a whole when one read
    // does: a meter read by halves would show one instant's flow beside another's total.
    // `wholes`, when given, gets each u64's raw number exactly (0 for the other types).
    Result readModel(int id, const MeterModel& model, const QVector<ReadRequest>& plan, QVector<double>* values,
                     QVector<quint64>* wholes = nullptr) const;
    // One value alone (the totalizer around a reset).
    Result readValue(int id, const ModelValue& value, double* out) const;
    // Writes `engineeringValue` to a writable value, checked against the model's range first;
    // nothing goes out when the check refuses it (`reason` says why).
    Result writeValue(int id, const ModelValue& value, double engineeringValue) const;
    // The reset command: a coil set (function 5), or the command value written to a register.
    Result command(int id, const ModelValue& value) const;

private:
    Result exchangeOnce(const std::vector<uint8_t>& request, unsigned short answerSize) const;
    // An answer that came whole but does not hold what was asked.
    static void markMalformed(Result* r);

    cSerial* port;
    int answerTimeoutMs;
    bool* unsure;
};
