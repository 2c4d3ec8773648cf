#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// A record of every request frame as it arrived, for measuring the silence a host leaves
// between frames: one line "START_US END_US LENGTH" per frame, the CLOCK_MONOTONIC times of
// its first and last byte in microseconds. Lines are appended and flushed one by one, so a
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
    void frame(int64_t startUs, int64_t endUs, int length);

private:
    FILE* file = nullptr;
    std::string filePath;
    bool failed = false;
};
