#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The few MODBUS RTU frames a flow meter needs, and the checks of their answers.
namespace modbus {

uint16_t crc16(const uint8_t* data, size_t size);
void appendCrc(std::vector<uint8_t>& frame);

std::vector<uint8_t> readHolding(uint8_t unit, uint16_t address, uint16_t count);
std::vector<uint8_t> writeSingle(uint8_t unit, uint16_t address, uint16_t value);
std::vector<uint8_t> writeMultiple(uint8_t unit, uint16_t address, const std::vector<uint16_t>& values);

// Bytes of the normal answer to each request.
inline unsigned short readAnswerSize(uint16_t count) { return (unsigned short)(5 + 2 * count); }
constexpr unsigned short kWriteAnswerSize = 8;

enum class Check { Ok, NoAnswer, Short, BadCrc, WrongUnit, Exception, Malformed };

// Checks an answer to `request`. On Ok, the registers of a read are put in `registers`;
// on Exception, `exceptionCode` holds the device's code.
Check checkAnswer(const std::vector<uint8_t>& request, const uint8_t* answer, size_t size,
                  std::vector<uint16_t>* registers, int* exceptionCode);

// 32-bit values take two registers, high word first.
float toFloat(uint16_t high, uint16_t low);
uint32_t toUint32(uint16_t high, uint16_t low);
void fromFloat(float value, uint16_t* high, uint16_t* low);

} // namespace modbus
