// The transaction queue: tickets, refusals, delays, timing lines, discard, a full ring and
// several requesters at once.
#include "CapturedFile.h"
#include "StdStreamCapture.h"
#include "core/cThread.h"

#include <QRegularExpression>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <cstring>
#include <iterator>
#include <random>
#include <thread>
#include <vector>

#include <sys/prctl.h>
#include <time.h>

namespace {

// Echoes the request into the answer and records the order in which records were executed.
class cEchoThread : public cThread
{
public:
    cEchoThread(FILE* out, FILE* err) : cThread("Q", out, err) {}
    ~cEchoThread() override { stopAndWait(); }

    unsigned char runTransaction(cTransaction* t, void*) override
    {
        memcpy(t->output, t->input, t->inputLength);
        t->outputLength = t->inputLength;
        timerSlackNs = prctl(PR_GET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL);
        const int n = executed.load();
        if (n < kSpans)
            spans[n].startNs = monotonicNs();
        if (n < int(sizeof(order) / sizeof(order[0])))
            order[n] = t->index;
        // The thread stamps the end after this returns, so a gap measured from here is at most
        // the gap the thread saw.
        if (n < kSpans)
            spans[n].returnNs = monotonicNs();
        executed.fetch_add(1);
        return result;
    }

    static int64_t monotonicNs()
    {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
    }

    // When each execution began and when its handler returned, on the monotonic clock.
    struct Span
    {
        int64_t startNs = 0;
        int64_t returnNs = 0;
    };
    static constexpr int kSpans = 64;
    Span spans[kSpans];

    std::atomic<int> executed{0};
    // The thread's timer slack, as its handler last saw it.
    std::atomic<long> timerSlackNs{-1};
    uint16_t order[4096] = {};
    unsigned char result = TRSC_OK;
};

// Waits, with a generous bound, until the record is neither queued nor being executed.
uint8_t waitDone(cThread& t, short ticket)
{
    for (int i = 0; i < 10000; ++i) {
        const uint8_t s = t.buffers[ticket].state.load(std::memory_order_acquire);
        if (s != TRSC_QUEUED && s != TRSC_BUSY)
            return s;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return TRSC_BUSY;
}

QString hexId(const cThread& t)
{
    return QString::asprintf("0x%08X", t.id);
}

} // namespace

class TestQueue : public QObject
{
    Q_OBJECT

    CapturedFile out, err;
    StdStreamCapture* console = nullptr;

private slots:
    void init()
    {
        out.clear();
        err.clear();
        console = new StdStreamCapture(1); // the "->exited" lines of every stop
    }
    void cleanup()
    {
        delete console;
        console = nullptr;
    }

    void ticketsOnAnIdleThread()
    {
        cEchoThread t(out.file(), err.file());
        t.startHandler(cThread::TYPE_TRANSACTION, nullptr, "");
        const char byte = 7;
        for (int i = 0; i < 120; ++i) {
            const short ticket = t.addTransaction(&byte, 1, 0);
            QCOMPARE(int(ticket), i % 49);
            QCOMPARE(int(waitDone(t, ticket)), int(TRSC_OK));
        }
        QCOMPARE(int(t.buffers[49].state), int(TRSC_EMPTY));
        QVERIFY(err.text().isEmpty());
    }

    // The search runs from writeIndex up to the last record and does not wrap, so free records
    // below its start do not help.
    void allBuffersBusyDespiteFreeRecordsBelow()
    {
        cEchoThread t(out.file(), err.file());
        t.startHandler(cThread::TYPE_TRANSACTION, nullptr, "");
        t.discard = true;
        const char byte = 1;
        for (int i = 0; i < 50; ++i)
            QCOMPARE(int(t.addTransaction(&byte, 1, 0)), i);
        for (int i = 0; i < 10; ++i)
            t.buffers[i].state = TRSC_EMPTY; // collected
        for (int i = 0; i < 10; ++i)
            QCOMPARE(int(t.addTransaction(&byte, 1, 0)), i);
        QCOMPARE(int(t.writeIndex), 10);
        for (int i = 0; i < 5; ++i)
            t.buffers[i].state = TRSC_ERROR; // requesters that gave up
        err.clear();
        QCOMPARE(int(t.addTransaction(&byte, 1, 0)), -1);
        QCOMPARE(err.text(), QString("cThread @ %1: Q thread -> All buffers are busy\n").arg(hexId(t)));
        QCOMPARE(int(t.writeIndex), 10);
        QCOMPARE(t.executed.load(), 0);
    }

    void refusals()
    {
        cEchoThread t(out.file(), err.file());
        static char big[2049];
        const QString id = hexId(t);

        QCOMPARE(int(t.addTransaction(big, 1, 0)), -1);
        QCOMPARE(err.text(), QString("cThread @ %1: Q thread -> Thread not running\n").arg(id));

        t.startHandler(cThread::TYPE_PLAIN, nullptr, "");
        err.clear();
        QTRY_VERIFY(t.stopped);
        t.running = true; // a plain thread seen while it runs
        QCOMPARE(int(t.addTransaction(big, 1, 0)), -1);
        t.running = false;
        QCOMPARE(err.text(), QString("cThread @ %1: Q thread -> Not a transaction thread\n").arg(id));

        t.startHandler(cThread::TYPE_TRANSACTION, nullptr, "");
        t.discard = true;
        err.clear();
        QCOMPARE(int(t.addTransaction(nullptr, 5, 0)), -1);
        QCOMPARE(int(t.addTransaction(big, 0, 0)), -1);
        QCOMPARE(err.text(), QString("cThread @ %1: Q thread -> NULL pointer or no input data to handle\n").repeated(2).arg(id));
        err.clear();
        QCOMPARE(int(t.addTransaction(big, 2049, 0)), -1);
        QCOMPARE(err.text(), QString("cThread @ %1: Q thread -> Buffer overflow 2049/2048 bytes\n").arg(id));
        QCOMPARE(int(t.writeIndex), 0);
        QCOMPARE(int(t.buffers[0].state), int(TRSC_EMPTY));
        QCOMPARE(int(t.addTransaction(big, 2048, 0)), 0);
        QCOMPARE(int(t.buffers[0].inputLength), 2048);
    }

    void placedRecordIsReset()
    {
        cEchoThread t(out.file(), err.file());
        t.startHandler(cThread::TYPE_TRANSACTION, nullptr, "");
        t.discard = true;
        cTransaction& r = t.buffers[0];
        memset(r.output, 0x11, sizeof r.output);
        r.outputLength = 9;
        r.execMs = 3;
        r.queueMs = 4;
        const char req[] = {1, 2, 3};
        const cTimeStamp before = cTimeStamp::now();
        QCOMPARE(int(t.addTransaction(req, 3, 0)), 0);
        QCOMPARE(int(r.state), int(TRSC_QUEUED));
        QCOMPARE(int(r.index), 0);
        QCOMPARE(int(r.inputLength), 3);
        QCOMPARE(memcmp(r.input, req, 3), 0);
        QCOMPARE(int(r.outputLength), 0);
        for (unsigned char b : r.output)
            QCOMPARE(int(b), 0xFF);
        QCOMPARE(r.execMs, 0.0f);
        QCOMPARE(r.queueMs, 0.0f);
        QCOMPARE(int(r.delay), 1); // delay 0 takes the thread's period
        QVERIFY(before.msTo(r.queued) >= 0);
        QCOMPARE(int(t.addTransaction(req, 3, 250)), 1);
        QCOMPARE(int(t.buffers[1].delay), 250);
        t.period = 4;
        QCOMPARE(int(t.addTransaction(req, 3, 0)), 2);
        QCOMPARE(int(t.buffers[2].delay), 4);
    }

    void discardLeavesRequestsQueued()
    {
        cEchoThread t(out.file(), err.file());
        t.startHandler(cThread::TYPE_TRANSACTION, nullptr, "");
        t.discard = true;
        const char byte = 1;
        for (int i = 0; i < 5; ++i)
            t.addTransaction(&byte, 1, 0);
        QTRY_COMPARE(int(t.readIndex), int(t.writeIndex));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        for (int i = 0; i < 5; ++i)
            QCOMPARE(int(t.buffers[i].state), int(TRSC_QUEUED));
        QCOMPARE(t.executed.load(), 0);
    }

    // The delay counts from the end of the last transaction of any thread.
    void delayCountsFromLastEnd()
    {
        cEchoThread a(out.file(), err.file());
        cEchoThread b(out.file(), err.file());
        a.startHandler(cThread::TYPE_TRANSACTION, nullptr, "");
        b.startHandler(cThread::TYPE_TRANSACTION, nullptr, "");
        const char byte = 1;
        QCOMPARE(int(waitDone(a, a.addTransaction(&byte, 1, 0))), int(TRSC_OK));
        const cTimeStamp end = a.buffers[0].finished;
        QCOMPARE(cThread::lastTrscEnd.load(), end.toMicroseconds());

        const short ticket = b.addTransaction(&byte, 1, 500);
        QCOMPARE(int(waitDone(b, ticket)), int(TRSC_OK));
        const cTransaction& r = b.buffers[ticket];
        QVERIFY2(end.msTo(r.started) >= 500.0f, qPrintable(QString::number(end.msTo(r.started))));
        const float gap = end.msTo(r.queued);
        QVERIFY(r.queueMs + gap >= 500.0f);
        QCOMPARE(r.queueMs, r.queued.msTo(r.started));
        QCOMPARE(r.execMs, r.started.msTo(r.finished));
        // The wait's 1 ms sleeps are not stretched by the default 50 us slack: on a serial
        // port each one lengthens the silence before a request.
        QCOMPARE(b.timerSlackNs.load(), 1L);
    }

    // A delay in microseconds counts on the monotonic clock from the end of the last
    // transaction of any thread, for each request of a burst too. 0 is the period under the
    // millisecond rule, as for the millisecond form; a delay beyond that rule's range is refused.
    void microsecondDelayCountsFromLastEnd()
    {
        using std::chrono::microseconds;
        cEchoThread a(out.file(), err.file());
        cEchoThread b(out.file(), err.file());
        a.startHandler(cThread::TYPE_TRANSACTION, nullptr, "");
        b.startHandler(cThread::TYPE_TRANSACTION, nullptr, "");
        const char byte = 1;
        QCOMPARE(int(waitDone(a, a.addTransactionOfLength(&byte, 1, microseconds(0)))), int(TRSC_OK));

        // 3.5 characters at 19200 8E1, then one well above the millisecond rule's steps.
        const int64_t delaysUs[] = {2005, 2005, 2005, 2005, 2005, 2005, 2005, 2005, 30000, 2005};
        const int n = int(std::size(delaysUs));
        short tickets[n];
        for (int i = 0; i < n; ++i)
            tickets[i] = b.addTransactionOfLength(&byte, 1, microseconds(delaysUs[i]));
        for (int i = 0; i < n; ++i)
            QCOMPARE(int(waitDone(b, tickets[i])), int(TRSC_OK));
        QCOMPARE(b.executed.load(), n);
        QCOMPARE(int(b.buffers[tickets[0]].delay), 3); // the timing line's figure, rounded up
        for (int i = 0; i < n; ++i) {
            const int64_t endNs = i == 0 ? a.spans[0].returnNs : b.spans[i - 1].returnNs;
            const int64_t gapUs = (b.spans[i].startNs - endNs) / 1000;
            QVERIFY2(gapUs >= delaysUs[i], qPrintable(QString("request %1 started %2 us after the last end, asked %3")
                                                          .arg(i)
                                                          .arg(gapUs)
                                                          .arg(delaysUs[i])));
        }

        b.period = 200;
        const short onPeriod = b.addTransactionOfLength(&byte, 1, microseconds(0));
        QCOMPARE(int(waitDone(b, onPeriod)), int(TRSC_OK));
        QCOMPARE(int(b.buffers[onPeriod].delay), 200);
        QVERIFY((b.spans[n].startNs - b.spans[n - 1].returnNs) / 1000000 >= 200);

        QCOMPARE(b.addTransactionOfLength(&byte, 1, microseconds(-1)), short(-1));
        QCOMPARE(b.addTransactionOfLength(&byte, 1, microseconds(65535001)), short(-1));
        const QString id = QRegularExpression::escape(hexId(b));
        QVERIFY(QRegularExpression("cThread @ " + id + ": Q thread -> Delay -1 us out of range 0\\.\\.65535000\n")
                        .match(err.text())
                        .hasMatch());
        QVERIFY(err.text().contains("Delay 65535001 us out of range"));
    }

    void debugTimingLines()
    {
        cEchoThread t(out.file(), err.file());
        t.startHandler(cThread::TYPE_TRANSACTION, nullptr, "");
        const char byte = 1;
        QCOMPARE(int(waitDone(t, t.addTransaction(&byte, 1, 0))), int(TRSC_OK));
        out.clear();
        QCOMPARE(int(waitDone(t, t.addTransaction(&byte, 1, 0))), int(TRSC_OK));
        QVERIFY(out.text().isEmpty());

        t.debug = true;
        QCOMPARE(int(waitDone(t, t.addTransaction(&byte, 1, 0))), int(TRSC_OK));
        t.result = TRSC_ERROR;
        QCOMPARE(int(waitDone(t, t.addTransaction(&byte, 1, 3))), int(TRSC_ERROR));
        const QString sep = QString(87, '=') + "\n";
        const QString id = QRegularExpression::escape(hexId(t));
        const QRegularExpression re(
            "^cThread @ " + id + ": Q thread DBG Trsc 02 -> Exec=\\d+\\.\\d{3}ms Queue=\\d+\\.\\d{3}ms/1ms Status=OK\n" +
            sep + "cThread @ " + id +
            ": Q thread DBG Trsc 03 -> Exec=\\d+\\.\\d{3}ms Queue=\\d+\\.\\d{3}ms/3ms Status=ERROR\n" + sep + "$");
        QVERIFY2(re.match(out.text()).hasMatch(), qPrintable(out.text()));
    }

    // A burst that fills every record while the loop is held puts readIndex and writeIndex on
    // the same record with all fifty queued: they must all run, in ring order, with no further
    // request to move writeIndex.
    void fullRingBurstRunsEveryRecord()
    {
        cEchoThread t(out.file(), err.file());
        t.startHandler(cThread::TYPE_TRANSACTION, nullptr, "");
        const char byte = 1;
        // Move the ring away from 0 first, so that the burst wraps.
        for (int i = 0; i < 20; ++i)
            QCOMPARE(int(waitDone(t, t.addTransaction(&byte, 1, 0))), int(TRSC_OK));
        t.executed = 0;
        t.discard = true;
        std::vector<short> tickets;
        for (int i = 0; i < 60; ++i) {
            const short ticket = t.addTransaction(reinterpret_cast<const char*>(&i), sizeof i, 0);
            if (ticket >= 0)
                tickets.push_back(ticket);
        }
        QCOMPARE(int(tickets.size()), 50);
        QTRY_COMPARE(int(t.readIndex), int(t.writeIndex));
        const int start = t.readIndex;
        QCOMPARE(int(t.buffers[start].state), int(TRSC_QUEUED));
        t.discard = false;
        for (short ticket : tickets)
            QCOMPARE(int(waitDone(t, ticket)), int(TRSC_OK));
        QCOMPARE(t.executed.load(), 50);
        for (int i = 0; i < 50; ++i)
            QCOMPARE(int(t.order[i]), (start + i) % 50);
        // And the ticket order is the order of placement.
        for (int i = 0; i < 50; ++i) {
            int value;
            memcpy(&value, t.buffers[tickets[i]].output, sizeof value);
            QCOMPARE(value, i);
        }
    }

    // Requesters on several threads each collect their own answers; no record is shared.
    void severalRequestersNeverShareARecord()
    {
        cEchoThread t(out.file(), err.file());
        t.startHandler(cThread::TYPE_TRANSACTION, nullptr, "");
        constexpr int kThreads = 4;
        constexpr int kRequests = 300;
        std::atomic<int> mismatches{0}, answered{0}, refused{0};
        std::vector<std::thread> requesters;
        for (int th = 0; th < kThreads; ++th) {
            requesters.emplace_back([&, th] {
                std::mt19937 rng(th);
                char req[64];
                unsigned char answer[64];
                for (int n = 0; n < kRequests; ++n) {
                    const int len = 8 + int(rng() % 56);
                    for (int i = 0; i < len; ++i)
                        req[i] = char(rng());
                    memcpy(req, &th, sizeof th);
                    memcpy(req + 4, &n, sizeof n);
                    short ticket;
                    while ((ticket = t.addTransaction(req, uint16_t(len), 0)) < 0) {
                        refused++;
                        std::this_thread::sleep_for(std::chrono::microseconds(200));
                    }
                    cTransaction& r = t.buffers[ticket];
                    uint8_t s;
                    while ((s = r.state.load(std::memory_order_acquire)) == TRSC_QUEUED || s == TRSC_BUSY)
                        std::this_thread::sleep_for(std::chrono::microseconds(100));
                    const int got = r.outputLength;
                    memcpy(answer, r.output, size_t(std::min(got, 64)));
                    r.state.store(TRSC_EMPTY, std::memory_order_release);
                    if (s != TRSC_OK || got != len || memcmp(answer, req, size_t(len)) != 0)
                        mismatches++;
                    answered++;
                }
            });
        }
        for (auto& th : requesters)
            th.join();
        QCOMPARE(mismatches.load(), 0);
        QCOMPARE(answered.load(), kThreads * kRequests);
        QCOMPARE(t.executed.load(), kThreads * kRequests);
        for (const cTransaction& r : t.buffers)
            QVERIFY(r.state != TRSC_QUEUED && r.state != TRSC_BUSY);
        // Refusals are possible under load, and each one says why.
        QCOMPARE(err.text().count("All buffers are busy"), refused.load());
    }
};

QTEST_GUILESS_MAIN(TestQueue)
#include "test_queue.moc"
