// The main window's registry of shared ports.
#include "CapturedFile.h"
#include "PtyPair.h"
#include "StdStreamCapture.h"
#include "gui/cMainWindow.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <unistd.h>

class TestSerialRegistry : public QObject
{
    Q_OBJECT

    QTemporaryDir config;
    CapturedFile out, err;
    std::unique_ptr<cMainWindow> window;

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        qApp->setQuitOnLastWindowClosed(false);
    }
    void init()
    {
        QString program = "/opt/corvane/corvane";
        window = std::make_unique<cMainWindow>(nullptr, qApp, program, out.file(), err.file());
    }
    void cleanup() { window.reset(); }

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
        // A plug-in that still holds a pointer may hand it back safely.
        window->closePort(a);
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
