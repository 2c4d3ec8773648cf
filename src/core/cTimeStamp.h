#pragma once

#include <cstdint>

// Wall-clock moment as seconds and microseconds since 1970 (the gettimeofday form).
// Seconds are 64-bit so that the stamps keep working after 2038.
struct cTimeStamp
{
    int64_t seconds = 0;
    int32_t microseconds = 0;

    static cTimeStamp now();
    static cTimeStamp fromMicroseconds(int64_t us);

    int64_t toMicroseconds() const { return seconds * 1000000 + microseconds; }
    bool isZero() const { return seconds == 0 && microseconds == 0; }

    // Milliseconds from this stamp to b, in floating point.
    float msTo(const cTimeStamp& b) const
    {
        return 1000.0f * float(b.seconds - seconds) + float(b.microseconds - microseconds) / 1000.0f;
    }
};
