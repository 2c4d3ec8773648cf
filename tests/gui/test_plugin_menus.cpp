// Menus and tool bar while a plug-in is current: its menu, its entries, and the setup action
// named after the selected item.
#include "HostFixture.h"
#include "gui/cSetup.h"
#include "gui/Ui_cMainWindow.h"
#include "plugin/cPlugin.h"
#include "plugin/cPluginEntry.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QtTest>

namespace {

// A plug-in as a library would make it, adding one entry to the menu and one to the tool bar.
class MenuPlugin : public cPlugin
{
public:
    MenuPlugin(cMainWindow* w, const QString& pluginName) : cPlugin(w) { name = pluginName; }
    void mkPluginMenu(QMenu* menu, QToolBar* toolBar) override
    {
        ++calls;
        menu->addAction("Zero flow");
        toolBar->addAction("Zero");
    }
    int calls = 0;
};

QStringList titles(const QList<QAction*>& actions)
{
    QStringList t;
    for (QAction* a : actions)
        t << (a->isSeparator() ? QString("|") : a->text());
    return t;
}

// Let go of the test's plug-ins before they go, so that neither the window nor the list
// reaches them afterwards.
struct Deselect
{
    ~Deselect()
    {
        currentPlugin = nullptr;
        for (cPluginEntry& e : pluginList)
            e.handler.plugin = nullptr;
    }
};

} // namespace

class TestPluginMenus : public QObject
{
    Q_OBJECT
    std::unique_ptr<HostFixture> fx;

    // Makes `plugin` the current one, as the tree selection does.
    void select(cPluginEntry& entry, MenuPlugin& plugin)
    {
        entry.handler.plugin = &plugin;
        currentPlugin = &entry;
    }

private slots:
    void init() { fx = std::make_unique<HostFixture>(); fx->captureConsole(); }
    void cleanup()
    {
        Deselect();
        pluginList.clearEntries();
        fx.reset();
    }

    void menusOfTheCurrentPlugin()
    {
        auto w = fx->makeWindow();
        MenuPlugin plugin(w.get(), "Flowmeter");
        Deselect deselect;
        select(pluginList.append("flowmeter.plg", fx->log.file()), plugin);
        w->ui->itemStr->setText("FM-100 #3");
        w->mkMenus();

        QCOMPARE(titles(w->ui->menuBar->actions()), QStringList({"File", "Flowmeter", "Help"}));
        QCOMPARE(titles(w->pluginMenu->actions()), QStringList({"FM-100 #3: Setup", "Zero flow"}));
        QCOMPARE(titles(w->helpMenu->actions()), QStringList({"CV: About", "Flowmeter: About plugin"}));
        QCOMPARE(titles(w->ui->mainToolBar->actions()), QStringList({"|", "FM-100 #3: Setup", "Zero"}));
        QCOMPARE(w->actionPluginSetup->toolTip(), QString("FM-100 #3: Setup"));
        QCOMPARE(w->actionPluginSetup->statusTip(), QString("FM-100 #3: Setup"));
        QCOMPARE(w->actionPluginSetup->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Return));
        QCOMPARE(w->actionAboutPlugin->statusTip(), QString("Flowmeter: About plugin"));
        QCOMPARE(plugin.calls, 1);

        // Without an item text the setup action takes the plug-in's name.
        w->ui->itemStr->clear();
        w->mkMenus();
        QCOMPARE(w->actionPluginSetup->text(), QString("Flowmeter: Setup"));
    }

    // One selection after another leaves one plug-in menu and one setup entry on the tool bar.
    void selectingAgainLeavesOneOfEach()
    {
        auto w = fx->makeWindow();
        MenuPlugin first(w.get(), "Flowmeter"), second(w.get(), "Logger");
        Deselect deselect;
        cPluginEntry& a = pluginList.append("flowmeter.plg", fx->log.file());
        cPluginEntry& b = pluginList.append("logger.plg", fx->log.file());
        select(a, first);
        w->mkMenus();
        select(b, second);
        w->mkMenus();
        select(a, first);
        w->mkMenus();
        QCOMPARE(titles(w->ui->menuBar->actions()), QStringList({"File", "Flowmeter", "Help"}));
        QCOMPARE(titles(w->ui->mainToolBar->actions()), QStringList({"|", "Flowmeter: Setup", "Zero"}));
        QCOMPARE(titles(w->helpMenu->actions()), QStringList({"CV: About", "Flowmeter: About plugin"}));

        // Nothing current: File and Help only, and the last plug-in menu is kept.
        QMenu* last = w->pluginMenu;
        currentPlugin = nullptr;
        w->mkMenus();
        QCOMPARE(titles(w->ui->menuBar->actions()), QStringList({"File", "Help"}));
        QVERIFY(w->ui->mainToolBar->actions().isEmpty());
        QCOMPARE(w->pluginMenu, last);
    }

    // A library whose instance is not made yet has no name to show.
    void entryWithoutInstanceCountsAsNone()
    {
        auto w = fx->makeWindow();
        currentPlugin = &pluginList.append("pending.plg", fx->log.file());
        w->mkMenus();
        QCOMPARE(titles(w->ui->menuBar->actions()), QStringList({"File", "Help"}));
    }
};

QTEST_MAIN(TestPluginMenus)
#include "test_plugin_menus.moc"
