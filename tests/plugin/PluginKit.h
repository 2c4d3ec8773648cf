#pragma once

// What the plug-in tests share: a window whose program lies in a temporary folder of the
// test's (so that its plugins/ folder is the test's), with its log captured and its settings
// in a temporary store; its "MAIN" thread running the real command handler; a record of the
// window's signals taken on the test's thread, whichever thread emitted them.
#include "CapturedFile.h"
#include "TempSettings.h"
#include "WaitUntil.h"
#include "gui/mainHandlers.h"
#include "gui/cMainWindow.h"
#include "plugin/cPlugin.h"
#include "plugin/cPluginEntry.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// The test plug-ins built by tests/plugins.
inline QString testPlugin(const QString& target)
{
    return QStringLiteral(CORVANE_TEST_PLUGIN_DIR) + "/" + target + ".plg";
}

// A program folder: <tmp>/bin with plugins/ in it (no program file needed in-process).
struct ProgramFolder
{
    QTemporaryDir tmp;
    QString bin() const { return tmp.path() + "/bin"; }
    QString plugins() const { return bin() + "/plugins"; }
    void makePlugins() const { QDir().mkpath(plugins()); }
    // Copies a test plug-in into plugins/ under the given file name.
    bool add(const QString& target, const QString& fileName) const
    {
        makePlugins();
        return QFile::copy(testPlugin(target), plugins() + "/" + fileName);
    }
    bool addBytes(const QString& fileName, const QByteArray& bytes) const
    {
        makePlugins();
        QFile f(plugins() + "/" + fileName);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }
};

// The window's signals, as text, in the order they reached the test's thread.
class SignalLog : public QObject
{
public:
    QStringList events;
    QList<void*> loadedHandlers;
    QList<void*> treeItems;

    void watch(cMainWindow* w)
    {
        const auto q = Qt::QueuedConnection;
        connect(w, &cMainWindow::appLockSignal, this, [this](bool l) { events << QString("lock %1").arg(int(l)); }, q);
        connect(w, &cMainWindow::statusBarMsgSignal, this, [this](const QString& m) { events << "status " + m; }, q);
        connect(
            w, &cMainWindow::popupSignal, this,
            [this](int type, const QString& title, const QString& text, int b1, int b2, int b3) {
                events << QString("popup %1|%2|%3|%4|%5|%6").arg(type).arg(title, text).arg(b1).arg(b2).arg(b3);
            },
            q);
        connect(
            w, &cMainWindow::loadPlgSignal, this,
            [this](void* h) {
                events << "loadPlg";
                loadedHandlers << h;
            },
            q);
        connect(
            w, &cMainWindow::updatePluginTreeTopLevelItemSignal, this,
            [this](void* item) {
                events << "treeItem";
                treeItems << item;
            },
            q);
    }
    QStringList matching(const QString& prefix) const
    {
        QStringList r;
        for (const QString& e : events)
            if (e.startsWith(prefix))
                r << e;
        return r;
    }
};

struct WindowKit
{
    TempSettings store;
    CapturedFile log;
    std::unique_ptr<cMainWindow> window;

    cMainWindow* open(const QString& binDir)
    {
        qApp->setQuitOnLastWindowClosed(false);
        QString path = binDir + "/corvane";
        window = std::make_unique<cMainWindow>(nullptr, qApp, path, log.file(), log.file());
        return window.get();
    }
    void startMain()
    {
        window->mainThread.trscHandler = mainTrscHandler;
        window->mainThread.startHandler(cThread::TYPE_TRANSACTION, window.get(), "MAIN");
    }
    bool command(const QByteArray& request)
    {
        return window->mainThread.addTransaction(request.constData(), quint16(request.size()), 0) >= 0;
    }
    // Waits, handling events, until the log holds `text` `count` times.
    bool waitLog(const QString& text, int count = 1, int timeoutMs = 10000);
    // Lets every queued event of the threads reach the test's thread.
    void settle(int ms = 100) { QTest::qWait(ms); }
};


// Lines of `text` in their order must each appear after the previous one.
inline bool inOrder(const QString& text, const QStringList& lines, QString* missing = nullptr)
{
    int at = 0;
    for (const QString& l : lines) {
        const int found = text.indexOf(l, at);
        if (found < 0) {
            if (missing)
                *missing = l;
            return false;
        }
        at = found + l.size();
    }
    return true;
}

inline bool WindowKit::waitLog(const QString& text, int count, int timeoutMs)
{
    return waitUntil([&] { return log.text().count(text) >= count; }, timeoutMs);
}
