#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The few MODBUS RTU frames a flow meter needs, and the checks of their answers.
namespace modbus {

uint16_t crc16(const uint8_t* data, size_t size);
void appendCrc(std::vector<uint8_t>& frame);

std::vector<uint8_t> readHolding(uint8_t unit, uint16_t address, uint16_t count);
std::vector<uint8_t> readInput(uint8_t unit, uint16_t address, uint16_t count);
std::vector<uint8_t> readCoils(uint8_t unit, uint16_t address, uint16_t count);
// Function 5: a coil on (0xFF00) or off (0x0000).
std::vector<uint8_t> writeCoil(uint8_t unit, uint16_t address, bool on);
std::vector<uint8_t> writeSingle(uint8_t unit, uint16_t address, uint16_t value);
std::vector<uint8_t> writeMultiple(uint8_t unit, uint16_t address, const std::vector<uint16_t>& values);

// Bytes of the normal answer to each request.
inline unsigned short readAnswerSize(uint16_t count) { return (unsigned short)(5 + 2 * count); }
inline unsigned short coilsAnswerSize(uint16_t count) { return (unsigned short)(5 + (count + 7) / 8); }
constexpr unsigned short kWriteAnswerSize = 8;

enum class Check { Ok, NoAnswer, Short, BadCrc, WrongUnit, Exception, Malformed };

// Checks an answer to `request`. On Ok, the registers of a read are put in `registers` (for
// a read of coils, one word per coil, 0 or 1);
// on Exception, `exceptionCode` holds the device's code.
Check checkAnswer(const std::vector<uint8_t>& request, const uint8_t* answer, size_t size,
                  std::vector<uint16_t>* registers, int* exceptionCode);

// 32-bit values take two registers, high word first.
float toFloat(uint16_t high, uint16_t low);
uint32_t toUint32(uint16_t high, uint16_t low);
void fromFloat(float value, uint16_t* high, uint16_t* low);

} // namespace modbus
