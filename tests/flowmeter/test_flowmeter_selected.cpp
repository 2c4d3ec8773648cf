// The real flowmeter.plg loaded by the window's own loader, selected in its tree and set up
// through the window's Save and Discard, against the real simulator.
#include "FlowSim.h"

#include <FlowLinesPage.h>
#include <HostFixture.h>
#include <gui/Ui_cMainWindow.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QSpinBox>
#include <QTreeWidget>

class TestFlowmeterSelected : public QObject
{
    Q_OBJECT

private slots:
    void selectedMeterShowsLiveValuesAndSetupSavesOrDiscards();
};

void TestFlowmeterSelected::selectedMeterShowsLiveValuesAndSetupSavesOrDiscards()
{
    FlowSim sim("1,2,3");
    QVERIFY(sim.started);
    qputenv("CORVANE_FLOWMETER_PORT", sim.link.toLocal8Bit());
    qputenv("CORVANE_FLOWMETER_IDS", "1,2,3");

    HostFixture kit;
    // The plug-in with its shipped models, as installed.
    QVERIFY(ProgramRunner::stageFlowmeter(kit.bin()));
    cMainWindow* w = kit.open();
    // The host's serial debugging: the plug-in's line per reading is followed below.
    w->genericPort.debug = true;
    kit.startMainGui();
    kit.startMain();
    w->show();
    QVERIFY(kit.loadPlugins(1));
    QVERIFY(waitUntil([&] { return w->ui->pluginTree->topLevelItemCount() == 1; }));
    cPlugin* fm = pluginList.entryAt(0)->handler.plugin;
    QCOMPARE(fm->name, QString("Flow meter"));
    QCOMPARE(w->ui->pluginTree->topLevelItem(0), fm->topItem);
    // One line, its three meters under it.
    QCOMPARE(fm->topItem->childCount(), 1);
    QTreeWidgetItem* line = fm->topItem->child(0);
    QCOMPARE(line->childCount(), 3);

    // The second meter selected in the tree: its page, with values it served.
    QTreeWidgetItem* meter2 = line->child(1);
    // Polled from the start, selected or not: the serial number arrives in the tree.
    QVERIFY(waitUntil([&] { return meter2->text(1).toInt() > 0; }));
    w->ui->pluginTree->setCurrentItem(meter2, 0);
    QVERIFY(fm->displayWidget->isVisibleTo(w));
    QVERIFY(fm->infoWidget->isVisibleTo(w));
    auto label = [&](const char* name) { return fm->displayWidget->findChild<QLabel*>(name)->text(); };
    QCOMPARE(label("unitTitle"), QString("Meter 2"));
    QVERIFY(waitUntil([&] { return label("stateValue") == "Online"; }));
    QVERIFY(kit.log.text().contains("cMainWindow: Selected " + line->text(0) + " / Meter 2 (" + meter2->text(1) +
                                    ") @ MODBUS id 2\n"));
    // The page shows one answer that unit 2 served: its flow and its totalizer together (the
    // other meters' flows overlap unit 2's range; their totalizers do not).
    QString shown;
    QVERIFY(waitUntil([&] {
        shown = label("flowValue") + " / " + label("totalValue");
        for (const QVector<float>& a : sim.answers(2))
            if (QString("%1 m³/h / %2 m³").arg(double(a[0]), 0, 'f', 2).arg(double(a[1]), 0, 'f', 3) == shown)
                return true;
        return false;
    }, 5000));
    // The plug-in's own entries are in the window's plug-in menu.
    QStringList entries;
    for (QAction* a : w->pluginMenu->actions())
        entries << a->objectName();
    QVERIFY(entries.contains("flowmeterScanBus") && entries.contains("flowmeterResetTotalizer"));
    entries.clear();
    for (QAction* a : w->ui->mainToolBar->actions())
        entries << a->objectName();
    QVERIFY2(entries.contains("flowmeterScanBus") && entries.contains("flowmeterResetTotalizer"),
             qPrintable(entries.join(",")));

    const FlowLinesPage lines(fm->setupWidget);
    auto* period = fm->setupWidget->findChild<QSpinBox*>("periodSpin");

    // Discard: the old values are back and the meter page returns.
    emit w->showPlgSetupSignal();
    QVERIFY(fm->setupWidget->isVisibleTo(w));
    QCOMPARE(lines.ids(), QString("1,2,3"));
    lines.setIds({7});
    emit w->rejectPluginSetupSignal();
    QVERIFY(fm->displayWidget->isVisibleTo(w));
    QCOMPARE(lines.ids(), QString("1,2,3"));
    QCOMPARE(fm->topItem->child(0)->childCount(), 3);

    // Save, answered Yes: stored, and the meters polled at the new period.
    emit w->showPlgSetupSignal();
    // From the keyboard: the cursor waits in the first line's port; Tab goes down its rate, data
    // bits, parity and stop bits to the period, then past the time-out, the meters table, its
    // buttons and the damping to Save.
    auto* port = fm->setupWidget->findChild<QLineEdit*>("portEdit");
    QTRY_VERIFY((w->activateWindow(), port->hasFocus()));
    const auto tab = [](int times) {
        for (int i = 0; i < times; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        return QApplication::focusWidget();
    };
    QCOMPARE(tab(5), period);
    auto* save = qobject_cast<QAbstractButton*>(tab(6));
    QVERIFY(save);
    QCOMPARE(save->text(), QString("Save"));
    period->setValue(350);
    lines.setIds({2});
    {
        ModalAnswerer yes(QMessageBox::Yes);
        emit w->acceptPluginSetupSignal();
        QCOMPARE(yes.count(), 1);
    }
    QVERIFY(fm->displayWidget->isVisibleTo(w));
    QSettings stored(kit.store.file(), QSettings::IniFormat);
    QCOMPARE(stored.value("FlowMeter/period").toInt(), 350);
    QCOMPARE(stored.value("FlowMeter/ids").toString(), QString("2"));
    // The tree follows once the window is unlocked; the selected meter is still there.
    QVERIFY(waitUntil([&] { return fm->topItem->child(0) && fm->topItem->child(0)->childCount() == 1; }));
    QCOMPARE(w->ui->pluginTree->currentItem()->text(0), QString("Meter 2"));
    QVERIFY(kit.waitLog("Flow meter plugin: Unit 2: flow", kit.log.text().count("Flow meter plugin: Unit 2: flow") + 2));

    w->clearPlugins();
    w->mainGuiThread.stopAndWait();
    w->mainThread.stopAndWait();
    qunsetenv("CORVANE_FLOWMETER_PORT");
    qunsetenv("CORVANE_FLOWMETER_IDS");
}

QTEST_MAIN(TestFlowmeterSelected)
#include "test_flowmeter_selected.moc"
