#include "ModbusRtuServer.h"

#include <cerrno>

ModbusRtuServer::ModbusRtuServer(int fd, int slaveId, int registers)
{
    // The device name is never opened: the descriptor is given.
    ctx = modbus_new_rtu("/dev/null", 9600, 'N', 8, 1);
    if (!ctx)
        return;
    modbus_set_socket(ctx, fd);
    modbus_set_slave(ctx, slaveId);
    map = modbus_mapping_new(0, 0, registers, registers);
}

ModbusRtuServer::ModbusRtuServer(const std::string& path, int slaveId, int registers)
{
    ctx = modbus_new_rtu(path.c_str(), 9600, 'N', 8, 1);
    if (!ctx)
        return;
    modbus_set_slave(ctx, slaveId);
    if (modbus_connect(ctx) != 0) {
        modbus_free(ctx);
        ctx = nullptr;
        return;
    }
    ownsDevice = true;
    map = modbus_mapping_new(0, 0, registers, registers);
}

ModbusRtuServer::~ModbusRtuServer()
{
    stop();
    if (ctx) {
        if (ownsDevice)
            modbus_close(ctx);
        modbus_free(ctx);
    }
    if (map)
        modbus_mapping_free(map);
}

bool ModbusRtuServer::start()
{
    if (!ctx || !map || worker.joinable())
        return false;
    // Short waits for a request, so that a stop is seen.
    modbus_set_indication_timeout(ctx, 0, 50000);
    worker = std::thread([this] { run(); });
    return true;
}

void ModbusRtuServer::stop()
{
    stopping = true;
    if (worker.joinable())
        worker.join();
}

void ModbusRtuServer::setRegister(int address, uint16_t value)
{
    std::lock_guard<std::mutex> g(mapMutex);
    if (map && address >= 0 && address < map->nb_registers)
        map->tab_registers[address] = value;
}

uint16_t ModbusRtuServer::holdingRegister(int address) const
{
    std::lock_guard<std::mutex> g(mapMutex);
    return (map && address >= 0 && address < map->nb_registers) ? map->tab_registers[address] : 0;
}

void ModbusRtuServer::run()
{
    uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH];
    while (!stopping) {
        const int n = modbus_receive(ctx, request);
        if (n > 0) {
            std::lock_guard<std::mutex> g(mapMutex);
            if (modbus_reply(ctx, request, n, map) > 0)
                answered++;
        } else if (n < 0 && (errno == EBADF || errno == EIO)) {
            return; // the link is gone
        } else if (n < 0 && errno != ETIMEDOUT) {
            modbus_flush(ctx); // a broken frame: start afresh
        }
    }
}
