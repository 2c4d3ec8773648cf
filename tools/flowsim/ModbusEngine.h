#pragma once

#include "FlowMeter.h"
#include "ModelMeter.h"

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

struct _modbus;
typedef struct _modbus modbus_t;
struct _modbus_mapping_t;

// A libmodbus RTU server for several unit ids, each the built-in FM-1 or a meter of a model file. Whole request frames go in, answer frames come
// out: libmodbus reads the request from one end of a socket pair and writes its answer there,
// so that the simulator alone decides when and how the answer reaches the line.
class ModbusEngine
{
public:
    // The ids in `models` serve their model; the others are FM-1 meters.
    explicit ModbusEngine(const std::vector<int>& unitIds, const std::map<int, MeterModel>& models = {});
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
    // A model meter keeps a word placed outside its writable values until `release` (see
    // ModelMeter::place).
    bool setRegister(int id, int reg, uint16_t value, bool release = false);
    // The same for an input register, which only model meters have.
    bool setInputRegister(int id, int reg, uint16_t value, bool release = false);
    // Holds one of a unit's measured floats at `value` (`release`: measures again); false for
    // an unknown unit or a register that is not a measured float. On a model meter: any holding
    // register value that starts at `reg`, in its engineering unit.
    bool holdFloat(int id, int reg, double value, bool release);
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
        std::unique_ptr<ModelMeter> model;
        // FM-1's is libmodbus's own; a model meter's points into the meter's banks.
        _modbus_mapping_t* map = nullptr;
    };

    void drain(int fd);
    // Hands a model meter what a write request (function 5, 6, 15, 16 or 23) changed.
    static void takeModelWrites(ModelMeter& meter, const uint8_t* query, int length, bool apply);

    modbus_t* ctx = nullptr;
    int pair[2] = {-1, -1}; // [0] libmodbus's end, [1] ours
    std::map<int, Unit> units;
};
