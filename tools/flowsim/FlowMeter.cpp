#include "FlowMeter.h"

#include <cmath>
#include <cstring>

void putFloat(uint16_t* regs, int at, float value)
{
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    regs[at] = uint16_t(bits >> 16);
    regs[at + 1] = uint16_t(bits & 0xFFFF);
}

float getFloat(const uint16_t* regs, int at)
{
    const uint32_t bits = (uint32_t(regs[at]) << 16) | regs[at + 1];
    float value;
    memcpy(&value, &bits, sizeof value);
    return value;
}

FlowMeter::FlowMeter(int id)
    : unitId(id), process(id), limit(process.baseFlow * 1.25), serialNumber(uint32_t(24070000 + id * 137))
{
}

void FlowMeter::advance(double seconds, uint16_t* regs)
{
    process.advance(seconds, dampingS, double(calibration));

    uint16_t alarms = 0;
    if (process.flow > limit)
        alarms |= 1;
    if (process.flow < 0.01)
        alarms |= 2;
    if (process.temperature > 60)
        alarms |= 4;

    putFloat(regs, REG_FLOW, held[0] ? heldValue[0] : float(process.flow));
    putFloat(regs, REG_TOTAL, held[1] ? heldValue[1] : float(process.total));
    putFloat(regs, REG_TEMPERATURE, held[2] ? heldValue[2] : float(process.temperature));
    regs[REG_ALARMS] = alarms;
    regs[REG_STATUS] = 1;
    regs[REG_SERIAL] = uint16_t(serialNumber >> 16);
    regs[REG_SERIAL + 1] = uint16_t(serialNumber & 0xFFFF);
    regs[REG_FIRMWARE] = 0x0102;
    regs[REG_DAMPING] = uint16_t(std::lround(dampingS * 10));
    regs[REG_COMMAND] = CMD_NONE;
    regs[REG_FLOW_LIMIT] = uint16_t(std::lround(limit * 10));
    putFloat(regs, REG_CALIBRATION, calibration);
}

void FlowMeter::takeWrites(uint16_t* regs)
{
    const double damping = regs[REG_DAMPING] / 10.0;
    if (damping >= 0 && damping <= 60)
        dampingS = damping;
    if (regs[REG_FLOW_LIMIT] > 0)
        limit = regs[REG_FLOW_LIMIT] / 10.0;
    const float cal = getFloat(regs, REG_CALIBRATION);
    if (std::isfinite(cal) && cal > 0.5f && cal < 2.0f)
        calibration = cal;
    if (regs[REG_COMMAND] == CMD_RESET_TOTAL)
        process.total = 0;
    regs[REG_COMMAND] = CMD_NONE;
}

bool FlowMeter::holdFloat(int reg, float value)
{
    if (reg != REG_FLOW && reg != REG_TOTAL && reg != REG_TEMPERATURE)
        return false;
    held[reg / 2] = true;
    heldValue[reg / 2] = value;
    return true;
}

bool FlowMeter::releaseFloat(int reg)
{
    if (reg != REG_FLOW && reg != REG_TOTAL && reg != REG_TEMPERATURE)
        return false;
    held[reg / 2] = false;
    return true;
}
