#pragma once

#include "cTimeStamp.h"

#include <atomic>
#include <cstdint>

// Record states. A record is free when it is ERROR, OK or EMPTY.
enum cTransactionState : uint8_t {
    TRSC_ERROR = 0,
    TRSC_OK = 1,
    TRSC_QUEUED = 2,
    TRSC_EMPTY = 3,
    TRSC_BUSY = 4,
};

// Name printed for a state in the timing line ("ERROR", "OK", ...); "?" outside the table.
const char* trscStateName(unsigned state);

constexpr int TRSC_RECORDS = 50;
constexpr int TRSC_BUFFER_SIZE = 2048;

// One record of a transaction thread's queue. A request and its answer travel in it.
// The record is published to the transaction loop by storing `state` last, with release
// order; readers load `state` with acquire order before they look at anything else.
struct cTransaction
{
    uint16_t index = 0;
    std::atomic<uint8_t> state{TRSC_EMPTY};
    unsigned char input[TRSC_BUFFER_SIZE];
    uint16_t inputLength = 0;
    unsigned char output[TRSC_BUFFER_SIZE];
    uint16_t outputLength = 0;
    uint16_t delay = 0;
    // A delay in microseconds on the monotonic clock, or kMsDelay when `delay`'s millisecond
    // rule applies. It sits in the padding before `queued`, so the record keeps its size and
    // the threads that embed 50 of them keep the layout plug-ins were built against.
    static constexpr int32_t kMsDelay = -1;
    int32_t delayUs = kMsDelay;
    cTimeStamp queued;
    cTimeStamp started;
    cTimeStamp finished;
    float execMs = 0;
    float queueMs = 0;
};

#if defined(__LP64__)
static_assert(sizeof(cTransaction) == 4168, "the record's size is part of the plug-in ABI");
#endif
