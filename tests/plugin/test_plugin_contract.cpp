// The plug-in base classes as a plug-in sees them: the fixed order of the operations and of
// the meta-object, the plug-in's own connections, the destructor, the three timer slots,
// the translation, and the display and dialog bases.
#include "HostFixture.h"
#include "StdStreamCapture.h"
#include "plugin/cPluginDialog.h"
#include "plugin/cPluginDisplay.h"

#include <QLabel>
#include <QMetaMethod>
#include <QPointer>
#include <QSignalSpy>
#include <QTime>
#include <QTimer>
#include <QTreeWidgetItem>

#include <cstring>

namespace {

// Index of a virtual function in its class's virtual table, read from the pointer to member
// (the Itanium C++ ABI stores 1 + the byte offset of the entry).
template <typename M> int vtableSlot(M m)
{
    struct
    {
        uintptr_t ptr;
        ptrdiff_t adj;
    } rep;
    static_assert(sizeof(M) == sizeof(rep), "Itanium pointer to member");
    memcpy(&rep, &m, sizeof(rep));
    return (rep.ptr & 1) ? int((rep.ptr - 1) / sizeof(void*)) : -1;
}

} // namespace

// Overrides every operation, so that each one's place in the table can be read off, and
// writes down what reaches it.
class Probe : public cPlugin
{
    Q_OBJECT
public:
    Probe(cMainWindow* w, const QString& n, FILE* out) : cPlugin(w, "PROBE", out, out) { name = n; }

    QStringList calls;
    bool reenterTimer = false;

    void init() override {}
    void deinit() override {}
    void selectItem(QTreeWidgetItem*) override {}
    void deselect() override {}
    void mkItemTree() override {}
    void saveSettings() override {}
    void loadSettings() override {}
    void mkPluginMenu(QMenu*, QToolBar*) override {}
    void connectExtraSignals(bool c) override { calls << QString("extra %1").arg(int(c)); }
    void acceptSetup() override {}
    void rejectSetup() override {}
    void onDisplayUpdate() override { calls << "display"; }
    void onInfoUpdate() override { calls << "info"; }
    void onSetupUpdate() override { calls << "setup"; }
    void onMkSetupGuiSignal() override { calls << "mkSetupGui"; }
    void onAddDevGUI(void* d) override { calls << QString("addDev %1").arg(quintptr(d)); }
    void onRmDevGUI(void* d) override { calls << QString("rmDev %1").arg(quintptr(d)); }
    void prepareSetup() override {}
    void retranslate() override { calls << "retranslate"; }
    void lockGui(bool) override {}
    void generalTimerTick(bool blink) override
    {
        calls << QString("tick %1").arg(int(blink));
        if (reenterTimer) {
            reenterTimer = false;
            fireGeneral();
        }
    }
    void loggerTimerTick() override { calls << "logger"; }
    void internetTimerTick() override { calls << "internet"; }
    void dialogClosed(unsigned char id) override { calls << QString("closed %1").arg(id); }

    static int runSlot() { return vtableSlot(&Probe::run); }
    void fireGeneral() { QMetaObject::invokeMethod(this, "onGeneralTimerTimeout", Qt::DirectConnection); }
    QStringList ticks() const { return calls.filter("tick "); }
};

class TestPluginContract : public QObject
{
    Q_OBJECT

    HostFixture kit;
    cMainWindow* w = nullptr;

    std::unique_ptr<Probe> probe(const QString& name = "Flow")
    {
        return std::make_unique<Probe>(w, name, kit.log.file());
    }

private slots:
    void initTestCase() { w = kit.open(); }
    void init() { kit.log.clear(); }

    // The host reaches the operations by their place: nothing may move them.
    void operationsKeepTheirPlaces()
    {
        QCOMPARE(Probe::runSlot(), 12);
        QCOMPARE(vtableSlot(&cThread::runHandler), 13);
        QCOMPARE(vtableSlot(&cThread::setErr), 18);
        const int expected[] = {
            vtableSlot(&Probe::init),           vtableSlot(&Probe::deinit),
            vtableSlot(&Probe::selectItem),     vtableSlot(&Probe::deselect),
            vtableSlot(&Probe::mkItemTree),     vtableSlot(&Probe::saveSettings),
            vtableSlot(&Probe::loadSettings),   vtableSlot(&Probe::mkPluginMenu),
            vtableSlot(&Probe::connectExtraSignals), vtableSlot(&Probe::acceptSetup),
            vtableSlot(&Probe::rejectSetup),    vtableSlot(&Probe::onDisplayUpdate),
            vtableSlot(&Probe::onInfoUpdate),   vtableSlot(&Probe::onSetupUpdate),
            vtableSlot(&Probe::onMkSetupGuiSignal), vtableSlot(&Probe::onAddDevGUI),
            vtableSlot(&Probe::onRmDevGUI),     vtableSlot(&Probe::prepareSetup),
            vtableSlot(&Probe::retranslate),    vtableSlot(&Probe::lockGui),
            vtableSlot(&Probe::generalTimerTick), vtableSlot(&Probe::loggerTimerTick),
            vtableSlot(&Probe::internetTimerTick), vtableSlot(&Probe::dialogClosed),
        };
        for (int i = 0; i < 24; ++i)
            QCOMPARE(expected[i], 19 + i);
        QCOMPARE(vtableSlot(&cPluginDisplay::valueText), vtableSlot(&cPluginDisplay::kind) + 1);

        // Plug-ins built elsewhere reach the members by their place too: they follow the
        // thread's own fields, in the declared order.
        auto p = probe();
        const auto at = [&](const void* m) { return reinterpret_cast<const char*>(m) - reinterpret_cast<const char*>(p.get()); };
        const std::ptrdiff_t places[] = {at(&p->mutex), at(&p->name), at(&p->description), at(&p->version),
                                         at(&p->mainWindow), at(&p->displayWidget), at(&p->setupWidget),
                                         at(&p->infoWidget), at(&p->auxTranslator), at(&p->translator),
                                         at(&p->topItem), at(&p->icon1), at(&p->icon2), at(&p->pixmap),
                                         at(&p->spare), at(&p->initialising), at(&p->generalTimer),
                                         at(&p->loggerTimer), at(&p->internetTimer)};
        for (size_t i = 1; i < std::size(places); ++i)
            QVERIFY2(places[i] > places[i - 1], qPrintable(QString("member %1 out of place").arg(i)));
    }

    // The meta-object lists setup before info, the virtual table the other way round, and
    // both slots still reach the plug-in's own operation.
    void metaObjectOrderAndDispatch()
    {
        const QMetaObject& mo = cPlugin::staticMetaObject;
        QCOMPARE(mo.className(), "cPlugin");
        QCOMPARE(mo.superClass()->className(), "QThread");
        QCOMPARE(mo.methodCount() - mo.methodOffset(), 15);
        const QStringList expected = {
            "displayUpdateSignal()", "setupUpdateSignal()", "infoUpdateSignal()", "mkSetupGuiSignal()",
            "addDevGuiSignal(void*)", "rmDevGuiSignal(void*)", "onDisplayUpdate()", "onSetupUpdate()",
            "onInfoUpdate()", "onMkSetupGuiSignal()", "onAddDevGUI(void*)", "onRmDevGUI(void*)",
            "onGeneralTimerTimeout()", "onLoggerTimerTimeout()", "onInternetTimerTimeout()",
        };
        for (int i = 0; i < 15; ++i) {
            const QMetaMethod m = mo.method(mo.methodOffset() + i);
            QCOMPARE(QString(m.methodSignature()), expected[i]);
            QCOMPARE(m.methodType(), i < 6 ? QMetaMethod::Signal : QMetaMethod::Slot);
            if (i >= 6)
                QCOMPARE(m.access(), QMetaMethod::Private);
        }
        QCOMPARE(mo.method(mo.methodOffset() + 4).parameterNames().value(0), QByteArray("data"));
        QCOMPARE(mo.propertyCount() - mo.propertyOffset(), 0);

        auto p = probe();
        p->connectPluginSignals(true);
        p->calls.clear();
        emit p->setupUpdateSignal();
        emit p->infoUpdateSignal();
        emit p->addDevGuiSignal(reinterpret_cast<void*>(7));
        QCOMPARE(p->calls, QStringList({"setup", "info", "addDev 7"}));
        p->connectPluginSignals(false);
    }

    // Making the set twice doubles every connection; breaking it once removes them all.
    void connectionsAreMadeAndBrokenAsOneSet()
    {
        auto p = probe();
        kit.log.clear();
        p->connectPluginSignals(true);
        p->connectPluginSignals(true);
        QCOMPARE(kit.log.text(), QString("cPlugin: Connecting Flow plugin signals\n"
                                         "cPlugin: Connecting Flow plugin signals\n"));
        QCOMPARE(p->calls, QStringList({"extra 1", "extra 1"}));
        p->calls.clear();
        emit p->displayUpdateSignal();
        emit p->mkSetupGuiSignal();
        emit p->rmDevGuiSignal(reinterpret_cast<void*>(9));
        QCOMPARE(p->calls, QStringList({"display", "display", "mkSetupGui", "mkSetupGui", "rmDev 9", "rmDev 9"}));

        // The timers are part of the set.
        p->calls.clear();
        p->loggerTimer->start(1);
        p->internetTimer->start(1);
        QTRY_VERIFY(p->calls.contains("logger") && p->calls.contains("internet"));
        p->loggerTimer->stop();
        p->internetTimer->stop();

        p->calls.clear();
        p->connectPluginSignals(false);
        QVERIFY(kit.log.text().endsWith("cPlugin: Disconnecting Flow plugin signals\n"));
        emit p->displayUpdateSignal();
        emit p->infoUpdateSignal();
        QCOMPARE(p->calls, QStringList({"extra 0"}));
    }

    void destructorWritesItsFiveLinesWithoutPages()
    {
        auto p = probe("Bare");
        p->generalTimer->start(1000);
        p->loggerTimer->start(1000);
        p->internetTimer->start(1000);
        kit.log.clear();
        p.reset();
        const QString expected = "Bare plugin: Stopping the general purpuse timer\n"
                                 "Bare plugin: Stopping the data logger timer\n"
                                 "Bare plugin: Stopping the internet data logger timer\n"
                                 "cPlugin: Disconnecting Bare plugin signals\n"
                                 "Bare plugin: Destroyed\n";
        QVERIFY2(kit.log.text().startsWith(expected), qPrintable(kit.log.text()));
        // The thread's own end follows the plug-in's lines.
        QVERIFY(kit.log.text().indexOf("PROBE thread destroyed") > expected.size() - 1);
    }

    // Each page goes once, even when the plug-in built one page into another.
    void destructorDeletesEachPageOnce()
    {
        auto p = probe("Paged");
        auto* display = new cPluginDisplay();
        auto* setup = new QLabel("setup", display);
        auto* info = new QLabel("info");
        p->displayWidget = display;
        p->setupWidget = setup;
        p->infoWidget = info;
        QPointer<QWidget> d(display), s(setup), i(info);
        StdStreamCapture so(1);
        p.reset();
        so.stop();
        QVERIFY(!d && !s && !i);
        QCOMPARE(so.text().count("cPluginDisplay: Destroying plugin display\n"), 1);
        QVERIFY(kit.log.text().contains("Paged plugin: Destroyed\n"));
    }

    // The value flips on the first tick of each new second and holds within a second.
    void blinkFlipsOncePerSecond()
    {
        auto p = probe();
        auto waitForNextSecond = [] {
            const int s = QTime::currentTime().second();
            while (QTime::currentTime().second() == s)
                QTest::qSleep(2);
        };
        p->fireGeneral();
        waitForNextSecond();
        p->calls.clear();
        for (int i = 0; i < 10; ++i)
            p->fireGeneral();
        const QStringList first = p->ticks();
        QCOMPARE(first.size(), 10);
        QCOMPARE(first.count(first.first()), 10);

        waitForNextSecond();
        p->calls.clear();
        for (int i = 0; i < 5; ++i)
            p->fireGeneral();
        const QStringList second = p->ticks();
        QCOMPARE(second.count(second.first()), 5);
        QVERIFY(second.first() != first.first());

        // The real timer drives the same slot once the set is made.
        p->connectPluginSignals(true);
        p->calls.clear();
        p->generalTimer->start(1);
        QTRY_VERIFY(!p->ticks().isEmpty());
        p->generalTimer->stop();
    }

    // A tick that spins the event loop into the slot again is not run inside itself.
    void generalTimerIsNotReentered()
    {
        auto p = probe();
        p->reenterTimer = true;
        p->fireGeneral();
        QCOMPARE(p->ticks().size(), 1);
        p->fireGeneral();
        QCOMPARE(p->ticks().size(), 2);
    }

    // Which current items belong to the plug-in "Flow": the buttons follow its setup page
    // only for those.
    void buttonsFollowTheSetupPageOfItsOwnItems_data()
    {
        QTest::addColumn<QString>("parentText");
        QTest::addColumn<QString>("itemText");
        QTest::addColumn<bool>("belongs");
        QTest::newRow("its top-level item") << QString() << QString("Flow") << true;
        QTest::newRow("name followed by more") << QString() << QString("Flowmeter 2") << true;
        QTest::newRow("only the start of the name") << QString() << QString("Flo") << false;
        QTest::newRow("other case") << QString() << QString("flow") << false;
        QTest::newRow("device under it") << QString("Flow") << QString("Meter") << true;
        QTest::newRow("device under a longer name") << QString("My Flow unit") << QString("Meter") << true;
        QTest::newRow("device named after it elsewhere") << QString("Other") << QString("Flow") << true;
        QTest::newRow("device of another") << QString("Other") << QString("Meter") << false;
        QTest::newRow("device under a line under it") << QString("Flow/line") << QString("Meter") << true;
        QTest::newRow("device under a line of another") << QString("Other/line") << QString("Meter") << false;
    }
    void buttonsFollowTheSetupPageOfItsOwnItems()
    {
        QFETCH(QString, parentText);
        QFETCH(QString, itemText);
        QFETCH(bool, belongs);
        auto p = probe("Flow");
        auto* setup = new QLabel("setup");
        p->setupWidget = setup;

        // "Top/line": the item sits under a line item under the top one.
        QTreeWidgetItem parent(QStringList{parentText.section('/', 0, 0)});
        QTreeWidgetItem* item = new QTreeWidgetItem(QStringList{itemText});
        std::unique_ptr<QTreeWidgetItem> lone;
        if (parentText.isNull()) {
            lone.reset(item);
        } else if (parentText.contains('/')) {
            auto* line = new QTreeWidgetItem(QStringList{parentText.section('/', 1)});
            parent.addChild(line);
            line->addChild(item);
        } else {
            parent.addChild(item);
        }

        QSignalSpy spy(w, &cMainWindow::setButtonsVisibleSignal);
        w->currentTreeItem = item;
        setup->show();
        p->fireGeneral();
        setup->hide();
        p->fireGeneral();
        w->currentTreeItem = nullptr;

        QCOMPARE(p->ticks().size(), 2);
        if (belongs) {
            QCOMPARE(spy.size(), 2);
            QCOMPARE(spy.at(0).at(0).toBool(), true);
            QCOMPARE(spy.at(1).at(0).toBool(), false);
        } else {
            QCOMPARE(spy.size(), 0);
        }
    }

    void withoutCurrentItemOnlyTheTickRuns()
    {
        auto p = probe();
        w->currentTreeItem = nullptr;
        QSignalSpy spy(w, &cMainWindow::setButtonsVisibleSignal);
        p->fireGeneral();
        QCOMPARE(p->ticks().size(), 1);
        QCOMPARE(spy.size(), 0);
    }

    // The plug-in's translation comes from lang/<library name> beside the program, is
    // installed in the application, and the plug-in re-translates after that.
    void translationFromTheLibrarysFolder()
    {
        auto p = probe("Abc");
        const QString dir = kit.bin() + "/lang/abc";
        p->trPlugin("abc.plg", 2);
        QString text = kit.log.text();
        QVERIFY2(text.contains("Abc plugin: Found system locale " + QLocale::system().name() + "\n"), qPrintable(text));
        QVERIFY(inOrder(text, {"Abc plugin: Using language directory '" + dir + "'\n",
                               "Abc plugin: Selected language 'Swedish'\n",
                               "Abc plugin: WARNING! Language file lang_sv_SE.qm was not found in " + dir +
                                   "\nAbc plugin: English will be used\n"}));
        QCOMPARE(p->calls, QStringList({"retranslate"}));

        QVERIFY(QDir().mkpath(dir));
        QVERIFY(QFile::copy(QStringLiteral(PROBE_QM), dir + "/lang_sv_SE.qm"));
        kit.log.clear();
        p->trPlugin("abc.plg", 2);
        QVERIFY(kit.log.text().contains("Abc plugin: Loaded language file lang_sv_SE.qm\n"));
        QCOMPARE(QCoreApplication::translate("Probe", "Flow rate"), QString("Flödeshastighet"));
        // Loading twice lists the translator once: it goes with the plug-in.
        p.reset();
        QCOMPARE(QCoreApplication::translate("Probe", "Flow rate"), QString("Flow rate"));

        // An index outside the table means the system's language.
        auto q = probe("Abc");
        kit.log.clear();
        q->trPlugin("abc.plg", 9);
        QVERIFY(kit.log.text().contains("Abc plugin: Selected language 'System'\n"));
        QVERIFY(kit.log.text().contains("lang_" + QLocale::system().name() + ".qm"));
    }

    void displayDefaults()
    {
        StdStreamCapture so(1);
        {
            cPluginDisplay d;
            QCOMPARE(int(d.kind()), 5);
            QCOMPARE(d.valueText(1.5f), QString("1.500000"));
            QCOMPARE(d.valueText(-0.25f), QString("-0.250000"));
            QCOMPARE(cPluginDisplay::staticMetaObject.className(), "cPluginDisplay");
            QCOMPARE(cPluginDisplay::staticMetaObject.superClass()->className(), "QFrame");
        }
        so.stop();
        QCOMPARE(so.text(), QString("cPluginDisplay: Destroying plugin display\n"));
    }

    void dialogTellsItsPluginWhenClosed()
    {
        auto p = probe();
        cPluginDialog withPlugin(nullptr, p.get(), 42);
        withPlugin.show();
        QVERIFY(withPlugin.close());
        QVERIFY(!withPlugin.isVisible());
        QCOMPARE(p->calls, QStringList({"closed 42"}));

        cPluginDialog alone;
        alone.show();
        QVERIFY(alone.close());
        QVERIFY(!alone.isVisible());

        const QMetaObject& mo = cPluginDialog::staticMetaObject;
        QCOMPARE(mo.methodCount() - mo.methodOffset(), 1);
        QCOMPARE(mo.method(mo.methodOffset()).methodSignature(), QByteArray("closeEvent(QCloseEvent*)"));
    }
};

QTEST_MAIN(TestPluginContract)
#include "test_plugin_contract.moc"
