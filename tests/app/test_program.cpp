// The entry point's steps, driven in-process with a real window.
#include "CapturedFile.h"
#include "StdStreamCapture.h"
#include "app/cCommandLine.h"
#include "app/cProgram.h"
#include "gui/cMainWindow.h"
#include "plugin/cPlugin.h"
#include "plugin/cPluginEntry.h"

#include <QDir>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <unistd.h>

namespace {

// Runs the program's steps in a temporary working folder.
struct Run
{
    QTemporaryDir dir;
    QString previous = QDir::currentPath();
    Run() { QDir::setCurrent(dir.path()); }
    ~Run() { QDir::setCurrent(previous); }
};

} // namespace

class TestProgram : public QObject
{
    Q_OBJECT

    std::unique_ptr<cMainWindow> makeWindow(cProgram& program)
    {
        QString path = "/opt/corvane/corvane";
        return std::make_unique<cMainWindow>(nullptr, qApp, path, program.out(), program.err());
    }

private slots:
    void debugOpensTheLogAndSaysSo()
    {
        Run run;
        char prog[] = "corvane", dbg[] = "-debug";
        char* argv[] = {prog, dbg, nullptr};
        StdStreamCapture so(1), se(2);
        cProgram program(2, argv);
        QVERIFY(program.debugFlag);
        QVERIFY(program.logFile);
        QCOMPARE(program.out(), program.logFile);
        QCOMPARE(program.err(), program.logFile);
        auto w = makeWindow(program);
        program.startUp(*w);
        QVERIFY(w->debugMode);
        QVERIFY(w->popupBox->isVisible());
        QCOMPARE(w->popupBox->icon(), QMessageBox::Information);
        QCOMPARE(w->popupBox->windowTitle(), QString("Debug"));
        QCOMPARE(w->popupBox->text(), QString("Debug output will be redirected to 'log.txt'"));
        QCOMPARE(w->popupBox->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
        program.shutDown(*w);
        QVERIFY(!program.logFile);
        QCOMPARE(w->mainThread.out.load(), stdout);
        QCOMPARE(w->genericPort.err.load(), stderr);
        w.reset();
        QFile log(run.dir.path() + "/log.txt");
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QString text = QString::fromLocal8Bit(log.readAll());
        QVERIFY(text.contains("cMainWindow: Resetting factory mode\n"));
        QVERIFY(!text.contains("Bye!"));
        QVERIFY(so.text().contains("cMainWindow: Bye!\n"));
    }

    void debugWithoutLogFileShowsACriticalPopup()
    {
        Run run;
        QVERIFY(QDir(run.dir.path()).mkdir("log.txt"));
        char prog[] = "corvane", fac[] = "-factory", dbg[] = "-debug";
        char* argv[] = {prog, fac, dbg, nullptr};
        StdStreamCapture so(1), se(2);
        cProgram program(3, argv);
        QVERIFY(program.debugFlag);
        QVERIFY(program.factoryFlag);
        QVERIFY(!program.logFile);
        QCOMPARE(program.out(), stdout);
        QCOMPARE(program.err(), stderr);
        auto w = makeWindow(program);
        program.startUp(*w);
        QVERIFY(w->debugMode);
        QVERIFY(w->factoryMode);
        QVERIFY(w->popupBox->isVisible());
        QCOMPARE(w->popupBox->icon(), QMessageBox::Critical);
        QCOMPARE(w->popupBox->text(), QString("Could not open debug file 'log.txt' for writing. Debug output will be "
                                              "redirected to stdout"));
        QVERIFY(so.text().contains("cMainWindow: Setting factory mode\n"));
        program.shutDown(*w);
    }

    // Without "-debug" the serial debug switch is off whatever was saved, no pop-up shows,
    // and the first command is queued on a running "MAIN".
    void startUpWithoutSwitches()
    {
        Run run;
        char prog[] = "corvane";
        char* argv[] = {prog, nullptr};
        CapturedFile out;
        StdStreamCapture so(1), se(2);
        cProgram program(1, argv);
        QVERIFY(!program.debugFlag && !program.factoryFlag && !program.logFile);
        // Beside a folder of its own: a bare name would have the loader scan "/plugins".
        QString path = run.dir.path() + "/corvane";
        cMainWindow w(nullptr, qApp, path, out.file(), out.file());
        w.genericPort.debug = true;
        program.startUp(w);
        QVERIFY(!w.genericPort.debug);
        QVERIFY(!w.popupBox->isVisible());
        QVERIFY(w.isVisible());
        QVERIFY(w.mainGuiThread.running);
        QVERIFY(w.mainThread.running);
        QCOMPARE(w.mainThread.type.load(), 2);
        QCOMPARE(w.mainGuiThread.type.load(), 1);
        QCOMPARE(w.mainThread.tag, std::string("MAIN"));
        QCOMPARE(w.mainGuiThread.tag, std::string("MAIN GUI"));
        QCOMPARE(w.mainThread.handlerArg, static_cast<void*>(&w));
        const cTransaction& first = w.mainThread.buffers[0];
        QTRY_COMPARE(int(first.state), int(TRSC_OK));
        QCOMPARE(int(first.inputLength), 1);
        QCOMPARE(int(first.input[0]), 2);
        QCOMPARE(int(first.delay), 1);
        const QString text = out.text();
        QVERIFY(text.indexOf("Resetting factory mode") < text.indexOf("from 'GENERIC' to 'MAIN GUI'"));
        QVERIFY(text.indexOf("Starting MAIN GUI thread handler") < text.indexOf("from 'GENERIC' to 'MAIN'"));
        program.shutDown(w);
        QCOMPARE(w.mainThread.out.load(), out.file()); // no log file: streams untouched
    }

    // Whether a window can be shown is judged before Qt would abort: the platform Qt will take
    // (an argument over the environment, each in a list of fall-backs) and its display server.
    void displayJudgement_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("wayland");
        QTest::addColumn<bool>("runs");
        QTest::newRow("offscreen") << QStringList{} << "offscreen" << "" << "" << true;
        QTest::newRow("wayland session") << QStringList{} << "" << "" << "wayland-0" << true;
        QTest::newRow("remote X display taken on trust") << QStringList{} << "" << "somehost:0" << "" << true;
        QTest::newRow("fall-back list reaches offscreen") << QStringList{} << "wayland;offscreen" << "" << "" << true;
        QTest::newRow("fall-back list finds nothing") << QStringList{} << "wayland;xcb" << "" << "" << false;
        QTest::newRow("xcb with options, no display") << QStringList{} << "xcb:nograb" << "" << "" << false;
        QTest::newRow("argument over environment") << QStringList{"-platform", "minimal"} << "xcb" << "" << ""
                                                   << true;
        QTest::newRow("-platform without a name") << QStringList{"-platform"} << "" << "" << "" << false;
        QTest::newRow("local display nobody serves") << QStringList{} << "" << "unix:987.0" << "" << false;
    }
    void displayJudgement()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, platform);
        QFETCH(QString, display);
        QFETCH(QString, wayland);
        QFETCH(bool, runs);
        struct Restore
        {
            QByteArray values[3];
            Restore()
            {
                int i = 0;
                for (const char* name : names)
                    values[i++] = qgetenv(name);
            }
            ~Restore()
            {
                int i = 0;
                for (const char* name : names)
                    values[i].isNull() ? qunsetenv(name) : qputenv(name, values[i]), ++i;
            }
            const char* names[3] = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};
        } restore;
        const QString values[] = {platform, display, wayland};
        for (int i = 0; i < 3; ++i)
            values[i].isEmpty() ? qunsetenv(restore.names[i]) : qputenv(restore.names[i], values[i].toLocal8Bit());
        const cCommandLine line(QStringList{"corvane"} + args);
        QCOMPARE(line.action(), runs ? cCommandLine::Run : cCommandLine::NoDisplay);
        QCOMPARE(line.text().isEmpty(), runs);
    }

    // A plug-in list that goes while it still holds a loaded plug-in (the global one at static
    // destruction, after an exit() that skipped the ordered shutdown) makes no call into it:
    // by then Qt's own state may be gone.
    void aListThatGoesLeavesItsPluginsAlone()
    {
        CapturedFile log;
        StdStreamCapture so(1), se(2);
        QString path = "/opt/corvane/corvane";
        cMainWindow w(nullptr, qApp, path, log.file(), log.file());
        auto* list = new cPluginList;
        cPluginEntry& entry = list->append("tp_alpha.plg", log.file());
        QVERIFY(entry.handler.loadPlugin(&w, CORVANE_TEST_PLUGIN_DIR, "tp_alpha.plg", "_Z15pluginVersionOKP11cMainWindow",
                                         "_Z14createInstanceP11cMainWindow", "_Z12killInstanceP7cPlugin"));
        entry.handler.plugin = entry.handler.createInstance(&w);
        QVERIFY(entry.handler.plugin);
        QVERIFY(log.text().contains("Alpha plugin: call constructed\n"));
        delete list;
        const QString text = log.text();
        for (const char* call : {"saveSettings", "deinit", "killInstance", "destroyed"})
            QVERIFY2(!text.contains(QString("Alpha plugin: call ") + call), qPrintable(text));
    }
};

QTEST_MAIN(TestProgram)
#include "test_program.moc"
