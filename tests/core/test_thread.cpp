// The worker thread's start and stop handshakes, and the log lines it and every other part write.
#include "CapturedFile.h"
#include "StdStreamCapture.h"
#include "core/cLog.h"
#include "core/cThread.h"

#include <QRegularExpression>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

QString hexId(const cThread& t)
{
    return QString::asprintf("0x%08X", t.id);
}

std::atomic<int> plainRuns{0};

void loopUntilStopped(void* arg)
{
    auto* t = static_cast<cThread*>(arg);
    plainRuns++;
    while (t->running)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// A handler that gives up on its own: it asks its own thread to stop.
void stopOwnThread(void* arg)
{
    static_cast<cThread*>(arg)->stopAndWait();
}

} // namespace

class TestThread : public QObject
{
    Q_OBJECT

private slots:
    void constructionWritesVersionAndTag()
    {
        CapturedFile out, err;
        {
            cThread t("WORKER", out.file(), err.file());
            const QString id = hexId(t);
            QCOMPARE(out.text(), QString("cThread @ %1: Version 3.0 (using QThread)\n"
                                         "cThread @ %1: Thread tag is 'WORKER'\n")
                                     .arg(id));
            QCOMPARE(t.id, uint32_t(reinterpret_cast<uintptr_t>(&t)));
            QVERIFY(t.alive);
            QVERIFY(t.stopped);
            QVERIFY(!t.running);
            QCOMPARE(t.type.load(), 0);
            QCOMPARE(t.period.load(), uint16_t(1));
            for (const cTransaction& r : t.buffers)
                QCOMPARE(r.state.load(), uint8_t(TRSC_EMPTY));
        }
        QVERIFY(err.text().isEmpty());
    }

    // Start with a new tag, run, and stop through the destructor: every line in its stream.
    void plainThreadStartAndStop()
    {
        CapturedFile out, err;
        StdStreamCapture so(1), se(2);
        QString id;
        {
            cThread t("GENERIC", out.file(), err.file());
            id = hexId(t);
            out.clear();
            t.handler = loopUntilStopped;
            const int before = plainRuns;
            t.startHandler(cThread::TYPE_PLAIN, &t, "WORKER");
            QVERIFY(t.running);
            QVERIFY(!t.stopped);
            QCOMPARE(plainRuns.load(), before + 1);
            QCOMPARE(t.handlerArg, static_cast<void*>(&t));
            QTRY_VERIFY(out.text().contains("Starting WORKER thread handler"));
            QCOMPARE(out.text(), QString("cThread @ %1: Thread tag changed from 'GENERIC' to 'WORKER'\n"
                                         "cThread @ %1: WORKER thread -> Using QMutex\n"
                                         "cThread @ %1: Starting WORKER thread handler\n")
                                     .arg(id));
            out.clear();
        }
        so.stop();
        se.stop();
        QCOMPARE(out.text(), QString("cThread @ %1: WORKER thread handler stopped\n"
                                     "cThread @ %1: WORKER thread destroyed\n")
                                 .arg(id));
        QVERIFY(se.text().startsWith(QString("cThread @ %1: WORKER thread -> is trying exit and waiting on confirm\n").arg(id)));
        QCOMPARE(so.text(), QString("cThread @ %1: WORKER thread ->exited\n").arg(id));
        QVERIFY(err.text().isEmpty());
    }

    void transactionThreadLinesAndRestart()
    {
        CapturedFile out, err;
        cThread t("Q", out.file(), err.file());
        const QString id = hexId(t);
        for (int round = 0; round < 2; ++round) {
            out.clear();
            t.startHandler(cThread::TYPE_TRANSACTION, nullptr, "");
            QVERIFY(t.running);
            QCOMPARE(t.type.load(), 2);
            QTRY_VERIFY(out.text().contains("Starting Q transaction thread handler"));
            QCOMPARE(out.text(), QString("cThread @ %1: Q thread -> Using QMutex\n"
                                         "cThread @ %1: Starting Q transaction thread handler\n")
                                     .arg(id));
            StdStreamCapture so(1), se(2);
            t.stopAndWait();
            QVERIFY(t.stopped);
            QCOMPARE(t.type.load(), 0);
            QVERIFY(out.text().endsWith(QString("cThread @ %1: Q transaction thread handler stopped\n").arg(id)));
            // The stop clears `alive`; the caller sets it again before a restart if it wants to.
            QVERIFY(!t.alive);
        }
    }

    void emptyOrSameTagKeepsTagSilently()
    {
        CapturedFile out, err;
        cThread t("KEEP", out.file(), err.file());
        out.clear();
        t.startHandler(cThread::TYPE_PLAIN, nullptr, "");
        QTRY_VERIFY(t.stopped); // no handler: starts and ends at once
        QCOMPARE(t.tag, std::string("KEEP"));
        QVERIFY(!out.text().contains("tag changed"));
        t.startHandler(cThread::TYPE_PLAIN, nullptr, "KEEP");
        QTRY_VERIFY(t.stopped);
        QVERIFY(!out.text().contains("tag changed"));
        t.startHandler(cThread::TYPE_PLAIN, nullptr, "KEEP2");
        QVERIFY(out.text().contains("Thread tag changed from 'KEEP' to 'KEEP2'\n"));
    }

    // A handler that returns at once must not leave startHandler waiting for a `running`
    // that was already set and cleared.
    void nullHandlerStartsAndEnds()
    {
        CapturedFile out, err;
        cThread t("NULL", out.file(), err.file());
        for (int i = 0; i < 50; ++i) {
            t.startHandler(cThread::TYPE_PLAIN, nullptr, "");
            // A start while the previous run is still going changes nothing, by design.
            QTRY_VERIFY(t.stopped);
        }
        QCOMPARE(out.text().count("Starting NULL thread handler"), 50);
        QCOMPARE(out.text().count("NULL thread handler stopped"), 50);
    }

    void unknownTypeDoesNotStart_data()
    {
        QTest::addColumn<int>("type");
        QTest::newRow("3") << 3;
        QTest::newRow("0") << 0;
        QTest::newRow("-1") << -1;
    }
    void unknownTypeDoesNotStart()
    {
        QFETCH(int, type);
        CapturedFile out, err;
        cThread t("ODD", out.file(), err.file());
        out.clear();
        t.startHandler(type, nullptr, "");
        QCOMPARE(err.text(), QString("cThread @ %1: Unknown thread type %2\n").arg(hexId(t)).arg(type));
        QVERIFY(!t.running);
        QCOMPARE(t.type.load(), type);
        QVERIFY(!out.text().contains("Using QMutex"));
    }

    void startOnRunningThreadChangesNothing()
    {
        CapturedFile out, err;
        cThread t("RUN", out.file(), err.file());
        t.handler = loopUntilStopped;
        t.startHandler(cThread::TYPE_PLAIN, &t, "");
        QTRY_VERIFY(out.text().contains("Starting RUN thread handler"));
        out.clear();
        int dummy = 0;
        t.startHandler(cThread::TYPE_TRANSACTION, &dummy, "OTHER");
        QCOMPARE(t.tag, std::string("RUN"));
        QCOMPARE(t.type.load(), 1);
        QCOMPARE(t.handlerArg, static_cast<void*>(&t));
        QVERIFY(out.text().isEmpty());
        StdStreamCapture so(1), se(2);
        t.stopAndWait();
    }

    // Called from the thread itself the handshake cannot wait for its own confirmation: it
    // asks, says so, and the thread ends once the handler returns.
    void stopFromOwnThreadOnlyAsks()
    {
        CapturedFile out, err;
        StdStreamCapture so(1), se(2);
        cThread t("SELF", out.file(), err.file());
        const QString id = hexId(t);
        t.handler = stopOwnThread;
        t.startHandler(cThread::TYPE_PLAIN, &t, "");
        QTRY_VERIFY(t.stopped);
        QVERIFY(!t.running);
        QVERIFY(!t.alive);
        QVERIFY(out.text().endsWith(QString("cThread @ %1: SELF thread handler stopped\n").arg(id)));
        QCOMPARE(so.text(), QString("cThread @ %1: SELF thread ->exited\n").arg(id));
        QVERIFY(se.text().isEmpty());
        // The thread is down; a later stop from outside does not wait either.
        t.stopAndWait();
        QCOMPARE(so.text().count("SELF thread ->exited\n"), 2);
        QVERIFY(se.text().isEmpty());
        QVERIFY(err.text().isEmpty());
    }

    void neverStartedThreadIsNotWaitedFor()
    {
        CapturedFile out, err;
        StdStreamCapture so(1), se(2);
        QString id;
        {
            cThread t("IDLE", out.file(), err.file());
            id = hexId(t);
        }
        QVERIFY(se.text().isEmpty());
        QCOMPARE(so.text(), QString("cThread @ %1: IDLE thread ->exited\n").arg(id));
        QVERIFY(out.text().endsWith(QString("cThread @ %1: IDLE thread destroyed\n").arg(id)));
    }

    void emptyTagDestroyedLine()
    {
        CapturedFile out, err;
        StdStreamCapture so(1);
        QString id;
        {
            cThread t("", out.file(), err.file());
            id = hexId(t);
        }
        QVERIFY(out.text().endsWith(QString("cThread @ %1: Thread destroyed\n").arg(id)));
    }

    void nullStreamsMeanConsole()
    {
        StdStreamCapture so(1), se(2);
        cThread t("CONSOLE", nullptr, nullptr);
        QVERIFY(so.text().contains("Thread tag is 'CONSOLE'"));
        QCOMPARE(t.outStream(), stdout);
        QCOMPARE(t.errStream(), stderr);
        CapturedFile f;
        QCOMPARE(t.setOut(f.file()), f.file());
        QCOMPARE(t.setOut(nullptr), stdout);
        QCOMPARE(t.out.load(), stdout);
        QCOMPARE(t.setErr(nullptr), stderr);
        QCOMPARE(t.err.load(), stderr);
    }

    // The queue mutex held elsewhere for longer than 100 ms: the thread is not started.
    void startFailsWhenMutexIsHeld()
    {
        CapturedFile out, err;
        cThread t("LOCKED", out.file(), err.file());
        t.mutex.lock();
        t.startHandler(cThread::TYPE_TRANSACTION, nullptr, "");
        t.mutex.unlock();
        QVERIFY(!t.running);
        QCOMPARE(t.type.load(), 2);
        QCOMPARE(err.text(), QString("cThread @ %1: LOCKED thread -> Unable to lock mutex after 100 ms\n"
                                     "cThread @ %1: LOCKED thread -> Unable to start thread handler safely\n")
                                 .arg(hexId(t)));
    }

    void runTransactionWithoutHandlerIsOk()
    {
        CapturedFile out, err;
        cThread t("T", out.file(), err.file());
        cTransaction& r = t.buffers[3];
        memset(r.output, 0x5A, sizeof r.output);
        r.outputLength = 7;
        QCOMPARE(int(t.runTransaction(&r, nullptr)), 1);
        QCOMPARE(r.outputLength, uint16_t(7));
        QCOMPARE(int(r.output[0]), 0x5A);
        QCOMPARE(int(r.output[2047]), 0x5A);
    }

    // Each call is one whole line, in the file before the call returns (a crash right after it
    // loses nothing); long texts are not cut unless asked, and a cut line still ends.
    void logLinesAreWholeAndFlushed()
    {
        CapturedFile f;
        cLog::line(f.file(), "cThread @ 0x%08X: %s thread -> Thread not running", 0xABCDu, "Q");
        QCOMPARE(f.onDisk(), QString("cThread @ 0x0000ABCD: Q thread -> Thread not running\n"));

        f.clear();
        const std::string longName(3000, 'n');
        cLog::line(f.file(), "%s plugin: Destroyed", longName.c_str());
        QCOMPARE(f.onDisk(), QString::fromStdString(longName) + " plugin: Destroyed\n");

        f.clear();
        cLog::lineCut(f.file(), 10, "%s", "0123456789abc");
        cLog::lineCut(f.file(), 10, "%s", "short");
        cLog::lineCut(f.file(), 10, "%s", "0123456789");
        QCOMPARE(f.onDisk(), QString("0123456789\nshort\n0123456789\n"));

        f.clear();
        cLog::text(f.file(), cLog::format("TX %s: %d bytes:\nDATA: ", "/dev/pts/3", 2) + "01 02 \n");
        cLog::line(f.file(), "%s", "");
        QCOMPARE(f.onDisk(), QString("TX /dev/pts/3: 2 bytes:\nDATA: 01 02 \n\n"));

        cLog::line(nullptr, "nowhere %d", 1);
        cLog::text(nullptr, "nowhere\n");
    }

    // Lines that several threads write to one stream at once never cut into each other.
    void logLinesOfThreadsDoNotInterleave()
    {
        CapturedFile f;
        constexpr int kThreads = 4;
        constexpr int kLines = 300;
        std::vector<std::thread> writers;
        for (int w = 0; w < kThreads; ++w)
            writers.emplace_back([&f, w] {
                // Longer than the short-line buffer, so both ways of formatting are used.
                const std::string body(size_t(400 + 150 * w), char('a' + w));
                for (int i = 0; i < kLines; ++i)
                    cLog::line(f.file(), "writer %d line %03d: %s", w, i, body.c_str());
            });
        for (std::thread& t : writers)
            t.join();

        const QStringList lines = f.onDisk().split('\n');
        QCOMPARE(lines.size(), kThreads * kLines + 1);
        QVERIFY(lines.last().isEmpty());
        std::vector<int> next(kThreads, 0);
        for (int n = 0; n < kThreads * kLines; ++n) {
            const QString& l = lines[n];
            const int w = l.mid(7, 1).toInt();
            QVERIFY2(w >= 0 && w < kThreads, qPrintable(l.left(40)));
            const QString expected = QString::asprintf("writer %d line %03d: ", w, next[w]) +
                                     QString(400 + 150 * w, QChar('a' + w));
            QVERIFY2(l == expected, qPrintable(QString("line %1: %2").arg(n).arg(l.left(60))));
            ++next[w];
        }
    }
};

QTEST_GUILESS_MAIN(TestThread)
#include "test_thread.moc"
