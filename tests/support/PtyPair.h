#pragma once

#include <atomic>
#include <string>

// A pseudo-terminal made by the test itself: the slave end is a device path that the code
// under test opens by name, the master end is the peer's side of the wire.
//
// The pair keeps a descriptor of its own on the slave, so that the host opening and closing
// the device never hangs the master up. Closing the master makes the device go away for
// everyone holding the slave.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return masterFd() >= 0 && slave >= 0; }
    // Non-blocking; -1 once closed.
    int masterFd() const { return master.load(); }
    int slaveFd() const { return slave; }
    const std::string& slavePath() const { return path; }

    // The device goes away: whoever holds the slave sees a hang-up. Safe from any thread.
    void closeMaster();

private:
    std::atomic<int> master{-1};
    int slave = -1;
    std::string path;
};
