// The window side of a plug-in's start: the start-up sequence of a loaded library, the
// top-level item entering the tree (and replacing a stale one), and mkTree's restoring of the
// selection.
#include "HostFixture.h"
#include "SignalLog.h"
#include "StdStreamCapture.h"
#include "gui/Ui_cMainWindow.h"

#include <QTreeWidget>

namespace {

// A plug-in built into the test, with devices it builds anew on every mkItemTree, as a
// plug-in that reads its devices from an instrument would.
class TreePlugin : public cPlugin
{
public:
    TreePlugin(cMainWindow* w, const QString& n, const QStringList& devices, FILE* out)
        : cPlugin(w, "TREE", out, out), devices(devices)
    {
        name = n;
        topItem = new QTreeWidgetItem(QStringList{n});
    }
    ~TreePlugin() override { delete topItem; }

    void mkItemTree() override
    {
        for (QTreeWidgetItem* c : topItem->takeChildren())
            delete c;
        for (const QString& d : devices)
            topItem->addChild(new QTreeWidgetItem(QStringList{d, d + " serial", "7"}));
    }

    QStringList devices;
};

} // namespace

class TestPluginTree : public QObject
{
    Q_OBJECT

    static void placeItem(cMainWindow* w, QTreeWidgetItem* item)
    {
        QMetaObject::invokeMethod(w, "onUpdatePluginTreeTopLevelItem", Qt::DirectConnection,
                                  Q_ARG(void*, static_cast<void*>(item)));
    }

private slots:
    // From the library to its item: the start-up steps in order, the pages placed, and the
    // items in the tree in load order.
    void startUpSequenceAndLoadOrder()
    {
        HostFixture kit;
        QVERIFY(kit.add("tp_alpha", "tp_alpha.plg"));
        QVERIFY(kit.add("tp_beta", "tp_beta.plg"));
        cMainWindow* w = kit.open();
        kit.startMain();
        QTreeWidget* tree = w->ui->pluginTree;
        QVERIFY(kit.command(QByteArray(1, char(MAIN_LOAD_PLUGINS))));
        QVERIFY(waitUntil([&] { return tree->topLevelItemCount() == 2; }));

        QString missing;
        QVERIFY2(inOrder(kit.log.text(),
                         {"cPluginHandler: Loaded plugin 'tp_alpha.plg'", "Alpha plugin: call constructed\n",
                          "cMainWindow: Executing init() method for Alpha plugin\n",
                          "Alpha plugin: call init() initialising=1\n",
                          "cMainWindow: Executing trPlugin() method for Alpha plugin\n",
                          "Alpha plugin: Using language directory '" + kit.bin() + "/lang/tp_alpha'\n",
                          "Alpha plugin: call retranslate()\n",
                          "cMainWindow: Executing loadSettings() method for Alpha plugin\n",
                          "Alpha plugin: call loadSettings()\n", "cMainWindow: Executing mkTree() method for Alpha plugin\n",
                          "Alpha plugin: Making plugin item tree\n", "Alpha plugin: call mkItemTree()\n",
                          "MAIN: Updating plugin tree\n"},
                         &missing),
                 qPrintable(missing + "\n" + kit.log.text()));

        cPlugin* alpha = pluginList.entryAt(0)->handler.plugin;
        cPlugin* beta = pluginList.entryAt(1)->handler.plugin;
        QVERIFY(alpha && beta);
        QVERIFY(!alpha->initialising && !beta->initialising);
        QCOMPARE(tree->topLevelItem(0), alpha->topItem);
        QCOMPARE(tree->topLevelItem(1), beta->topItem);
        QCOMPARE(alpha->topItem->childCount(), 2);
        QTreeWidgetItem* meter = alpha->topItem->child(0);
        QCOMPARE(QStringList({meter->text(0), meter->text(1), meter->text(2)}), QStringList({"Meter", "A-100", "11"}));

        QBoxLayout* display = w->ui->displayLayout;
        QCOMPARE(display->count(), 4);
        QCOMPARE(display->itemAt(0)->widget(), alpha->displayWidget);
        QCOMPARE(display->itemAt(1)->widget(), alpha->setupWidget);
        QCOMPARE(display->itemAt(2)->widget(), beta->displayWidget);
        QCOMPARE(w->ui->infoBoxLayout->indexOf(alpha->infoWidget) >= 0, true);
        QCOMPARE(w->ui->infoBoxLayout->indexOf(beta->infoWidget) >= 0, true);
    }

    // Unloaded plug-ins leave their items; loaded again, each new item takes its stale
    // namesake's place, and a current item that goes with the stale one is let go.
    void reloadedItemsReplaceStaleOnes()
    {
        HostFixture kit;
        QVERIFY(kit.add("tp_alpha", "tp_alpha.plg"));
        QVERIFY(kit.add("tp_beta", "tp_beta.plg"));
        cMainWindow* w = kit.open();
        kit.startMain();
        QTreeWidget* tree = w->ui->pluginTree;
        QVERIFY(kit.command(QByteArray(1, char(MAIN_LOAD_PLUGINS))));
        QVERIFY(waitUntil([&] { return tree->topLevelItemCount() == 2; }));
        kit.settle();

        emit w->clearPluginsSignal();
        QVERIFY(pluginList.isEmpty());
        QCOMPARE(tree->topLevelItemCount(), 2);
        QCOMPARE(tree->topLevelItem(0)->text(0), QString("Alpha"));
        w->currentTreeItem = tree->topLevelItem(1)->child(0);

        StdStreamCapture so(1);
        QVERIFY(kit.command(QByteArray(1, char(MAIN_LOAD_PLUGINS))));
        QVERIFY(kit.waitLog("MAIN: done with Updating plugin tree\n", 4));
        // "MAIN" has sent both items; the GUI thread places them when it comes to them.
        QVERIFY(waitUntil([&] {
            return so.text().count("onUpdatePluginTreeTopLevelItem is here\n") == 2 && pluginList.size() == 2;
        }));
        kit.settle();
        so.stop();

        QCOMPARE(tree->topLevelItemCount(), 2);
        QCOMPARE(tree->topLevelItem(0), pluginList.entryAt(0)->handler.plugin->topItem);
        QCOMPARE(tree->topLevelItem(1), pluginList.entryAt(1)->handler.plugin->topItem);
        QCOMPARE(so.text().count("onUpdatePluginTreeTopLevelItem is here\n"), 2);
        // The selection follows the tree once the stale item goes: never the deleted item.
        QVERIFY(w->currentTreeItem == nullptr || w->currentTreeItem == tree->currentItem());
    }

    // The cases the host's own start-up never produces: nothing, an item already in the tree,
    // and an item whose text a live plug-in's item already has.
    void topLevelItemGuards()
    {
        HostFixture kit;
        cMainWindow* w = kit.open();
        QTreeWidget* tree = w->ui->pluginTree;

        TreePlugin live(w, "Flow", {"Meter"}, kit.log.file());
        placeItem(w, live.topItem);
        auto* other = new QTreeWidgetItem(QStringList{"Other"});
        placeItem(w, other);
        QCOMPARE(tree->topLevelItemCount(), 2);
        QCOMPARE(tree->topLevelItem(1), other);

        placeItem(w, nullptr);
        placeItem(w, other);
        QCOMPARE(tree->topLevelItemCount(), 2);
        QCOMPARE(tree->topLevelItem(1), other);
        QCOMPARE(other->text(0), QString("Other"));

        auto* namesake = new QTreeWidgetItem(QStringList{"Flow"});
        kit.log.clear();
        placeItem(w, namesake);
        QCOMPARE(tree->topLevelItemCount(), 2);
        QCOMPARE(tree->topLevelItem(0), live.topItem);
        QVERIFY(!namesake->treeWidget());
        QVERIFY(kit.log.text().contains("WARNING -> Plugin item 'Flow' is in use by another plugin"));
        delete namesake;

        // Without a live owner the same text is a stale item and is replaced in place.
        auto* stale = new QTreeWidgetItem(QStringList{"Stale"});
        auto* fresh = new QTreeWidgetItem(QStringList{"Stale"});
        placeItem(w, stale);
        placeItem(w, fresh);
        QCOMPARE(tree->topLevelItemCount(), 3);
        QCOMPARE(tree->topLevelItem(2), fresh);
    }

    void mkTreeRestoresTheSelection_data()
    {
        QTest::addColumn<QString>("selectParent");
        QTest::addColumn<QString>("selectText");
        QTest::addColumn<QString>("currentParent");
        QTest::addColumn<QString>("currentText");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("nothing selected")
            << QString() << QString() << QString() << QString("Alpha")
            << QStringList({"Alpha plugin: Current selection is ''\n",
                            "Alpha plugin: No item selected, restoring selection to default 'Alpha'\n"});
        QTest::newRow("device rebuilt")
            << QString("Alpha") << QString("Pump") << QString("Alpha") << QString("Pump")
            << QStringList({"Alpha plugin: Current selection is 'Pump'\n",
                            "Alpha plugin: Restored selection to child item 'Alpha/Pump'\n"});
        QTest::newRow("later plug-in's namesake wins")
            << QString("Alpha") << QString("Meter") << QString("Beta") << QString("Meter")
            << QStringList({"Alpha plugin: Restored selection to child item 'Alpha/Meter'\n",
                            "Alpha plugin: Restored selection to child item 'Beta/Meter'\n"});
        QTest::newRow("top-level item ends the scan")
            << QString() << QString("Beta") << QString() << QString("Beta")
            << QStringList({"Alpha plugin: Restored selection to top level item 'Beta'\n"});
    }
    void mkTreeRestoresTheSelection()
    {
        QFETCH(QString, selectParent);
        QFETCH(QString, selectText);
        QFETCH(QString, currentParent);
        QFETCH(QString, currentText);
        QFETCH(QStringList, lines);
        HostFixture kit;
        cMainWindow* w = kit.open();
        QTreeWidget* tree = w->ui->pluginTree;
        TreePlugin alpha(w, "Alpha", {"Meter", "Pump"}, kit.log.file());
        TreePlugin beta(w, "Beta", {"Meter"}, kit.log.file());
        TreePlugin gamma(w, "Gamma", {"Beta"}, kit.log.file());
        for (TreePlugin* p : {&alpha, &beta, &gamma}) {
            p->mkItemTree();
            placeItem(w, p->topItem);
        }

        tree->clearSelection();
        tree->setCurrentItem(nullptr);
        if (!selectText.isNull()) {
            for (int i = 0; i < tree->topLevelItemCount(); ++i) {
                QTreeWidgetItem* top = tree->topLevelItem(i);
                if (selectParent.isNull() && top->text(0) == selectText)
                    tree->setCurrentItem(top, 0);
                for (int c = 0; c < top->childCount(); ++c)
                    if (top->text(0) == selectParent && top->child(c)->text(0) == selectText)
                        tree->setCurrentItem(top->child(c), 0);
            }
            QVERIFY(tree->currentItem());
        }
        SignalLog locks;
        locks.watch(w);
        kit.log.clear();
        alpha.mkTree();
        QCoreApplication::processEvents();

        QTreeWidgetItem* current = tree->currentItem();
        QVERIFY(current);
        QCOMPARE(current->text(0), currentText);
        QCOMPARE(current->parent() ? current->parent()->text(0) : QString(), currentParent);
        const QString log = kit.log.text();
        QVERIFY2(inOrder(log, QStringList({"Alpha plugin: Making plugin item tree\n",
                                           "cPlugin: Disconnecting Alpha plugin signals\n"}) +
                                  lines + QStringList({"cPlugin: Connecting Alpha plugin signals\n"})),
                 qPrintable(log));
        QCOMPARE(locks.matching("lock"), QStringList({"lock 1", "lock 0"}));
        QVERIFY(alpha.topItem->isExpanded());
    }

    void mkTreeCollapsesAnEmptyPlugin()
    {
        HostFixture kit;
        cMainWindow* w = kit.open();
        TreePlugin p(w, "Empty", {"One"}, kit.log.file());
        placeItem(w, p.topItem);
        p.mkTree();
        QVERIFY(p.topItem->isExpanded());
        p.devices.clear();
        p.mkTree();
        QVERIFY(!p.topItem->isExpanded());
    }
};

QTEST_MAIN(TestPluginTree)
#include "test_plugin_tree.moc"
