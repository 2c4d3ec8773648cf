#pragma once

// The resident memory of a process, in kB: this one by default.
#include <cstdio>
#include <string>

#include <unistd.h>

inline long residentKb(long pid = 0)
{
    const std::string path = pid > 0 ? "/proc/" + std::to_string(pid) + "/statm" : std::string("/proc/self/statm");
    FILE* f = fopen(path.c_str(), "r");
    if (!f)
        return -1;
    long pages = 0, resident = 0;
    const int n = fscanf(f, "%ld %ld", &pages, &resident);
    fclose(f);
    return n == 2 ? resident * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}
