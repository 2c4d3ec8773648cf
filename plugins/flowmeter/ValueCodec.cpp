#include "ValueCodec.h"

#include <QCoreApplication>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

namespace {

bool wordsReversed(WordOrder order)
{
    return order == WordOrder::CDAB || order == WordOrder::DCBA;
}

bool bytesSwapped(WordOrder order)
{
    return order == WordOrder::BADC || order == WordOrder::DCBA;
}

uint16_t swapBytes(uint16_t w)
{
    return uint16_t((w >> 8) | (w << 8));
}

bool isInteger(ValueType type)
{
    return type != ValueType::F32 && type != ValueType::F64;
}

// The value's bits, most significant word first, from its registers in address order. A coil
// is one word that is 0 or not; the word order does not apply to it.
uint64_t bitsOf(const ModelValue& value, const uint16_t* words)
{
    if (value.type == ValueType::Coil)
        return words[0] != 0 ? 1 : 0;
    const int n = value.registerCount();
    uint64_t bits = 0;
    for (int k = 0; k < n; ++k) {
        // k counts from the most significant word.
        uint16_t w = words[wordsReversed(value.order) ? n - 1 - k : k];
        if (bytesSwapped(value.order))
            w = swapBytes(w);
        bits = (bits << 16) | w;
    }
    return bits;
}

std::vector<uint16_t> wordsOf(const ModelValue& value, uint64_t bits)
{
    if (value.type == ValueType::Coil)
        return {uint16_t(bits != 0 ? 1 : 0)};
    const int n = value.registerCount();
    std::vector<uint16_t> words(size_t(n), 0);
    for (int k = 0; k < n; ++k) {
        uint16_t w = uint16_t(bits >> (16 * (n - 1 - k)));
        if (bytesSwapped(value.order))
            w = swapBytes(w);
        words[size_t(wordsReversed(value.order) ? n - 1 - k : k)] = w;
    }
    return words;
}

} // namespace

bool ValueCodec::rawInteger(const ModelValue& value, const uint16_t* words, size_t count, uint64_t* out)
{
    if (!isInteger(value.type) || !words || count < size_t(value.registerCount()))
        return false;
    const uint64_t bits = bitsOf(value, words);
    // Signed types come back sign-extended: static_cast<int64_t> gives the number.
    switch (value.type) {
    case ValueType::I16:
        *out = uint64_t(int64_t(int16_t(uint16_t(bits))));
        break;
    case ValueType::I32:
        *out = uint64_t(int64_t(int32_t(uint32_t(bits))));
        break;
    default:
        *out = bits;
        break;
    }
    return true;
}

bool ValueCodec::raw(const ModelValue& value, const uint16_t* words, size_t count, double* out)
{
    if (!words || count < size_t(value.registerCount()))
        return false;
    const uint64_t bits = bitsOf(value, words);
    switch (value.type) {
    case ValueType::F32: {
        const uint32_t b = uint32_t(bits);
        float f;
        std::memcpy(&f, &b, sizeof f);
        *out = f;
        return true;
    }
    case ValueType::F64: {
        double d;
        std::memcpy(&d, &bits, sizeof d);
        *out = d;
        return true;
    }
    case ValueType::I16:
    case ValueType::I32: {
        uint64_t n = 0;
        rawInteger(value, words, count, &n);
        *out = double(int64_t(n));
        return true;
    }
    default:
        *out = double(bits);
        return true;
    }
}

double ValueCodec::engineering(const ModelValue& value, double raw)
{
    return raw * value.scale + value.offset;
}

std::vector<uint16_t> ValueCodec::encode(const ModelValue& value, double engineeringValue, Reason* why)
{
    auto refuse = [why](const Reason& reason) {
        if (why)
            *why = reason;
        return std::vector<uint16_t>();
    };
    // A reset command is written by nature, whether or not its model says so.
    if (!value.writable && value.role != ValueRole::ResetCommand)
        return refuse(Reason(QT_TRANSLATE_NOOP("FlowMeter", "the value cannot be written")));
    if (!std::isfinite(engineeringValue))
        return refuse(Reason(QT_TRANSLATE_NOOP("FlowMeter", "not a number")));
    if (!std::isnan(value.minimum) && engineeringValue < value.minimum)
        return refuse(Reason(QT_TRANSLATE_NOOP("FlowMeter", "below the lowest value, %1")).number(value.minimum));
    if (!std::isnan(value.maximum) && engineeringValue > value.maximum)
        return refuse(Reason(QT_TRANSLATE_NOOP("FlowMeter", "above the highest value, %1")).number(value.maximum));
    if (value.scale == 0 || !std::isfinite(value.scale))
        return refuse(Reason(QT_TRANSLATE_NOOP("FlowMeter", "the model's scale is unusable")));
    const double raw = (engineeringValue - value.offset) / value.scale;
    if (!std::isfinite(raw))
        return refuse(Reason(QT_TRANSLATE_NOOP("FlowMeter", "outside what the register can hold")));

    switch (value.type) {
    case ValueType::F32: {
        if (std::fabs(raw) > double(FLT_MAX))
            return refuse(Reason(QT_TRANSLATE_NOOP("FlowMeter", "outside what the register can hold")));
        const float f = float(raw);
        uint32_t b;
        std::memcpy(&b, &f, sizeof b);
        return wordsOf(value, b);
    }
    case ValueType::F64: {
        uint64_t b;
        std::memcpy(&b, &raw, sizeof b);
        return wordsOf(value, b);
    }
    default:
        break;
    }

    // An integer register takes the nearest whole number, as a spin box would.
    const double whole = std::nearbyint(raw);
    double low = 0, high = 0;
    switch (value.type) {
    case ValueType::Coil: low = 0; high = 1; break;
    case ValueType::U16: low = 0; high = 65535; break;
    case ValueType::I16: low = -32768; high = 32767; break;
    case ValueType::U32: low = 0; high = 4294967295.0; break;
    case ValueType::I32: low = -2147483648.0; high = 2147483647.0; break;
    // 2^64 itself is a double; the highest u64 a double can name below it is 2^64 - 2048.
    case ValueType::U64: low = 0; high = 18446744073709549568.0; break;
    default: break;
    }
    if (whole < low || whole > high) {
        const double a = low * value.scale + value.offset, b = high * value.scale + value.offset;
        return refuse(Reason(QT_TRANSLATE_NOOP("FlowMeter", "outside what the register can hold (%1 to %2)"))
                          .number(std::min(a, b))
                          .number(std::max(a, b)));
    }
    uint64_t bits = 0;
    if (value.type == ValueType::U64)
        bits = uint64_t(whole);
    else
        bits = uint64_t(int64_t(whole));
    return wordsOf(value, bits);
}
