// The real corvane program, run in a temporary folder on the offscreen platform.
#include "ProgramRunner.h"

#include <QDir>
#include <QFile>
#include <QtTest>

// The entry point on its own: a copy of the program with no plug-ins beside it, so that no
// device plug-in takes part in what these tests read.
#define STAGED_RUNNER(p)                                                                                  \
    ProgramRunner p;                                                                                      \
    {                                                                                                     \
        const QString bin = ProgramRunner::stageProgram(p.workDir() + "/program");                        \
        QVERIFY(!bin.isEmpty());                                                                          \
        p.setProgramDir(bin);                                                                             \
    }

class TestEntryPoint : public QObject
{
    Q_OBJECT

private slots:
    void noSwitchWritesToTheConsole()
    {
        STAGED_RUNNER(p)
        QVERIFY(p.start({}));
        QVERIFY(p.stop());
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(!QFile::exists(p.workDir() + "/log.txt"));
        const QString out = p.out();
        const QStringList order = {
            "Thread tag is 'GENERIC SERIAL PORT'",
            "cMainWindow: Version 1.1\n",
            "cMainWindow: Connecting signals\n",
            "cMainWindow: Ready\n",
            "cMainWindow: Resetting factory mode\n",
            "Thread tag changed from 'GENERIC' to 'MAIN GUI'",
            "Starting MAIN GUI thread handler",
            "Thread tag changed from 'GENERIC' to 'MAIN'",
            "Starting MAIN transaction thread handler",
            "cMainWindow: Disconnecting signals\n",
            "MAIN GUI thread handler stopped",
            "MAIN transaction thread handler stopped",
            "cMainWindow: Bye!\n",
            "MAIN GUI thread destroyed",
            "MAIN thread destroyed",
            "GENERIC SERIAL PORT thread destroyed",
        };
        int at = 0;
        for (const QString& line : order) {
            const int found = out.indexOf(line, at);
            QVERIFY2(found >= 0, qPrintable("missing in order: " + line + "\n" + out));
            at = found + line.size();
        }
        QVERIFY(p.err().contains("MAIN GUI thread -> is trying exit and waiting on confirm"));
    }

    void switches_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("factory");
        QTest::addColumn<bool>("log");
        QTest::newRow("factory") << QStringList{"-factory"} << true << false;
        QTest::newRow("factory then debug") << QStringList{"-factory", "-debug"} << true << true;
        QTest::newRow("debug ends the scan") << QStringList{"-debug", "-factory"} << false << true;
        QTest::newRow("other capitals") << QStringList{"-Debug", "-FACTORY", "-DEBUG"} << false << false;
        QTest::newRow("two dashes") << QStringList{"--debug", "--factory"} << false << false;
        QTest::newRow("other arguments") << QStringList{"x", "-factory", "y"} << true << false;
    }
    void switches()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, factory);
        QFETCH(bool, log);
        STAGED_RUNNER(p)
        QVERIFY(p.start(args));
        QVERIFY(p.stop());
        QCOMPARE(QFile::exists(p.workDir() + "/log.txt"), log);
        const QString diag = log ? p.log() : p.out();
        QVERIFY2(diag.contains(factory ? "cMainWindow: Setting factory mode\n" : "cMainWindow: Resetting factory mode\n"),
                 qPrintable(diag));
    }

    // log.txt is truncated, holds everything up to the hand-back of the streams, and the
    // window's destruction is written to the console after it.
    void debugLogIsTruncatedAndClosedBeforeTheWindowGoes()
    {
        STAGED_RUNNER(p)
        {
            QFile old(p.workDir() + "/log.txt");
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("OLD CONTENT THAT MUST GO\n");
        }
        QVERIFY(p.start({"-debug"}));
        QVERIFY(p.stop());
        const QString log = p.log();
        QVERIFY(!log.contains("OLD CONTENT"));
        QVERIFY(log.startsWith("cMainWindow: Version 1.1\n"));
        QVERIFY(log.contains("cMainWindow: Resetting factory mode\n"));
        QVERIFY(log.contains("Starting MAIN transaction thread handler"));
        QVERIFY(!log.contains("Bye!"));
        // Plug-ins beside the program are unloaded (their threads destroyed) while the log is
        // still open; the window's own threads go after it is closed.
        QVERIFY(!log.contains("MAIN thread destroyed"));
        QVERIFY(!log.contains("MAIN GUI thread destroyed"));
        // Built before the streams were handed over, and destroyed after they came back.
        QVERIFY(p.out().contains("Thread tag is 'GENERIC'"));
        QVERIFY(!p.out().contains("cMainWindow: Version"));
        QVERIFY(p.out().contains("cMainWindow: Disconnecting signals\ncMainWindow: Bye!\n") ||
                p.out().indexOf("Bye!") > p.out().indexOf("Disconnecting signals"));
        QVERIFY(p.out().contains("MAIN thread destroyed"));
    }

    // A folder named log.txt cannot be opened as a file, whoever runs the test.
    void debugWithoutAWritableLogUsesTheConsole()
    {
        STAGED_RUNNER(p)
        QVERIFY(QDir(p.workDir()).mkdir("log.txt"));
        QVERIFY(p.start({"-debug"}));
        QVERIFY(p.stop());
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(p.out().contains("cMainWindow: Version 1.1\n"));
        QVERIFY(p.out().contains("cMainWindow: Resetting factory mode\n"));
        QVERIFY(p.out().contains("cMainWindow: Bye!\n"));
        QVERIFY(QFileInfo(p.workDir() + "/log.txt").isDir());
    }
};

QTEST_GUILESS_MAIN(TestEntryPoint)
#include "test_entry_point.moc"
