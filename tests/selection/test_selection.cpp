// Selecting a device in the tree: the plug-in made current with its pages, header, title and
// menus; the calls into the plug-ins when the selection moves; the refresh that follows; and
// the slots through which plug-ins change the tree.
#include "HostFixture.h"
#include "gui/Ui_cMainWindow.h"

#include <QAction>
#include <QMenu>
#include <QPushButton>

#include <QRegularExpression>

namespace {

// The "cMainWindow: Selected ..." lines written so far, without their line ends.
QStringList selectedLines(const QString& log)
{
    QStringList lines;
    for (const QString& l : log.split('\n'))
        if (l.startsWith("cMainWindow: Selected "))
            lines << l;
    return lines;
}

} // namespace

class TestSelection : public QObject
{
    Q_OBJECT

private slots:
    void selectingADeviceMakesItsPluginCurrent()
    {
        HostFixture host;
        QVERIFY(host.load({"tp_alpha", "tp_beta"}));
        cMainWindow* w = host.window.get();
        cPlugin* alpha = host.plugin(0);
        cPlugin* beta = host.plugin(1);
        QTreeWidgetItem* meter = host.device(0, 0);
        host.log.clear();

        host.select(meter);

        QCOMPARE(currentPlugin.load(), pluginList.entryAt(0));
        QCOMPARE(w->currentTreeItem, meter);
        QCOMPARE(selectedLines(host.log.text()), QStringList{"cMainWindow: Selected Alpha / Meter (A-100) @ MODBUS id 11"});
        QCOMPARE(w->windowTitle(), QString("Corvane 1.1 - Alpha - Meter - Tessmark"));
        QCOMPARE(w->ui->itemStr->text(), QString("Alpha - Meter"));
        QVERIFY(host.shown(w->ui->icon));

        // One plug-in's pages, and only its display page of the two.
        QVERIFY(host.shown(alpha->displayWidget));
        QVERIFY(!host.shown(alpha->setupWidget));
        QVERIFY(!host.shown(beta->displayWidget));
        QVERIFY(host.shown(w->ui->pluginInfoBox));
        QVERIFY(host.shown(alpha->infoWidget));
        QVERIFY(!host.shown(beta->infoWidget));
        QVERIFY(!host.shown(w->ui->buttonWidget));

        QCOMPARE(host.menuTitles(), QStringList({"File", "Alpha", "Help"}));
        QCOMPARE(host.toolEntries(), QList<QAction*>{w->actionPluginSetup});
        QCOMPARE(w->actionPluginSetup->text(), QString("Alpha - Meter: Setup"));
        QVERIFY(w->helpMenu->actions().contains(w->actionAboutPlugin));

        QString missing;
        QVERIFY2(inOrder(host.log.text(),
                         {"cMainWindow: Disconnecting signals\n", "cMainWindow: Selected Alpha / Meter",
                          "Alpha plugin: call selectItem(Meter)\n", "cMainWindow: Connecting signals\n",
                          "cMainWindow: Generating menus\n", "Alpha plugin: call mkPluginMenu(menu,toolbar)\n"},
                         &missing),
                 qPrintable(missing + "\n" + host.log.text()));
    }

    // A worker thread's signal to the window while a selection rebuilds the menus is delivered
    // afterwards, not lost: "MAIN" sends tree items and lock ends at such times.
    void workerSignalDuringSelectionArrives()
    {
        HostFixture host;
        QVERIFY(host.load({"tp_threadsignal"}));
        host.select(host.device(0, 0));
        QVERIFY(host.log.text().contains("Signaller plugin: call mkPluginMenu(menu,toolbar)\n"));
        QVERIFY(waitUntil([&] { return host.window.get()->statusLabel->text() == "sent while the menus were rebuilt"; }, 2000));
    }

    // A plug-in that rebuilds its items in deselect deletes the item being selected: the
    // selection goes on with the restored item, and nothing reads the deleted one.
    void rebuildDuringSelection()
    {
        HostFixture host;
        QVERIFY(host.load({"tp_rebuilder"}));
        host.select(host.device(0, 0));
        host.log.clear();
        host.select(host.device(0, 1));
        QString missing;
        QVERIFY2(inOrder(host.log.text(),
                         {"Rebuilder plugin: call deselect()\n", "Rebuilder plugin: call mkItemTree()\n",
                          "Rebuilder plugin: Restored selection to child item 'Rebuilder/Pump'\n",
                          "cMainWindow: Selected Rebuilder / Pump (R-2) @ MODBUS id 96\n",
                          "Rebuilder plugin: call selectItem(Pump)\n"},
                         &missing),
                 qPrintable(missing + "\n" + host.log.text()));
        QCOMPARE(host.window.get()->currentTreeItem, host.device(0, 1));
        QCOMPARE(host.window.get()->ui->itemStr->text(), QString("Rebuilder - Pump"));
    }

    // A plug-in's own item names the plug-in and nothing else; the setup entry takes its name.
    void topLevelItemWritesOnlyItsText()
    {
        HostFixture host;
        QVERIFY(host.load({"tp_alpha", "tp_beta"}));
        cMainWindow* w = host.window.get();
        host.select(host.device(0, 0));
        host.log.clear();

        host.select(host.plugin(1)->topItem);

        QCOMPARE(selectedLines(host.log.text()), QStringList{"cMainWindow: Selected Beta"});
        QVERIFY(host.log.text().contains("Beta plugin: call selectItem(Beta)\n"));
        QCOMPARE(currentPlugin.load(), pluginList.entryAt(1));
        QCOMPARE(w->ui->itemStr->text(), QString());
        QVERIFY(!host.shown(w->ui->icon));
        QCOMPARE(w->windowTitle(), QString("Corvane 1.1 - Tessmark"));
        QCOMPARE(w->actionPluginSetup->text(), QString("Beta: Setup"));
    }

    // deselect always goes to the plug-in that was current, before selectItem on the new one;
    // and however often the selection moves, one plug-in menu and one setup entry remain.
    void movingTheSelectionCallsDeselectThenSelectItem()
    {
        HostFixture host;
        QVERIFY(host.load({"tp_alpha", "tp_beta"}));
        cMainWindow* w = host.window.get();
        host.select(host.device(0, 0));

        host.log.clear();
        host.select(host.device(0, 1));
        QString missing;
        QVERIFY2(inOrder(host.log.text(),
                         {"Alpha plugin: call deselect()\n", "cMainWindow: Selected Alpha / Pump (A-200) @ MODBUS id 12\n",
                          "Alpha plugin: call selectItem(Pump)\n"},
                         &missing),
                 qPrintable(missing + "\n" + host.log.text()));
        QVERIFY(!host.log.text().contains("Beta plugin: call"));

        host.log.clear();
        host.select(host.device(1, 0));
        QVERIFY2(inOrder(host.log.text(),
                         {"Alpha plugin: call deselect()\n", "cMainWindow: Selected Beta / Meter (B-100) @ MODBUS id 21\n",
                          "Beta plugin: call selectItem(Meter)\n"},
                         &missing),
                 qPrintable(missing + "\n" + host.log.text()));
        QVERIFY(!host.log.text().contains("Beta plugin: call deselect()"));
        QVERIFY(!host.log.text().contains("Alpha plugin: call selectItem"));

        host.select(host.plugin(0)->topItem);
        host.select(host.device(1, 0));
        host.settle();
        QCOMPARE(host.menuTitles(), QStringList({"File", "Beta", "Help"}));
        QCOMPARE(host.toolEntries().size(), 1);
        QCOMPARE(w->helpMenu->actions().count(w->actionAboutPlugin), 1);
        QCOMPARE(w->ui->menuBar->actions().size(), 3);
    }

    // The key is the top-level text, and a plug-in whose name merely contains it counts: the
    // first such plug-in in the list becomes current, even for another plug-in's device.
    void earlierOfTwoNamesContainingTheKeyWins()
    {
        HostFixture host;
        QVERIFY(host.load({"tp_flowmeter", "tp_flow"}));
        QCOMPARE(host.plugin(0)->name, QString("Flow meter"));
        host.log.clear();

        host.select(host.device(1, 0));

        QCOMPARE(currentPlugin.load(), pluginList.entryAt(0));
        QVERIFY(host.log.text().contains("cMainWindow: Selected Flow / Sensor (F-1) @ MODBUS id 41\n"));
        QVERIFY(host.log.text().contains("Flow meter plugin: call selectItem(Sensor)\n"));
        QVERIFY(!host.log.text().contains("Flow plugin: call selectItem"));
        QCOMPARE(host.window.get()->windowTitle(), QString("Corvane 1.1 - Flow meter - Sensor - Tessmark"));
    }

    void selectByIndexFallsBackToTheFirst()
    {
        HostFixture host;
        QVERIFY(host.load({"tp_alpha", "tp_beta"}));
        cMainWindow* w = host.window.get();
        QTreeWidget* tree = w->ui->pluginTree;

        emit w->selectPluginSignal(1);
        QCOMPARE(tree->currentItem(), host.plugin(1)->topItem);
        QCOMPARE(currentPlugin.load(), pluginList.entryAt(1));
        emit w->selectPluginSignal(2);
        QCOMPARE(tree->currentItem(), host.plugin(0)->topItem);
        QVERIFY(host.plugin(0)->topItem->isExpanded());
        QCOMPARE(currentPlugin.load(), pluginList.entryAt(0));
    }

    // "MAIN GUI" drives the current plug-in's three update slots, in their order, and the
    // header shows the plug-in's picture; with nothing current nothing is driven.
    void refreshRunsOnlyWhileAPluginIsCurrent()
    {
        HostFixture host;
        QVERIFY(host.load({"tp_alpha"}, true));
        cPlugin* alpha = host.plugin(0);
        QCOMPARE(currentPlugin.load(), nullptr);
        QTest::qWait(300);
        QVERIFY(!host.log.text().contains("Alpha plugin: call onDisplayUpdate()"));

        QPixmap picture(16, 16);
        picture.fill(Qt::red);
        alpha->pixmap = picture;
        host.select(host.device(0, 0));
        QVERIFY(waitUntil([&] { return host.log.text().count("Alpha plugin: call onSetupUpdate()\n") >= 30; }));

        static const QRegularExpression update("^Alpha plugin: call on(Display|Info|Setup)Update\\(\\)$");
        QStringList seen;
        for (const QString& l : host.log.text().split('\n')) {
            const QRegularExpressionMatch m = update.match(l);
            if (m.hasMatch())
                seen << m.captured(1);
        }
        const QStringList cycle{"Display", "Info", "Setup"};
        for (int i = 0; i < seen.size(); ++i)
            QVERIFY2(seen[i] == cycle[i % 3], qPrintable(QString("update %1 was %2").arg(i).arg(seen[i])));
        QCOMPARE(host.window.get()->ui->icon->pixmap().cacheKey(), picture.cacheKey());
    }

    // Plug-ins change their items' state and ask for a rebuild; a rebuild asked for while
    // the tree is locked is dropped, as is one for a plug-in the list does not hold.
    void pluginRequestsOnTheTree()
    {
        HostFixture host;
        QVERIFY(host.load({"tp_alpha"}));
        cMainWindow* w = host.window.get();
        cPlugin* alpha = host.plugin(0);
        QTreeWidgetItem* pump = host.device(0, 1);

        const Qt::ItemFlags before = pump->flags();
        emit w->updatePluginItemSignal(pump, ":/Other/Pixmaps/offline.png", false);
        QCOMPARE(pump->flags(), before & ~Qt::ItemIsEnabled);
        QVERIFY(!pump->icon(0).isNull());
        emit w->updatePluginItemSignal(pump, ":/Other/Pixmaps/online.png", true);
        QCOMPARE(pump->flags(), before | Qt::ItemIsEnabled);
        emit w->updatePluginItemSignal(nullptr, ":/Other/Pixmaps/online.png", true);

        host.log.clear();
        emit w->appLockSignal(true);
        emit w->updateTreeSignal(alpha);
        QVERIFY(!host.log.text().contains("Alpha plugin: Making plugin item tree\n"));
        emit w->appLockSignal(false);
        int stranger = 0;
        emit w->updateTreeSignal(&stranger);
        QVERIFY(!host.log.text().contains("Making plugin item tree"));
        emit w->updateTreeSignal(alpha);
        QCOMPARE(host.log.text().count("Alpha plugin: Making plugin item tree\n"), 1);
    }
};

QTEST_MAIN(TestSelection)
#include "test_selection.moc"
