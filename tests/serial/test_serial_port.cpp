// Opening and closing a serial port, and the error reporter's rules.
#include "CapturedFile.h"
#include "ModalAnswerer.h"
#include "PtyPair.h"
#include "StdStreamCapture.h"
#include "serial/cSerial.h"

#include <QtTest>

#include <cerrno>
#include <thread>

namespace {

QString hexId(const cThread& t)
{
    return QString::asprintf("0x%08X", t.id);
}

} // namespace

class TestSerialPort : public QObject
{
    Q_OBJECT

    CapturedFile out, err;

private slots:
    void init()
    {
        out.clear();
        err.clear();
    }

    void constructionLinesAndNullStreams()
    {
        cSerial port("P", out.file(), err.file());
        QCOMPARE(out.text(), QString("cThread @ %1: Version 3.0 (using QThread)\n"
                                     "cThread @ %1: Thread tag is 'P'\n"
                                     "cSerial @ %1: Version 3.0\n")
                                 .arg(hexId(port)));
        QVERIFY(!port.debug);
        QCOMPARE(port.handle.load(), cSerial::NO_DEVICE);
        QCOMPARE(port.error.owner, static_cast<cThread*>(&port));

        StdStreamCapture so(1);
        cSerial console("C", nullptr, nullptr);
        QCOMPARE(console.out.load(), stdout);
        QCOMPARE(console.err.load(), stderr);
        QVERIFY(so.text().contains(QString("cSerial @ %1: Version 3.0\n").arg(hexId(console))));
    }

    void emptyNameTouchesNothing()
    {
        cSerial port("P", out.file(), err.file());
        out.clear();
        QVERIFY(!port.open(""));
        QCOMPARE(out.text(), QString());
        QCOMPARE(err.text(), QString());
        QCOMPARE(port.handle.load(), cSerial::NO_DEVICE);
        QVERIFY(port.portName.empty());
    }

    void missingDeviceIsOnlyLoggedAndClosesLater()
    {
        ModalAnswerer boxes(QMessageBox::Ok);
        const std::string name = "/dev/corvane-no-such-port";
        cSerial port("GENERIC SERIAL PORT", out.file(), err.file());
        out.clear();
        QVERIFY(!port.open(name));
        QCOMPARE(err.text(), QString("cSerial @ %1: GENERIC SERIAL PORT Open %2 -> Error 0x0002: Open %2\n"
                                     "Error code 2: No such file or directory\n")
                                 .arg(hexId(port), QString::fromStdString(name)));
        QCOMPARE(port.error.code, uint16_t(ENOENT));
        QCOMPARE(port.error.errorCount, 1u);
        QCOMPARE(port.handle.load(), cTerminal::INVALID_HANDLE);
        QVERIFY(!port.running);
        QCoreApplication::processEvents();
        QCOMPARE(boxes.count(), 0);

        StdStreamCapture so(1);
        QVERIFY(port.close());
        QVERIFY(so.text().contains("GENERIC SERIAL PORT thread ->exited\n"));
        QCOMPARE(out.text(), QString("cSerial @ %1: Closed '%2'\n").arg(hexId(port), QString::fromStdString(name)));
    }

    void openConfiguresStartsAndClosesOnce()
    {
        PtyPair pty;
        QVERIFY(pty.ok());
        const QString path = QString::fromStdString(pty.slavePath());
        cSerial port("P", out.file(), err.file());
        out.clear();
        QVERIFY(port.open(pty.slavePath()));

        const QString id = hexId(port);
        const QString expected = QString("cSerial @ %1: Opened %2 (9600,8,N,1)\n"
                                         "cSerial @ %1: Frame size is 10 bits on %2\n"
                                         "cSerial @ %1: Shortest frame handeling time is 0.960 ms on %2\n"
                                         "cSerial @ %1: Flushing TX and RX buffers on %2\n")
                                     .arg(id, path);
        QVERIFY2(out.text().startsWith(expected), qPrintable(out.text()));
        QCOMPARE(QString::fromStdString(port.tag), path + " MASTER");
        QVERIFY(port.running);
        QCOMPARE(port.type.load(), int(cThread::TYPE_TRANSACTION));
        QVERIFY(port.alive);
        QCOMPARE(int(port.frameBits), 10);
        QCOMPARE(port.frameTime, 0.96f);
        QCOMPARE(port.baudRate, 9600u);
        QCOMPARE(int(port.stopBits), 0);
        QCOMPARE(err.text(), QString());

        // The device is in raw 9600 8N1 without flow control.
        cTerminalSettings s;
        QVERIFY(cTerminal::getSettings(pty.slaveFd(), &s));
        QCOMPARE(s.baudRate, 9600u);
        QCOMPARE(int(s.byteSize), 8);
        QCOMPARE(int(s.parity), 0);
        QCOMPARE(int(s.stopBits), 0);
        QVERIFY(!s.ctsOutputFlow && !s.xonXoffInput && !s.xonXoffOutput);

        out.clear();
        QVERIFY(port.close());
        QVERIFY(!port.running);
        QCOMPARE(out.text().count(QString("cSerial @ %1: Closed '%2'\n").arg(id, path)), 1);
        QVERIFY(!port.close());
        QCOMPARE(out.text().count("Closed"), 1);
        QCOMPARE(port.handle.load(), cSerial::NO_DEVICE);
        QVERIFY(port.portName.empty());
    }

    void deviceHeldByAnotherPortIsRefused()
    {
        ModalAnswerer boxes(QMessageBox::Ok);
        PtyPair pty;
        cSerial first("FIRST", out.file(), err.file());
        cSerial second("SECOND", out.file(), err.file());
        QVERIFY(first.open(pty.slavePath()));
        err.clear();
        QVERIFY(!second.open(pty.slavePath()));
        QCOMPARE(second.error.code, uint16_t(EWOULDBLOCK));
        QVERIFY(err.text().startsWith(QString("cSerial @ %1: SECOND Open %2 -> Error %3: ")
                                          .arg(hexId(second), QString::fromStdString(pty.slavePath()),
                                               QString::asprintf("0x%04X", EWOULDBLOCK))));
        // The access-denied class: only logged, and the port stops waiting.
        QVERIFY(!second.alive);
        QCoreApplication::processEvents();
        QCOMPARE(boxes.count(), 0);
        // The first keeps the device; once it lets go the device can be taken.
        QVERIFY(first.running);
        QVERIFY(first.close());
        QVERIFY(second.close());
        cSerial third("THIRD", out.file(), err.file());
        QVERIFY(third.open(pty.slavePath()));
    }

    void closeOfNeverOpenedPort()
    {
        cSerial port("IDLE", out.file(), err.file());
        out.clear();
        StdStreamCapture so(1);
        QVERIFY(!port.close());
        so.stop();
        QCOMPARE(so.text(), QString("cThread @ %1: IDLE thread ->exited\n").arg(hexId(port)));
        QCOMPARE(out.text(), QString());
    }

    void reporterClasses()
    {
        ModalAnswerer boxes(QMessageBox::Ok);
        cSerial port("R", out.file(), err.file());
        cComError& e = port.error;

        errno = 0;
        QVERIFY(!e.report(port.id, "TX"));
        QCOMPARE(err.text(), QString());
        QCOMPARE(e.errorCount, 0u);

        // Not found and aborted are only logged.
        for (int code : {ENOENT, ECANCELED, EINTR}) {
            err.clear();
            errno = code;
            QVERIFY(e.report(port.id, "RX"));
            QVERIFY(err.text().startsWith(
                QString("cSerial @ %1: R RX -> Error %2: RX\nError code %3: ")
                    .arg(hexId(port), QString::asprintf("0x%04X", code))
                    .arg(code)));
            QVERIFY(port.alive);
        }
        QCOMPARE(boxes.count(), 0);

        // Access denied: logged, and whoever waits on the port stops waiting.
        errno = EBUSY;
        QVERIFY(e.report(port.id, "Open X"));
        QVERIFY(!port.alive);
        QCOMPARE(boxes.count(), 0);

        // Anything unexpected is shown in a box titled ERROR, then logged.
        err.clear();
        errno = EPROTO;
        QVERIFY(e.report(port.id, "TX"));
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.titles.last(), QString("ERROR"));
        QCOMPARE(boxes.texts.last(), QString::fromLocal8Bit(e.message));
        QVERIFY(QString(e.message).startsWith(QString("TX\nError code %1: ").arg(EPROTO)));
        QVERIFY(err.text().contains("-> Error 0x0047: TX\n"));
        QCOMPARE(e.errorCount, 5u);

        // A device that went away is shown once; later reports of it are only logged.
        port.alive = true;
        err.clear();
        for (int i = 0; i < 3; ++i) {
            errno = EIO;
            QVERIFY(e.report(port.id, "RX"));
        }
        QVERIFY(!port.alive);
        QCOMPARE(boxes.count(), 2);
        QCOMPARE(err.text().count("-> Error 0x0005: RX\n"), 3);

        // Without an owner the tag reads NULL and the line goes to standard error.
        cComError alone;
        StdStreamCapture se(2);
        errno = ENOENT;
        QVERIFY(alone.report(0x1234, "Open Z", true));
        se.stop();
        QVERIFY(se.text().startsWith("cSerial @ 0x00001234: NULL Open Z -> Error 0x0002: Open Z\n"));
    }

    void reportFromAnotherThreadDoesNotWait()
    {
        ModalAnswerer boxes(QMessageBox::Ok);
        boxes.hold(true);
        cSerial port("W", out.file(), err.file());
        std::atomic<bool> returned{false};
        std::thread worker([&] {
            errno = EPROTO;
            port.error.report(port.id, "TX");
            returned = true;
        });
        worker.join();
        // The worker went on before any box was shown: the box waits for the GUI thread.
        QVERIFY(returned);
        QVERIFY(err.text().contains("-> Error 0x0047: TX\n"));
        QTRY_COMPARE(boxes.count(), 1);
        QCOMPARE(boxes.titles.last(), QString("ERROR"));
        boxes.hold(false);
        QTRY_VERIFY(!QApplication::activeModalWidget());
    }
};

QTEST_MAIN(TestSerialPort)
#include "test_serial_port.moc"
