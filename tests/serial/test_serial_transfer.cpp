// Writing and reading on an open port: outcomes, time-outs against a real peer, and dumps.
#include "CapturedFile.h"
#include "ModalAnswerer.h"
#include "PtyPair.h"
#include "WaitUntil.h"
#include "serial/cSerial.h"

#include <QRegularExpression>
#include <QtTest>

#include <sys/ioctl.h>

#include <chrono>
#include <memory>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

void writeMaster(PtyPair& pty, const QByteArray& bytes)
{
    QCOMPARE(::write(pty.masterFd(), bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
}

QByteArray readMaster(PtyPair& pty, int n)
{
    QByteArray got;
    while (got.size() < n) {
        pollfd p = {pty.masterFd(), POLLIN, 0};
        if (poll(&p, 1, 2000) <= 0)
            break;
        char b[4096];
        const ssize_t k = ::read(pty.masterFd(), b, sizeof b);
        if (k <= 0)
            break;
        got.append(b, int(k));
    }
    return got;
}

// Writes `bytes` to the peer's end after `atMs`, on a thread of its own.
std::thread writeLater(PtyPair& pty, int atMs, QByteArray bytes)
{
    return std::thread([&pty, atMs, bytes] {
        std::this_thread::sleep_for(std::chrono::milliseconds(atMs));
        (void)!::write(pty.masterFd(), bytes.constData(), size_t(bytes.size()));
    });
}

const QString kClosing = "\n\t\t +++++++++++++++++++++++++++++++++++++ \n";

} // namespace

class TestSerialTransfer : public QObject
{
    Q_OBJECT

    CapturedFile out, err;
    std::unique_ptr<PtyPair> pty;
    std::unique_ptr<cSerial> port;
    QString path;

private slots:
    void init()
    {
        pty = std::make_unique<PtyPair>();
        QVERIFY(pty->ok());
        path = QString::fromStdString(pty->slavePath());
        port = std::make_unique<cSerial>("T", out.file(), err.file());
        QVERIFY(port->open(pty->slavePath()));
        out.clear();
        err.clear();
    }
    void cleanup()
    {
        port.reset();
        pty.reset();
    }

    void transmitDumpsOnlyWithDebug()
    {
        const unsigned char request[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x02};
        QVERIFY(port->transmit(request, 6, nullptr, false));
        QCOMPARE(readMaster(*pty, 6), QByteArray(reinterpret_cast<const char*>(request), 6));
        QCOMPARE(out.text(), QString());

        port->debug = true;
        float elapsed = -1;
        QVERIFY(port->transmit(std::vector<unsigned char>(request, request + 6), &elapsed, false));
        QVERIFY(elapsed >= 0);
        const QRegularExpression dump("^TX " + QRegularExpression::escape(path) +
                                      " DEBUG: Sent 6/6 bytes in \\d+\\.\\d{3}/5\\.760 ms:\n"
                                      "DATA: 01 03 00 00 \t00 02 " +
                                      QRegularExpression::escape(kClosing) + "$");
        QVERIFY2(dump.match(out.text()).hasMatch(), qPrintable(out.text()));
        QCOMPARE(err.text(), QString());
    }

    void receiveNineBytesWithTabs()
    {
        port->debug = true;
        writeMaster(*pty, QByteArray::fromHex("010203040506070809"));
        std::vector<unsigned char> bytes{0xAA};
        QVERIFY(port->receive(bytes, 9, 50, nullptr, false));
        QCOMPARE(bytes, (std::vector<unsigned char>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
        const QRegularExpression dump("^RX " + QRegularExpression::escape(path) +
                                      " DEBUG: Recv 9/9 bytes in \\d+\\.\\d{3}/8\\.640 ms:\n"
                                      "DATA: 01 02 03 04 \t05 06 07 08 \t09 " +
                                      QRegularExpression::escape(kClosing) + "$");
        QVERIFY2(dump.match(out.text()).hasMatch(), qPrintable(out.text()));
    }

    void countZeroReadsOneByteAndFails()
    {
        unsigned char buffer[2048];
        unsigned short received = 99;
        writeMaster(*pty, "abc");
        QVERIFY(!port->receive(buffer, &received, 0, 50, nullptr, false));
        QCOMPARE(int(received), 1);
        QCOMPARE(out.text(), QString());
        QCOMPARE(err.text(), QString());

        port->debug = true;
        QVERIFY(!port->receive(buffer, &received, 0, 50, nullptr, false));
        QCOMPARE(int(received), 1);
        QVERIFY(out.text().contains(QRegularExpression(QString::asprintf("^cSerial @ 0x%08X: RX timeout on ", port->id) +
                                                       QRegularExpression::escape(path) + " after \\d+\\.\\d{3} ms\n")));
        QVERIFY(out.text().contains("RX " + path + " ERROR: Recv 1/0 bytes in "));

        // Quiet keeps the time-out line but drops the dump.
        out.clear();
        QVERIFY(!port->receive(buffer, &received, 0, 50, nullptr, true));
        QVERIFY(out.text().contains(" RX timeout on "));
        QVERIFY(!out.text().contains("DATA:"));
    }

    void timeoutZeroFailsEvenWithBytes()
    {
        unsigned char buffer[2048];
        unsigned short received = 0;
        writeMaster(*pty, "wxyz");
        QVERIFY(waitUntil([&] {
            int n = 0;
            return ioctl(pty->slaveFd(), FIONREAD, &n) == 0 && n >= 4;
        }));
        QVERIFY(!port->receive(buffer, &received, 4, 0, nullptr, false));
        QCOMPARE(int(received), 4);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(buffer), 4), QByteArray("wxyz"));
    }

    void countAboveBufferReadsAtMost2048()
    {
        port->debug = true;
        writeMaster(*pty, QByteArray(2100, 'x'));
        unsigned char buffer[2048 + 64];
        memset(buffer, 0xEE, sizeof buffer);
        unsigned short received = 0;
        QVERIFY(port->receive(buffer, &received, 5000, 30, nullptr, true));
        QCOMPARE(int(received), 2048);
        QCOMPARE(buffer[2048], (unsigned char)0xEE);
        QVERIFY(port->receive(buffer, &received, 5000, 30, nullptr, false));
        QCOMPARE(int(received), 52);
        QVERIFY(out.text().contains("RX " + path + " DEBUG: Recv 52/5000 bytes in "));
    }

    void shortWriteDependsOnDebug()
    {
        // Stopped output: the device takes nothing until the write time-out (6 + 10 ms) ends.
        QCOMPARE(tcflow(pty->slaveFd(), TCOOFF), 0);
        const unsigned char request[] = {1, 2, 3, 4, 5, 6};
        port->debug = true;
        QVERIFY(!port->transmit(request, 6, nullptr, false));
        QVERIFY2(out.text().startsWith("TX " + path + " ERROR: Sent 0/6 bytes in "), qPrintable(out.text()));
        out.clear();
        port->debug = false;
        QVERIFY(port->transmit(request, 6, nullptr, false));
        QCOMPARE(out.text(), QString());
        QCOMPARE(err.text(), QString());
        QCOMPARE(tcflow(pty->slaveFd(), TCOON), 0);
    }

    void readTimeouts()
    {
        unsigned char buffer[2048];
        unsigned short received = 0;
        float elapsed = 0;

        // Silence: the read ends after n + timeout ms in all, and that is not a failure.
        QVERIFY(port->receive(buffer, &received, 4, 30, &elapsed, true));
        QCOMPARE(int(received), 0);
        QVERIFY2(elapsed >= 33.0f, qPrintable(QString::number(elapsed)));

        // A gap longer than the interval ends the read after the first part: the rest comes
        // only once the read is over.
        writeMaster(*pty, "abc");
        QVERIFY(port->receive(buffer, &received, 6, 50, &elapsed, true));
        QCOMPARE(int(received), 3);
        QVERIFY(elapsed >= 50.0f);
        writeMaster(*pty, "def");
        QVERIFY(port->receive(buffer, &received, 3, 50, nullptr, true));
        QCOMPARE(QByteArray(reinterpret_cast<char*>(buffer), received), QByteArray("def"));

        // The first byte may take the whole total (2000 + 50 ms, room for a busy machine to
        // start the writer late): the interval counts only after it.
        std::thread w = writeLater(*pty, 120, "12345");
        QVERIFY(port->receive(buffer, &received, 2000, 50, &elapsed, true));
        w.join();
        QCOMPARE(int(received), 5);
    }

    void quietDropsDumpsButNotReports()
    {
        ModalAnswerer boxes(QMessageBox::Ok);
        port->debug = true;
        pty->closeMaster();
        const unsigned char request[] = {1, 2};
        QVERIFY(!port->transmit(request, 2, nullptr, true));
        unsigned char buffer[2048];
        unsigned short received = 0;
        QVERIFY(!port->receive(buffer, &received, 2, 20, nullptr, true));
        QVERIFY(!out.text().contains("DATA:"));
        const QString id = QString::asprintf("cSerial @ 0x%08X: ", port->id) + path + " MASTER ";
        QVERIFY2(err.text().startsWith(id + "Flush TX/RX buffers -> Error 0x0005: "), qPrintable(err.text()));
        QVERIFY(err.text().contains(id + "RX -> Error 0x0005: "));
        // The device went away: shown once, and nobody waits on the port any more.
        QCOMPARE(boxes.count(), 1);
        QVERIFY(!port->alive);
    }
};

QTEST_MAIN(TestSerialTransfer)
#include "test_serial_transfer.moc"
