#pragma once

#include "core/cTimeStamp.h"

#include <chrono>
#include <thread>

// The delay rule's sleeps alone, for n back-to-back transactions with the default delay of
// 1 ms: take the time, sleep 1 ms, until a whole millisecond separates the time taken from the
// end of the last transaction. The reference every queue benchmark measures itself against.
// Returns the average per transaction, in ms.
inline double mandatedSleepsMs(int n)
{
    const auto t0 = std::chrono::steady_clock::now();
    int64_t lastEnd = cTimeStamp::now().toMicroseconds();
    for (int i = 0; i < n; ++i) {
        for (;;) {
            const int64_t now = cTimeStamp::now().toMicroseconds();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if ((now - lastEnd) / 1000 >= 1)
                break;
        }
        lastEnd = cTimeStamp::now().toMicroseconds();
    }
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() / n;
}
