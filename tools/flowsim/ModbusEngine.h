#pragma once

#include "FlowMeter.h"

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

struct _modbus;
typedef struct _modbus modbus_t;
struct _modbus_mapping_t;

// A libmodbus RTU server for several unit ids. Whole request frames go in, answer frames come
// out: libmodbus reads the request from one end of a socket pair and writes its answer there,
// so that the simulator alone decides when and how the answer reaches the line.
class ModbusEngine
{
public:
    explicit ModbusEngine(const std::vector<int>& unitIds);
    ~ModbusEngine();
    ModbusEngine(const ModbusEngine&) = delete;
    ModbusEngine& operator=(const ModbusEngine&) = delete;

    bool ok() const { return ctx != nullptr; }
    // The answer to one request frame at `seconds` (monotonic); empty when no unit answers:
    // an unknown id, a broadcast, or a frame that libmodbus refuses (bad check sum, garbage).
    // With `applyWrites` false a write is answered as done but changes nothing.
    std::vector<uint8_t> answer(const uint8_t* frame, int length, double seconds, bool applyWrites = true);
    // Writes a holding register of one unit as a master would (the flow limit, the damping);
    // false for an unknown unit or register.
    bool setRegister(int id, int reg, uint16_t value);
    // Holds one of a unit's measured floats at `value` (`release`: measures again); false for
    // an unknown unit or a register that is not a measured float.
    bool holdFloat(int id, int reg, float value, bool release);
    // Moves every meter on to `seconds`.
    void tick(double seconds);

    // The length of the request frame at the start of `buf`, judged from its function code;
    // 0 when more bytes are needed to tell, -1 when the function is unknown (the frame then
    // ends at the next silence on the line).
    static int requestLength(const uint8_t* buf, int have);

    const FlowMeter* meter(int id) const;

private:
    struct Unit
    {
        std::unique_ptr<FlowMeter> meter;
        _modbus_mapping_t* map = nullptr;
    };

    void drain(int fd);

    modbus_t* ctx = nullptr;
    int pair[2] = {-1, -1}; // [0] libmodbus's end, [1] ours
    std::map<int, Unit> units;
};
