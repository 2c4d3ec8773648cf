#include "cTimeStamp.h"

#include <ctime>

cTimeStamp cTimeStamp::now()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    cTimeStamp t;
    t.seconds = ts.tv_sec;
    t.microseconds = int32_t(ts.tv_nsec / 1000);
    return t;
}

cTimeStamp cTimeStamp::fromMicroseconds(int64_t us)
{
    cTimeStamp t;
    t.seconds = us / 1000000;
    t.microseconds = int32_t(us % 1000000);
    return t;
}
