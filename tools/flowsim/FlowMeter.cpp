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
    : unitId(id),
      baseFlow(8.0 + 4.0 * ((id - 1) % 5)),
      totalizer(1000.0 * id + 123.4),
      temperature(17.5 + 0.7 * (id % 4)),
      limit(baseFlow * 1.25),
      serialNumber(uint32_t(24070000 + id * 137)),
      rng(uint32_t(id) * 7919u)
{
    shownFlow = baseFlow;
}

void FlowMeter::advance(double seconds, uint16_t* regs)
{
    if (lastSeconds < 0)
        lastSeconds = seconds;
    const double dt = seconds - lastSeconds;
    lastSeconds = seconds;

    if (dt > 0) {
        // A process that swings slowly (two-minute period, one unit a little out of phase with
        // the next) with measurement noise on top, seen through the meter's damping filter.
        const double phase = 2.0 * M_PI * seconds / 120.0 + unitId;
        const double raw = calibration * (baseFlow * (1.0 + 0.2 * std::sin(phase)) + 0.01 * baseFlow * noise(rng));
        const double alpha = dampingS > 0 ? 1.0 - std::exp(-dt / dampingS) : 1.0;
        shownFlow += alpha * (raw - shownFlow);
        if (shownFlow < 0)
            shownFlow = 0;
        totalizer += shownFlow * dt / 3600.0;
        temperature += 0.02 * (17.5 + 0.7 * (unitId % 4) + 0.5 * std::sin(phase / 3) - temperature) * dt +
                       0.002 * noise(rng);
    }

    uint16_t alarms = 0;
    if (shownFlow > limit)
        alarms |= 1;
    if (shownFlow < 0.01)
        alarms |= 2;
    if (temperature > 60)
        alarms |= 4;

    putFloat(regs, REG_FLOW, held[0] ? heldValue[0] : float(shownFlow));
    putFloat(regs, REG_TOTAL, held[1] ? heldValue[1] : float(totalizer));
    putFloat(regs, REG_TEMPERATURE, held[2] ? heldValue[2] : float(temperature));
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
        totalizer = 0;
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
