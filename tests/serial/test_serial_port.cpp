// Opening and closing a serial port, and the error reporter's rules.
#include "CapturedFile.h"
#include "ModalAnswerer.h"
#include "PtyPair.h"
#include "StdStreamCapture.h"
#include "serial/cSerial.h"

#include <QtTest>

#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <cerrno>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

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

    void lineSettingsReachTheTerminal_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<int>("speed");
        QTest::addColumn<QString>("applied");
        QTest::addColumn<int>("bits");
        QTest::addColumn<QString>("charMs");
        QTest::addColumn<int>("silenceUs");
        QTest::addColumn<int>("delayMs");
        // A pseudo-terminal keeps rate and stop bits but always runs 8 data bits without
        // parity: the log shows what it took, the silence follows what the line was opened for.
        // Character times and silences worked out by hand: bits x 1e6 / rate, 3.5 of those up to
        // 19200 baud, 1750 us above.
        QTest::newRow("1200 7O2") << "1200 7O2" << int(B1200) << "1200,8,N,2" << 11 << "9.167" << 32084 << 32;
        QTest::newRow("9600 8E2") << "9600 8E2" << int(B9600) << "9600,8,N,2" << 11 << "1.146" << 4375 << 4;
        QTest::newRow("19200 8E1") << "19200 8E1" << int(B19200) << "19200,8,N,1" << 10 << "0.521" << 2006 << 2;
        QTest::newRow("19200 8N1") << "19200 8N1" << int(B19200) << "19200,8,N,1" << 10 << "0.521" << 1823 << 1;
        QTest::newRow("38400 8N2") << "38400 8N2" << int(B38400) << "38400,8,N,2" << 11 << "0.286" << 1750 << 1;
        QTest::newRow("115200 8N1") << "115200 8N1" << int(B115200) << "115200,8,N,1" << 10 << "0.087" << 1750 << 1;
        QTest::newRow("230400 7E1") << "230400 7E1" << int(B230400) << "230400,8,N,1" << 10 << "0.043" << 1750 << 1;
        // Asked for explicitly, the usual line logs exactly what open(name) always did.
        QTest::newRow("9600 8N1") << "9600 8N1" << int(B9600) << "9600,8,N,1" << 10 << "0.960" << 3646 << 3;
    }

    void lineSettingsReachTheTerminal()
    {
        QFETCH(QString, settings);
        QFETCH(QString, applied);
        cLineSettings line;
        QVERIFY(cLineSettings::parse(settings.toStdString(), &line));
        QCOMPARE(QString::fromStdString(line.text()), settings);

        // A refused open pops its error up; answered, so that the test fails instead of waiting.
        ModalAnswerer boxes(QMessageBox::Ok);
        PtyPair pty;
        const QString path = QString::fromStdString(pty.slavePath());
        cSerial port("P", out.file(), err.file());
        out.clear();
        QVERIFY(port.open(pty.slavePath(), line));
        QCOMPARE(err.text(), QString());

        // Read back from the device itself, past the port and its terminal layer.
        termios t;
        QVERIFY(tcgetattr(pty.slaveFd(), &t) == 0);
        QTEST(int(cfgetospeed(&t)), "speed");
        QCOMPARE(int(cfgetispeed(&t)), int(cfgetospeed(&t)));
        QCOMPARE(bool(t.c_cflag & CSTOPB), line.stopBits == 2);
        QVERIFY(!(t.c_cflag & CRTSCTS) && !(t.c_iflag & (IXON | IXOFF)));
        const QString readBack = QString("%1,%2,%3,%4")
                                 .arg(applied.section(',', 0, 0))
                                 .arg((t.c_cflag & CSIZE) == CS7 ? 7 : 8)
                                 .arg(!(t.c_cflag & PARENB) ? 'N' : (t.c_cflag & PARODD) ? 'O' : 'E')
                                 .arg(t.c_cflag & CSTOPB ? 2 : 1);
        QCOMPARE(readBack, applied);

        QFETCH(int, bits);
        QFETCH(QString, charMs);
        const QString expected = QString("cSerial @ %1: Opened %2 (%3)\n"
                                         "cSerial @ %1: Frame size is %4 bits on %2\n"
                                         "cSerial @ %1: Shortest frame handeling time is %5 ms on %2\n"
                                         "cSerial @ %1: Flushing TX and RX buffers on %2\n")
                                     .arg(hexId(port), path, applied)
                                     .arg(bits)
                                     .arg(charMs);
        QVERIFY2(out.text().startsWith(expected), qPrintable(out.text()));
        // Settings the device did not take are said in a line of their own.
        const QString took = QString(applied).replace(QRegularExpression("^(\\d+),(\\d),(.),(\\d)$"), "\\1 \\2\\3\\4");
        const QString note = QString("cSerial @ %1: Line settings %2 asked, the device took %3 on %4\n")
                                 .arg(hexId(port), settings, took, path);
        QCOMPARE(out.text().contains(note), took != settings);

        // Again on a terminal already at that rate, as the peer or the last user left it: the C
        // library then calls the framing the driver dropped a failure. It is not one.
        QVERIFY(port.close());
        out.clear();
        QVERIFY2(port.open(pty.slavePath(), line), qPrintable(err.text()));
        QCOMPARE(err.text(), QString());
        QVERIFY2(out.text().startsWith(expected), qPrintable(out.text()));
        QCOMPARE(out.text().contains(note), took != settings);
        QVERIFY(port.lineSettings() == line);
        QTEST(int(port.interFrameSilenceUs()), "silenceUs");
        QTEST(int(port.requestDelayMs()), "delayMs");
    }

    void settingsAPortCannotTakeAreRefused()
    {
        // Settings let through to the driver fail there, and the host shows that failure in a
        // box: answered, so such a fault fails here instead of waiting on the box.
        ModalAnswerer boxes(QMessageBox::Ok);
        for (const char* text : {"19200 8e1", " 115200 7O2 "}) {
            cLineSettings s;
            QVERIFY2(cLineSettings::parse(text, &s), text);
        }
        for (const char* text : {"14400 8N1", "9600 6N1", "9600 8X1", "9600 8N3", "9600 8N", "9600", "", "8N1 9600",
                                 "9600 8N1 x"})
            QVERIFY2(!cLineSettings::parse(text, nullptr), text);

        PtyPair pty;
        cSerial port("P", out.file(), err.file());
        for (const cLineSettings& bad : {cLineSettings(14400, 8, 'N', 1), cLineSettings(9600, 5, 'N', 1),
                                         cLineSettings(9600, 8, 'M', 1), cLineSettings(9600, 8, 'N', 0)}) {
            err.clear();
            QVERIFY(!port.open(pty.slavePath(), bad));
            QCOMPARE(port.openError.reason, cOpenError::BadSettings);
            QVERIFY2(err.text().startsWith(QString("cSerial @ %1: Line settings %2 refused for %3: ")
                                               .arg(hexId(port), QString::fromStdString(bad.text()),
                                                    QString::fromStdString(pty.slavePath()))),
                     qPrintable(err.text()));
            // Nothing was touched: the port can still be opened properly.
            QCOMPARE(port.handle.load(), cSerial::NO_DEVICE);
        }
        QVERIFY(port.open(pty.slavePath(), cLineSettings(19200, 8, 'E', 1)));
        QCOMPARE(port.openError.reason, cOpenError::None);
    }

    // Each reason from a real cause; the reports the host always made stay as they were.
    void openErrorsSayWhy()
    {
        ModalAnswerer boxes(QMessageBox::Ok);
        {
            cSerial port("P", out.file(), err.file());
            QVERIFY(!port.open("/dev/corvane-no-such-port"));
            QCOMPARE(port.openError.reason, cOpenError::NotPresent);
            QVERIFY(QString::fromStdString(port.openError.text()).contains("plugged in"));
        }
        QTemporaryDir dir;
        QFile file(dir.filePath("plain"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        for (const QString& path : {file.fileName(), dir.path()}) {
            cSerial port("P", out.file(), err.file());
            QVERIFY(!port.open(path.toStdString()));
            QCOMPARE(port.openError.reason, cOpenError::NotSerial);
            QVERIFY2(QString::fromStdString(port.openError.text()).startsWith("not a serial device ("),
                     port.openError.text().c_str());
        }
        // A plain file was opened and refused the settings: the half-open report still says so.
        QVERIFY(err.text().contains(" An error occurred while opening " + file.fileName() + " (9600,8,N,1)"));

        // A file or a folder is an error nobody expects: the host shows it, as it always did.
        // Held devices are only logged.
        const int shown = boxes.count();

        // Held by another program through its lock on the device.
        PtyPair pty;
        const QString path = QString::fromStdString(pty.slavePath());
        QProcess holder;
        holder.setProcessChannelMode(QProcess::MergedChannels);
        holder.start("flock", {"-x", "-n", "-F", path, "sh", "-c", "echo held; exec sleep 60"});
        QVERIFY2(holder.waitForStarted(5000), "util-linux flock is needed to hold a device from another process");
        QByteArray said;
        QTRY_VERIFY2((said += holder.readAll()).contains("held"), said.constData());
        {
            cSerial port("P", out.file(), err.file());
            QVERIFY(!port.open(pty.slavePath()));
            QCOMPARE(port.openError.reason, cOpenError::InUse);
            const QString text = QString::fromStdString(port.openError.text());
            QVERIFY2(text.contains(QString("PID %1 (").arg(holder.processId())), qPrintable(text));
        }
        holder.kill();
        holder.waitForFinished(5000);

        // Held through a UUCP lock file only, as minicom holds a line: refused, and named.
        QProcess locker;
        locker.start("sleep", {"60"});
        QVERIFY(locker.waitForStarted(5000));
        QString lockName = path.mid(5);
        lockName.replace('/', '_');
        QFile lock("/run/lock/LCK.." + lockName);
        if (lock.open(QIODevice::WriteOnly)) {
            lock.write(QString("%1\n").arg(locker.processId(), 10).toLatin1());
            lock.close();
            cSerial port("P", out.file(), err.file());
            err.clear();
            QVERIFY(!port.open(pty.slavePath()));
            QCOMPARE(port.openError.reason, cOpenError::InUse);
            QVERIFY(QString::fromStdString(port.openError.text()).contains(QString("PID %1 (sleep)").arg(locker.processId())));
            QVERIFY(err.text().contains("Open " + path + " -> Error 0x0010"));
            locker.kill();
            locker.waitForFinished(5000);
            // The lock of a process that is gone is stale and holds nothing.
            cSerial next("N", out.file(), err.file());
            QVERIFY(next.open(pty.slavePath()));
            lock.remove();
        } else {
            locker.kill();
            locker.waitForFinished(5000);
            qWarning("lock-file case left out: /run/lock is not writable here");
        }
        QCoreApplication::processEvents();
        QCOMPARE(boxes.count(), shown);
    }

    // A device node the user may not open. As root every node opens, so the case runs again in
    // a copy of this program that has dropped to the user nobody.
    void noPermissionSaysWhatToDo()
    {
        const QByteArray denied = qgetenv("CORVANE_DENIED_DEVICE");
        if (geteuid() != 0 || !denied.isEmpty()) {
            if (denied.isEmpty())
                QSKIP("needs root to make a node this user may not open; runs as root in CI");
            cSerial port("P", out.file(), err.file());
            QVERIFY(!port.open(denied.toStdString()));
            QCOMPARE(port.openError.reason, cOpenError::NoPermission);
            QCOMPARE(port.error.code, uint16_t(EACCES));
            const QString text = QString::fromStdString(port.openError.text());
            QVERIFY2(text.contains("sudo adduser $USER dialout, then log in again"), qPrintable(text));
            return;
        }
        PtyPair pty;
        QVERIFY(chmod(pty.slavePath().c_str(), 0600) == 0);
        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("CORVANE_DENIED_DEVICE", QString::fromStdString(pty.slavePath()));
        env.insert("XDG_RUNTIME_DIR", "/tmp");
        child.setProcessEnvironment(env);
        child.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", QCoreApplication::applicationFilePath(),
                                "noPermissionSaysWhatToDo"});
        if (!child.waitForStarted(5000))
            QSKIP("setpriv cannot be started to drop to the user nobody");
        QVERIFY(child.waitForFinished(60000));
        const QString output = QString::fromLocal8Bit(child.readAll());
        if (output.contains("Permission denied") && !output.contains("TestSerialPort"))
            QSKIP(qPrintable("the test program cannot be run by the user nobody here: " + output.trimmed()));
        QVERIFY2(child.exitCode() == 0 && output.contains("PASS   : TestSerialPort::noPermissionSaysWhatToDo()"),
                 qPrintable(output));
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
        // Only this program holds it: it says so rather than blame someone else.
        cSerial fourth("FOURTH", out.file(), err.file());
        QVERIFY(!fourth.open(pty.slavePath()));
        QCOMPARE(fourth.openError.reason, cOpenError::InUse);
        QVERIFY(QString::fromStdString(fourth.openError.detail).endsWith(", this program"));
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
