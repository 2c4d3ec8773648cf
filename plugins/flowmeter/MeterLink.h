#pragma once

#include "ModbusRtu.h"

#include <QString>

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
        // Why it failed, in the user's language; empty on success.
        QString reason;
        modbus::Check check = modbus::Check::NoAnswer;
        // Whether the port itself is gone (device unplugged), not only the meter silent.
        bool portGone = false;
    };

    MeterLink(cSerial* port, int answerTimeoutMs);

    // One request and its answer of `answerSize` bytes, after the line's silence between frames.
    Result exchange(const std::vector<uint8_t>& request, unsigned short answerSize) const;
    Result readHolding(int id, uint16_t address, uint16_t count) const;
    Result writeRegister(int id, uint16_t address, uint16_t value) const;
    Result writeRegisters(int id, uint16_t address, const std::vector<uint16_t>& values) const;

private:
    cSerial* port;
    int answerTimeoutMs;
};
