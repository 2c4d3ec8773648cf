#pragma once

// A host as the tests need it: a window on the offscreen platform whose program lies in a
// folder of the test's choosing (by default a temporary one, so that its plugins/ folder is the
// test's), its out and err streams captured, its settings in a temporary store of its own, its
// "MAIN" and "MAIN GUI" threads started as the program starts them, and modal boxes answered
// on request so that no test hangs on one.
#include "CapturedFile.h"
#include "ModalAnswerer.h"
#include "ProgramRunner.h"
#include "StdStreamCapture.h"
#include "TempSettings.h"
#include "WaitUntil.h"
#include "gui/mainHandlers.h"
#include "gui/cMainWindow.h"
#include "plugin/cPlugin.h"
#include "plugin/cPluginEntry.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTreeWidgetItem>

#include <cstdio>
#include <memory>

class QAction;

// The test plug-ins built by tests/plugins.
QString testPlugin(const QString& target);

class HostFixture
{
public:
    HostFixture();
    HostFixture(const HostFixture&) = delete;
    HostFixture& operator=(const HostFixture&) = delete;

    // The program folder: <tmp>/bin with plugins/ in it (no program file needed in-process).
    QString root() const { return tmp.path(); }
    QString bin() const { return tmp.path() + "/bin"; }
    QString plugins() const { return bin() + "/plugins"; }
    void makePlugins() const { QDir().mkpath(plugins()); }
    // Copies a test plug-in (a target of tests/plugins) into plugins/ under the given name.
    bool add(const QString& target, const QString& fileName) const { return addFile(testPlugin(target), fileName); }
    // Copies any plug-in file into plugins/ under the given name.
    bool addFile(const QString& path, const QString& fileName) const;
    bool addBytes(const QString& fileName, const QByteArray& bytes) const;

    // A window of the caller's whose program lies in `dir` (build/bin, with lang/ beside it,
    // unless given), writing to `out` or else to the captured log, its errors to `err` or else
    // where it writes the rest.
    std::unique_ptr<cMainWindow> makeWindow(const QString& dir = ProgramRunner::binDir(), FILE* out = nullptr,
                                            FILE* err = nullptr);
    // The fixture's own window, kept until the fixture goes; its program in `dir`, or in the
    // fixture's own folder.
    cMainWindow* open(const QString& dir) { return (window = makeWindow(dir)).get(); }
    cMainWindow* open() { return open(bin()); }
    // The program's "MAIN" thread with the real command handler, and "MAIN GUI" refreshing.
    void startMain();
    void startMainGui();
    bool command(const QByteArray& request)
    {
        return window->mainThread.addTransaction(request.constData(), quint16(request.size()), 0) >= 0;
    }
    // Opens a shown window with the test plug-ins loaded by the real loader in the given order
    // (their files are numbered so the directory scan keeps it). With `refresh` the "MAIN GUI"
    // thread runs as in the program.
    bool load(const QStringList& targets, bool refresh = false);
    // Asks "MAIN" to load what plugins/ holds and waits until `count` plug-ins made their
    // tree and the tree is usable again.
    bool loadPlugins(int count);

    // Waits, handling events, until the log holds `text` `count` times.
    bool waitLog(const QString& text, int count = 1, int timeoutMs = 10000)
    {
        return waitUntil([&] { return log.text().count(text) >= count; }, timeoutMs);
    }
    // Lets every queued event of the threads reach the test's thread.
    static void settle(int ms = 100) { QTest::qWait(ms); }

    // The threads' construction and destruction lines go to the console; this keeps them out of
    // the report for as long as the fixture lives.
    void captureConsole() { console = std::make_unique<StdStreamCapture>(1); }
    // Answers every modal box from now on with `answer` (replacing an earlier answerer).
    ModalAnswerer& answerBoxes(QMessageBox::StandardButton answer)
    {
        answerer = std::make_unique<ModalAnswerer>(answer);
        return *answerer;
    }

    // The loaded plug-ins and their devices, as the window's tree holds them.
    static cPlugin* plugin(int i) { return pluginList.entryAt(i)->handler.plugin; }
    static QTreeWidgetItem* device(int i, int child) { return plugin(i)->topItem->child(child); }
    void select(QTreeWidgetItem* item) const;
    bool shown(QWidget* widget) const { return widget && widget->isVisibleTo(window.get()); }
    QStringList menuTitles() const;
    QList<QAction*> toolEntries() const;
    // How many connections a signal of the object has (no public interface tells).
    static int receivers(const QObject* object, const char* signal);

private:
    QTemporaryDir tmp;

public:
    // Destroyed in reverse order: the window first, since it saves into the store and writes
    // to the log as it goes.
    TempSettings store;
    CapturedFile log;
    std::unique_ptr<StdStreamCapture> console;
    std::unique_ptr<ModalAnswerer> answerer;
    std::unique_ptr<cMainWindow> window;
};

// Lines of `text` in their order must each appear after the previous one.
bool inOrder(const QString& text, const QStringList& lines, QString* missing = nullptr);
