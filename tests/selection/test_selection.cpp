// Selecting a device in the tree: the plug-in made current with its pages, header, title and
// menus; the calls into the plug-ins when the selection moves; the refresh that follows; and
// the slots through which plug-ins change the tree.
#include "SelectionKit.h"

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
        LoadedWindow lw;
        QVERIFY(lw.load({"tp_alpha", "tp_beta"}));
        cMainWindow* w = lw.w;
        cPlugin* alpha = lw.plugin(0);
        cPlugin* beta = lw.plugin(1);
        QTreeWidgetItem* meter = lw.device(0, 0);
        lw.kit.log.clear();

        lw.select(meter);

        QCOMPARE(currentPlugin.load(), pluginList.entryAt(0));
        QCOMPARE(w->currentTreeItem, meter);
        QCOMPARE(selectedLines(lw.log()), QStringList{"cMainWindow: Selected Alpha / Meter (A-100) @ MODBUS id 11"});
        QCOMPARE(w->windowTitle(), QString("Corvane 1.1 - Alpha - Meter - Tessmark"));
        QCOMPARE(w->ui->itemStr->text(), QString("Alpha - Meter"));
        QVERIFY(lw.shown(w->ui->icon));

        // One plug-in's pages, and only its display page of the two.
        QVERIFY(lw.shown(alpha->displayWidget));
        QVERIFY(!lw.shown(alpha->setupWidget));
        QVERIFY(!lw.shown(beta->displayWidget));
        QVERIFY(lw.shown(w->ui->pluginInfoBox));
        QVERIFY(lw.shown(alpha->infoWidget));
        QVERIFY(!lw.shown(beta->infoWidget));
        QVERIFY(!lw.shown(w->ui->buttonWidget));

        QCOMPARE(lw.menuTitles(), QStringList({"File", "Alpha", "Help"}));
        QCOMPARE(lw.toolEntries(), QList<QAction*>{w->actionPluginSetup});
        QCOMPARE(w->actionPluginSetup->text(), QString("Alpha - Meter: Setup"));
        QVERIFY(w->helpMenu->actions().contains(w->actionAboutPlugin));

        QString missing;
        QVERIFY2(inOrder(lw.log(),
                         {"cMainWindow: Disconnecting signals\n", "cMainWindow: Selected Alpha / Meter",
                          "Alpha plugin: call selectItem(Meter)\n", "cMainWindow: Connecting signals\n",
                          "cMainWindow: Generating menus\n", "Alpha plugin: call mkPluginMenu(menu,toolbar)\n"},
                         &missing),
                 qPrintable(missing + "\n" + lw.log()));
    }

    // A worker thread's signal to the window while a selection rebuilds the menus is delivered
    // afterwards, not lost: "MAIN" sends tree items and lock ends at such times.
    void workerSignalDuringSelectionArrives()
    {
        LoadedWindow lw;
        QVERIFY(lw.load({"tp_threadsignal"}));
        lw.select(lw.device(0, 0));
        QVERIFY(lw.log().contains("Signaller plugin: call mkPluginMenu(menu,toolbar)\n"));
        QVERIFY(waitUntil([&] { return lw.w->statusLabel->text() == "sent while the menus were rebuilt"; }, 2000));
    }

    // A plug-in that rebuilds its items in deselect deletes the item being selected: the
    // selection goes on with the restored item, and nothing reads the deleted one.
    void rebuildDuringSelection()
    {
        LoadedWindow lw;
        QVERIFY(lw.load({"tp_rebuilder"}));
        lw.select(lw.device(0, 0));
        lw.kit.log.clear();
        lw.select(lw.device(0, 1));
        QString missing;
        QVERIFY2(inOrder(lw.log(),
                         {"Rebuilder plugin: call deselect()\n", "Rebuilder plugin: call mkItemTree()\n",
                          "Rebuilder plugin: Restored selection to child item 'Rebuilder/Pump'\n",
                          "cMainWindow: Selected Rebuilder / Pump (R-2) @ MODBUS id 96\n",
                          "Rebuilder plugin: call selectItem(Pump)\n"},
                         &missing),
                 qPrintable(missing + "\n" + lw.log()));
        QCOMPARE(lw.w->currentTreeItem, lw.device(0, 1));
        QCOMPARE(lw.w->ui->itemStr->text(), QString("Rebuilder - Pump"));
    }

    // A plug-in's own item names the plug-in and nothing else; the setup entry takes its name.
    void topLevelItemWritesOnlyItsText()
    {
        LoadedWindow lw;
        QVERIFY(lw.load({"tp_alpha", "tp_beta"}));
        cMainWindow* w = lw.w;
        lw.select(lw.device(0, 0));
        lw.kit.log.clear();

        lw.select(lw.plugin(1)->topItem);

        QCOMPARE(selectedLines(lw.log()), QStringList{"cMainWindow: Selected Beta"});
        QVERIFY(lw.log().contains("Beta plugin: call selectItem(Beta)\n"));
        QCOMPARE(currentPlugin.load(), pluginList.entryAt(1));
        QCOMPARE(w->ui->itemStr->text(), QString());
        QVERIFY(!lw.shown(w->ui->icon));
        QCOMPARE(w->windowTitle(), QString("Corvane 1.1 - Tessmark"));
        QCOMPARE(w->actionPluginSetup->text(), QString("Beta: Setup"));
    }

    // deselect always goes to the plug-in that was current, before selectItem on the new one;
    // and however often the selection moves, one plug-in menu and one setup entry remain.
    void movingTheSelectionCallsDeselectThenSelectItem()
    {
        LoadedWindow lw;
        QVERIFY(lw.load({"tp_alpha", "tp_beta"}));
        cMainWindow* w = lw.w;
        lw.select(lw.device(0, 0));

        lw.kit.log.clear();
        lw.select(lw.device(0, 1));
        QString missing;
        QVERIFY2(inOrder(lw.log(),
                         {"Alpha plugin: call deselect()\n", "cMainWindow: Selected Alpha / Pump (A-200) @ MODBUS id 12\n",
                          "Alpha plugin: call selectItem(Pump)\n"},
                         &missing),
                 qPrintable(missing + "\n" + lw.log()));
        QVERIFY(!lw.log().contains("Beta plugin: call"));

        lw.kit.log.clear();
        lw.select(lw.device(1, 0));
        QVERIFY2(inOrder(lw.log(),
                         {"Alpha plugin: call deselect()\n", "cMainWindow: Selected Beta / Meter (B-100) @ MODBUS id 21\n",
                          "Beta plugin: call selectItem(Meter)\n"},
                         &missing),
                 qPrintable(missing + "\n" + lw.log()));
        QVERIFY(!lw.log().contains("Beta plugin: call deselect()"));
        QVERIFY(!lw.log().contains("Alpha plugin: call selectItem"));

        lw.select(lw.plugin(0)->topItem);
        lw.select(lw.device(1, 0));
        lw.kit.settle();
        QCOMPARE(lw.menuTitles(), QStringList({"File", "Beta", "Help"}));
        QCOMPARE(lw.toolEntries().size(), 1);
        QCOMPARE(w->helpMenu->actions().count(w->actionAboutPlugin), 1);
        QCOMPARE(w->ui->menuBar->actions().size(), 3);
    }

    // The key is the top-level text, and a plug-in whose name merely contains it counts: the
    // first such plug-in in the list becomes current, even for another plug-in's device.
    void earlierOfTwoNamesContainingTheKeyWins()
    {
        LoadedWindow lw;
        QVERIFY(lw.load({"tp_flowmeter", "tp_flow"}));
        QCOMPARE(lw.plugin(0)->name, QString("Flow meter"));
        lw.kit.log.clear();

        lw.select(lw.device(1, 0));

        QCOMPARE(currentPlugin.load(), pluginList.entryAt(0));
        QVERIFY(lw.log().contains("cMainWindow: Selected Flow / Sensor (F-1) @ MODBUS id 41\n"));
        QVERIFY(lw.log().contains("Flow meter plugin: call selectItem(Sensor)\n"));
        QVERIFY(!lw.log().contains("Flow plugin: call selectItem"));
        QCOMPARE(lw.w->windowTitle(), QString("Corvane 1.1 - Flow meter - Sensor - Tessmark"));
    }

    void selectByIndexFallsBackToTheFirst()
    {
        LoadedWindow lw;
        QVERIFY(lw.load({"tp_alpha", "tp_beta"}));
        cMainWindow* w = lw.w;
        QTreeWidget* tree = w->ui->pluginTree;

        emit w->selectPluginSignal(1);
        QCOMPARE(tree->currentItem(), lw.plugin(1)->topItem);
        QCOMPARE(currentPlugin.load(), pluginList.entryAt(1));
        emit w->selectPluginSignal(2);
        QCOMPARE(tree->currentItem(), lw.plugin(0)->topItem);
        QVERIFY(lw.plugin(0)->topItem->isExpanded());
        QCOMPARE(currentPlugin.load(), pluginList.entryAt(0));
    }

    // "MAIN GUI" drives the current plug-in's three update slots, in their order, and the
    // header shows the plug-in's picture; with nothing current nothing is driven.
    void refreshRunsOnlyWhileAPluginIsCurrent()
    {
        LoadedWindow lw;
        QVERIFY(lw.load({"tp_alpha"}, true));
        cPlugin* alpha = lw.plugin(0);
        QCOMPARE(currentPlugin.load(), nullptr);
        QTest::qWait(300);
        QVERIFY(!lw.log().contains("Alpha plugin: call onDisplayUpdate()"));

        QPixmap picture(16, 16);
        picture.fill(Qt::red);
        alpha->pixmap = picture;
        lw.select(lw.device(0, 0));
        QVERIFY(waitUntil([&] { return lw.log().count("Alpha plugin: call onSetupUpdate()\n") >= 30; }));

        static const QRegularExpression update("^Alpha plugin: call on(Display|Info|Setup)Update\\(\\)$");
        QStringList seen;
        for (const QString& l : lw.log().split('\n')) {
            const QRegularExpressionMatch m = update.match(l);
            if (m.hasMatch())
                seen << m.captured(1);
        }
        const QStringList cycle{"Display", "Info", "Setup"};
        for (int i = 0; i < seen.size(); ++i)
            QVERIFY2(seen[i] == cycle[i % 3], qPrintable(QString("update %1 was %2").arg(i).arg(seen[i])));
        QCOMPARE(lw.w->ui->icon->pixmap().cacheKey(), picture.cacheKey());
    }

    // Plug-ins change their items' state and ask for a rebuild; a rebuild asked for while
    // the tree is locked is dropped, as is one for a plug-in the list does not hold.
    void pluginRequestsOnTheTree()
    {
        LoadedWindow lw;
        QVERIFY(lw.load({"tp_alpha"}));
        cMainWindow* w = lw.w;
        cPlugin* alpha = lw.plugin(0);
        QTreeWidgetItem* pump = lw.device(0, 1);

        const Qt::ItemFlags before = pump->flags();
        emit w->updatePluginItemSignal(pump, ":/Other/Pixmaps/offline.png", false);
        QCOMPARE(pump->flags(), before & ~Qt::ItemIsEnabled);
        QVERIFY(!pump->icon(0).isNull());
        emit w->updatePluginItemSignal(pump, ":/Other/Pixmaps/online.png", true);
        QCOMPARE(pump->flags(), before | Qt::ItemIsEnabled);
        emit w->updatePluginItemSignal(nullptr, ":/Other/Pixmaps/online.png", true);

        lw.kit.log.clear();
        emit w->appLockSignal(true);
        emit w->updateTreeSignal(alpha);
        QVERIFY(!lw.log().contains("Alpha plugin: Making plugin item tree\n"));
        emit w->appLockSignal(false);
        int stranger = 0;
        emit w->updateTreeSignal(&stranger);
        QVERIFY(!lw.log().contains("Making plugin item tree"));
        emit w->updateTreeSignal(alpha);
        QCOMPARE(lw.log().count("Alpha plugin: Making plugin item tree\n"), 1);
    }
};

QTEST_MAIN(TestSelection)
#include "test_selection.moc"
