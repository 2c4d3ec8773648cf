// Request/answer transactions through a port's queue, against a real MODBUS server and a
// scripted peer.
#include "CapturedFile.h"
#include "ModalAnswerer.h"
#include "ModbusCrc.h"
#include "ModbusRtuServer.h"
#include "PtyPair.h"
#include "ScriptedPeer.h"
#include "StdStreamCapture.h"
#include "WaitUntil.h"
#include "serial/cSerial.h"

#include <QRegularExpression>
#include <QtTest>

#include <optional>

#include <atomic>
#include <memory>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes bytesOf(const QByteArray& a)
{
    return Bytes(a.begin(), a.end());
}

double processCpuMs()
{
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

// The answer the echoing peer gives to one request of the many-callers test.
QByteArray echoOf(const QByteArray& request)
{
    QByteArray a;
    for (int i = request.size() - 1; i >= 0; --i)
        a.append(char(request[i] ^ 0xA5));
    return a;
}

// Bytes in the port's input that nobody has read yet.
int inputWaiting(const PtyPair& pty)
{
    int n = 0;
    return ioctl(pty.slaveFd(), FIONREAD, &n) == 0 ? n : -1;
}

} // namespace

class TestSerialTransaction : public QObject
{
    Q_OBJECT

    CapturedFile out, err;
    std::unique_ptr<PtyPair> pty;
    std::unique_ptr<cSerial> port;
    QString path;

    void openPort()
    {
        pty = std::make_unique<PtyPair>();
        QVERIFY(pty->ok());
        path = QString::fromStdString(pty->slavePath());
        port = std::make_unique<cSerial>("T", out.file(), err.file());
        QVERIFY(port->open(pty->slavePath()));
        out.clear();
        err.clear();
    }

private slots:
    void init() { openPort(); }
    void cleanup()
    {
        port.reset();
        pty.reset();
    }

    void modbusServerAnswersThroughTheQueue()
    {
        ModbusRtuServer server(pty->masterFd());
        server.setRegister(0, 0x1234);
        server.setRegister(1, 0xABCD);
        QVERIFY(server.start());

        const Bytes read = withModbusCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x02});
        Bytes reply;
        unsigned short ticket = 0xAAAA;
        QCOMPARE(int(port->transaction(read, reply, 9, 0, 0, 100, &ticket, 0)), 1);
        QCOMPARE(reply, withModbusCrc({0x01, 0x03, 0x04, 0x12, 0x34, 0xAB, 0xCD}));
        QVERIFY(ticket < 50);
        // The record carried the 7-byte header, numbers high byte first, then the request.
        const cTransaction& r = port->buffers[ticket];
        QCOMPARE(int(r.inputLength), 7 + 8);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(r.input), 13),
                 QByteArray::fromHex("00090000006400010300000002"));
        QCOMPARE(int(r.state.load()), int(TRSC_EMPTY));

        const Bytes write = withModbusCrc({0x01, 0x06, 0x00, 0x05, 0x00, 0x2A});
        QCOMPARE(int(port->transaction(write, reply, 8, 0, 0, 100, nullptr, 0)), 1);
        QCOMPARE(reply, write);
        QCOMPARE(server.holdingRegister(5), uint16_t(42));
        QCOMPARE(server.served(), 2);
    }

    void answeredSilentAndCountZero()
    {
        ScriptedPeer peer(*pty, [](const QByteArray& request) {
            ScriptedPeer::Reply r;
            if (request.startsWith("ANS"))
                r.bytes = "12345678";
            else if (request == "SHORT")
                r.bytes = "12345";
            else if (request == "MANY")
                r.bytes = "abcdefghIJKL";
            return r;
        });
        unsigned char reply[2048];
        unsigned short received = 0;
        unsigned short ticket = 0xFFFF;
        const unsigned char ans[] = {'A', 'N', 'S', 0x00, 0xFF};
        QCOMPARE(int(port->transaction(ans, 5, reply, &received, 8, 0, 0, 100, &ticket, 0)), 1);
        QCOMPARE(int(received), 8);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(reply), 8), QByteArray("12345678"));
        QVERIFY(ticket < 50);
        QCOMPARE(peer.requests().value(0), QByteArray(reinterpret_cast<const char*>(ans), 5));

        // A short answer ends on the interval time-out; bytes beyond the count stay behind
        // and are thrown away before the next request goes out.
        QCOMPARE(int(port->transaction(bytesOf("SHORT").data(), 5, reply, &received, 8, 0, 0, 30, nullptr, 0)), 1);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(reply), received), QByteArray("12345"));
        QCOMPARE(int(port->transaction(bytesOf("MANY").data(), 4, reply, &received, 8, 0, 0, 100, nullptr, 0)), 1);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(reply), received), QByteArray("abcdefgh"));
        QVERIFY(waitUntil([&] { return inputWaiting(*pty) >= 4; }));
        QCOMPARE(int(port->transaction(ans, 5, reply, &received, 8, 0, 0, 100, nullptr, 0)), 1);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(reply), received), QByteArray("12345678"));

        // Nothing came back within the time-out: carried out, with nothing received.
        const unsigned char quiet[] = {'Q'};
        QCOMPARE(int(port->transaction(quiet, 1, reply, &received, 8, 0, 0, 30, nullptr, 0)), 1);
        QCOMPARE(int(received), 0);

        // Without an answer length the transaction cannot succeed.
        QCOMPARE(int(port->transaction(quiet, 1, reply, &received, 0, 0, 0, 30, nullptr, 0)), 0);
        QTRY_COMPARE(peer.requestCount(), 6);
        QCOMPARE(err.text(), QString());
    }

    void requestSizes()
    {
        ScriptedPeer peer(*pty, ScriptedPeer::answer("OK"));
        std::vector<unsigned char> big(2047, 0x5A);
        unsigned char reply[2048];
        unsigned short received = 0;
        unsigned short ticket = 0;

        QCOMPARE(int(port->transaction(big.data(), 2041, reply, &received, 2, 0, 0, 200, &ticket, 0)), 1);
        QCOMPARE(int(received), 2);
        QTRY_COMPARE(peer.requestCount(), 1);
        QCOMPARE(peer.requests().value(0).size(), 2041);

        for (unsigned short size = 2042; size <= 2046; ++size) {
            err.clear();
            QCOMPARE(int(port->transaction(big.data(), size, reply, &received, 2, 0, 0, 200, &ticket, 0)), 255);
            QCOMPARE(int(ticket), 65535);
            QVERIFY(err.text().contains(QString(" thread -> Buffer overflow %1/2048 bytes\n").arg(size + 7)));
            QVERIFY(err.text().contains(" thread -> Ticket 65535/50 not found\n"));
        }

        err.clear();
        QCOMPARE(int(port->transaction(big.data(), 2047, reply, &received, 2, 0, 0, 200, &ticket, 0)), 0);
        const QString text = err.text();
        const QRegularExpression head(QString::asprintf("^cSerial @ 0x%08X: WARNING! ", port->id) +
                                      QRegularExpression::escape(path) +
                                      " Transaction buffer overflow \\(2047\\+2/2048 bytes\\)\n"
                                      "INPUT @ 0x[0-9a-f]+ DATA \\(2047 bytes\\): 5A 5A 5A 5A \t5A ");
        QVERIFY2(head.match(text).hasMatch(), qPrintable(text.left(200)));
        QVERIFY(text.endsWith("5A 5A 5A \n\t\t +++++++++++++++++++++++++++++++++++++ \n"));
        QCOMPARE(text.count("5A "), 2047);
        QCOMPARE(text.count('\t'), 2047 / 4 + 2);
        QCOMPARE(peer.requestCount(), 1);
    }

    void portNeverOpened()
    {
        cSerial idle("IDLE", out.file(), err.file());
        err.clear();
        unsigned char reply[2048];
        unsigned short received = 7;
        const unsigned char request[] = {1};
        QCOMPARE(int(idle.transaction(request, 1, reply, &received, 1, 0, 0, 10, nullptr, 0)), 0);
        QCOMPARE(int(received), 0);
        QCOMPARE(err.text(), QString::asprintf("cSerial @ 0x%08X: Transaction thread not running on \n", idle.id));
    }

    void debugPrintsTimeoutLineAndQuietDropsDumps()
    {
        ScriptedPeer peer(*pty, ScriptedPeer::answer("ABCD"));
        port->debug = true;
        Bytes reply;
        QCOMPARE(int(port->transaction(Bytes{1, 2}, reply, 4, 0, 0, 100, nullptr, 1)), 1);
        QCOMPARE(reply, bytesOf("ABCD"));
        QVERIFY(out.text().contains(QString::asprintf("cSerial @ 0x%08X: Timeout is set to 100 ms\n", port->id)));
        QVERIFY(!out.text().contains("DATA:"));

        out.clear();
        QCOMPARE(int(port->transaction(Bytes{1, 2}, reply, 4, 0, 0, 100, nullptr, 0)), 1);
        QVERIFY(out.text().contains("TX " + path + " DEBUG: Sent 2/2 bytes"));
        QVERIFY(out.text().contains("RX " + path + " DEBUG: Recv 4/4 bytes"));
        QVERIFY(out.text().contains("Timeout is set to 100 ms\n"));
    }

    // The device goes away after it read the request (the read fails) or before it (the
    // write fails): either way the port closes itself and the reporter speaks once.
    void deviceGoneMidTransaction_data()
    {
        QTest::addColumn<bool>("beforeRequest");
        QTest::newRow("after the request") << false;
        QTest::newRow("before the request") << true;
    }
    void deviceGoneMidTransaction()
    {
        QFETCH(bool, beforeRequest);
        ModalAnswerer boxes(QMessageBox::Ok);
        std::optional<ScriptedPeer> peer;
        if (beforeRequest)
            pty->closeMaster();
        else
            peer.emplace(*pty, [](const QByteArray&) {
                ScriptedPeer::Reply r;
                r.hangUp = true;
                return r;
            });
        unsigned char reply[2048];
        unsigned short received = 0;
        const unsigned char request[] = {0x01, 0x03};
        QCOMPARE(int(port->transaction(request, 2, reply, &received, 8, 0, 0, 1000, nullptr, 0)), 0);
        QCOMPARE(int(received), 0);

        // The port closed itself on its own thread, and the reporter spoke once.
        QTRY_VERIFY(port->stopped);
        QVERIFY(!port->running);
        QVERIFY(!port->alive);
        QCOMPARE(out.text().count(QString::asprintf("cSerial @ 0x%08X: Closed '", port->id) + path + "'\n"), 1);
        QCOMPARE(err.text().count(" -> Error 0x"), 1);
        QCOMPARE(port->error.errorCount, 1u);
        QTRY_COMPARE(boxes.count(), 1);

        // Nothing keeps running on the dead device.
        const double cpu0 = processCpuMs();
        QTest::qWait(400);
        const double cpu = processCpuMs() - cpu0;
        QVERIFY2(cpu < 150.0, qPrintable(QString("%1 ms of CPU in 400 ms").arg(cpu)));

        QCOMPARE(int(port->transaction(request, 2, reply, &received, 8, 0, 0, 100, nullptr, 0)), 0);
        QVERIFY(err.text().endsWith(QString::asprintf("cSerial @ 0x%08X: Transaction thread not running on \n", port->id)));
        QVERIFY(!port->close());
        QCOMPARE(out.text().count("Closed '"), 1);
        QCOMPARE(boxes.count(), 1);
    }

    // A port object that failed to open, or lost its device, and is opened again: the error
    // of before is no error of the transactions after it.
    void reopenedPortKeepsNoErrorOfBefore_data()
    {
        QTest::addColumn<bool>("lost");
        QTest::newRow("after a failed open") << false;
        QTest::newRow("after the device was lost") << true;
    }
    void reopenedPortKeepsNoErrorOfBefore()
    {
        QFETCH(bool, lost);
        ModalAnswerer boxes(QMessageBox::Ok);
        port = std::make_unique<cSerial>("T", out.file(), err.file());
        if (lost) {
            QVERIFY(port->open(pty->slavePath()));
            pty->closeMaster();
            unsigned char reply[2048];
            unsigned short received = 0;
            const unsigned char request[] = {0x01, 0x03};
            QCOMPARE(int(port->transaction(request, 2, reply, &received, 8, 0, 0, 100, nullptr, 0)), 0);
            QTRY_VERIFY(port->stopped);
            port->close();
        } else {
            QVERIFY(!port->open("/nonexistent/ttyCORVANE"));
            port->dropFailedOpen();
        }
        QVERIFY(port->error.code != 0);
        PtyPair again;
        ScriptedPeer peer(again, ScriptedPeer::answer("ABCD"));
        QVERIFY(port->open(again.slavePath()));
        err.clear();
        for (int i = 0; i < 3; ++i) {
            Bytes reply;
            QCOMPARE(int(port->transaction(Bytes{1, 2}, reply, 4, 0, 0, 100, nullptr, 1)), 1);
            QCOMPARE(reply, bytesOf("ABCD"));
        }
        QCOMPARE(err.text(), QString());
        port.reset();
    }

    // Bytes that come when no request of theirs waits are dropped and counted, never read as
    // the answer of the next request: the rest of an answer cut by the time-out, or a whole
    // answer that came after it.
    void strayBytesAreNotTheNextAnswer_data()
    {
        QTest::addColumn<int>("splitAt");
        QTest::addColumn<int>("lateMs");
        QTest::newRow("the rest of an answer after the time-out") << 4 << 0;
        QTest::newRow("a whole answer after the time-out") << -1 << 150;
    }
    void strayBytesAreNotTheNextAnswer()
    {
        QFETCH(int, splitAt);
        QFETCH(int, lateMs);
        ScriptedPeer peer(
            *pty,
            [&](const QByteArray& request) {
                ScriptedPeer::Reply r;
                r.bytes = request == "SLOW" ? "SLOWANSWR" : "FASTANSWR";
                if (request == "SLOW") {
                    r.splitAt = splitAt;
                    r.gapMs = 150;
                    r.delayMs = lateMs;
                }
                return r;
            },
            4);
        unsigned char reply[2048];
        unsigned short received = 0;
        QCOMPARE(int(port->transaction(bytesOf("SLOW").data(), 4, reply, &received, 9, 0, 0, 100, nullptr, 0)), 1);
        QVERIFY(received < 9);
        // The whole late answer waits for the next request in the port's input.
        if (splitAt < 0)
                QVERIFY(waitUntil([&] { return inputWaiting(*pty) >= 9; }));
        QCOMPARE(int(port->transaction(bytesOf("FAST").data(), 4, reply, &received, 9, 0, 0, 300, nullptr, 0)), 1);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(reply), received), QByteArray("FASTANSWR"));
        QCOMPARE(int(port->lateAnswers()), 1);
        QCOMPARE(out.text().count(" late answer dropped"), 1);
        if (splitAt >= 0)
            return;

        // A meter late again and again is said once for the run, and again after a run ends.
        auto ask = [&](const char* request) {
            return int(port->transaction(bytesOf(request).data(), 4, reply, &received, 9, 0, 0, 100, nullptr, 0));
        };
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(ask("SLOW"), 1);
            QVERIFY(waitUntil([&] { return inputWaiting(*pty) >= 9; }));
        }
        QCOMPARE(ask("FAST"), 1);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(reply), received), QByteArray("FASTANSWR"));
        QCOMPARE(int(port->lateAnswers()), 4);
        QCOMPARE(out.text().count(" late answer dropped"), 1);
        QCOMPARE(ask("FAST"), 1);
        QCOMPARE(ask("SLOW"), 1);
        QVERIFY(waitUntil([&] { return inputWaiting(*pty) >= 9; }));
        QCOMPARE(ask("FAST"), 1);
        QCOMPARE(int(port->lateAnswers()), 5);
        QCOMPARE(out.text().count(" late answer dropped"), 2);
        QVERIFY(out.text().contains(path + " late answer dropped, 9 bytes between requests (5 in all); the answer "
                                           "time-out may be too short\n"));
    }

    // An answer that begins and stalls under the longest answer time-out takes the time-out
    // twice at the port (once for the rest): its caller still gets what came, not a give-up.
    void stalledAnswerUnderALongTimeOutReachesItsCaller()
    {
        ScriptedPeer peer(
            *pty,
            [](const QByteArray&) {
                ScriptedPeer::Reply r;
                r.bytes = "SLOWANSWR";
                r.splitAt = 4;
                r.gapMs = 1500;
                return r;
            },
            4);
        unsigned char reply[2048];
        unsigned short received = 0;
        QCOMPARE(int(port->transaction(bytesOf("SLOW").data(), 4, reply, &received, 9, 0, 0, 400, nullptr, 0)), 1);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(reply), received), QByteArray("SLOW"));
    }

    void callerGivesUpWhileTheHandlerStillRuns()
    {
        // The peer holds the first answer back until the test lets it go.
        std::atomic<bool> release{false};
        ScriptedPeer peer(*pty, [&release](const QByteArray& request) {
            ScriptedPeer::Reply r;
            if (request == "SLOW") {
                while (!release)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                r.bytes = "SLOWANSWR";
            } else {
                r.bytes = "FASTANSWR";
            }
            return r;
        });
        StdStreamCapture se(2);
        unsigned char reply[2048];
        memset(reply, 0xEE, sizeof reply);
        unsigned short received = 0;
        unsigned short slowTicket = 0;
        const unsigned char slow[] = {'S', 'L', 'O', 'W'};
        QCOMPARE(int(port->transaction(slow, 4, reply, &received, 9, 0, 0, 30000, &slowTicket, 0)), 0);
        QCOMPARE(int(received), 0);
        QVERIFY(se.text().contains(QString("cThread @ getoutput for %1 MASTER failed\n").arg(path)));
        // The port's thread still reads into the record: it is not free for anyone else.
        QCOMPARE(int(port->buffers[slowTicket].state.load()), int(TRSC_BUSY));

        unsigned char fastReply[2048];
        unsigned short fastReceived = 0;
        unsigned short fastTicket = 0xFFFF;
        std::atomic<int> fastResult{-1};
        std::thread fastCaller([&] {
            const unsigned char fast[] = {'F', 'A', 'S', 'T'};
            fastResult = port->transaction(fast, 4, fastReply, &fastReceived, 9, 0, 0, 500, &fastTicket, 0);
        });
        // Once the second request is queued behind the busy record, the first answer may come.
        QTRY_VERIFY(std::any_of(std::begin(port->buffers), std::end(port->buffers),
                                [](const cTransaction& r) { return r.state.load() == TRSC_QUEUED; }));
        release = true;
        fastCaller.join();
        QCOMPARE(fastResult.load(), 1);
        QVERIFY(fastTicket != slowTicket);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(fastReply), fastReceived), QByteArray("FASTANSWR"));

        // The late answer stayed in its record, which the handler's result has freed; the
        // caller who gave up never got a byte of it.
        QCOMPARE(int(port->buffers[slowTicket].state.load()), int(TRSC_OK));
        QCOMPARE(QByteArray(reinterpret_cast<char*>(port->buffers[slowTicket].output), 9), QByteArray("SLOWANSWR"));
        QVERIFY(std::all_of(reply, reply + sizeof reply, [](unsigned char c) { return c == 0xEE; }));
    }

    void callerGivesUpOnAQueuedRequest()
    {
        ScriptedPeer peer(*pty, ScriptedPeer::answer("X"));
        port->discard = true;
        unsigned char reply[2048];
        unsigned short received = 0;
        unsigned short ticket = 0;
        const unsigned char request[] = {'Q'};
        StdStreamCapture se(2);
        QCOMPARE(int(port->transaction(request, 1, reply, &received, 1, 0, 0, 10, &ticket, 0)), 0);
        se.stop();
        // Taken back rather than left queued, so no later pass sends a request nobody awaits.
        QCOMPARE(int(port->buffers[ticket].state.load()), int(TRSC_EMPTY));
        port->discard = false;
        QCOMPARE(int(port->transaction(request, 1, reply, &received, 1, 0, 0, 100, nullptr, 0)), 1);
        QCOMPARE(peer.requestCount(), 1);
    }

    void manyCallersEachGetTheirOwnAnswer()
    {
        ScriptedPeer peer(
            *pty,
            [](const QByteArray& request) {
                ScriptedPeer::Reply r;
                r.bytes = echoOf(request);
                return r;
            },
            8);
        constexpr int kThreads = 8;
        constexpr int kEach = 1000;
        // A caller that gave up waiting (the collect limit, or the port's time-out on a busy
        // machine) got no answer: that is no mixed-up answer, which is one holding bytes that
        // are not its own request's.
        std::atomic<int> wrong{0};
        std::atomic<int> gaveUp{0};
        std::atomic<int> done{0};
        std::vector<std::thread> callers;
        for (int t = 0; t < kThreads; ++t) {
            callers.emplace_back([&, t] {
                for (int i = 0; i < kEach; ++i) {
                    const char bytes[8] = {char(0xC0 | t), char(i >> 8), char(i & 0xFF), char(t * 7),
                                           char(i * 13),   char(i ^ t), char(0x55),     char(t + i)};
                    const QByteArray request(bytes, 8);
                    unsigned char reply[2048];
                    unsigned short received = 0;
                    const unsigned char result =
                        port->transaction(reinterpret_cast<const unsigned char*>(request.constData()), 8, reply,
                                          &received, 8, 0, 0, 2000, nullptr, 0);
                    const QByteArray got(reinterpret_cast<char*>(reply), received);
                    if (!echoOf(request).startsWith(got))
                        wrong++;
                    else if (result != 1 || got.size() != 8)
                        gaveUp++;
                    done++;
                }
            });
        }
        for (std::thread& c : callers)
            c.join();
        QCOMPARE(done.load(), kThreads * kEach);
        QCOMPARE(wrong.load(), 0);
        // Most callers got their answer; a request taken back after a give-up never went out.
        QVERIFY2(gaveUp.load() < kThreads * kEach / 2, qPrintable(QString::number(gaveUp.load())));
        QVERIFY(peer.requestCount() >= kThreads * kEach - gaveUp.load());
        QVERIFY(peer.requestCount() <= kThreads * kEach);
        for (const cTransaction& r : port->buffers) {
            const int s = r.state.load();
            QVERIFY2(s == TRSC_EMPTY || s == TRSC_OK || s == TRSC_ERROR, qPrintable(QString::number(s)));
        }
        QCOMPARE(err.text(), QString());
    }
};

QTEST_MAIN(TestSerialTransaction)
#include "test_serial_transaction.moc"
