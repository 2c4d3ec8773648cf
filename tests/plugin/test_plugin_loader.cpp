// The loader on real libraries: what it logs and shows for a good library and for each way a
// library can be wrong, the loader's path limit, and the teardown of one entry.
#include "HostFixture.h"
#include "SignalLog.h"

#include <QRandomGenerator>

#include <elf.h>

namespace {

const QString kVersion = "_Z15pluginVersionOKP11cMainWindow";
const QString kCreate = "_Z14createInstanceP11cMainWindow";
const QString kKill = "_Z12killInstanceP7cPlugin";

QString popup(const QString& title, const QString& text)
{
    return QString("popup 3|%1|%2|1024|0|0").arg(title, text);
}

// The described pop-up with the reason that follows it: the described text, "<br>", the reason.
bool isPopupWithReason(const QStringList& events, const QString& title, const QString& text, const QString& reason)
{
    if (events.size() != 1)
        return false;
    const QString e = events[0];
    return e.startsWith("popup 3|" + title + "|" + text + "<br>") && e.endsWith("|1024|0|0") && e.contains(reason);
}

// Where a copy of a real library may be cut: the sizes the issue met, and inside each
// segment the file's program headers name.
QList<qint64> cutsOf(const QByteArray& elf)
{
    QList<qint64> cuts = {1024, 4 * 1024, 64 * 1024, 150 * 1024, elf.size() - 1};
    Elf64_Ehdr eh;
    memcpy(&eh, elf.constData(), sizeof(eh));
    for (int i = 0; i < eh.e_phnum; ++i) {
        Elf64_Phdr ph;
        memcpy(&ph, elf.constData() + eh.e_phoff + qint64(i) * eh.e_phentsize, sizeof(ph));
        if (ph.p_type == PT_LOAD && ph.p_filesz > 1 && ph.p_offset > 0)
            cuts << qint64(ph.p_offset + ph.p_filesz / 2) << qint64(ph.p_offset + ph.p_filesz - 1);
    }
    return cuts;
}

} // namespace

class TestPluginLoader : public QObject
{
    Q_OBJECT

    HostFixture kit;
    cMainWindow* w = nullptr;
    std::unique_ptr<SignalLog> signals_;
    const QString dir = QStringLiteral(CORVANE_TEST_PLUGIN_DIR);

    bool load(cPluginHandler& h, const QString& path, const QString& fileName)
    {
        const bool ok = h.loadPlugin(w, path, fileName, kVersion, kCreate, kKill);
        QCoreApplication::processEvents();
        return ok;
    }

private slots:
    void initTestCase()
    {
        w = kit.open();
        // The loader is watched alone: the window's own slots would make the instance.
        w->connectSignals(false);
    }
    void init()
    {
        kit.log.clear();
        signals_ = std::make_unique<SignalLog>();
        signals_->watch(w);
    }

    void goodLibraryIsHandedToTheGuiThread()
    {
        cPluginHandler h(stdout);
        QVERIFY(load(h, dir, "tp_alpha.plg"));
        const QString log = kit.log.text();
        QString missing;
        QVERIFY2(inOrder(log, {"cPluginHandler: Loaded plugin 'tp_alpha.plg' @ 0x",
                               "cPluginHandler: Loaded symbol '" + kVersion + "' @ 0x",
                               "Alpha plugin: call pluginVersionOK\n",
                               "cPluginHandler: Loaded symbol '" + kCreate + "' @ 0x",
                               "cPluginHandler: Loaded symbol '" + kKill + "' @ 0x"},
                         &missing),
                 qPrintable(missing + "\n" + log));
        QCOMPARE(signals_->events, QStringList({"loadPlg"}));
        QCOMPARE(signals_->loadedHandlers.value(0), static_cast<void*>(&h));
        QVERIFY(h.hLib && h.pluginVersionOK && h.createInstance && h.killInstance);
        QVERIFY(!h.plugin);
        QCOMPARE(h.path, dir);
        QCOMPARE(h.log, kit.log.file());
    }

    // Refused: one message, the other two entry points never looked up, and nothing to
    // unload when the entry goes.
    void versionRefused()
    {
        auto h = std::make_unique<cPluginHandler>(stdout);
        QVERIFY(!load(*h, dir, "tp_noversion.plg"));
        QCOMPARE(signals_->events,
                 QStringList({popup("Load Plugin",
                                    "<b>tp_noversion.plg</b>: Plugin version not valid!\n<br>Please, Install the proper "
                                    "plugin version for this application and try again.<br>This plugin is now "
                                    "disabled")}));
        QCOMPARE(kit.log.text().count("Loaded symbol"), 1);
        QVERIFY(!kit.log.text().contains(kCreate) && !kit.log.text().contains(kKill));
        QVERIFY(h->hLib && !h->createInstance && !h->killInstance);
        kit.log.clear();
        h.reset();
        QCOMPARE(kit.log.text(), QString());
    }

    void missingEntryPoint_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("symbol");
        QTest::addColumn<int>("resolvedBefore");
        QTest::newRow("version") << QString("tp_noversionsym.plg") << kVersion << 0;
        QTest::newRow("create") << QString("tp_nocreatesym.plg") << kCreate << 1;
        QTest::newRow("kill") << QString("tp_nokillsym.plg") << kKill << 2;
    }
    void missingEntryPoint()
    {
        QFETCH(QString, file);
        QFETCH(QString, symbol);
        QFETCH(int, resolvedBefore);
        cPluginHandler h(stdout);
        QVERIFY(!load(h, dir, file));
        const QString log = kit.log.text();
        QVERIFY(log.contains("cPluginHandler: Loaded plugin '" + file + "' @ 0x"));
        QCOMPARE(log.count("Loaded symbol"), resolvedBefore);
        // The pop-up and the log both name the file and the symbol.
        QVERIFY2(log.contains("cPluginHandler: Plugin '" + file + "' has no symbol '" + symbol + "'\n"), qPrintable(log));
        QVERIFY2(isPopupWithReason(signals_->events, "Load Symbol",
                                   "<b>" + symbol + "</b>: Symbol not found! The plugin can not be loaded",
                                   "<b>" + file + "</b>"),
                 qPrintable(signals_->events.join('\n')));
        QVERIFY(h.hLib);
    }

    void brokenFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("empty") << QString("empty");
        QTest::newRow("random bytes") << QString("random");
        QTest::newRow("text") << QString("text");
        QTest::newRow("folder") << QString("folder");
        QTest::newRow("missing") << QString("missing");
    }
    void brokenFile()
    {
        QFETCH(QString, kind);
        const QString name = kind + ".plg";
        if (kind == "empty") {
            QVERIFY(kit.addBytes(name, QByteArray()));
        } else if (kind == "random") {
            QByteArray bytes(4096, '\0');
            QRandomGenerator gen(4);
            for (char& c : bytes)
                c = char(gen.bounded(256));
            QVERIFY(kit.addBytes(name, bytes));
        } else if (kind == "text") {
            QVERIFY(kit.addBytes(name, "This is not a library.\n"));
        } else if (kind == "folder") {
            QVERIFY(QDir().mkpath(kit.plugins() + "/" + name));
        }
        cPluginHandler h(stdout);
        QVERIFY(!load(h, kit.plugins(), name));
        QVERIFY(!h.hLib);
        const QStringList lines = kit.log.text().split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], "cPluginHandler: Failed to load plugin '" + name + "' @ (nil)");
        // The reason follows, naming the file, in the log and in the pop-up.
        QVERIFY2(lines[1].startsWith("cPluginHandler: ") && lines[1].contains(name), qPrintable(lines[1]));
        QVERIFY2(isPopupWithReason(signals_->events, "Load Plugin", "<b>" + name + "</b>: Failed to load plugin!\n",
                                   lines[1].mid(16).toHtmlEscaped()),
                 qPrintable(signals_->events.join('\n')));
    }

    // The loader's path buffer holds 254 bytes and the terminating zero; a longer path is
    // refused as a library that cannot be loaded, not cut to some other file's name.
    void libraryPathLimit()
    {
        const QString tail = "/tp_alpha.plg";
        const QString base = kit.root() + "/";
        const int pad = 254 - int(base.size() + tail.size());
        QVERIFY(pad > 1 && pad < 250);
        const QString fits = base + QString(pad, 'd');
        const QString tooLong = base + QString(pad + 1, 'd');
        for (const QString& d : {fits, tooLong}) {
            QVERIFY(QDir().mkpath(d));
            QVERIFY(QFile::copy(testPlugin("tp_alpha"), d + tail));
        }
        QCOMPARE(QFile::encodeName(fits + tail).size(), 254);

        cPluginHandler ok(stdout);
        QVERIFY(load(ok, fits, "tp_alpha.plg"));

        kit.log.clear();
        signals_->events.clear();
        cPluginHandler refused(stdout);
        QVERIFY(!load(refused, tooLong, "tp_alpha.plg"));
        QVERIFY(!refused.hLib);
        QVERIFY(kit.log.text().startsWith("cPluginHandler: Failed to load plugin 'tp_alpha.plg' @ (nil)\n"));
        QVERIFY(kit.log.text().contains("255 bytes"));
        QVERIFY(isPopupWithReason(signals_->events, "Load Plugin", "<b>tp_alpha.plg</b>: Failed to load plugin!\n",
                                  "255 bytes"));
    }

    // Bad plug-in files: a real library cut short, the way a half-copied update leaves it, is
    // refused before the system's loader maps it (which would end the program with a bus
    // error), with the reason in the log and the pop-up.
    void truncatedLibraryIsRefused()
    {
        QFile original(testPlugin("tp_alpha"));
        QVERIFY(original.open(QIODevice::ReadOnly));
        const QByteArray elf = original.readAll();
        QVERIFY(elf.size() > 150 * 1024);
        for (qint64 cut : cutsOf(elf)) {
            const QString name = QString("cut%1.plg").arg(cut);
            QVERIFY(kit.addBytes(name, elf.left(cut)));
            kit.log.clear();
            signals_->events.clear();
            cPluginHandler h(stdout);
            QVERIFY2(!load(h, kit.plugins(), name), qPrintable(name));
            QVERIFY(!h.hLib);
            const QStringList lines = kit.log.text().split('\n', Qt::SkipEmptyParts);
            QCOMPARE(lines.size(), 2);
            QCOMPARE(lines[0], "cPluginHandler: Failed to load plugin '" + name + "' @ (nil)");
            QVERIFY2(lines[1].contains(name + ": file too short (" + QString::number(cut) + " bytes)"), qPrintable(lines[1]));
            QVERIFY(isPopupWithReason(signals_->events, "Load Plugin", "<b>" + name + "</b>: Failed to load plugin!\n",
                                      "file too short"));
        }
        // The whole file still loads: the check refuses only what is missing.
        QVERIFY(kit.addBytes("whole.plg", elf));
        cPluginHandler whole(stdout);
        QVERIFY(load(whole, kit.plugins(), "whole.plg"));
    }

    // Headers that are all there but name what the file does not hold, or another machine.
    void damagedHeadersAreRefused_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        QTest::newRow("other class") << int(EI_CLASS) << QByteArray(1, char(ELFCLASS32)) << "ELF class";
        QTest::newRow("other machine") << int(offsetof(Elf64_Ehdr, e_machine)) << QByteArray("\x28\x00", 2)
                                       << "another machine";
        QTest::newRow("program headers past the end")
            << int(offsetof(Elf64_Ehdr, e_phoff)) << QByteArray("\x00\x00\x00\x40\x00\x00\x00\x00", 8)
            << "program headers end at byte";
        QTest::newRow("section headers past the end")
            << int(offsetof(Elf64_Ehdr, e_shoff)) << QByteArray("\x00\x00\x00\x40\x00\x00\x00\x00", 8)
            << "section headers end at byte";
        QTest::newRow("not a shared object") << int(offsetof(Elf64_Ehdr, e_type)) << QByteArray("\x01\x00", 2)
                                             << "not an ELF shared object";
    }
    void damagedHeadersAreRefused()
    {
        QFETCH(int, offset);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        QFile original(testPlugin("tp_alpha"));
        QVERIFY(original.open(QIODevice::ReadOnly));
        QByteArray elf = original.readAll();
        elf.replace(offset, bytes.size(), bytes);
        QVERIFY(kit.addBytes("damaged.plg", elf));
        cPluginHandler h(stdout);
        QVERIFY(!load(h, kit.plugins(), "damaged.plg"));
        QVERIFY(!h.hLib);
        QVERIFY2(kit.log.text().contains("damaged.plg: ") && kit.log.text().contains(reason),
                 qPrintable(kit.log.text()));
    }

    // A throw from pluginVersionOK stops at the host: reported with the file, the call and the
    // exception's text; the library goes again; the files after it are named in the pop-up.
    void throwingVersionCheckIsReported()
    {
        cPluginHandler h(stdout);
        QVERIFY(!h.loadPlugin(w, dir, "tp_throwversion.plg", kVersion, kCreate, kKill, {"c.plg", "d.plg"}));
        QCoreApplication::processEvents();
        const QString log = kit.log.text();
        QString missing;
        QVERIFY2(inOrder(log, {"cPluginHandler: Loaded plugin 'tp_throwversion.plg'",
                               "cPluginHandler: Plugin 'tp_throwversion.plg' threw an exception from pluginVersionOK(): "
                               "ThrowVersion broke in pluginVersionOK\n",
                               "cPluginHandler: Unloaded plugin 'tp_throwversion.plg' @ 0x"},
                         &missing),
                 qPrintable(missing + "\n" + log));
        QVERIFY(!h.hLib && !h.pluginVersionOK && !h.createInstance);
        QVERIFY2(isPopupWithReason(signals_->events, "Load Plugin",
                                   "<b>tp_throwversion.plg</b>: Failed to load plugin!\n",
                                   "ThrowVersion broke in pluginVersionOK<br>The plugins after it were not loaded: c.plg, d.plg"),
                 qPrintable(signals_->events.join('\n')));
    }

    void missingArgumentsFailSilently()
    {
        cPluginHandler h(stdout);
        QVERIFY(!h.loadPlugin(nullptr, dir, "tp_alpha.plg", kVersion, kCreate, kKill));
        QVERIFY(!h.loadPlugin(w, QString(), "tp_alpha.plg", kVersion, kCreate, kKill));
        QVERIFY(!h.loadPlugin(w, dir, QString(), kVersion, kCreate, kKill));
        QCoreApplication::processEvents();
        QVERIFY(!h.hLib);
        QCOMPARE(kit.log.text(), QString());
        QVERIFY(signals_->events.isEmpty());
    }

    // An entry's teardown: the plug-in's thread stopped before its settings are saved, then
    // deinit, killInstance (the destructor's lines), and the library unloaded last.
    void teardownOfAnEntryWithAnInstance()
    {
        QVERIFY(QCoreApplication::instance());
        QVERIFY(w->pluginListMutex.tryLock(100));
        cPluginEntry& e = pluginList.append("tp_alpha.plg", stdout);
        w->pluginListMutex.unlock();
        QVERIFY(load(e.handler, dir, "tp_alpha.plg"));
        e.handler.plugin = e.handler.createInstance(w);
        QVERIFY(e.handler.plugin);
        e.handler.plugin->init();
        QVERIFY(e.handler.plugin->running);

        kit.log.clear();
        QVERIFY(w->pluginListMutex.tryLock(100));
        pluginList.clearEntries();
        w->pluginListMutex.unlock();
        QString missing;
        QVERIFY2(inOrder(kit.log.text(),
                         {"Alpha plugin: call saveSettings() thread running=0\n", "Alpha plugin: call deinit()\n",
                          "Alpha plugin: call killInstance\n", "Alpha plugin: Stopping the general purpuse timer\n",
                          "Alpha plugin: Destroyed\n", "cPluginHandler: Unloaded plugin 'tp_alpha.plg' @ 0x"},
                         &missing),
                 qPrintable(missing + "\n" + kit.log.text()));
        QVERIFY(pluginList.isEmpty());
    }

    // Handlers are held by address from the first load on; growing the list moves none.
    void entriesStayWhereTheyAre()
    {
        QVERIFY(w->pluginListMutex.tryLock(100));
        cPluginHandler* first = &pluginList.append("a.plg", stdout).handler;
        for (int i = 0; i < 100; ++i)
            pluginList.append(QString("n%1.plg").arg(i), stdout);
        QCOMPARE(&pluginList.entryAt(0)->handler, first);
        QCOMPARE(pluginList.size(), 101);
        QVERIFY(!pluginList.entryAt(101));
        pluginList.clearEntries();
        w->pluginListMutex.unlock();
    }
};

QTEST_MAIN(TestPluginLoader)
#include "test_plugin_loader.moc"
