// A test plug-in that does what the contract asks and writes one line for every call the host
// makes on it, to its own diagnostic stream (the host window's log). Built several times with
// different definitions: its name and devices, and the ways a library can be wrong.
//
//   TP_NAME            plug-in name, also its top-level item's text
//   TP_DEVICES         "device|second text|MODBUS id" entries separated by ','
//   TP_VERSION_OK      what pluginVersionOK answers (default 1)
//   TP_NULL_INSTANCE   createInstance returns null
//   TP_OMIT_VERSION, TP_OMIT_CREATE, TP_OMIT_KILL   leave that entry point out
//
// The plug-in leaves its top-level item in the tree when it goes, as a careless plug-in would,
// so that a reload meets a stale item of the same text.
#include "gui/cMainWindow.h"
#include "plugin/cPlugin.h"
#include "plugin/cPluginDisplay.h"

#include <QLabel>
#include <QMenu>
#include <QToolBar>
#include <QTreeWidgetItem>

#include <chrono>
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

void threadLoop(void* arg)
{
    cPlugin* p = static_cast<cPlugin*>(arg);
    while (p->running)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
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
        if (!topItem->treeWidget())
            delete topItem;
    }

    void init() override
    {
        record(QString("init() initialising=%1").arg(int(initialising.load())));
        // A plug-in with a running thread, so that unloading has one to stop.
        startHandler(TYPE_PLAIN, this, std::string());
    }
    void deinit() override { record("deinit()"); }
    void selectItem(QTreeWidgetItem* item) override
    {
        record("selectItem(" + (item ? item->text(0) : QString("null")) + ")");
    }
    void deselect() override { record("deselect()"); }
    void mkItemTree() override
    {
        record("mkItemTree()");
        for (QTreeWidgetItem* child : topItem->takeChildren())
            delete child;
        const QStringList devices = QString(TP_DEVICES).split(',', Qt::SkipEmptyParts);
        for (const QString& d : devices)
            topItem->addChild(new QTreeWidgetItem(d.split('|')));
    }
    void saveSettings() override { record(QString("saveSettings() thread running=%1").arg(int(running.load()))); }
    void loadSettings() override { record("loadSettings()"); }
    void mkPluginMenu(QMenu* menu, QToolBar* toolBar) override
    {
        record(QString("mkPluginMenu(%1,%2)").arg(menu ? "menu" : "null", toolBar ? "toolbar" : "null"));
    }
    void connectExtraSignals(bool connect) override { record(QString("connectExtraSignals(%1)").arg(int(connect))); }
    void acceptSetup() override { record("acceptSetup()"); }
    void rejectSetup() override { record("rejectSetup()"); }
    void onDisplayUpdate() override { record("onDisplayUpdate()"); }
    void onInfoUpdate() override { record("onInfoUpdate()"); }
    void onSetupUpdate() override { record("onSetupUpdate()"); }
    void onMkSetupGuiSignal() override { record("onMkSetupGuiSignal()"); }
    void onAddDevGUI(void*) override { record("onAddDevGUI()"); }
    void onRmDevGUI(void*) override { record("onRmDevGUI()"); }
    void prepareSetup() override { record("prepareSetup()"); }
    void retranslate() override { record("retranslate()"); }
    void lockGui(bool lock) override { record(QString("lockGui(%1)").arg(int(lock))); }
    void generalTimerTick(bool blink) override { record(QString("generalTimerTick(%1)").arg(int(blink))); }
    void loggerTimerTick() override { record("loggerTimerTick()"); }
    void internetTimerTick() override { record("internetTimerTick()"); }
    void dialogClosed(unsigned char id) override { record(QString("dialogClosed(%1)").arg(id)); }

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
