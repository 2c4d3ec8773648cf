#pragma once

#include <QString>

#include <cstdint>

struct _modbus;

// A real MODBUS RTU master (libmodbus) on a serial device path: the independent client a test
// reads a simulator's meters with, beside the program under test.
class ModbusRtuMaster
{
public:
    explicit ModbusRtuMaster(const QString& path, int baud = 9600);
    ~ModbusRtuMaster();
    ModbusRtuMaster(const ModbusRtuMaster&) = delete;
    ModbusRtuMaster& operator=(const ModbusRtuMaster&) = delete;

    bool connected() const { return ctx != nullptr; }
    // Holding registers (function 3) of `unit`; false on any failure.
    bool read(int unit, int address, int count, uint16_t* out);
    // A float of two registers, high word first (MODBUS's own order).
    static float floatAt(const uint16_t* regs);

private:
    _modbus* ctx = nullptr;
};
