#pragma once

#include "MeterProcess.h"

#include <cstdint>

// One simulated flow meter behind a MODBUS unit id: a slowly varying flow with noise, damped
// by the meter's own damping setting, a totalizer that integrates it, a temperature, and an
// alarm when the flow passes its limit. Its registers are the documented map (docs/flowmeter.md).
class FlowMeter
{
public:
    // Holding register addresses.
    enum Register : int {
        REG_FLOW = 0,        // float32, m3/h, high word first
        REG_TOTAL = 2,       // float32, m3
        REG_TEMPERATURE = 4, // float32, degrees Celsius
        REG_ALARMS = 6,      // bit 0 flow above limit, bit 1 no flow, bit 2 temperature high
        REG_STATUS = 7,      // bit 0 measuring
        REG_SERIAL = 8,      // uint32, high word first
        REG_FIRMWARE = 10,   // major in the high byte, minor in the low byte
        REG_DAMPING = 11,    // tenths of a second, writable (0..600)
        REG_COMMAND = 12,    // write 1: reset the totalizer; reads 0 once done
        REG_FLOW_LIMIT = 13, // tenths of m3/h, writable
        REG_CALIBRATION = 14, // float32 factor, writable (factory)
        REGISTER_COUNT = 16,
    };
    enum Command : uint16_t { CMD_NONE = 0, CMD_RESET_TOTAL = 1 };

    explicit FlowMeter(int unitId);

    int id() const { return unitId; }
    // Advances the meter to `seconds` (monotonic) and writes its registers into `regs`.
    void advance(double seconds, uint16_t* regs);
    // Takes what a master wrote into `regs` (damping, limit, calibration, command).
    void takeWrites(uint16_t* regs);

    // Serves `value` in place of the measured float at REG_FLOW, REG_TOTAL or REG_TEMPERATURE
    // (NaN and infinities included: what a meter without a valid measurement sends) until
    // released; false for another register.
    bool holdFloat(int reg, float value);
    bool releaseFloat(int reg);

    double flow() const { return process.flow; }
    double total() const { return process.total; }

private:
    int unitId;
    MeterProcess process;
    double dampingS = 1.0;
    double limit;
    float calibration = 1.0f;
    uint32_t serialNumber;
    // Held values of the three measured floats, indexed by register / 2.
    bool held[3] = {false, false, false};
    float heldValue[3] = {0, 0, 0};
};

// Helpers for the register map's 32-bit values, high word first.
void putFloat(uint16_t* regs, int at, float value);
float getFloat(const uint16_t* regs, int at);
