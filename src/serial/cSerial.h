#pragma once

#include "cComError.h"
#include "cLineSettings.h"
#include "cOpenError.h"
#include "cTerminal.h"
#include "../core/cThread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// A serial port that is also its own transaction thread: requests from any thread are queued
// on the port and put on the wire one at a time by the port's thread, which reads the answer
// back into the request's record for the caller to collect.
//
// Lines run without flow control at the settings given to open(): 9600 8N1 unless said.
class cSerial : public cThread
{
public:
    // `handle` while no device is open (constructed or closed). A failed open leaves
    // cTerminal::INVALID_HANDLE instead, which closing accepts without effect.
    static constexpr int NO_DEVICE = -2;

    cSerial(std::string tag, FILE* out, FILE* err);
    ~cSerial() override;

    // Opens `name` (the device path, used as it is), configures it and starts the port's
    // thread. Meant to be called once, on a freshly constructed port.
    bool open(const std::string& name);
    // The same at the given line settings; the log lines show the settings applied. Settings
    // a port cannot take are refused with a line on `err` before the device is touched.
    bool open(const std::string& name, const cLineSettings& settings);
    // Stops the port's thread and closes the device; true when a device was closed.
    bool close();
    // Closes what a failed open left behind (a device that would not take the line settings
    // stays open) without a line: for a retry that failed the way the attempt before it did,
    // whose lines were written then. Any other port is closed as close() does.
    void dropFailedOpen();
    // True while some thread is inside one of the port's transaction or transfer calls: the
    // object must outlive the call.
    bool inUse() const { return callers.load() > 0; }

    // Executes one queued record on the port's thread: the request behind its 7-byte header
    // goes out, the answer comes back into the record. Returns 1 (OK) or 0 (ERROR).
    unsigned char runTransaction(cTransaction* t, void* arg) override;

    // Queues `request` and waits for its answer (at most 500 checks 1 ms apart). `reply` takes
    // at least 2048 bytes. Returns the record's final state (1 OK, 0 ERROR); 0 when nothing
    // was queued; 255 when the queue refused or lost the request. `reserved` is not used.
    virtual unsigned char transaction(const unsigned char* request, unsigned short size, unsigned char* reply,
                                      unsigned short* received, unsigned short count, unsigned short delay,
                                      unsigned short reserved, unsigned short timeout, unsigned short* ticket,
                                      unsigned char quiet);
    // The same with the delay in microseconds before the request goes out, counted on the
    // monotonic clock from the last transaction's end (see cThread::addTransactionOfLength):
    // a line's silence between frames (interFrameSilenceUs) without the millisecond rule's
    // excess. 0 means the thread's period, as above.
    unsigned char transaction(const unsigned char* request, unsigned short size, unsigned char* reply,
                              unsigned short* received, unsigned short count, std::chrono::microseconds delay,
                              unsigned short reserved, unsigned short timeout, unsigned short* ticket,
                              unsigned char quiet);
    virtual unsigned char transaction(const std::vector<unsigned char>& requestBytes,
                                      std::vector<unsigned char>& replyBytes, unsigned short count,
                                      unsigned short delay, unsigned short reserved, unsigned short timeout,
                                      unsigned short* ticket, unsigned char quiet);
    // Writes `size` bytes after emptying both queues. `elapsed` (may be null) takes the time.
    virtual bool transmit(const unsigned char* data, unsigned short size, float* elapsed, bool quiet);
    virtual bool transmit(const std::vector<unsigned char>& bytes, float* elapsed, bool quiet);
    // Reads up to `count` bytes (1 when 0, at most 2048) into `buffer` (2048 bytes). True when
    // the read could be carried out with a count and a time-out; a short answer is told by
    // *received.
    virtual bool receive(unsigned char* buffer, unsigned short* received, unsigned short count,
                         unsigned short timeout, float* elapsed, bool quiet);
    virtual bool receive(std::vector<unsigned char>& bytes, unsigned short count, unsigned short timeout,
                         float* elapsed, bool quiet);

    // Answers, or pieces of them, that came when no request of theirs was waiting (after the
    // time-out of their own, or between transactions) and were dropped unread: a meter slower
    // than its time-out. Counted on the port's thread; any thread may read it.
    uint32_t lateAnswers() const { return lateCount.load(); }

    // A copy of the port name that is safe to take on any thread, while the port's own
    // thread may be closing the port.
    std::string name() const;
    // The settings the device was last opened at (asked for, before it is opened).
    cLineSettings lineSettings() const;
    // The silence between frames this line needs, and the request delay that gives it: a
    // plug-in takes these from the port rather than computing them again.
    uint32_t interFrameSilenceUs() const { return lineSettings().interFrameSilenceUs(); }
    unsigned short requestDelayMs() const { return lineSettings().requestDelayMs(); }

    uint8_t mode;
    std::string portName;
    uint32_t requestedBaudRate;
    uint32_t baudRate;
    uint8_t byteSize;
    uint8_t frameBits;
    float frameTime;
    uint8_t parity;
    uint8_t stopBits;
    std::atomic<int> handle;
    cTerminalSettings dcb;
    cTerminalTimeouts timeouts;
    std::vector<std::string> stringList;
    cComError error;
    int32_t users;
    // Why the last open failed, in words a user can act on; reset by each open.
    cOpenError openError;

private:
    // A caller waiting for the answer of one record. It lives on the caller's stack and is
    // reachable from the port's thread only while it is registered for its record.
    struct Waiter
    {
        unsigned char* reply = nullptr;
        uint16_t length = 0;
        unsigned char result = 0;
        bool done = false;
        std::condition_variable wake;
    };

    // Behind both transaction() forms; without `delayUs` the millisecond rule of `delayMs`
    // applies, with it `delayMs` only goes into the request's header.
    unsigned char transact(const unsigned char* request, unsigned short size, unsigned char* reply,
                           unsigned short* received, unsigned short count, unsigned short delayMs,
                           std::optional<std::chrono::microseconds> delayUs, unsigned short timeout,
                           unsigned short* ticket, unsigned char quiet);
    unsigned char execute(cTransaction* r);
    void deliver(cTransaction* r, unsigned char result);
    void abandon(int index, Waiter& me);
    void settle(cTransaction& r, unsigned char result);
    bool closeFromOwnThread();
    void wakeAllWaiters();
    void dump(const char* direction, bool ok, const unsigned char* data, int done, int asked, float elapsed,
              float expected, bool quiet);

    // Guards the port name's writes and the reads from threads other than the port's. Held
    // only to copy or assign the string, never across a call that can block.
    mutable std::mutex nameMutex;
    // Guards `waiters` and every registered Waiter. Placing a request and registering its
    // waiter happen under it in one step, so the port's thread never finishes a record
    // before its caller is known. Held for short work only: a placement (whose queue lock
    // has its own 100 ms bound), an answer copy, a registration.
    std::mutex answerMutex;
    Waiter* waiters[TRSC_RECORDS] = {};
    // Set on the port's thread when the last transfer found the device gone.
    bool deviceLost = false;
    // Callers inside transaction(), transmit() or receive(); see inUse().
    std::atomic<int> callers{0};

    // Reads what comes after a time-out until the line is quiet, and drops it.
    // Within `budgetMs`, so that the caller still collects what came.
    void drainAfterTimeout(int handle, bool answerBegan, unsigned short timeout, uint32_t budgetMs);
    void dropLate(size_t bytes, const char* when);
    std::atomic<uint32_t> lateCount{0};
    // Whether the last transaction dropped bytes: a run of them is logged once.
    std::atomic<bool> lateRun{false};
};
