#include "ModbusRtu.h"

#include <cstring>

namespace modbus {

uint16_t crc16(const uint8_t* data, size_t size)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

void appendCrc(std::vector<uint8_t>& frame)
{
    const uint16_t crc = crc16(frame.data(), frame.size());
    // The check sum is the one field MODBUS sends low byte first.
    frame.push_back(uint8_t(crc & 0xFF));
    frame.push_back(uint8_t(crc >> 8));
}

namespace {

// The frames of one address and one 16-bit field (a count or a value), high bytes first.
std::vector<uint8_t> addressAndWord(uint8_t unit, uint8_t function, uint16_t address, uint16_t word)
{
    std::vector<uint8_t> f{unit, function, uint8_t(address >> 8), uint8_t(address), uint8_t(word >> 8), uint8_t(word)};
    appendCrc(f);
    return f;
}

} // namespace

std::vector<uint8_t> readHolding(uint8_t unit, uint16_t address, uint16_t count)
{
    return addressAndWord(unit, 0x03, address, count);
}

std::vector<uint8_t> readInput(uint8_t unit, uint16_t address, uint16_t count)
{
    return addressAndWord(unit, 0x04, address, count);
}

std::vector<uint8_t> readCoils(uint8_t unit, uint16_t address, uint16_t count)
{
    return addressAndWord(unit, 0x01, address, count);
}

std::vector<uint8_t> writeCoil(uint8_t unit, uint16_t address, bool on)
{
    return addressAndWord(unit, 0x05, address, on ? 0xFF00 : 0x0000);
}

std::vector<uint8_t> writeSingle(uint8_t unit, uint16_t address, uint16_t value)
{
    return addressAndWord(unit, 0x06, address, value);
}

std::vector<uint8_t> writeMultiple(uint8_t unit, uint16_t address, const std::vector<uint16_t>& values)
{
    const uint16_t n = uint16_t(values.size());
    std::vector<uint8_t> f{unit, 0x10, uint8_t(address >> 8), uint8_t(address), uint8_t(n >> 8), uint8_t(n),
                           uint8_t(2 * n)};
    for (uint16_t v : values) {
        f.push_back(uint8_t(v >> 8));
        f.push_back(uint8_t(v));
    }
    appendCrc(f);
    return f;
}

Check checkAnswer(const std::vector<uint8_t>& request, const uint8_t* answer, size_t size,
                  std::vector<uint16_t>* registers, int* exceptionCode)
{
    if (size == 0)
        return Check::NoAnswer;
    if (size < 5)
        return Check::Short;
    const uint8_t function = request[1];
    // An exception answer is five bytes long whatever was asked; its check sum decides first.
    size_t expected = 0;
    if (answer[1] == (function | 0x80))
        expected = 5;
    else if (function == 0x03 || function == 0x04)
        expected = readAnswerSize(uint16_t((request[4] << 8) | request[5]));
    else if (function == 0x01)
        expected = coilsAnswerSize(uint16_t((request[4] << 8) | request[5]));
    else
        expected = kWriteAnswerSize;
    if (size < expected)
        return Check::Short;
    // Bytes beyond the frame are line noise; the frame itself is judged.
    const uint16_t crc = crc16(answer, expected - 2);
    if (answer[expected - 2] != uint8_t(crc & 0xFF) || answer[expected - 1] != uint8_t(crc >> 8))
        return Check::BadCrc;
    if (answer[0] != request[0])
        return Check::WrongUnit;
    if (answer[1] == (function | 0x80)) {
        if (exceptionCode)
            *exceptionCode = answer[2];
        return Check::Exception;
    }
    if (answer[1] != function)
        return Check::Malformed;
    if (function == 0x03 || function == 0x04) {
        if (answer[2] != expected - 5)
            return Check::Malformed;
        if (registers) {
            registers->clear();
            for (size_t i = 3; i + 1 < expected - 2; i += 2)
                registers->push_back(uint16_t((answer[i] << 8) | answer[i + 1]));
        }
    } else if (function == 0x01) {
        if (answer[2] != expected - 5)
            return Check::Malformed;
        if (registers) {
            registers->clear();
            const int count = (request[4] << 8) | request[5];
            // Coil n is bit n % 8 of data byte n / 8, the first coil the lowest bit.
            for (int n = 0; n < count; ++n)
                registers->push_back(uint16_t((answer[3 + n / 8] >> (n % 8)) & 1));
        }
    } else if (memcmp(answer, request.data(), 6) != 0) {
        // A write is answered with the echo of its address and value (or count).
        return Check::Malformed;
    }
    return Check::Ok;
}

float toFloat(uint16_t high, uint16_t low)
{
    const uint32_t bits = (uint32_t(high) << 16) | low;
    float f;
    memcpy(&f, &bits, sizeof f);
    return f;
}

uint32_t toUint32(uint16_t high, uint16_t low)
{
    return (uint32_t(high) << 16) | low;
}

void fromFloat(float value, uint16_t* high, uint16_t* low)
{
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    *high = uint16_t(bits >> 16);
    *low = uint16_t(bits & 0xFFFF);
}

} // namespace modbus
