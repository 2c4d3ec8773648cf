#include "ModbusRtuMaster.h"

#include <modbus/modbus.h>

#include <cstring>

ModbusRtuMaster::ModbusRtuMaster(const QString& path, int baud)
{
    ctx = modbus_new_rtu(path.toLocal8Bit().constData(), baud, 'N', 8, 1);
    if (!ctx)
        return;
    modbus_set_response_timeout(ctx, 0, 300000);
    if (modbus_connect(ctx) != 0) {
        modbus_free(ctx);
        ctx = nullptr;
    }
}

ModbusRtuMaster::~ModbusRtuMaster()
{
    if (ctx) {
        modbus_close(ctx);
        modbus_free(ctx);
    }
}

bool ModbusRtuMaster::read(int unit, int address, int count, uint16_t* out)
{
    if (!ctx || modbus_set_slave(ctx, unit) != 0)
        return false;
    if (modbus_read_registers(ctx, address, count, out) == count)
        return true;
    // A late answer must not be taken for the next one's.
    modbus_flush(ctx);
    return false;
}

float ModbusRtuMaster::floatAt(const uint16_t* regs)
{
    const uint32_t bits = (uint32_t(regs[0]) << 16) | regs[1];
    float f;
    memcpy(&f, &bits, sizeof f);
    return f;
}
