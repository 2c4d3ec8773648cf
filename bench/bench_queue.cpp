// Back-to-back transactions on one transaction thread with an empty handler and delay 0,
// against a bare loop of the sleeps that the delay rule mandates, measured in the same run.
//
// The delay rule: before each transaction the loop takes the time, sleeps 1 ms, and repeats
// until at least `delay` whole milliseconds separate the time taken from the end of the last
// transaction. The queue is kept full, so the loop never idles between transactions.
#include "BenchShort.h"
#include "MandatedSleeps.h"
#include "core/cThread.h"

#include <chrono>
#include <cstdio>
#include <deque>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

unsigned char emptyHandler(cTransaction*, void*)
{
    return TRSC_OK;
}

double queuedTransactionsMs(cThread& t, int n)
{
    const char request = 0x42;
    std::deque<short> inFlight;
    int placed = 0;
    const auto t0 = Clock::now();
    while (placed < n && inFlight.size() < 40) {
        inFlight.push_back(t.addTransaction(&request, 1, 0));
        placed++;
    }
    int done = 0;
    while (done < n) {
        cTransaction& r = t.buffers[inFlight.front()];
        uint8_t s;
        while ((s = r.state.load(std::memory_order_acquire)) == TRSC_QUEUED || s == TRSC_BUSY)
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        r.state.store(TRSC_EMPTY, std::memory_order_release);
        inFlight.pop_front();
        done++;
        if (placed < n) {
            const short ticket = t.addTransaction(&request, 1, 0);
            if (ticket < 0) {
                fprintf(stderr, "request refused\n");
                return -1;
            }
            inFlight.push_back(ticket);
            placed++;
        }
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// A request placed on a thread that has been idle for a while: from placing it to its start.
// The delay rule's share is a single 1 ms sleep (the last end is long past); the rest is the
// idle loop noticing the request. Measured against a bare 1 ms sleep in the same run.
void idleWake(cThread& t, int n)
{
    const char request = 0x42;
    double wakeMs = 0, sleepMs = 0;
    for (int i = 0; i < n; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const auto s0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        sleepMs += std::chrono::duration<double, std::milli>(Clock::now() - s0).count();
        const short ticket = t.addTransaction(&request, 1, 0);
        if (ticket < 0)
            return;
        cTransaction& r = t.buffers[ticket];
        uint8_t st;
        while ((st = r.state.load(std::memory_order_acquire)) == TRSC_QUEUED || st == TRSC_BUSY)
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        wakeMs += r.queueMs;
        r.state.store(TRSC_EMPTY, std::memory_order_release);
    }
    printf("idle thread, %d requests 20 ms apart: placed to started %.3f ms, bare 1 ms sleep %.3f ms, "
           "ratio %.3f\n", n, wakeMs / n, sleepMs / n, wakeMs / sleepMs);
}

} // namespace

int main()
{
    FILE* devnull = fopen("/dev/null", "w");
    cThread t("BENCH", devnull, stderr);
    t.trscHandler = emptyHandler;
    t.startHandler(cThread::TYPE_TRANSACTION, nullptr, "");

    const int n = benchShortOr(1000, 300);
    const int rounds = benchShortOr(3, 2);
    printf("Back-to-back transactions, empty handler, delay 0 (period 1 ms), %d per round\n", n);
    printf("%-6s %14s %14s %14s %10s\n", "round", "trsc/s", "period ms", "mandated ms", "overhead");
    double sumQueue = 0, sumBare = 0;
    for (int round = 1; round <= rounds; ++round) {
        const double q = queuedTransactionsMs(t, n);
        const double b = mandatedSleepsMs(n) * n;
        sumQueue += q;
        sumBare += b;
        printf("%-6d %14.1f %14.4f %14.4f %9.2f%%\n", round, n * 1000.0 / q, q / n, b / n, 100.0 * (q - b) / b);
    }
    printf("all    %14.1f %14.4f %14.4f %9.2f%%\n", rounds * n * 1000.0 / sumQueue, sumQueue / (rounds * n),
           sumBare / (rounds * n), 100.0 * (sumQueue - sumBare) / sumBare);
    printf("ratio period/mandated: %.4f\n", sumQueue / sumBare);
    idleWake(t, 200);

    // The stop's own console lines are not part of the report.
    fflush(stdout);
    dup2(fileno(devnull), 1);
    dup2(fileno(devnull), 2);
    t.stopAndWait();
    return 0;
}
