#pragma once

#include "MeterModel.h"
#include "Reason.h"

#include <QString>

#include <cstdint>
#include <vector>

// Turns a value's registers into its number and back, by the model's type, word order, scale
// and offset.
class ValueCodec
{
public:
    // The raw number of `value` from its registers (`count` of them, in address order; a coil
    // is one word, 0 or 1). False when too few are given.
    static bool raw(const ModelValue& value, const uint16_t* words, size_t count, double* out);
    // The same for an integer type, exactly (a u64 beyond 2^53 loses nothing).
    static bool rawInteger(const ModelValue& value, const uint16_t* words, size_t count, uint64_t* out);
    // raw * scale + offset.
    static double engineering(const ModelValue& value, double raw);
    // The registers that hold `engineeringValue`, for a write: empty, and `why` set, when the
    // value is outside the model's range or the type's, not finite, or the value not writable
    // (a reset command always is). An integer type takes the nearest whole raw number.
    static std::vector<uint16_t> encode(const ModelValue& value, double engineeringValue, Reason* why);
};
