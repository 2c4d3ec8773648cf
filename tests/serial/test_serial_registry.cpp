// The main window's registry of shared ports.
#include "CapturedFile.h"
#include "HostFixture.h"
#include "ModalAnswerer.h"
#include "PtyPair.h"
#include "StdStreamCapture.h"
#include "gui/cMainWindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// One round of a plug-in's retry loop: `tries` openPort calls on a name that fails. Says
// how many boxes, error lines, "Comport Closed" lines and NotUsedCom tags it brought.
struct Round
{
    int boxes = 0;
    int errorLines = 0;
    int closedLines = 0;
    int retags = 0;
    QString errors;
};
} // namespace

class TestSerialRegistry : public QObject
{
    Q_OBJECT

    // Settings in a store of their own; the windows are the tests' own, one per test.
    std::unique_ptr<HostFixture> host;
    CapturedFile out, err;
    std::unique_ptr<cMainWindow> window;

    Round retry(const std::string& name, ModalAnswerer& answerer, int tries = 4)
    {
        const int boxesBefore = answerer.count();
        StdStreamCapture so(1);
        StdStreamCapture se(2);
        for (int i = 0; i < tries; ++i) {
            if (window->openPort(name))
                qWarning("opened %s", name.c_str());
        }
        so.stop();
        se.stop();
        Round r;
        r.boxes = answerer.count() - boxesBefore;
        r.errorLines = se.text().count(" -> Error 0x");
        r.closedLines = se.text().count("Comport Closed\n");
        r.errors = se.text();
        r.retags = so.text().count("Thread tag changed from 'GENERIC SERIAL PORT' to 'NotUsedCom'\n");
        return r;
    }

private slots:
    void initTestCase() { host = std::make_unique<HostFixture>(); }
    void init() { window = host->makeWindow("/opt/corvane", out.file(), err.file()); }
    void cleanup() { window.reset(); }
    void cleanupTestCase() { host.reset(); }

    void sameNameIsOnePortWithUsers()
    {
        PtyPair pty;
        const std::string name = pty.slavePath();
        const QString path = QString::fromStdString(name);
        QSignalSpy status(window.get(), &cMainWindow::statusBarMsgSignal);
        StdStreamCapture so(1);

        cSerial* a = window->openPort(name);
        QVERIFY(a);
        cSerial* b = window->openPort(name);
        QCOMPARE(b, a);
        QCOMPARE(a->users, 2);
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.at(0).at(0).toString(), "Opening: " + path);
        QCOMPARE(window->portList.size(), 1);
        QCOMPARE(a->tag, name);
        const QString id = QString::asprintf("cThread @ 0x%08X: ", a->id);
        QVERIFY(so.text().contains(id + "Thread tag changed from 'GENERIC SERIAL PORT' to '" + path + " MASTER'\n"));
        QVERIFY(so.text().contains(id + "Thread tag changed from '" + path + " MASTER' to '" + path + "'\n"));
        // The window's streams are its log (log.txt with -debug); the registry's ports write
        // to the console all the same.
        QVERIFY(!out.text().contains(QString::asprintf("0x%08X", a->id)));
        QVERIFY(!err.text().contains(QString::asprintf("0x%08X", a->id)));

        // One user left: the port stays open and listed.
        window->closePort(a);
        QCOMPARE(a->users, 1);
        QVERIFY(a->running);
        QCOMPARE(window->portList.size(), 1);
        QVERIFY(!so.text().contains("Closed '"));

        window->closePort(a);
        QVERIFY(window->portList.isEmpty());
        QVERIFY(!a->running);
        QCOMPARE(so.text().count(QString::asprintf("cSerial @ 0x%08X: Closed '", a->id) + path + "'\n"), 1);
    }

    void sharedOnlyAtEqualSettings()
    {
        PtyPair pty;
        const std::string name = pty.slavePath();
        const QString path = QString::fromStdString(name);
        const cLineSettings even(19200, 8, 'E', 1);
        QSignalSpy status(window.get(), &cMainWindow::statusBarMsgSignal);
        StdStreamCapture se(2);

        cOpenError why(cOpenError::Failed, "left over");
        cSerial* a = window->openPort(name, even, &why);
        QVERIFY(a);
        QCOMPARE(why.reason, cOpenError::None);
        QCOMPARE(window->openPort(name, cLineSettings(19200, 8, 'E', 1), &why), a);
        QCOMPARE(a->users, 2);

        // The plain call asks for 9600 8N1, which this port is not: refused, not reconfigured.
        for (const cLineSettings& other : {cLineSettings(), cLineSettings(19200, 8, 'O', 1)}) {
            status.clear();
            QVERIFY(!window->openPort(name, other, &why));
            QCOMPARE(why.reason, cOpenError::OtherSettings);
            const QString both = "open at 19200 8E1 by another user; not opened at " + QString::fromStdString(other.text());
            QVERIFY2(se.text().contains("MainWin: " + path + " is " + both + "\n"), qPrintable(se.text()));
            QCOMPARE(status.count(), 1);
            QCOMPARE(status.at(0).at(0).toString(), "Port " + path + " is " + both);
            QVERIFY(QString::fromStdString(why.text()).contains("19200 8E1"));
        }
        QVERIFY(!window->openPort(name));
        QCOMPARE(a->users, 2);
        QCOMPARE(window->portList.size(), 1);
        termios t;
        QVERIFY(tcgetattr(pty.slaveFd(), &t) == 0);
        // (A pseudo-terminal keeps the rate but takes no parity.)
        QCOMPARE(cfgetospeed(&t), speed_t(B19200));

        // Once its users are gone the device may be opened at other settings.
        window->closePort(a);
        window->closePort(a);
        cSerial* b = window->openPort(name);
        QVERIFY(b);
        QCOMPARE(b->lineSettings().text(), std::string("9600 8N1"));
        window->closePort(b);
    }

    void namesAreCaseSensitive()
    {
        PtyPair pty;
        QTemporaryDir dir;
        const QString lower = dir.path() + "/ttyA";
        const QString upper = dir.path() + "/TTYA";
        QCOMPARE(symlink(pty.slavePath().c_str(), lower.toLocal8Bit().constData()), 0);
        QCOMPARE(symlink(pty.slavePath().c_str(), upper.toLocal8Bit().constData()), 0);
        QSignalSpy status(window.get(), &cMainWindow::statusBarMsgSignal);
        StdStreamCapture se(2);

        cSerial* a = window->openPort(lower.toStdString());
        QVERIFY(a);
        // Another name is another port object, even for the same device, which is then held.
        QVERIFY(!window->openPort(upper.toStdString()));
        QCOMPARE(status.count(), 2);
        QCOMPARE(window->portList.size(), 1);
        QCOMPARE(a->users, 1);
        QVERIFY(se.text().contains("Comport Closed\n"));
    }

    void missingDeviceLeavesTheListAlone()
    {
        PtyPair pty;
        cSerial* kept = window->openPort(pty.slavePath());
        QVERIFY(kept);
        StdStreamCapture so(1);
        StdStreamCapture se(2);

        QVERIFY(!window->openPort("/dev/corvane-no-such-port"));
        so.stop();
        se.stop();
        QCOMPARE(window->portList.size(), 1);
        QCOMPARE(window->portList.at(0), kept);
        QVERIFY(se.text().contains(" GENERIC SERIAL PORT Open /dev/corvane-no-such-port -> Error 0x0002: "));
        QVERIFY(se.text().endsWith("Comport Closed\n"));
        QVERIFY(so.text().contains("Thread tag changed from 'GENERIC SERIAL PORT' to 'NotUsedCom'\n"));
        QVERIFY(so.text().contains("Closed '/dev/corvane-no-such-port'\n"));
    }

    // A path that is no serial port, tried every second: the box and the lines of the
    // failure come once, not with every retry.
    void failingOpenIsReportedOncePerCause_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("code");
        QTest::newRow("null device") << "null" << "-> Error 0x0019: ";
        QTest::newRow("regular file") << "file" << "-> Error 0x0019: ";
        QTest::newRow("fifo") << "fifo" << "-> Error 0x0019: ";
        QTest::newRow("folder") << "folder" << "-> Error 0x0015: ";
        QTest::newRow("5000-character path") << "long" << "-> Error 0x0024: ";
    }
    void failingOpenIsReportedOncePerCause()
    {
        QFETCH(QString, kind);
        QFETCH(QString, code);
        QTemporaryDir dir;
        QString path = dir.path() + "/" + kind;
        if (kind == "null") {
            path = "/dev/null";
        } else if (kind == "file") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("not a terminal\n");
        } else if (kind == "fifo") {
            QCOMPARE(mkfifo(path.toLocal8Bit().constData(), 0600), 0);
        } else if (kind == "folder") {
            QVERIFY(QDir().mkdir(path));
        } else {
            path = "/" + QString(4999, 'x');
        }
        const std::string name = path.toStdString();
        ModalAnswerer answerer(QMessageBox::Ok);

        const Round r = retry(name, answerer);
        QCOMPARE(r.boxes, 1);
        QCOMPARE(answerer.titles.last(), QString("ERROR"));
        QVERIFY(answerer.texts.last().contains(path.left(200)));
        QCOMPARE(r.errorLines, 1);
        QVERIFY2(r.errors.contains(code), qPrintable(r.errors.left(300)));
        QCOMPARE(r.closedLines, 1);
        QCOMPARE(r.retags, 1);
        QVERIFY(window->portList.isEmpty());
    }

    // The record of a failure goes with a different cause or a success: each is reported as
    // the first failure was, and only once.
    void aChangedCauseIsReportedAgain()
    {
        QTemporaryDir dir;
        PtyPair pty;
        const QString path = dir.path() + "/port";
        const std::string name = path.toStdString();
        const auto makeFile = [&] {
            QFile f(path);
            return f.open(QIODevice::WriteOnly);
        };
        ModalAnswerer answerer(QMessageBox::Ok);

        QVERIFY(makeFile());
        Round r = retry(name, answerer);
        QCOMPARE(r.boxes, 1);
        QCOMPARE(r.errorLines, 1);

        // Another error on the same name: said and shown again, once.
        QVERIFY(QFile::remove(path));
        QVERIFY(QDir().mkdir(path));
        r = retry(name, answerer);
        QCOMPARE(r.boxes, 1);
        QCOMPARE(r.errorLines, 1);
        QCOMPARE(r.closedLines, 1);
        QVERIFY(r.errors.contains("-> Error 0x0015: "));

        // Unplugged: a missing device is logged, never shown, and logged once.
        QVERIFY(QDir().rmdir(path));
        r = retry(name, answerer);
        QCOMPARE(r.boxes, 0);
        QCOMPARE(r.errorLines, 1);
        QCOMPARE(r.retags, 1);

        // Plugged in: it opens, and the next failure is a first one again.
        QCOMPARE(symlink(pty.slavePath().c_str(), name.c_str()), 0);
        cSerial* p = window->openPort(name);
        QVERIFY(p);
        QCOMPARE(p->tag, name);
        window->closePort(p);
        QVERIFY(QFile::remove(path));
        r = retry(name, answerer);
        QCOMPARE(r.boxes, 0);
        QCOMPARE(r.errorLines, 1);
        QCOMPARE(r.closedLines, 1);
        QVERIFY(makeFile());
        r = retry(name, answerer);
        QCOMPARE(r.boxes, 1);
        QCOMPARE(r.errorLines, 1);
    }

    // Reconnecting again and again does not pile up port objects: a port given back by its
    // last user is freed, and a pointer handed back again, at once or long after, is safe.
    void portsGivenBackAreFreed()
    {
        PtyPair pty;
        StdStreamCapture so(1);
        StdStreamCapture se(2);
        cSerial* first = nullptr;
        const int cycles = 12;
        for (int i = 0; i < cycles; ++i) {
            cSerial* p = window->openPort(pty.slavePath());
            QVERIFY(p);
            if (!first)
                first = p;
            window->closePort(p);
            window->closePort(p);
        }
        so.stop();
        QVERIFY(window->portList.isEmpty());
        QVERIFY(window->ownedPorts.empty());
        QVERIFY2(window->retiredPorts.size() <= 2, qPrintable(QString::number(window->retiredPorts.size())));
        // The objects are gone, not only unlisted.
        QCOMPARE(so.text().count(" thread destroyed\n"), cycles - int(window->retiredPorts.size()));
        // Long freed: only the error line; the memory is not touched (AddressSanitizer).
        window->closePort(first);
        se.stop();
        QCOMPARE(se.text().count("ERROR: Trying to close port that is not in port list\n"), cycles + 1);
    }

    void closingAPortThatIsNotListed()
    {
        PtyPair pty;
        cSerial* a = window->openPort(pty.slavePath());
        QVERIFY(a);
        window->closePort(a);
        StdStreamCapture so(1);
        StdStreamCapture se(2);
        window->closePort(a);
        window->closePort(nullptr);
        so.stop();
        se.stop();
        QCOMPARE(se.text(), QString("ERROR: Trying to close port that is not in port list\n"));
        QCOMPARE(so.text(), QString::asprintf("cThread @ 0x%08X: ", a->id) + QString::fromStdString(pty.slavePath()) +
                                " thread ->exited\n");
    }

    void closeAllPorts()
    {
        PtyPair one, two;
        cSerial* a = window->openPort(one.slavePath());
        cSerial* b = window->openPort(two.slavePath());
        QVERIFY(a && b && a != b);
        {
            StdStreamCapture so(1);
            StdStreamCapture se(2);
            window->closeAllPorts();
            so.stop();
            se.stop();
            QCOMPARE(so.text().count("Closed '"), 2);
            QVERIFY(so.text().indexOf(QString::fromStdString(one.slavePath()) + "'") <
                    so.text().indexOf(QString::fromStdString(two.slavePath()) + "'"));
            QVERIFY(se.text().endsWith("waiting on confirm\nMainWin: closing all ports\n"));
        }
        QVERIFY(window->portList.isEmpty());
        QVERIFY(!a->running && !b->running);

        StdStreamCapture so(1);
        StdStreamCapture se(2);
        window->closeAllPorts();
        so.stop();
        se.stop();
        QCOMPARE(so.text(), QString());
        QCOMPARE(se.text(), QString("MainWin: closing all ports\n"));
        // A plug-in that still holds a pointer may hand it back safely; the last use given
        // back frees the port.
        window->closePort(a);
        QCOMPARE(window->ownedPorts.size(), size_t(1));
        QCOMPARE(window->ownedPorts.front().get(), b);
    }

    void windowClosesItsPortsWhenItGoes()
    {
        PtyPair pty;
        cSerial* a = window->openPort(pty.slavePath());
        QVERIFY(a);
        StdStreamCapture so(1);
        StdStreamCapture se(2);
        window.reset();
        so.stop();
        se.stop();
        QCOMPARE(so.text().count("Closed '" + QString::fromStdString(pty.slavePath()) + "'"), 1);
        QVERIFY(se.text().contains("MainWin: closing all ports\n"));
    }
};

QTEST_MAIN(TestSerialRegistry)
#include "test_serial_registry.moc"
