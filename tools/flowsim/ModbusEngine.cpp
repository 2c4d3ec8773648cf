#include "ModbusEngine.h"

#include <modbus/modbus.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

ModbusEngine::ModbusEngine(const std::vector<int>& unitIds, const std::map<int, MeterModel>& models)
{
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        perror("flowsim: socketpair");
        return;
    }
    fcntl(pair[1], F_SETFL, fcntl(pair[1], F_GETFL) | O_NONBLOCK);
    // The device name is never opened: the socket pair stands in for the line.
    ctx = modbus_new_rtu("/dev/null", 9600, 'N', 8, 1);
    if (!ctx) {
        perror("flowsim: modbus_new_rtu");
        return;
    }
    modbus_set_socket(ctx, pair[0]);
    modbus_set_byte_timeout(ctx, 0, 20000);
    modbus_set_indication_timeout(ctx, 0, 100000);
    for (int id : unitIds) {
        Unit u;
        const auto model = models.find(id);
        if (model == models.end()) {
            u.meter = std::make_unique<FlowMeter>(id);
            u.map = modbus_mapping_new(0, 0, FlowMeter::REGISTER_COUNT, 0);
            u.meter->advance(0, u.map->tab_registers);
        } else {
            u.model = std::make_unique<ModelMeter>(id, model->second);
            ModelMeter& m = *u.model;
            u.map = new modbus_mapping_t{};
            u.map->start_bits = m.start(ModelMeter::Coils);
            u.map->nb_bits = m.size(ModelMeter::Coils);
            u.map->tab_bits = m.coils();
            u.map->start_input_registers = m.start(ModelMeter::InputRegisters);
            u.map->nb_input_registers = m.size(ModelMeter::InputRegisters);
            u.map->tab_input_registers = m.registers(ModelMeter::InputRegisters);
            u.map->start_registers = m.start(ModelMeter::HoldingRegisters);
            u.map->nb_registers = m.size(ModelMeter::HoldingRegisters);
            u.map->tab_registers = m.registers(ModelMeter::HoldingRegisters);
            m.advance(0);
        }
        units[id] = std::move(u);
    }
}

ModbusEngine::~ModbusEngine()
{
    for (auto& [id, u] : units) {
        if (u.model)
            delete u.map;
        else
            modbus_mapping_free(u.map);
    }
    if (ctx) {
        modbus_set_socket(ctx, -1);
        modbus_free(ctx);
    }
    for (int fd : pair)
        if (fd >= 0)
            close(fd);
}

const FlowMeter* ModbusEngine::meter(int id) const
{
    auto it = units.find(id);
    return it == units.end() ? nullptr : it->second.meter.get();
}

void ModbusEngine::tick(double seconds)
{
    for (auto& [id, u] : units) {
        if (u.model)
            u.model->advance(seconds);
        else
            u.meter->advance(seconds, u.map->tab_registers);
    }
}

int ModbusEngine::requestLength(const uint8_t* buf, int have)
{
    if (have < 2)
        return 0;
    switch (buf[1]) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x06:
        return 8;
    case 0x0F:
    case 0x10:
        return have < 7 ? 0 : 9 + buf[6];
    case 0x17:
        return have < 11 ? 0 : 13 + buf[10];
    default:
        return -1;
    }
}

void ModbusEngine::drain(int fd)
{
    uint8_t junk[256];
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    while (read(fd, junk, sizeof junk) > 0) {
    }
    fcntl(fd, F_SETFL, flags);
}

std::vector<uint8_t> ModbusEngine::answer(const uint8_t* frame, int length, double seconds, bool applyWrites)
{
    std::vector<uint8_t> out;
    if (!ctx || length < 4)
        return out;
    auto it = units.find(frame[0]);
    if (it == units.end())
        return out;
    Unit& u = it->second;

    drain(pair[0]);
    drain(pair[1]);
    modbus_set_slave(ctx, frame[0]);
    if (write(pair[1], frame, size_t(length)) != length)
        return out;
    uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
    const int n = modbus_receive(ctx, query);
    if (n <= 0)
        return out;
    if (u.model)
        u.model->advance(seconds);
    else
        u.meter->advance(seconds, u.map->tab_registers);
    if (modbus_reply(ctx, query, n, u.map) < 0)
        return out;
    // Ignored writes stay in the map only until the next advance puts the meter's values back.
    if (u.model)
        takeModelWrites(*u.model, query, n, applyWrites);
    else if (applyWrites)
        u.meter->takeWrites(u.map->tab_registers);
    uint8_t buf[MODBUS_RTU_MAX_ADU_LENGTH];
    for (;;) {
        const ssize_t got = read(pair[1], buf, sizeof buf);
        if (got <= 0)
            break;
        out.insert(out.end(), buf, buf + got);
    }
    return out;
}

void ModbusEngine::takeModelWrites(ModelMeter& meter, const uint8_t* query, int length, bool apply)
{
    if (length < 6)
        return;
    const int address = (query[2] << 8) | query[3];
    const int count = (query[4] << 8) | query[5];
    switch (query[1]) {
    case 0x05:
        meter.takeWrites(ModelMeter::Coils, address, 1, apply);
        break;
    case 0x0F:
        meter.takeWrites(ModelMeter::Coils, address, count, apply);
        break;
    case 0x06:
        meter.takeWrites(ModelMeter::HoldingRegisters, address, 1, apply);
        break;
    case 0x10:
        meter.takeWrites(ModelMeter::HoldingRegisters, address, count, apply);
        break;
    case 0x17:
        // Read and write: the write's range follows the read's.
        if (length >= 10)
            meter.takeWrites(ModelMeter::HoldingRegisters, (query[6] << 8) | query[7], (query[8] << 8) | query[9],
                             apply);
        break;
    default:
        break;
    }
}

bool ModbusEngine::setRegister(int id, int reg, uint16_t value, bool release)
{
    auto it = units.find(id);
    if (it != units.end() && it->second.model)
        return release ? it->second.model->release(ModelMeter::HoldingRegisters, reg)
                       : it->second.model->place(ModelMeter::HoldingRegisters, reg, value);
    if (release || it == units.end() || reg < 0 || reg >= it->second.map->nb_registers)
        return false;
    it->second.map->tab_registers[reg] = value;
    it->second.meter->takeWrites(it->second.map->tab_registers);
    return true;
}

bool ModbusEngine::setInputRegister(int id, int reg, uint16_t value, bool release)
{
    auto it = units.find(id);
    if (it == units.end() || !it->second.model)
        return false;
    return release ? it->second.model->release(ModelMeter::InputRegisters, reg)
                   : it->second.model->place(ModelMeter::InputRegisters, reg, value);
}

bool ModbusEngine::holdFloat(int id, int reg, double value, bool release)
{
    auto it = units.find(id);
    if (it == units.end())
        return false;
    if (it->second.model)
        return release ? it->second.model->releaseValue(reg) : it->second.model->holdValue(reg, value);
    return release ? it->second.meter->releaseFloat(reg) : it->second.meter->holdFloat(reg, float(value));
}
