#include "ModbusCrc.h"

#include <cstdint>

std::vector<unsigned char> withModbusCrc(std::vector<unsigned char> frame)
{
    uint16_t crc = 0xFFFF;
    for (unsigned char b : frame) {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    frame.push_back(uint8_t(crc & 0xFF));
    frame.push_back(uint8_t(crc >> 8));
    return frame;
}
