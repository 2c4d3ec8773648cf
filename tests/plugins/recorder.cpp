// A test plug-in that does what the contract asks and writes one line for every call the host
// makes on it, to its own diagnostic stream (the host window's log). Built several times with
// different definitions: its name and devices, and the ways a library can be wrong.
//
//   TP_NAME            plug-in name, also its top-level item's text
//   TP_DEVICES         "device|second text|MODBUS id" entries separated by ','
//   TP_VERSION_OK      what pluginVersionOK answers (default 1)
//   TP_NULL_INSTANCE   createInstance returns null
//   TP_OMIT_VERSION, TP_OMIT_CREATE, TP_OMIT_KILL   leave that entry point out
//   TP_NESTED_SETUP    prepareSetup asks for the setup page again, from inside the host's call
//   TP_QUIET_UPDATES   the three update slots record nothing (for measuring the idle program)
//   TP_NO_THREAD       init() starts no thread, so that unloading many copies takes no time
//   TP_SELECT_FIRST    once loaded, the plug-in selects its first device in the tree and rests
//   TP_DELETE_ITEM     the plug-in deletes its top-level item when it goes, wherever it is
//   TP_THREAD_SIGNAL   mkPluginMenu has a thread of its own emit statusBarProgressSignal, as a
//                      worker thread may at any time, and waits for it
//   TP_THROW_FROM      the call ("createInstance", "pluginVersionOK", "init", "loadSettings",
//                      "selectItem", "saveSettings", ...) that throws a std::runtime_error
//   TP_THROW_FOREIGN   what it throws is an int, not a std::exception
//   TP_APP_TIMER       init parents a running timer with a lambda to the application, and
//                      deinit leaves it there; likewise a chain of windows of its own class,
//                      each the parent of the next
//   TP_DRIVER          once loaded, the plug-in drives the window as a user would: selects its
//                      first device, opens its setup, saves it answering Yes, and quits
//                      answering Yes; its saveSettings writes a value to the settings store.
//                      With CORVANE_TEST_QUIT_AFTER naming a file, it quits once that file is
//                      there, so that a test chooses the moment
//
// The plug-in leaves its top-level item in the tree when it goes, as a careless plug-in would,
// so that a reload meets a stale item of the same text.
#include "gui/Ui_cMainWindow.h"
#include "gui/cMainWindow.h"
#include "plugin/cPlugin.h"
#include "plugin/cPluginDisplay.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QTreeWidget>
#include <QToolBar>
#include <QTreeWidgetItem>
#include <QWidget>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#ifndef TP_NAME
#define TP_NAME "Recorder"
#endif
#ifndef TP_DEVICES
#define TP_DEVICES ""
#endif
#ifndef TP_VERSION_OK
#define TP_VERSION_OK 1
#endif

namespace {

#ifdef TP_APP_TIMER
// A window class of the library's own: its virtual table lies in the library.
class cLeftWindow : public QWidget
{
public:
    explicit cLeftWindow(QWidget* parent) : QWidget(parent, Qt::Window) {}
};
#endif

// Throws from the call named by TP_THROW_FROM, as a plug-in with a bug or a bad file would.
void throwFrom(const char* call)
{
#ifdef TP_THROW_FROM
    if (strcmp(call, TP_THROW_FROM) == 0) {
#ifdef TP_THROW_FOREIGN
        throw 42;
#else
        throw std::runtime_error(std::string(TP_NAME " broke in ") + call);
#endif
    }
#else
    (void)call;
#endif
}

void threadLoop(void* arg)
{
    cPlugin* p = static_cast<cPlugin*>(arg);
#ifdef TP_QUIET_UPDATES
    // Measured for its host's cost, the plug-in's own thread should cost next to nothing.
    constexpr int kPollMs = 100;
#else
    constexpr int kPollMs = 1;
#endif
    while (p->running)
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
}

} // namespace

class cRecorder : public cPlugin
{
    Q_OBJECT

public:
    explicit cRecorder(cMainWindow* w) : cPlugin(w, TP_NAME " THREAD")
    {
        name = TP_NAME;
        description = "Records every call of the host";
        version = 1.0f;
        displayWidget = new cPluginDisplay();
        setupWidget = new QLabel("setup");
        infoWidget = new QLabel("info");
        topItem = new QTreeWidgetItem(QStringList{name});
        handler = threadLoop;
        record("constructed");
    }
    ~cRecorder() override
    {
        record("destroyed");
        // An item that never reached a tree has nobody else to delete it.
#ifdef TP_DELETE_ITEM
        delete topItem;
#else
        if (!topItem->treeWidget())
            delete topItem;
#endif
    }

    void init() override
    {
        record(QString("init() initialising=%1").arg(int(initialising.load())));
#ifndef TP_NO_THREAD
        // A plug-in with a running thread, so that unloading has one to stop.
        startHandler(TYPE_PLAIN, this, std::string());
#endif
#ifdef TP_APP_TIMER
        // The mistake the plug-in guide warns of: the timer and its lambda outlive the library.
        QTimer* leftOver = new QTimer(QCoreApplication::instance());
        QObject::connect(leftOver, &QTimer::timeout, [] { fprintf(stdout, TP_NAME " plugin: left-over timer\n"); });
        leftOver->start(1000);
        // Deleting one of these deletes the windows below it too.
        QWidget* window = nullptr;
        for (int i = 0; i < 4; ++i)
            window = new cLeftWindow(window);
#endif
        throwFrom("init");
#if defined(TP_DRIVER) || defined(TP_SELECT_FIRST)
        driveTimer = new QTimer(this);
        connect(driveTimer, &QTimer::timeout, this, &cRecorder::driveStep);
        driveTimer->start(50);
#endif
    }
#ifdef TP_QUIET_UPDATES
    // The one line of a quiet plug-in: how often the window refreshed its pages.
    void deinit() override { record(QString("deinit() after %1 page updates").arg(updates)); }
#else
    void deinit() override { record("deinit()"); }
#endif
    void selectItem(QTreeWidgetItem* item) override
    {
        record("selectItem(" + (item ? item->text(0) : QString("null")) + ")");
        throwFrom("selectItem");
    }
    void deselect() override
    {
        record("deselect()");
        throwFrom("deselect");
#ifdef TP_REBUILD_ON_DESELECT
        // The plug-in rebuilds its items itself, in the middle of the selection.
        mkTree();
#endif
    }
    void mkItemTree() override
    {
        record("mkItemTree()");
        for (QTreeWidgetItem* child : topItem->takeChildren())
            delete child;
        const QStringList devices = QString(TP_DEVICES).split(',', Qt::SkipEmptyParts);
        for (const QString& d : devices)
            topItem->addChild(new QTreeWidgetItem(d.split('|')));
    }
    void saveSettings() override
    {
        record(QString("saveSettings() thread running=%1").arg(int(running.load())));
        throwFrom("saveSettings");
#ifdef TP_DRIVER
        QSettings settings("Tessmark", "Corvane");
        settings.setValue(QString(TP_NAME) + "/Saved", settings.value(QString(TP_NAME) + "/Saved", 0).toInt() + 1);
#endif
    }
    void loadSettings() override
    {
        record("loadSettings()");
        throwFrom("loadSettings");
    }
    void mkPluginMenu(QMenu* menu, QToolBar* toolBar) override
    {
        record(QString("mkPluginMenu(%1,%2)").arg(menu ? "menu" : "null", toolBar ? "toolbar" : "null"));
#ifdef TP_THREAD_SIGNAL
        cMainWindow* w = mainWindow;
        std::thread([w] { emit w->statusBarProgressSignal("sent while the menus were rebuilt", 5); }).join();
#endif
    }
    void connectExtraSignals(bool connect) override { record(QString("connectExtraSignals(%1)").arg(int(connect))); }
    void acceptSetup() override
    {
        const bool shown = mainWindow && displayWidget && displayWidget->isVisibleTo(mainWindow);
        record(QString("acceptSetup() display shown=%1").arg(int(shown)));
    }
    void rejectSetup() override { record("rejectSetup()"); }
#ifdef TP_QUIET_UPDATES
    void onDisplayUpdate() override { ++updates; }
    void onInfoUpdate() override { ++updates; }
    void onSetupUpdate() override { ++updates; }
#else
    void onDisplayUpdate() override
    {
        record("onDisplayUpdate()");
        throwFrom("onDisplayUpdate");
    }
    void onInfoUpdate() override { record("onInfoUpdate()"); }
    void onSetupUpdate() override { record("onSetupUpdate()"); }
#endif
    void onMkSetupGuiSignal() override { record("onMkSetupGuiSignal()"); }
    void onAddDevGUI(void*) override { record("onAddDevGUI()"); }
    void onRmDevGUI(void*) override { record("onRmDevGUI()"); }
    void prepareSetup() override
    {
        record("prepareSetup()");
#ifdef TP_NESTED_SETUP
        // Emitted on the GUI thread, so the host's slot runs inside its own first run.
        emit mainWindow->showPlgSetupSignal();
        record("prepareSetup() nested request returned");
#endif
    }
    void retranslate() override { record("retranslate()"); }
    void lockGui(bool lock) override { record(QString("lockGui(%1)").arg(int(lock))); }
    void generalTimerTick(bool blink) override { record(QString("generalTimerTick(%1)").arg(int(blink))); }
    void loggerTimerTick() override { record("loggerTimerTick()"); }
    void internetTimerTick() override { record("internetTimerTick()"); }
    void dialogClosed(unsigned char id) override { record(QString("dialogClosed(%1)").arg(id)); }

#if defined(TP_DRIVER) || defined(TP_SELECT_FIRST)
    // One step per tick, each once the previous one has shown its effect on the window.
    void driveStep()
    {
#ifdef TP_SELECT_FIRST
        if (driveState == 1) {
            driveTimer->stop();
            return;
        }
#endif
        Ui_cMainWindow* ui = mainWindow->ui;
        switch (driveState) {
        case 0:
            // Loading is over once the item is in the tree and the application is unlocked.
            if (!topItem->treeWidget() || !ui->pluginTree->isEnabled() || topItem->childCount() == 0)
                return;
            record("driver: selecting " + topItem->child(0)->text(0));
            ui->pluginTree->setCurrentItem(topItem->child(0), 0);
            break;
        case 1:
            record("driver: opening setup");
            emit mainWindow->showPlgSetupSignal();
            break;
        case 2:
            if (!ui->buttonWidget->isVisibleTo(mainWindow))
                return;
            record("driver: saving");
            answerYes();
            ui->buttonBox->button(QDialogButtonBox::Save)->click();
            break;
        case 3:
            if (!qEnvironmentVariableIsEmpty("CORVANE_TEST_QUIT_AFTER") &&
                !QFile::exists(qEnvironmentVariable("CORVANE_TEST_QUIT_AFTER")))
                return;
            record("driver: quitting");
            answerYes();
            mainWindow->close();
            break;
        default:
            return;
        }
        ++driveState;
    }
    // Presses Yes on the next question box, from a timer, since the box's own loop runs the
    // program until it is answered.
    void answerYes()
    {
        QTimer* t = new QTimer(this);
        connect(t, &QTimer::timeout, this, [this, t] {
            QMessageBox* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->button(QMessageBox::Yes))
                return;
            record("driver: answering Yes to '" + box->windowTitle() + "'");
            t->stop();
            t->deleteLater();
            box->button(QMessageBox::Yes)->click();
        });
        t->start(20);
    }
    int driveState = 0;
    QTimer* driveTimer = nullptr;
#endif
#ifdef TP_QUIET_UPDATES
    long updates = 0;
#endif

    void record(const QString& call)
    {
        FILE* f = outStream();
        fprintf(f, "%s plugin: call %s\n", TP_NAME, call.toLocal8Bit().constData());
        fflush(f);
    }
};

#ifndef TP_OMIT_VERSION
CORVANE_PLUGIN_EXPORT bool pluginVersionOK(cMainWindow* w)
{
    fprintf(w->logStream(), "%s plugin: call pluginVersionOK\n", TP_NAME);
    fflush(w->logStream());
    throwFrom("pluginVersionOK");
    return TP_VERSION_OK;
}
#endif

#ifndef TP_OMIT_CREATE
CORVANE_PLUGIN_EXPORT cPlugin* createInstance(cMainWindow* w)
{
#ifdef TP_NULL_INSTANCE
    fprintf(w->logStream(), "%s plugin: call createInstance -> null\n", TP_NAME);
    fflush(w->logStream());
    return nullptr;
#else
    throwFrom("createInstance");
    return new cRecorder(w);
#endif
}
#endif

#ifndef TP_OMIT_KILL
CORVANE_PLUGIN_EXPORT void killInstance(cPlugin* p)
{
    static_cast<cRecorder*>(p)->record("killInstance");
    delete p;
}
#endif

#include "recorder.moc"
