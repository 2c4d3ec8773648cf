// The real program with plug-ins: a copy of it in a temporary folder, with a plugins/ folder of
// the test's beside it, run on the offscreen platform with its log in log.txt.
#include "HostFixture.h"
#include "ProgramRunner.h"

#include <QRandomGenerator>

namespace {

struct StagedProgram
{
    QTemporaryDir root;
    ProgramRunner run;
    QString bin;

    StagedProgram()
    {
        bin = ProgramRunner::stageProgram(root.path());
        run.setProgramDir(bin);
        // A failed staging leaves bin empty: "/plugins" would then be the file system's own.
        if (!bin.isEmpty())
            QDir().mkpath(bin + "/plugins");
    }
    bool add(const QString& target, const QString& fileName) const
    {
        return !bin.isEmpty() && QFile::copy(testPlugin(target), bin + "/plugins/" + fileName);
    }
    bool addBytes(const QString& fileName, const QByteArray& bytes) const
    {
        if (bin.isEmpty())
            return false;
        QFile f(bin + "/plugins/" + fileName);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }
};

const char* kTreeDone = "MAIN: done with Updating plugin tree\n";

// Waits until log.txt holds `text` at least `count` times.
bool waitForLog(ProgramRunner& run, const QString& text, int count)
{
    return waitUntil([&] { return run.log().count(text) >= count || run.process().state() == QProcess::NotRunning; },
                     20000) &&
           run.log().count(text) >= count;
}

} // namespace

class TestPluginProgram : public QObject
{
    Q_OBJECT

private slots:
    // The road of one plug-in from the program's start to its tree item and back out.
    void roadOfOnePlugin()
    {
        StagedProgram p;
        QVERIFY(!p.bin.isEmpty());
        QVERIFY(p.add("tp_alpha", "tp_alpha.plg"));
        QVERIFY(p.run.start({"-debug"}));
        QVERIFY2(p.run.waitFor(kTreeDone), qPrintable(p.run.log()));
        QVERIFY2(p.run.stop(), qPrintable(QString::number(p.run.exitCode()) + p.run.err().right(3000)));

        const QString log = p.run.log();
        QString missing;
        QVERIFY2(inOrder(log,
                         {"MAIN: Loading plugins\n", "MAIN: Found plugin directory '" + p.bin + "/plugins'\n",
                          "MAIN: Found plugin 'tp_alpha.plg' (1/1)\n", "cPluginHandler: Loaded plugin 'tp_alpha.plg' @ 0x",
                          "cPluginHandler: Loaded symbol '_Z15pluginVersionOKP11cMainWindow' @ 0x",
                          "cPluginHandler: Loaded symbol '_Z14createInstanceP11cMainWindow' @ 0x",
                          "cPluginHandler: Loaded symbol '_Z12killInstanceP7cPlugin' @ 0x",
                          "cMainWindow: Executing init() method for Alpha plugin\n",
                          "cMainWindow: Executing trPlugin() method for Alpha plugin\n",
                          "cMainWindow: Executing loadSettings() method for Alpha plugin\n",
                          "cMainWindow: Executing mkTree() method for Alpha plugin\n", "MAIN: Updating plugin tree\n",
                          kTreeDone, "Alpha plugin: call saveSettings()", "Alpha plugin: Destroyed\n",
                          "cPluginHandler: Unloaded plugin 'tp_alpha.plg' @ 0x"},
                         &missing),
                 qPrintable(missing + "\n" + log));
        QVERIFY(!log.contains("No valid plugins"));
    }

    // What a bad second library of three does: every failure of the loader stops the files
    // after it; an instance that is not made does not. The program stays up and ends cleanly.
    void badLibraryAmongGoodOnes_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("loadsTheRest");
        QTest::newRow("version refused") << QString("tp_noversion") << QString("Refused plugin: call pluginVersionOK\n") << false;
        QTest::newRow("no createInstance") << QString("tp_nocreatesym") << QString("Loaded symbol '_Z15pluginVersionOKP11cMainWindow'") << false;
        QTest::newRow("no killInstance") << QString("tp_nokillsym") << QString("Loaded symbol '_Z14createInstanceP11cMainWindow'") << false;
        QTest::newRow("random bytes") << QString("random") << QString("Failed to load plugin 'b.plg' @ (nil)\n") << false;
        QTest::newRow("empty") << QString("empty") << QString("Failed to load plugin 'b.plg' @ (nil)\n") << false;
        QTest::newRow("text") << QString("text") << QString("Failed to load plugin 'b.plg' @ (nil)\n") << false;
        QTest::newRow("folder") << QString("folder") << QString("Failed to load plugin 'b.plg' @ (nil)\n") << false;
        QTest::newRow("null instance") << QString("tp_nullinstance") << QString("Empty plugin: call createInstance -> null\n") << true;
    }
    void badLibraryAmongGoodOnes()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        QFETCH(bool, loadsTheRest);
        StagedProgram p;
        QVERIFY(p.add("tp_alpha", "a.plg"));
        QVERIFY(p.add("tp_gamma", "c.plg"));
        if (kind.startsWith("tp_")) {
            QVERIFY(p.add(kind, "b.plg"));
        } else if (kind == "random") {
            QByteArray bytes(8192, '\0');
            QRandomGenerator gen(7);
            for (char& c : bytes)
                c = char(gen.bounded(256));
            QVERIFY(p.addBytes("b.plg", bytes));
        } else if (kind == "empty") {
            QVERIFY(p.addBytes("b.plg", QByteArray()));
        } else if (kind == "text") {
            QVERIFY(p.addBytes("b.plg", "#!/bin/sh\necho not a library\n"));
        } else {
            QVERIFY(QDir().mkpath(p.bin + "/plugins/b.plg"));
        }

        QVERIFY(p.run.start({"-debug"}));
        QVERIFY(p.run.waitFor(message));
        QVERIFY(waitForLog(p.run, kTreeDone, loadsTheRest ? 2 : 1));
        QTest::qWait(300);
        QCOMPARE(p.run.process().state(), QProcess::Running);
        QVERIFY(p.run.stop());

        const QString log = p.run.log();
        QVERIFY(log.contains("MAIN: Found plugin 'b.plg' (2/3)\n"));
        QCOMPARE(log.contains("MAIN: Found plugin 'c.plg' (3/3)\n"), loadsTheRest);
        QCOMPARE(log.contains("Gamma plugin: call init("), loadsTheRest);
        QVERIFY(inOrder(log, {"Alpha plugin: call init(", "Alpha plugin: Destroyed\n",
                              "cPluginHandler: Unloaded plugin 'a.plg'"}));
        // Only libraries with an instance are unloaded.
        QVERIFY(!log.contains("Unloaded plugin 'b.plg'"));
        QVERIFY(!log.contains("method for Empty plugin"));
        QVERIFY(!log.contains("No valid plugins"));
        // The log names the file that stopped the loading and the files it left.
        // The GUI thread runs the first plug-in's calls meanwhile, so its lines may fall between.
        QCOMPARE(log.contains("MAIN: Stopped loading plugins at 'b.plg' (2/3): the plugin failed to load\n"), !loadsTheRest);
        QCOMPARE(log.contains("MAIN: Plugins not loaded: c.plg\n"), !loadsTheRest);
        if (!loadsTheRest)
            QVERIFY2(inOrder(log, {"MAIN: Stopped loading plugins at 'b.plg'", "MAIN: Plugins not loaded: c.plg\n"}),
                     qPrintable(log));
        if (kind == "tp_nullinstance")
            QVERIFY(log.contains("cMainWindow: Plugin 'b.plg' made no instance: its createInstance returned null\n"));
    }

    // Bad plug-in files: a plug-in cut short, as a half-copied update leaves it, sorting first.
    // The real flow-meter plug-in is cut too: its segments lie at other offsets than a test
    // plug-in's. The program starts, says which file stopped the loading, why, and what it
    // left, and runs; mapping such a file unchecked is a bus error on first touch.
    void truncatedPluginFirst_data()
    {
        QTest::addColumn<QString>("original");
        QTest::addColumn<int>("cut");
        QStringList originals{testPlugin("tp_alpha")};
#ifdef CORVANE_FLOWMETER_PLG
        originals << QStringLiteral(CORVANE_FLOWMETER_PLG);
#endif
        for (const QString& original : originals)
            for (int kb : {1, 4, 64, 150})
                QTest::newRow(qPrintable(QString("%1 cut at %2 KB").arg(QFileInfo(original).fileName()).arg(kb)))
                    << original << kb * 1024;
    }
    void truncatedPluginFirst()
    {
        QFETCH(QString, original);
        QFETCH(int, cut);
        StagedProgram p;
        QFile file(original);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(original));
        QVERIFY(file.size() > cut);
        QVERIFY(p.addBytes("a.plg", file.read(cut)));
        QVERIFY(p.add("tp_beta", "b.plg"));
        QVERIFY(p.add("tp_gamma", "c.plg"));

        QVERIFY(p.run.start({"-debug"}));
        const bool told = p.run.waitFor("MAIN: Plugins not loaded: b.plg, c.plg\n");
        QTest::qWait(300);
        // On a crash the exit code is the signal's number.
        QVERIFY2(p.run.process().state() == QProcess::Running,
                 qPrintable(QString("program ended: exit status %1, code %2\n")
                                .arg(int(p.run.process().exitStatus()))
                                .arg(p.run.process().exitCode()) +
                            p.run.log()));
        QVERIFY2(told, qPrintable(p.run.log()));
        QVERIFY(p.run.stop());

        const QString log = p.run.log();
        QString missing;
        QVERIFY2(inOrder(log,
                         {"cPluginHandler: Failed to load plugin 'a.plg' @ (nil)\n",
                          "a.plg: file too short (" + QString::number(cut) + " bytes)",
                          "MAIN: Stopped loading plugins at 'a.plg' (1/3): the plugin failed to load\n"},
                         &missing),
                 qPrintable(missing + "\n" + log));
        QVERIFY(!log.contains("Found plugin 'b.plg'"));
    }

    // A throw from a plug-in's start-up stops at the host: reported with the file, the call and
    // the text; that plug-in is unloaded (its settings not saved), the others load and run.
    void throwingStartUp_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("report");
        QTest::addColumn<QString>("name");
        QTest::newRow("createInstance")
            << QString("tp_throwcreate")
            << QString("threw an exception from createInstance(): ThrowCreate broke in createInstance\n")
            << QString("ThrowCreate");
        QTest::newRow("init") << QString("tp_throwinit")
                              << QString("threw an exception from init(): ThrowInit broke in init\n")
                              << QString("ThrowInit");
        QTest::newRow("loadSettings, not a std::exception")
            << QString("tp_throwload")
            << QString("threw an exception from loadSettings(): an exception that is not a std::exception\n")
            << QString("ThrowLoad");
    }
    void throwingStartUp()
    {
        QFETCH(QString, kind);
        QFETCH(QString, report);
        QFETCH(QString, name);
        StagedProgram p;
        QVERIFY(p.add("tp_alpha", "a.plg"));
        QVERIFY(p.add(kind, "b.plg"));
        QVERIFY(p.add("tp_gamma", "c.plg"));
        QVERIFY(p.run.start({"-debug"}));
        QVERIFY2(waitForLog(p.run, kTreeDone, 2), qPrintable(p.run.log()));
        QTest::qWait(300);
        QCOMPARE(p.run.process().state(), QProcess::Running);
        QVERIFY2(p.run.stop(), qPrintable(p.run.err().right(2000)));

        const QString log = p.run.log();
        QString missing;
        QVERIFY2(inOrder(log, {"cPluginHandler: Plugin 'b.plg' " + report, "cPluginHandler: Unloaded plugin 'b.plg' @ 0x",
                               "Gamma plugin: call init(", "Alpha plugin: Destroyed\n"},
                         &missing),
                 qPrintable(missing + "\n" + log));
        QCOMPARE(log.count("Unloaded plugin 'b.plg'"), 1);
        QVERIFY(!log.contains(name + " plugin: call saveSettings"));
        QVERIFY(!log.contains("Executing mkTree() method for " + name));
        if (kind != "tp_throwcreate")
            QVERIFY(log.contains(name + " plugin: call killInstance\n"));
    }

    // Throws from a running plug-in (selectItem on its own selection, saveSettings at the end)
    // are reported and the program goes on; at the end the plug-in is still deinitialised,
    // killed and unloaded, and the program ends cleanly.
    void throwingRunningPlugin()
    {
        StagedProgram p;
        QVERIFY(p.add("tp_throwselect", "1.plg"));
        QVERIFY(p.add("tp_throwsave", "2.plg"));
        QVERIFY(p.run.start({"-debug"}));
        QVERIFY2(p.run.waitFor("cPluginHandler: Plugin '1.plg' threw an exception from selectItem(): ThrowSelect broke in "
                               "selectItem\n"),
                 qPrintable(p.run.log()));
        QTest::qWait(300);
        QCOMPARE(p.run.process().state(), QProcess::Running);
        QVERIFY2(p.run.stop(), qPrintable(p.run.err().right(2000)));

        const QString log = p.run.log();
        QString missing;
        QVERIFY2(inOrder(log,
                         {"cPluginHandler: Plugin '2.plg' threw an exception from saveSettings(): ThrowSave broke in "
                          "saveSettings\n",
                          "ThrowSave plugin: call deinit()\n", "ThrowSave plugin: call killInstance\n",
                          "cPluginHandler: Unloaded plugin '2.plg' @ 0x", "cPluginHandler: Unloaded plugin '1.plg' @ 0x"},
                         &missing),
                 qPrintable(missing + "\n" + log));
    }

    // A plug-in that parents a timer with a lambda to the application and leaves windows of its
    // own class: the host names each and deletes them before the library goes, and the program
    // ends cleanly.
    void objectLeftOnTheApplication()
    {
        StagedProgram p;
        QVERIFY(p.add("tp_apptimer", "t.plg"));
        QVERIFY(p.run.start({"-debug"}));
        QVERIFY(waitForLog(p.run, kTreeDone, 1));
        QVERIFY2(p.run.stop(), qPrintable(QString::number(p.run.exitCode()) + p.run.err().right(2000)));
        const QString log = p.run.log();
        QString missing;
        QVERIFY2(inOrder(log,
                         {"AppTimer plugin: Destroyed\n",
                          "cPluginHandler: WARNING -> Plugin 't.plg' left a QTimer on the application; it must not "
                          "outlive the plugin\n",
                          "cPluginHandler: Unloaded plugin 't.plg' @ 0x"},
                         &missing),
                 qPrintable(missing + "\n" + log));
        // Four windows, one inside the other: each named once, none after its parent took it.
        QCOMPARE(log.count("cPluginHandler: WARNING -> Plugin 't.plg' left a QWidget on the application"), 4);
    }

    // At the end the entries go from the last to the first: each plug-in's thread stopped,
    // its settings saved, deinit, killInstance with the destructor's five lines, unloaded.
    void teardownOfThreeGoesLastToFirst()
    {
        StagedProgram p;
        QVERIFY(p.add("tp_alpha", "1.plg"));
        QVERIFY(p.add("tp_beta", "2.plg"));
        QVERIFY(p.add("tp_gamma", "3.plg"));
        QVERIFY(p.run.start({"-debug"}));
        QVERIFY(waitForLog(p.run, kTreeDone, 3));
        QVERIFY(p.run.stop());

        const QString log = p.run.log();
        QStringList expected;
        const QStringList order = {"Gamma|3", "Beta|2", "Alpha|1"};
        for (const QString& o : order) {
            const QString n = o.section('|', 0, 0);
            expected << n + " plugin: call saveSettings() thread running=0\n" << n + " plugin: call deinit()\n"
                     << n + " plugin: call killInstance\n"
                     << n + " plugin: Stopping the general purpuse timer\n" + n +
                            " plugin: Stopping the data logger timer\n" + n +
                            " plugin: Stopping the internet data logger timer\n" + "cPlugin: Disconnecting " + n +
                            " plugin signals\n" + n + " plugin: Destroyed\n"
                     << "cPluginHandler: Unloaded plugin '" + o.section('|', 1, 1) + ".plg' @ 0x";
        }
        QString missing;
        QVERIFY2(inOrder(log, expected, &missing), qPrintable(missing + "\n" + log));
        QCOMPARE(log.count("plugin: Destroyed\n"), 3);
    }
};

QTEST_MAIN(TestPluginProgram)
#include "test_plugin_program.moc"
