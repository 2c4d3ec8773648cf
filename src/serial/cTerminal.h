#pragma once

#include <cstddef>
#include <cstdint>

// Time-outs of a transfer in milliseconds, with the meaning of the classic comm time-outs:
// a read of n bytes may take n x readTotalMultiplier + readTotalConstant in all and ends
// early when more than readInterval passes after a byte without the next one; a write of
// n bytes may take n x writeTotalMultiplier + writeTotalConstant.
struct cTerminalTimeouts
{
    uint32_t readInterval = 0;
    uint32_t readTotalMultiplier = 0;
    uint32_t readTotalConstant = 0;
    uint32_t writeTotalMultiplier = 0;
    uint32_t writeTotalConstant = 0;
};

// Line settings of a port, in the figures the port class works with.
struct cTerminalSettings
{
    uint32_t baudRate = 0;
    uint8_t byteSize = 8;
    uint8_t parity = 0;   // 0 none, 1 odd, 2 even
    uint8_t stopBits = 0; // 0 one, 1 one and a half, 2 two
    bool ctsOutputFlow = false;
    bool dsrOutputFlow = false;
    bool dtrAsserted = false;
    bool rtsAsserted = false;
    bool xonXoffOutput = false;
    bool xonXoffInput = false;
    // Has no equivalent on a POSIX terminal; kept so the settings read back as they were set.
    bool abortOnError = false;
};

// How the error reporter treats a system error code.
enum class cErrorClass {
    None,          // no error
    NotFound,      // the device does not exist: logged only
    AccessDenied,  // held by someone else or not permitted: logged only, the port stops waiting
    Aborted,       // the operation was cancelled or interrupted: logged only
    DeviceGone,    // the device went away during a transfer: shown once, the port stops waiting
    Other,         // anything else: logged and shown
};

// The POSIX terminal layer under the serial port: the only place that knows descriptors,
// termios, poll, flock and errno texts. Every call that fails returns false (or -1) with
// errno set, so that the caller's error report reads the code of the call that failed.
// A handle is a file descriptor; INVALID_HANDLE is what a failed open leaves behind.
class cTerminal
{
public:
    static constexpr int INVALID_HANDLE = -1;

    // Opens the device for reading only and closes it again; the outcome is not used.
    static void probe(const char* name);
    // Opens the device for exclusive use; returns the descriptor or INVALID_HANDLE.
    static int open(const char* name);
    // Closes a descriptor; a negative one is left alone.
    static void close(int handle);

    // The driver queue sizes have no POSIX equivalent: succeeds for an open descriptor.
    static bool setupQueues(int handle, unsigned inputSize, unsigned outputSize);
    static bool getSettings(int handle, cTerminalSettings* settings);
    // Raw mode, CLOCAL | CREAD, the given figures, flow control and modem lines as given.
    static bool setSettings(int handle, const cTerminalSettings& settings);
    // The layer applies time-outs per transfer, so setting them only checks that the handle
    // is an open descriptor that can take them.
    static bool setTimeouts(int handle, const cTerminalTimeouts& timeouts);
    // Empties both directions' queues.
    static bool purge(int handle);
    // Bytes received and not read yet; -1 with errno set when the handle cannot say.
    static int pending(int handle);
    // Nothing to clear on a POSIX terminal.
    static void clearErrors(int handle);

    // Writes up to n bytes within the write time-out. A time-out is not a failure: the call
    // succeeds with fewer bytes written. A device that goes away fails at once (EIO).
    static bool write(int handle, const void* data, size_t n, const cTerminalTimeouts& t, size_t* written);
    // Reads up to n bytes within the read time-outs (see cTerminalTimeouts). A time-out is not
    // a failure. A device that goes away fails at once (EIO), with what was read in *got.
    static bool read(int handle, void* buffer, size_t n, const cTerminalTimeouts& t, size_t* got);

    // The calling thread's last system error, and setting it back after other calls.
    static int lastError();
    static void setLastError(int code);
    // The system's text for a code, cut to fit `size` bytes (zero-terminated).
    static void errorText(int code, char* buffer, size_t size);
    // `opening` tells a device that is not there from one that went away mid-transfer.
    static cErrorClass classify(int code, bool opening);
};
