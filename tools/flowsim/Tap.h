#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// A record of every request frame as it arrived, for measuring the silence a host leaves
// between frames and the requests of each kind: one line "START_US END_US LENGTH FUNCTION" per
// frame, the CLOCK_MONOTONIC times of its first and last byte in microseconds, its length and
// its function code (0 for a frame too short to have one). The fourth field came later: readers
// of the first three go on working. Lines are appended and flushed one by one, so a
// reader sees each frame as soon as it is cut and an earlier file is never cut short.
class Tap
{
public:
    Tap() = default;
    ~Tap();
    Tap(const Tap&) = delete;
    Tap& operator=(const Tap&) = delete;

    // False with a message when the file cannot be opened for appending.
    bool open(const std::string& path);
    bool isOpen() const { return file != nullptr; }
    // A failed write is said once; the simulator goes on serving the meters.
    void frame(int64_t startUs, int64_t endUs, int length, int function);

private:
    FILE* file = nullptr;
    std::string filePath;
    bool failed = false;
};
