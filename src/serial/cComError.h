#pragma once

#include <atomic>
#include <cstdint>

class cThread;

// The error reporter of a serial port: composes the text of a failed system call with the
// system's own message, logs it on the port's error stream and, for errors nobody expects,
// shows it to the user in a message box.
//
// `code` keeps the code of the last failing call until the next failure.
class cComError
{
public:
    cComError();
    virtual ~cComError();

    // Reports the failure of the system call made just before, on the calling thread: it
    // reads that thread's last system error itself. `text` names the operation. Returns true
    // when the code was not 0. `opening` tells a device that is not there (only logged) from
    // one that went away in the middle of a transfer (shown once).
    bool report(uint32_t id, const char* text, bool opening = false);

    // Takes reports of the system error `code` as said already: each still sets `code`,
    // `message`, `errorCount` and `alive` as any report does, but shows no box and writes no
    // line. 0 hushes nothing. The port registry hushes a retry that fails the way the last
    // attempt on that name did: the user has seen that box once and a retry every second
    // would raise it again the moment it was closed.
    void hush(uint16_t code) { hushed = code; }

    uint16_t code;
    char message[2050];
    uint32_t errorCount;
    cThread* owner;

private:
    // A device that went away is shown once: every transfer after it would say the same.
    std::atomic<bool> goneShown{false};
    std::atomic<uint16_t> hushed{0};
};
