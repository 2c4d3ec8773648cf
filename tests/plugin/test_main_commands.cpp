// The "MAIN" thread's commands, run by the real handler on the real thread of a window whose
// program folder is the test's: the plug-in scan, unloading, the tree-item hand-over and the
// action lock at its edges.
#include "HostFixture.h"
#include "SignalLog.h"

#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

QByteArray pointerBytes(const void* p)
{
    QByteArray b;
    uintptr_t v = reinterpret_cast<uintptr_t>(p);
    for (size_t i = 0; i < sizeof(void*); ++i, v >>= 8)
        b.append(char(v & 0xFF));
    return b;
}

QByteArray actionLock(const QByteArray& tag, const QByteArray& text, int seconds, const void* busy, const void* status)
{
    QByteArray r;
    r.append(char(MAIN_ACTION_LOCK));
    r.append(char(tag.size()));
    r.append(char(text.size()));
    r.append(char(seconds));
    r.append(tag);
    r.append(text);
    r.append(pointerBytes(busy));
    r.append(pointerBytes(status));
    return r;
}

} // namespace

class TestMainCommands : public QObject
{
    Q_OBJECT

    struct Run
    {
        HostFixture kit;
        SignalLog signals_;
        cMainWindow* w = nullptr;

        Run()
        {
            w = kit.open();
            signals_.watch(w);
            kit.startMain();
        }
        // Queues command 2 and waits until it is done.
        bool loadPlugins()
        {
            const int before = signals_.events.count("status Done");
            if (!kit.command(QByteArray(1, char(MAIN_LOAD_PLUGINS))))
                return false;
            const bool done = waitUntil([&] { return signals_.events.count("status Done") > before; });
            kit.settle();
            return done;
        }
        bool waitEvent(const QString& e, int timeoutMs = 10000)
        {
            return waitUntil([&] { return signals_.events.contains(e); }, timeoutMs);
        }
    };

private slots:
    void scanOrderIgnoresCase()
    {
        Run r;
        QVERIFY(r.kit.add("tp_beta", "b.plg"));
        QVERIFY(r.kit.add("tp_alpha", "A.PLG"));
        QVERIFY(r.kit.addBytes("readme.txt", "not a plug-in"));
        QVERIFY(r.kit.addBytes("notes.plg.txt", "not a plug-in either"));
        QVERIFY(r.loadPlugins());

        const QString log = r.kit.log.text();
        QVERIFY2(inOrder(log, {"MAIN: Loading plugins\n", "MAIN: Found plugin directory '" + r.kit.plugins() + "'\n",
                               "MAIN: Found plugin 'A.PLG' (1/2)\n", "cPluginHandler: Loaded plugin 'A.PLG'",
                               "MAIN: Found plugin 'b.plg' (2/2)\n", "cPluginHandler: Loaded plugin 'b.plg'"}),
                 qPrintable(log));
        QVERIFY(!log.contains("readme") && !log.contains("notes"));
        QCOMPARE(r.signals_.matching("status "),
                 QStringList({"status Loading plugins", "status Found plugin: A.PLG", "status Loaded plugin: A.PLG",
                              "status Found plugin: b.plg", "status Loaded plugin: b.plg", "status Done"}));
        QVERIFY(r.signals_.matching("popup").isEmpty());
        QCOMPARE(r.signals_.events.first(), QString("lock 1"));
        QCOMPARE(pluginList.size(), 2);
        QCOMPARE(pluginList.entryAt(0)->fileName, QString("A.PLG"));
    }

    // A file that fails to load ends the round: the files after it stay unloaded, and the
    // status says which one failed; the loader's own pop-up is the only one.
    void failedLoadStopsTheRest()
    {
        Run r;
        QVERIFY(r.kit.addBytes("A.plg", "not a library"));
        QVERIFY(r.kit.add("tp_beta", "b.plg"));
        QVERIFY(r.loadPlugins());
        QCOMPARE(r.signals_.matching("status "),
                 QStringList({"status Loading plugins", "status Found plugin: A.plg", "status Failed to load plugin: A.plg",
                              "status Done"}));
        QCOMPARE(r.signals_.matching("popup").size(), 1);
        QVERIFY(!r.kit.log.text().contains("Loaded plugin 'b.plg'"));
        QCOMPARE(r.signals_.events.last(), QString("lock 0"));
    }

    // The loop cannot take the list lock for the second file (another thread holds it from
    // the moment the first is loaded until the round is done): the round ends there, and the
    // log and the status bar both say where and why, and which files were left.
    void listLockHeldStopsTheRestAndSaysWhy()
    {
        Run r;
        QVERIFY(r.kit.add("tp_alpha", "A.plg"));
        QVERIFY(r.kit.add("tp_beta", "b.plg"));
        QVERIFY(r.kit.add("tp_gamma", "c.plg"));

        // 0: idle, 1: take the lock, 2: held, 3: let it go.
        std::mutex m;
        std::condition_variable cv;
        int stage = 0;
        auto moveTo = [&](int s) {
            {
                std::lock_guard<std::mutex> g(m);
                stage = std::max(stage, s);
            }
            cv.notify_all();
        };
        auto waitFor = [&](int s) {
            std::unique_lock<std::mutex> g(m);
            cv.wait(g, [&] { return stage >= s; });
        };
        std::thread holder([&] {
            waitFor(1);
            r.w->pluginListMutex.lock();
            moveTo(2);
            waitFor(3);
            r.w->pluginListMutex.unlock();
        });
        // Runs on "MAIN" right after it has let the lock go for the first file, and returns
        // only once the holder has it.
        QObject hook;
        connect(
            r.w, &cMainWindow::statusBarMsgSignal, &hook,
            [&](const QString& msg) {
                if (msg == "Loaded plugin: A.plg") {
                    moveTo(1);
                    waitFor(2);
                }
            },
            Qt::DirectConnection);

        const bool done = r.loadPlugins();
        moveTo(3);
        holder.join();
        QVERIFY(done);

        const QString log = r.kit.log.text();
        QVERIFY2(inOrder(log, {"MAIN: Found plugin 'A.plg' (1/3)\n", "cPluginHandler: Loaded plugin 'A.plg'",
                               "cMainWindow: WARNING -> Unable to unlock mutex after 100 ms\n",
                               "MAIN: Stopped loading plugins at 'b.plg' (2/3): the plugin list stayed locked\n",
                               "MAIN: Plugins not loaded: c.plg\n"}),
                 qPrintable(log));
        QVERIFY(!log.contains("Found plugin 'b.plg'") && !log.contains("Found plugin 'c.plg'"));
        QCOMPARE(r.signals_.matching("status "),
                 QStringList({"status Loading plugins", "status Found plugin: A.plg", "status Loaded plugin: A.plg",
                              "status Failed to load plugin: b.plg", "status Done"}));
        QCOMPARE(r.signals_.events.count("loadPlg"), 1);
    }

    void nothingToLoad_data()
    {
        QTest::addColumn<bool>("folderExists");
        QTest::newRow("no plugins folder") << false;
        QTest::newRow("folder without plug-ins") << true;
    }
    void nothingToLoad()
    {
        QFETCH(bool, folderExists);
        Run r;
        if (folderExists)
            QVERIFY(r.kit.addBytes("readme.txt", "nothing"));
        QVERIFY(r.loadPlugins());
        const QString log = r.kit.log.text();
        const QString dirLine = folderExists ? "MAIN: Found plugin directory '" + r.kit.plugins() + "'\n"
                                             : "MAIN: Plugin directory '" + r.kit.plugins() + "' does not exist\n";
        QVERIFY2(inOrder(log, {"MAIN: Loading plugins\n", dirLine, "MAIN: No valid plugins where found in 'plugins'\n"}),
                 qPrintable(log));
        QCOMPARE(r.signals_.matching("popup"),
                 QStringList({"popup 1|Plugins|No valid plugins where found in 'plugins'|1024|0|0"}));
        QCOMPARE(r.signals_.matching("status "), QStringList({"status Loading plugins", "status Done"}));
        QCOMPARE(r.signals_.events.first(), QString("lock 1"));
        QCOMPARE(r.signals_.events.last(), QString("lock 0"));
    }

    // Loading again unloads what is loaded first, and leaves the window's connections broken:
    // the second round's plug-in is loaded but never reaches the window.
    void loadingAgainUnloadsFirst()
    {
        Run r;
        QVERIFY(r.kit.add("tp_alpha", "tp_alpha.plg"));
        QVERIFY(r.loadPlugins());
        QVERIFY(r.kit.waitLog("MAIN: done with Updating plugin tree\n"));
        QCOMPARE(r.kit.log.text().count("Alpha plugin: call init("), 1);

        r.kit.log.clear();
        QVERIFY(r.loadPlugins());
        r.kit.settle(300);
        const QString log = r.kit.log.text();
        QVERIFY2(inOrder(log, {"MAIN: Loading plugins\n", "cMainWindow: Connecting signals\n",
                               "Alpha plugin: call saveSettings()", "Alpha plugin: Destroyed\n",
                               "cPluginHandler: Unloaded plugin 'tp_alpha.plg'", "cMainWindow: Disconnecting signals\n",
                               "MAIN: Found plugin 'tp_alpha.plg' (1/1)\n", "cPluginHandler: Loaded plugin 'tp_alpha.plg'"}),
                 qPrintable(log));
        QCOMPARE(r.signals_.events.count("loadPlg"), 2);
        QVERIFY(!log.contains("call constructed"));
        QCOMPARE(pluginList.size(), 1);
        QVERIFY(!pluginList.entryAt(0)->handler.plugin);
    }

    void unloadCommand()
    {
        Run r;
        QVERIFY(r.kit.add("tp_alpha", "tp_alpha.plg"));
        QVERIFY(r.loadPlugins());
        QVERIFY(r.kit.waitLog("MAIN: done with Updating plugin tree\n"));
        r.signals_.events.clear();
        r.kit.log.clear();
        QVERIFY(r.kit.command(QByteArray(1, char(MAIN_UNLOAD_PLUGINS))));
        QVERIFY(r.waitEvent("status Done"));
        QVERIFY(inOrder(r.kit.log.text(), {"MAIN: Unloading plugins\n", "Alpha plugin: call saveSettings()",
                                           "cPluginHandler: Unloaded plugin 'tp_alpha.plg'"}));
        QCOMPARE(r.signals_.matching("status "), QStringList({"status Unloading plugins", "status Done"}));
        QTRY_COMPARE(r.signals_.events.last(), QString("lock 0"));
        QVERIFY(pluginList.isEmpty());

        // With nothing loaded it only says so.
        r.signals_.events.clear();
        QVERIFY(r.kit.command(QByteArray(1, char(MAIN_UNLOAD_PLUGINS))));
        QVERIFY(r.waitEvent("lock 0"));
        QCOMPARE(r.signals_.events, QStringList({"lock 1", "status Unloading plugins", "status Done", "lock 0"}));
    }

    // "MAIN GUI" asks for a refresh about every 10 ms while a plug-in is current, and not
    // otherwise.
    void guiTickOnlyWhileAPluginIsCurrent()
    {
        Run r;
        QVERIFY(r.kit.add("tp_alpha", "tp_alpha.plg"));
        QVERIFY(r.loadPlugins());
        QVERIFY(r.kit.waitLog("MAIN: done with Updating plugin tree\n"));
        int ticks = 0;
        QObject counter;
        connect(r.w, &cMainWindow::updateGUISignal, &counter, [&] { ++ticks; }, Qt::QueuedConnection);
        r.w->mainGuiThread.handler = mainGuiHandler;
        r.w->mainGuiThread.startHandler(cThread::TYPE_PLAIN, r.w, "MAIN GUI");

        QTest::qWait(200);
        QCOMPARE(ticks, 0);

        QVERIFY(r.w->pluginListMutex.tryLock(100));
        currentPlugin = pluginList.entryAt(0);
        r.w->pluginListMutex.unlock();
        QTest::qWait(400);
        QVERIFY(r.w->pluginListMutex.tryLock(100));
        currentPlugin = nullptr;
        r.w->pluginListMutex.unlock();
        QVERIFY2(ticks >= 10 && ticks <= 45, qPrintable(QString::number(ticks)));

        QTest::qWait(50);
        ticks = 0;
        QTest::qWait(200);
        QCOMPARE(ticks, 0);
    }

    // The item pointer arrives exactly as queued; a request too short to hold a pointer
    // (the 32-bit layout) does nothing.
    void treeItemPointerPassesUnchanged()
    {
        Run r;
        // The window's own slot would take the made-up pointer for an item.
        r.w->connectSignals(false);
        void* const item = reinterpret_cast<void*>(uintptr_t(0x1122334455667788ull));
        QByteArray request(1, char(MAIN_UPDATE_TREE));
        request.append(pointerBytes(item));
        QVERIFY(r.kit.command(request.left(5)));
        QVERIFY(r.kit.command(request));
        QVERIFY(r.waitEvent("treeItem"));
        r.kit.settle();
        QCOMPARE(r.signals_.treeItems, QList<void*>({item}));
        QCOMPARE(r.kit.log.text().count("MAIN: Updating plugin tree\nMAIN: done with Updating plugin tree\n"), 1);
    }

    // Plug-ins may queue commands themselves, so the encoders must write the very bytes laid
    // out above; the decoder reads back what they wrote and nothing of a request cut short.
    void requestLayout()
    {
        QCOMPARE(cMainRequest::loadPlugins(), QByteArray(1, char(MAIN_LOAD_PLUGINS)));
        QCOMPARE(cMainRequest::unloadPlugins(), QByteArray(1, char(MAIN_UNLOAD_PLUGINS)));

        void* const item = reinterpret_cast<void*>(uintptr_t(0x1122334455667788ull));
        const QByteArray tree = cMainRequest::updateTree(item);
        QCOMPARE(tree, QByteArray(1, char(MAIN_UPDATE_TREE)) + pointerBytes(item));
        const auto decode = [](const QByteArray& r, int length) {
            return cMainRequest(reinterpret_cast<const unsigned char*>(r.constData()), length);
        };
        QVERIFY(decode(tree, tree.size()).complete);
        QCOMPARE(decode(tree, tree.size()).item, item);
        QVERIFY(!decode(tree, tree.size() - 1).complete);

        bool busy = true;
        bool status = false;
        const QByteArray tag(255, 'T');
        const QByteArray text("Zeroing");
        const QByteArray lock =
            cMainRequest::actionLock(tag.constData(), 255, text.constData(), int(text.size()), &busy, &status, 7);
        QCOMPARE(lock, actionLock(tag, text, 7, &busy, &status));
        const cMainRequest read = decode(lock, lock.size());
        QVERIFY(read.complete);
        QCOMPARE(read.code, MAIN_ACTION_LOCK);
        QCOMPARE(read.tag, tag);
        QCOMPARE(read.text, text);
        QCOMPARE(read.seconds, 7);
        QCOMPARE(read.busy, &busy);
        QCOMPARE(read.status, &status);
        const cMainRequest cut = decode(lock, lock.size() - 1);
        QVERIFY(!cut.complete);
        QVERIFY(!cut.busy && !cut.status && cut.tag.isEmpty());

        // A length the layout cannot carry, or bytes that are not there, make no request.
        QVERIFY(cMainRequest::actionLock(tag.constData(), 256, "", 0, &busy, &status, 1).isEmpty());
        QVERIFY(cMainRequest::actionLock("", -1, "", 0, &busy, &status, 1).isEmpty());
        QVERIFY(cMainRequest::actionLock(nullptr, 3, "", 0, &busy, &status, 1).isEmpty());
        QVERIFY(cMainRequest::actionLock("tag", 3, nullptr, 1, &busy, &status, 1).isEmpty());
    }

    void actionLockEdges_data()
    {
        QTest::addColumn<int>("tagLength");
        QTest::addColumn<int>("textLength");
        QTest::addColumn<int>("shownTag");
        QTest::addColumn<int>("shownText");
        QTest::newRow("short") << 4 << 5 << 4 << 5;
        QTest::newRow("tag of 150") << 150 << 3 << 99 << 3;
        QTest::newRow("text of 255") << 2 << 255 << 2 << 254;
    }
    void actionLockEdges()
    {
        QFETCH(int, tagLength);
        QFETCH(int, textLength);
        QFETCH(int, shownTag);
        QFETCH(int, shownText);
        Run r;
        r.w->connectSignals(false);
        const QByteArray tag(tagLength, 'T');
        const QByteArray text(textLength, 'x');
        bool busy = true;
        QVERIFY(r.kit.command(actionLock(tag, text, 5, &busy, nullptr)));
        QVERIFY(r.waitEvent("lock 0"));
        // No status flag to look at: the action is reported as failed.
        QCOMPARE(r.signals_.events,
                 QStringList({"lock 1", "status " + QString(shownTag, 'T') + " Action failed: " + QString(shownText, 'x'),
                              "lock 0"}));
        char line[128];
        snprintf(line, sizeof(line), "MAIN: Locking application condition @ %p and status @ %p\n",
                 static_cast<void*>(&busy), static_cast<void*>(nullptr));
        QVERIFY2(r.kit.log.text().contains(line), qPrintable(r.kit.log.text()));
    }

    // Requests that cannot hold both pointers do nothing at all.
    void actionLockTooShort()
    {
        Run r;
        r.w->connectSignals(false);
        bool busy = true, status = true;
        const QByteArray full = actionLock("tag", "text", 1, &busy, &status);
        QVERIFY(r.kit.command(full.left(10)));
        QVERIFY(r.kit.command(full.left(full.size() - 1)));
        QVERIFY(r.kit.command(QByteArray(1, char(MAIN_UNLOAD_PLUGINS))));
        QVERIFY(r.waitEvent("status Done"));
        r.kit.settle();
        QCOMPARE(r.signals_.events, QStringList({"lock 1", "status Unloading plugins", "status Done", "lock 0"}));
        QVERIFY(!r.kit.log.text().contains("Locking application"));
    }

    // How long the lock is held: while the busy flag is set, for at most the time-out, and
    // not at all while the window's port or "MAIN" does not run.
    void actionLockWait_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<bool>("portRunning");
        QTest::addColumn<int>("clearAfterMs");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");
        // The upper bounds only tell "ended" from "waited the whole 5 s", with room for a
        // loaded machine or a sanitizer build.
        QTest::newRow("time-out 0") << 0 << true << -1 << 0 << 2500;
        QTest::newRow("port not running") << 5 << false << -1 << 0 << 2500;
        QTest::newRow("busy until cleared") << 5 << true << 400 << 350 << 4000;
        QTest::newRow("busy past the time-out") << 1 << true << -1 << 950 << 3000;
    }
    void actionLockWait()
    {
        QFETCH(int, seconds);
        QFETCH(bool, portRunning);
        QFETCH(int, clearAfterMs);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
        Run r;
        r.w->connectSignals(false);
        // Only the flag is looked at; the port itself is never used by the command.
        r.w->genericPort.running = portRunning;
        std::atomic<bool> busy{true};
        std::atomic<bool> status{true};
        QElapsedTimer t;
        t.start();
        QVERIFY(r.kit.command(actionLock("t", "x", seconds, &busy, &status)));
        std::thread clearer;
        if (clearAfterMs >= 0)
            clearer = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(clearAfterMs));
                busy = false;
            });
        const bool ended = r.waitEvent("lock 0", 10000);
        const qint64 ms = t.elapsed();
        if (clearer.joinable())
            clearer.join();
        r.w->genericPort.running = false;
        QVERIFY(ended);
        QVERIFY2(ms >= minMs && ms <= maxMs, qPrintable(QString::number(ms)));
        // A status flag left true means success: nothing is reported.
        QCOMPARE(r.signals_.events, QStringList({"lock 1", "lock 0"}));
    }

    // A status flag left false by an action that ended means it failed; while the action
    // still runs when the wait ends, its outcome is unknown and nothing is said.
    void actionLockReportsAFalseStatus_data()
    {
        QTest::addColumn<bool>("busy");
        QTest::addColumn<bool>("report");
        QTest::newRow("ended") << false << true;
        QTest::newRow("still busy at the time-out") << true << false;
    }
    void actionLockReportsAFalseStatus()
    {
        QFETCH(bool, busy);
        QFETCH(bool, report);
        Run r;
        r.w->connectSignals(false);
        r.w->genericPort.running = true;
        bool status = false;
        QVERIFY(r.kit.command(actionLock("Pump", "priming", 1, &busy, &status)));
        const bool ended = r.waitEvent("lock 0", 10000);
        r.w->genericPort.running = false;
        QVERIFY(ended);
        QCOMPARE(r.signals_.events, report ? QStringList({"lock 1", "status Pump Action failed: priming", "lock 0"})
                                           : QStringList({"lock 1", "lock 0"}));
    }
};

QTEST_MAIN(TestMainCommands)
#include "test_main_commands.moc"
