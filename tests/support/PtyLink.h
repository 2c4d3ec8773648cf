#pragma once

#include "PtyPair.h"

#include <atomic>
#include <string>
#include <thread>

// Two pseudo-terminals linked by a relay thread, like a null-modem cable between two serial
// devices: what is written to one end's device comes out of the other's, both ways. Both
// ends are device paths, so both sides can open them by name (the host and, say, libmodbus).
//
// With a pace, each byte leaves the relay no earlier than `usPerByte` after the previous one
// in the same direction, as on a wire of that rate (960 us per byte is 9600 baud, 8N1).
class PtyLink
{
public:
    explicit PtyLink(int usPerByte = 0);
    ~PtyLink();
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    bool ok() const { return a.ok() && b.ok(); }
    const std::string& hostPath() const { return a.slavePath(); }
    const std::string& peerPath() const { return b.slavePath(); }

private:
    void relay();

    PtyPair a;
    PtyPair b;
    const int pace;
    std::atomic<bool> stopping{false};
    std::thread worker;
};
