#include "ModbusEngine.h"

#include <modbus/modbus.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

ModbusEngine::ModbusEngine(const std::vector<int>& unitIds)
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
        u.meter = std::make_unique<FlowMeter>(id);
        u.map = modbus_mapping_new(0, 0, FlowMeter::REGISTER_COUNT, 0);
        u.meter->advance(0, u.map->tab_registers);
        units[id] = std::move(u);
    }
}

ModbusEngine::~ModbusEngine()
{
    for (auto& [id, u] : units)
        modbus_mapping_free(u.map);
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
    for (auto& [id, u] : units)
        u.meter->advance(seconds, u.map->tab_registers);
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
    u.meter->advance(seconds, u.map->tab_registers);
    if (modbus_reply(ctx, query, n, u.map) < 0)
        return out;
    // Ignored writes stay in the map only until the next advance puts the meter's values back.
    if (applyWrites)
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

bool ModbusEngine::setRegister(int id, int reg, uint16_t value)
{
    auto it = units.find(id);
    if (it == units.end() || reg < 0 || reg >= it->second.map->nb_registers)
        return false;
    it->second.map->tab_registers[reg] = value;
    it->second.meter->takeWrites(it->second.map->tab_registers);
    return true;
}

bool ModbusEngine::holdFloat(int id, int reg, float value, bool release)
{
    auto it = units.find(id);
    if (it == units.end())
        return false;
    return release ? it->second.meter->releaseFloat(reg) : it->second.meter->holdFloat(reg, value);
}
