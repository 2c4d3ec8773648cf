#pragma once

#include <modbus/modbus.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

// A real MODBUS RTU server (libmodbus) on one end of a serial link, answering read and
// write requests from a register map the test sets, in a thread of its own.
class ModbusRtuServer
{
public:
    // On a descriptor the caller keeps (a PtyPair's master).
    ModbusRtuServer(int fd, int slaveId = 1, int registers = 100);
    // On a device path, opened and set up by libmodbus (a PtyLink end).
    ModbusRtuServer(const std::string& path, int slaveId = 1, int registers = 100);
    ~ModbusRtuServer();
    ModbusRtuServer(const ModbusRtuServer&) = delete;
    ModbusRtuServer& operator=(const ModbusRtuServer&) = delete;

    bool start();
    void stop();

    void setRegister(int address, uint16_t value);
    uint16_t holdingRegister(int address) const;
    int served() const { return answered.load(); }

private:
    void run();

    modbus_t* ctx = nullptr;
    modbus_mapping_t* map = nullptr;
    bool ownsDevice = false;
    mutable std::mutex mapMutex;
    std::atomic<bool> stopping{false};
    std::atomic<int> answered{0};
    std::thread worker;
};
