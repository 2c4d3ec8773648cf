#pragma once

#include "../core/cThread.h"
// CORVANE_SDK_VERSION, for a plug-in's pluginVersionOK.
#include "corvaneVersion.h"

#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QTranslator>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

class QMenu;
class QTimer;
class QToolBar;
class QTreeWidgetItem;
class QWidget;
class cMainWindow;

// Marks the three entry points of a plug-in library as exported even when the plug-in is built
// with hidden symbols by default.
#define CORVANE_PLUGIN_EXPORT __attribute__((visibility("default")))

// Base class of every device plug-in, and with it the contract between the host and the
// plug-in libraries. The host calls the virtual operations by their place in the virtual table
// and reads the members by their place in the object, so the order of both is part of the
// contract: new members or operations go nowhere but at the very end, and every plug-in is
// rebuilt against the same header.
//
// Every default operation does nothing; a plug-in overrides what it needs. The host never
// constructs a cPlugin itself: a plug-in library's createInstance does.
//
// Each instance is also a worker thread (with its own queue and lock) and a Qt object that
// lives on the GUI thread: its slots run there, and signals emitted from the plug-in's own
// thread are queued to them.
class cPlugin : public cThread
{
    Q_OBJECT

public:
    ~cPlugin() override;

    // Rebuilds the plug-in's items under topItem and restores the tree's selection.
    void mkTree();
    // Makes or breaks the plug-in's own signal connections (its update signals, its three
    // timers, then whatever connectExtraSignals adds). The host always pairs true and false.
    void connectPluginSignals(bool connect);
    // Loads and installs the plug-in's translation from lang/<library name> beside the
    // program, then lets the plug-in re-translate itself.
    void trPlugin(const QString& fileName, int language);
    // The live instance whose topItem is `item`, or null. Asked on the GUI thread, where
    // instances are made and destroyed.
    static cPlugin* ownerOfTopItem(const QTreeWidgetItem* item);
    // Runs a call into `plugin`'s code that the host's own code makes from an event (a timer,
    // a closed dialog): an exception it throws is written to the plug-in's diagnostic stream
    // with the call and its text, and goes no further. False when it threw.
    static bool guardedCall(cPlugin* plugin, const char* what, const std::function<void()>& call) noexcept;

    QString name;
    QString description;
    float version;
    cMainWindow* mainWindow;
    QWidget* displayWidget;
    QWidget* setupWidget;
    QWidget* infoWidget;
    QTranslator auxTranslator;
    QTranslator translator;
    QTreeWidgetItem* topItem;
    QIcon icon1;
    QIcon icon2;
    QPixmap pixmap;
    uint32_t spare;
    // Set by the host while it runs the start-up sequence; a plug-in thread may look at it.
    std::atomic<bool> initialising;
    QTimer* generalTimer;
    QTimer* loggerTimer;
    QTimer* internetTimer;

    // The operations the host calls, in their fixed order.
    virtual void init();
    virtual void deinit();
    // Called with the plug-in's thread lock held.
    virtual void selectItem(QTreeWidgetItem* item);
    // Called with the plug-in's thread lock held.
    virtual void deselect();
    virtual void mkItemTree();
    virtual void saveSettings();
    virtual void loadSettings();
    virtual void mkPluginMenu(QMenu* menu, QToolBar* toolBar);
    virtual void connectExtraSignals(bool connect);
    virtual void acceptSetup();
    virtual void rejectSetup();

signals:
    void displayUpdateSignal();
    void setupUpdateSignal();
    void infoUpdateSignal();
    void mkSetupGuiSignal();
    void addDevGuiSignal(void* data);
    void rmDevGuiSignal(void* data);

private slots:
    virtual void onDisplayUpdate();
    // The meta-object lists the setup slot before the info slot while the virtual table has
    // them the other way round; both orders are fixed, so moc is shown the one it must record.
#ifdef Q_MOC_RUN
    virtual void onSetupUpdate();
    virtual void onInfoUpdate();
#else
    virtual void onInfoUpdate();
    virtual void onSetupUpdate();
#endif
    virtual void onMkSetupGuiSignal();
    virtual void onAddDevGUI(void* data);
    virtual void onRmDevGUI(void* data);

public:
    virtual void prepareSetup();
    virtual void retranslate();
    // `lock` true: the application is locked.
    virtual void lockGui(bool lock);
    // `blink` changes at most once per second, however often the general timer fires.
    virtual void generalTimerTick(bool blink);
    virtual void loggerTimerTick();
    virtual void internetTimerTick();
    virtual void dialogClosed(unsigned char id);

private slots:
    void onGeneralTimerTimeout();
    void onLoggerTimerTimeout();
    void onInternetTimerTimeout();

protected:
    // Null streams stand for the main window's diagnostic streams (the console without a
    // window). The three timers are created here, stopped and with no interval: when and how
    // often they run is the plug-in's business.
    explicit cPlugin(cMainWindow* window, std::string tag = "PLUGIN", FILE* out = nullptr, FILE* err = nullptr);
};
