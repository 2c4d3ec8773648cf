// The real program, staged with a plug-in that drives its window as a user would: the device
// selected in the tree, its setup opened and saved, the program quit; all of it in the log in
// its order, and the settings kept.
#include "HostFixture.h"
#include "ProgramRunner.h"

#include <QDir>
#include <QFile>
#include <QSettings>

class TestSelectionProgram : public QObject
{
    Q_OBJECT

private slots:
    void selectSetupSaveQuit()
    {
        QTemporaryDir root;
        ProgramRunner run;
        const QString bin = ProgramRunner::stageProgram(root.path());
        QVERIFY(!bin.isEmpty());
        run.setProgramDir(bin);
        QVERIFY(QDir().mkpath(bin + "/plugins"));
        QVERIFY(QFile::copy(testPlugin("tp_driver"), bin + "/plugins/driver.plg"));

        QVERIFY(run.start({"-debug"}));
        // The plug-in ends the program itself by closing the window and answering Yes.
        QVERIFY2(run.process().waitForFinished(30000), qPrintable(run.log().right(3000)));
        QVERIFY2(run.process().exitStatus() == QProcess::NormalExit && run.process().exitCode() == 0,
                 qPrintable(run.err().right(4000)));

        const QString log = run.log();
        QString missing;
        QVERIFY2(inOrder(log,
                         {"MAIN: Loading plugins\n", "cMainWindow: Executing init() method for Driver plugin\n",
                          "MAIN: done with Updating plugin tree\n", "Driver plugin: call driver: selecting Meter\n",
                          "cMainWindow: Selected Driver / Meter (D-1) @ MODBUS id 71\n",
                          "Driver plugin: call selectItem(Meter)\n", "cMainWindow: Generating menus\n",
                          "Driver plugin: call onDisplayUpdate()\n", "Driver plugin: call onInfoUpdate()\n",
                          "Driver plugin: call onSetupUpdate()\n", "Driver plugin: call driver: opening setup\n",
                          "cMainWindow: Locking application GUI\n", "cMainWindow: Selected setup for Driver\n",
                          "Driver plugin: call prepareSetup()\n", "Driver plugin: call driver: saving\n",
                          "Driver plugin: call driver: answering Yes to 'Corvane: Save settings'\n",
                          "cMainWindow: Accepted Driver -> Meter\n",
                          "cMainWindow: Executing saveSettings() method for Driver -> Meter setup\n",
                          "Driver plugin: call saveSettings() thread running=1\n",
                          "cMainWindow: Executing acceptSetup() method for Driver -> Meter setup\n",
                          "Driver plugin: call acceptSetup() display shown=1\n", "Driver plugin: call selectItem(Meter)\n",
                          "cMainWindow: Unlocking application GUI\n", "Driver plugin: call driver: quitting\n",
                          "Driver plugin: call driver: answering Yes to 'Corvane: Quit'\n",
                          "Driver plugin: call saveSettings() thread running=0\n", "Driver plugin: call deinit()\n",
                          "Driver plugin: Destroyed\n", "cPluginHandler: Unloaded plugin 'driver.plg'"},
                         &missing),
                 qPrintable(missing + "\n" + log.right(4000)));
        // No question but the two the plug-in answered, and nothing selected twice over.
        QCOMPARE(log.count("Driver plugin: call driver: answering Yes"), 2);
        QCOMPARE(log.count("Driver plugin: call prepareSetup()\n"), 1);

        // The plug-in's own value from its two saves (accepted setup and shutdown), and the
        // window's settings written as it went.
        QSettings stored(run.configDir() + "/Tessmark/Corvane.conf", QSettings::IniFormat);
        QCOMPARE(stored.value("Driver/Saved").toInt(), 2);
        QCOMPARE(stored.value("cMainWindow/Language").isValid(), true);
        QVERIFY(stored.value("cMainWindow/Settings version").isValid());
    }
};

QTEST_MAIN(TestSelectionProgram)
#include "test_selection_program.moc"
