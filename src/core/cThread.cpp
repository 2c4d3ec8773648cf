#include "cThread.h"

#include "cLog.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <sys/prctl.h>
#include <thread>

std::atomic<int64_t> cThread::lastTrscEnd{0};
std::atomic<int64_t> cThread::lastTrscEndMonoNs{0};

namespace {

void sleepMs(unsigned ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int64_t monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Sleeps until the monotonic clock reads `ns`; a signal does not cut the wait short.
void sleepUntilMonotonicNs(int64_t ns)
{
    timespec until{};
    until.tv_sec = time_t(ns / 1000000000);
    until.tv_nsec = long(ns % 1000000000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

uint16_t nextIndex(uint16_t i)
{
    return i < TRSC_RECORDS - 1 ? uint16_t(i + 1) : uint16_t(0);
}

const char kSeparator[] =
    "=======================================================================================\n";
static_assert(sizeof(kSeparator) == 89, "87 '=' and a newline");

// True while the process has a thread besides the one calling.
bool otherThreadLeft()
{
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks)
        return false;
    int count = 0;
    while (dirent* e = readdir(tasks)) {
        if (e->d_name[0] != '.')
            ++count;
    }
    closedir(tasks);
    return count > 1;
}

// A QThread's wait() returns once run() is over, while the system thread still has its
// thread-local clean-up to do, in which Qt lets go of its share of the thread's data. That
// holds for our threads and for Qt's own (it paints and scales images on pool threads that it
// ends when the application object goes). A process that exits in that moment leaves the data
// behind, so at exit it waits, bounded, until it is down to the thread that exits.
void waitForOtherThreads()
{
    for (int i = 0; i < 200 && otherThreadLeft(); ++i)
        sleepMs(1);
}

const struct OtherThreadsAtExit
{
    OtherThreadsAtExit() { atexit(waitForOtherThreads); }
} otherThreadsAtExit;

} // namespace

cThread::cThread(std::string tagName, FILE* o, FILE* e)
    : QThread(nullptr), id(uint32_t(reinterpret_cast<uintptr_t>(this))), tag(std::move(tagName)), out(o), err(e)
{
    FILE* f = outStream();
    cLog::line(f, "cThread @ 0x%08X: Version %.01f (using QThread)", id, double(version));
    cLog::line(f, "cThread @ 0x%08X: Thread tag is '%s'", id, tag.c_str());
}

cThread::~cThread()
{
    stopAndWait();
    FILE* f = outStream();
    if (!tag.empty())
        cLog::line(f, "cThread @ 0x%08X: %s thread destroyed", id, tag.c_str());
    else
        cLog::line(f, "cThread @ 0x%08X: Thread destroyed", id);
}

FILE* cThread::outStream() const
{
    FILE* f = out.load(std::memory_order_relaxed);
    return f ? f : stdout;
}

FILE* cThread::errStream() const
{
    FILE* f = err.load(std::memory_order_relaxed);
    return f ? f : stderr;
}

FILE* cThread::setOut(FILE* f)
{
    out = f ? f : stdout;
    return out;
}

FILE* cThread::setErr(FILE* f)
{
    err = f ? f : stderr;
    return err;
}

bool cThread::lock(int ms)
{
    if (mutex.tryLock(ms))
        return true;
    FILE* f = errStream();
    cLog::line(f, "cThread @ 0x%08X: %s thread -> Unable to lock mutex after %d ms", id, tag.c_str(), ms);
    return false;
}

void cThread::unlock()
{
    mutex.unlock();
}

void cThread::runHandler(void* arg)
{
    if (handler)
        handler(arg);
}

unsigned char cThread::runTransaction(cTransaction* t, void* arg)
{
    if (trscHandler)
        return trscHandler(t, arg);
    return TRSC_OK;
}

void cThread::startHandler(int newType, void* arg, const std::string& newTag)
{
    if (running && !stopped)
        return;

    handlerArg = arg;

    const std::string& next = newTag.empty() ? tag : newTag;
    if (next != tag) {
        cLog::line(outStream(), "cThread @ 0x%08X: Thread tag changed from '%s' to '%s'", id, tag.c_str(),
                next.c_str());
        tag = next;
    }

    type = newType;
    if (newType != TYPE_PLAIN && newType != TYPE_TRANSACTION) {
        FILE* e = errStream();
        cLog::line(e, "cThread @ 0x%08X: Unknown thread type %d", id, newType);
        return;
    }

    cLog::line(outStream(), "cThread @ 0x%08X: %s thread -> Using QMutex", id, tag.c_str());

    // A previous run may still be leaving run(); QThread::start would then do nothing. Waiting
    // for `stopped` first also orders that run's last writes before this start for every
    // observer, which QThread::wait alone does not show to a race detector.
    while (!stopped)
        sleepMs(1);
    if (isRunning())
        wait();

    const unsigned runsBefore = runCount.load();
    bool started = false;
    if (lock(100)) {
        start(QThread::InheritPriority);
        started = true;
        unlock();
    } else {
        cLog::line(errStream(), "cThread @ 0x%08X: %s thread -> Unable to start thread handler safely", id,
                tag.c_str());
    }

    if (!started)
        return;
    // A handler that returns at once may set and clear `running` between two polls; the run
    // counter still shows that the thread ran.
    while (!running && runCount.load() == runsBefore)
        sleepMs(1);
}

void cThread::run()
{
    const int t = type;
    if (t != TYPE_PLAIN && t != TYPE_TRANSACTION)
        return;

    stopped = false;
    // `running` is set only after the start line: startHandler returns once it sees it, and
    // its caller may then change the tag that the line reads (the port registry does).
    const auto markRunning = [this] {
        running = true;
        runCount.fetch_add(1);
    };

    FILE* f = outStream();
    if (t == TYPE_PLAIN) {
        cLog::line(f, "cThread @ 0x%08X: Starting %s thread handler", id, tag.c_str());
        markRunning();
        runHandler(handlerArg);
        f = outStream();
        cLog::line(f, "cThread @ 0x%08X: %s thread handler stopped", id, tag.c_str());
    } else {
        cLog::line(f, "cThread @ 0x%08X: Starting %s transaction thread handler", id, tag.c_str());
        // The delay wait is made of 1 ms sleeps, each of which the kernel may stretch by the
        // thread's timer slack (50 us by default); on a serial line that lengthens every
        // silence between frames for nothing.
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        markRunning();
        transactionLoop();
        f = outStream();
        cLog::line(f, "cThread @ 0x%08X: %s transaction thread handler stopped", id, tag.c_str());
    }
    type = TYPE_NONE;
    running = false;
    stopped = true;
}

void cThread::stopAndWait()
{
    stopHandshake(nullptr);
}

void cThread::stopHandshake(const std::function<void()>& wakeWaiters)
{
    const auto askToStop = [&] {
        running = false;
        discard = false;
        alive = false;
        if (wakeWaiters)
            wakeWaiters();
    };
    // Waiting for our own confirmation would never end: the thread is only asked, and it
    // confirms once its handler has returned. Only a running thread can be the caller.
    if (isRunning() && QThread::currentThread() == this) {
        askToStop();
        cLog::line(stdout, "cThread @ 0x%08X: %s thread ->exited", id, tag.c_str());
        return;
    }
    if (running) {
        while (!stopped) {
            askToStop();
            wakeIdle();
            cLog::line(stderr, "cThread @ 0x%08X: %s thread -> is trying exit and waiting on confirm", id,
                    tag.c_str());
            sleepMs(100);
        }
    }
    // A thread that cleared `running` itself (a port that closed itself) may still be leaving
    // run(), finishing its record: its confirmation is awaited too. `stopped` is the last thing
    // run() writes; QThread must also have left run() before the object may go (Qt aborts on a
    // destroyed running QThread), which by then takes no time.
    while (!stopped && isRunning())
        sleepMs(1);
    if (stopped)
        wait();
    cLog::line(stdout, "cThread @ 0x%08X: %s thread ->exited", id, tag.c_str());
}

short cThread::addTransaction(const char* data, unsigned short length, unsigned short delay)
{
    return addTransactionOfLength(data, length, delay);
}

short cThread::addTransactionOfLength(const char* data, size_t length, unsigned short delay)
{
    return place(data, length, delay, cTransaction::kMsDelay);
}

short cThread::addTransactionOfLength(const char* data, size_t length, std::chrono::microseconds delay)
{
    constexpr int64_t kLongestUs = int64_t(UINT16_MAX) * 1000;
    const int64_t us = delay.count();
    if (us < 0 || us > kLongestUs) {
        FILE* e = errStream();
        cLog::line(e, "cThread @ 0x%08X: %s thread -> Delay %lld us out of range 0..%lld", id, tag.c_str(),
                (long long)us, (long long)kLongestUs);
        return -1;
    }
    if (us == 0)
        return place(data, length, 0, cTransaction::kMsDelay);
    // The millisecond figure is what the timing line shows, rounded up so it never reads 0.
    return place(data, length, uint16_t((us + 999) / 1000), int32_t(us));
}

short cThread::place(const char* data, size_t length, uint16_t delayMs, int32_t delayUs)
{
    if (!running) {
        FILE* e = errStream();
        cLog::line(e, "cThread @ 0x%08X: %s thread -> Thread not running", id, tag.c_str());
        return -1;
    }
    if (type != TYPE_TRANSACTION) {
        FILE* e = errStream();
        cLog::line(e, "cThread @ 0x%08X: %s thread -> Not a transaction thread", id, tag.c_str());
        return -1;
    }
    if (data == nullptr || length == 0) {
        FILE* e = errStream();
        cLog::line(e, "cThread @ 0x%08X: %s thread -> NULL pointer or no input data to handle", id, tag.c_str());
        return -1;
    }
    if (length > TRSC_BUFFER_SIZE) {
        FILE* e = errStream();
        cLog::line(e, "cThread @ 0x%08X: %s thread -> Buffer overflow %zu/%d bytes", id, tag.c_str(), length,
                TRSC_BUFFER_SIZE);
        return -1;
    }
    if (!lock(100))
        return -1;

    // The search does not wrap: from writeIndex (or from 0 once writeIndex reached the last
    // record) up to the last record.
    const uint16_t w = writeIndex.load(std::memory_order_relaxed);
    int found = -1;
    for (int i = w < TRSC_RECORDS - 1 ? w : 0; i < TRSC_RECORDS; ++i) {
        const uint8_t s = buffers[i].state.load(std::memory_order_acquire);
        if (s != TRSC_BUSY && s != TRSC_QUEUED) {
            found = i;
            break;
        }
    }
    if (found < 0) {
        unlock();
        FILE* e = errStream();
        cLog::line(e, "cThread @ 0x%08X: %s thread -> All buffers are busy", id, tag.c_str());
        return -1;
    }

    cTransaction& r = buffers[found];
    r.index = uint16_t(found);
    memcpy(r.input, data, length);
    r.inputLength = uint16_t(length);
    memset(r.output, 0xFF, sizeof(r.output));
    r.outputLength = 0;
    r.delay = delayMs ? delayMs : period.load();
    r.delayUs = delayUs;
    r.execMs = 0;
    r.queueMs = 0;
    r.queued = cTimeStamp::now();
    r.state.store(TRSC_QUEUED, std::memory_order_release);
    writeIndex.store(nextIndex(uint16_t(found)), std::memory_order_release);
    unlock();
    wakeIdle();
    return short(found);
}

void cThread::wakeIdle()
{
    // Taking the lock orders the wake after a waiter's look at the queue: it either saw the
    // request or is already waiting.
    { std::lock_guard<std::mutex> g(idleMutex); }
    idleWake.notify_all();
}

void cThread::idleWait(bool discarding)
{
    std::unique_lock<std::mutex> l(idleMutex);
    idleWake.wait_for(l, std::chrono::milliseconds(kIdleWaitMs), [this, discarding] {
        const uint16_t r = readIndex.load(std::memory_order_relaxed);
        return !running || r != writeIndex.load(std::memory_order_acquire) ||
               (!discarding && buffers[r].state.load(std::memory_order_acquire) == TRSC_QUEUED);
    });
}

void cThread::transactionLoop()
{
    while (running) {
        const uint16_t r = readIndex.load(std::memory_order_relaxed);
        const uint16_t w = writeIndex.load(std::memory_order_acquire);

        if (discard) {
            if (r == w)
                idleWait(true);
            else
                readIndex.store(nextIndex(r), std::memory_order_relaxed);
            continue;
        }

        cTransaction& rec = buffers[r];
        const uint8_t s = rec.state.load(std::memory_order_acquire);
        // Equal indices mean an idle ring, or a ring that a burst filled all the way round:
        // then the record at readIndex is queued and the loop goes on in ring order.
        if (r == w && s != TRSC_QUEUED) {
            idleWait(false);
            continue;
        }
        readIndex.store(nextIndex(r), std::memory_order_relaxed);
        // Taking the record is an exchange, so that a requester that gives up on a queued
        // record and the loop that takes it cannot both win.
        uint8_t expected = TRSC_QUEUED;
        if (s != TRSC_QUEUED || !rec.state.compare_exchange_strong(expected, TRSC_BUSY, std::memory_order_acq_rel))
            continue;
        executeRecord(rec);
    }
}

void cThread::executeRecord(cTransaction& r)
{
    busy = true;

    if (r.delayUs != cTransaction::kMsDelay) {
        // One sleep to the very moment. No transaction yet in this process counts as elapsed.
        const int64_t last = lastTrscEndMonoNs.load(std::memory_order_relaxed);
        const int64_t due = last + int64_t(r.delayUs) * 1000;
        if (last != 0 && monotonicNs() < due)
            sleepUntilMonotonicNs(due);
    } else {
        // The time is taken before the sleep and the loop sleeps at least once, so every
        // transaction starts at least one 1 ms sleep after it was taken. A clock set back, or
        // no transaction yet in this process, counts as elapsed.
        for (;;) {
            const int64_t nowUs = cTimeStamp::now().toMicroseconds();
            sleepMs(1);
            const int64_t last = lastTrscEnd.load(std::memory_order_relaxed);
            if (last == 0)
                break;
            const int64_t elapsedMs = (nowUs - last) / 1000;
            if (elapsedMs < 0 || elapsedMs >= r.delay)
                break;
        }
    }

    r.started = cTimeStamp::now();
    const unsigned char result = runTransaction(&r, handlerArg);
    r.finished = cTimeStamp::now();
    const int64_t endMonoNs = monotonicNs();
    r.execMs = r.started.msTo(r.finished);
    r.queueMs = r.queued.msTo(r.started);

    // Once the state is stored a collector owns the record and may hand it to the next
    // requester, so the timing line is taken from copies made before.
    const int index = r.index;
    const int delay = r.delay;
    const double execMs = r.execMs;
    const double queueMs = r.queueMs;
    const int64_t endUs = r.finished.toMicroseconds();

    r.state.store(result, std::memory_order_release);
    busy = false;
    lastTrscEnd.store(endUs, std::memory_order_relaxed);
    lastTrscEndMonoNs.store(endMonoNs, std::memory_order_relaxed);

    if (debug && (result == TRSC_OK || result == TRSC_ERROR)) {
        FILE* f = outStream();
        cLog::text(f, cLog::format("cThread @ 0x%08X: %s thread %s Trsc %02d -> Exec=%.03fms Queue=%.03fms/%dms "
                                   "Status=%s\n",
                                   id, tag.c_str(), "DBG", index, execMs, queueMs, delay, trscStateName(result)) +
                          kSeparator);
    }
}
