#pragma once

#include "cTransaction.h"

#include <QMutex>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

// Worker thread of the host: the "MAIN" and "MAIN GUI" threads, every serial port and every
// plug-in derive from it. A thread runs either a plain handler function until it is asked to
// stop (type 1) or a transaction loop over its queue of 50 fixed records (type 2).
//
// Start and stop are handshakes over flags: the caller starts the thread and polls `running`
// every millisecond; to stop, the caller clears `running` and polls `stopped` every 100 ms.
// Every flag that another thread polls is an atomic byte.
//
// Every diagnostic line is written to `out` or `err` and flushed at once; a null stream means
// standard output or standard error.
class cThread : public QThread
{
public:
    enum { TYPE_NONE = 0, TYPE_PLAIN = 1, TYPE_TRANSACTION = 2 };

    cThread(std::string tag, FILE* out, FILE* err);
    ~cThread() override;

    // Names, types and starts the thread; returns once the thread runs its loop (or at once when
    // it already runs, the type is unknown, or the mutex cannot be taken within 100 ms).
    // An empty tag keeps the current one.
    void startHandler(int type, void* arg, const std::string& tag);

    // Places a request of 1..2048 bytes in a free record and returns its ticket (0..49), or -1
    // with one line on `err` when it was refused. `delay` 0 means `period`. Any thread may call.
    short addTransaction(const char* data, unsigned short length, unsigned short delay);
    // The same for a length that has not been narrowed to 16 bits yet: one beyond them is
    // refused as the overflow it is, with its whole figure, where the narrowed length would
    // have wrapped into a short request read from a buffer that is not that long.
    short addTransactionOfLength(const char* data, size_t length, unsigned short delay);
    // The same with the delay in microseconds: the request starts once at least `delay` has
    // passed since the end of the last transaction on the monotonic clock, and no later than
    // the clock allows, where the millisecond rule may add up to 2 ms to a line's silence.
    // 0 means `period` under the millisecond rule, as above; a delay the millisecond rule
    // could not hold (beyond 65535 ms) or a negative one is refused.
    short addTransactionOfLength(const char* data, size_t length, std::chrono::microseconds delay);

    virtual void runHandler(void* arg);
    // Executes one record (state BUSY) and returns its final state, 1 (OK) or 0 (ERROR).
    virtual unsigned char runTransaction(cTransaction* t, void* arg);
    // Takes the queue mutex, waiting at most `ms` milliseconds; logs and returns false on time-out.
    virtual bool lock(int ms);
    virtual void unlock();
    // Null stands for standard output / standard error. Returns the stream set.
    virtual FILE* setOut(FILE* f);
    virtual FILE* setErr(FILE* f);

    // The streams as they are used: never null.
    FILE* outStream() const;
    FILE* errStream() const;

    std::atomic<bool> alive{true};
    float version = 3.0f;
    uint32_t id;
    std::atomic<int> type{TYPE_NONE};
    std::string tag;
    std::atomic<bool> running{false};
    std::atomic<bool> stopped{true};
    std::atomic<bool> busy{false};
    std::atomic<bool> discard{false};
    std::atomic<bool> debug{false};
    std::atomic<FILE*> out;
    std::atomic<FILE*> err;
    std::atomic<uint16_t> period{1};
    cTransaction buffers[TRSC_RECORDS];
    std::atomic<uint16_t> writeIndex{0};
    std::atomic<uint16_t> readIndex{0};
    void* handlerArg = nullptr;
    void (*handler)(void* arg) = nullptr;
    unsigned char (*trscHandler)(cTransaction* t, void* arg) = nullptr;
    QMutex mutex;

    // End of the last executed transaction of any transaction thread of the process, in
    // microseconds since 1970; 0 until the first one ends. Every request's delay counts from it.
    static std::atomic<int64_t> lastTrscEnd;
    // The same end on the monotonic clock (CLOCK_MONOTONIC, nanoseconds); 0 until the first
    // one ends. Delays given in microseconds count from it: a wall clock set back or forward
    // would shorten or stretch them.
    static std::atomic<int64_t> lastTrscEndMonoNs;

    // The stop handshake: clears the run flags and waits, 100 ms at a time, until the thread
    // confirms; then writes the "->exited" line. A thread that does not run is not waited for.
    // Called from the thread itself it only asks: the thread ends once its handler returns.
    void stopAndWait();

protected:
    // The one stop handshake behind stopAndWait, for a derived thread that has more waiting on
    // it than the idle loop: `wakeWaiters` (may be empty) is called each time the flags are
    // cleared, before the idle loop is woken. Not virtual, so that the class layout that
    // plug-ins are built against stays as it is.
    void stopHandshake(const std::function<void()>& wakeWaiters);
    void run() override;
    // Wakes an idle transaction loop: after placing a request, and after clearing `running`.
    void wakeIdle();

private:
    short place(const char* data, size_t length, uint16_t delayMs, int32_t delayUs);
    void transactionLoop();
    void executeRecord(cTransaction& r);
    // The idle transaction loop waits here until a request is placed or the thread is asked
    // to stop, at most kIdleWaitMs: an idle "MAIN" polling every period would cost more CPU
    // than the whole idle program may use. While discarding, only a new request counts.
    void idleWait(bool discarding);
    static constexpr int kIdleWaitMs = 100;

    // Counts entries into run(), so that startHandler also sees a thread that started and ended
    // between two of its polls.
    std::atomic<unsigned> runCount{0};
    std::mutex idleMutex;
    std::condition_variable idleWake;
};
