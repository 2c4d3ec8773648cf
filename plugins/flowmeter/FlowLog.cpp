#include "FlowLog.h"

#include <core/cLog.h>

#include <ctime>

std::string FlowLog::stamp()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char text[32];
    const size_t n = strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    snprintf(text + n, sizeof text - n, ".%03ld", now.tv_nsec / 1000000);
    return text;
}

void FlowLog::line(FILE* f, const char* text)
{
    cLog::line(f, "%s Flow meter plugin: %s", stamp().c_str(), text);
}
