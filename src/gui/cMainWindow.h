#pragma once

#include "../core/cThread.h"
#include "../serial/cSerial.h"

#include <QMainWindow>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QTranslator>
#include <QVector>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <vector>

class QAbstractButton;
class QAction;
class QApplication;
class QCloseEvent;
class QDialog;
class QLabel;
class QMenu;
class QMessageBox;
class QProgressBar;
class QTreeWidgetItem;
class cSerial;
class cSetup;
struct Ui_cMainWindow;

// The host's one main window, and the owner of its long-lived machinery: the "MAIN" and
// "MAIN GUI" threads, its own serial port object, the port list and the plug-in list lock.
// Worker threads and plug-ins never touch its widgets: they emit its signals, which Qt
// delivers to the GUI thread.
//
// The window is a very large object (three threads with their queues inside) and is meant to
// live on the entry point's stack.
class cMainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // `appPath` is changed in place (back-slashes become forward slashes) and then kept.
    cMainWindow(QWidget* parent, QApplication* app, QString& appPath, FILE* out, FILE* err);
    ~cMainWindow() override;

    bool eventFilter(QObject* watched, QEvent* event) override;

    // Makes or breaks the window's whole set of signal connections.
    void connectSignals(bool connect);
    // Rebuilds menus, actions and tool bar for the current plug-in (or none).
    void mkMenus();
    // The application settings: read once while the window is built, written when it goes
    // and whenever the setup dialog is accepted.
    void loadAppSettings();
    void saveAppSettings();
    // Loads and installs the host's two translations for a language index (0: the system's).
    void loadLanguage(int language);
    // Builds the about dialog's form into `dialog`; called once by the constructor.
    void setupAboutUi(QDialog* dialog);
    // Has the GUI thread unload every plug-in and returns when the plug-in list is empty.
    void clearPlugins();

    // The registry of shared ports. openPort returns the listed port of that name with one
    // more user, or opens a new one (null when it cannot be opened); closePort gives up one
    // use and closes the port with its last user; closeAllPorts closes every listed port.
    //
    // How long a port object lives. `users` counts the pointers handed out by openPort and
    // not yet given back, so once closePort has brought it to 0 nobody may use the pointer
    // again, and the object can go once its thread and every caller inside it are done. It
    // does not go at once: the last few such ports wait in `retiredPorts`, so that the common
    // slip of handing a pointer back twice still finds the object (and gets the error line
    // and the close it always did), and their memory is not yet reused for a new port that a
    // stale pointer would then name. The addresses of the ports freed after that are kept in
    // `freedPorts` (bounded), so that closePort tells "ours, freed" (only the error line; the
    // object is not touched) from a port object the caller made itself (closed as before).
    // Freeing is what keeps a program that reconnects every few seconds from growing; a
    // pointer handed back long after its last closePort cannot be told from a new port that
    // reuses its address, so callers must still give each use back exactly once. Ports that
    // closeAllPorts closes under their users stay in `ownedPorts` until those users give them
    // back or the window goes.
    //
    // A name that fails to open is remembered with its system error (`failedOpens`). A retry
    // that fails with the same error is neither shown nor logged again, and reuses the port
    // object of the attempt before it instead of making one a second; a different error, or
    // success, is reported as on the first attempt and replaces the record.
    //
    // A port is shared only at equal line settings: asking for an open device at other
    // settings is refused (a line on standard error and a status-bar message naming both), as
    // reconfiguring it would pull the line from under its other users. openPort(name) asks for
    // 9600 8N1. `why`, when given, says why null was returned.
    cSerial* openPort(const std::string& name);
    cSerial* openPort(const std::string& name, const cLineSettings& settings, cOpenError* why = nullptr);
    void closePort(cSerial* port);
    void closeAllPorts();

    // The window's diagnostic log: the output stream of "MAIN GUI".
    FILE* logStream() const { return mainGuiThread.outStream(); }

    // GUI thread. The state of a source's devices for the header, which shows the worst of
    // all sources, so that an alarm is seen whichever device is on show. `severity`: 0 fine,
    // 1 a warning (a device offline, a reading not valid), 2 an alarm; `text` in the user's
    // language ("Alarm: FT-101 inlet (high flow)"). An empty text forgets the source.
    void setDeviceState(const QString& source, int severity, const QString& text);

    float appVersion;
    Ui_cMainWindow* ui;
    QApplication* app;
    QString appPath;
    int settingsVersion;
    int language;
    QString serialPort;
    cSetup* setupDialog;
    QMessageBox* popupBox;
    QMenu* fileMenu;
    QMenu* pluginMenu;
    QMenu* helpMenu;
    QAction* actionSetup;
    QAction* actionPluginSetup;
    QAction* actionQuit;
    QAction* actionAbout;
    QAction* actionAboutPlugin;
    QTranslator qtTranslator;
    QTranslator appTranslator;
    QWidget* statusWidget;
    QLabel* statusLabel;
    QProgressBar* statusProgressBar;
    cSerial genericPort;
    QVector<cSerial*> portList;
    // Every port the registry opened that still has users, listed or not (see openPort).
    std::vector<std::unique_ptr<cSerial>> ownedPorts;
    // Ports whose last user gave them back, oldest first; freed when pushed out.
    std::deque<std::unique_ptr<cSerial>> retiredPorts;
    // Addresses of freed ports, oldest first, until a new port takes the address again.
    std::deque<const cSerial*> freedPorts;
    // The last failure of each name that could not be opened, oldest first, with the closed
    // port object that tried it.
    struct FailedOpen
    {
        std::string name;
        uint16_t code = 0;
        std::unique_ptr<cSerial> port;
    };
    std::deque<FailedOpen> failedOpens;
    QTreeWidgetItem* currentTreeItem;
    QMutex pluginListMutex;
    QDialog* aboutDialog;
    cThread mainThread;
    cThread mainGuiThread;
    bool factoryMode;
    bool debugMode;
    // Set by the entry point when the event loop has ended: a plug-in load that "MAIN" still
    // runs stops before its next library. Read by the loader with pluginListMutex held.
    std::atomic<bool> closing{false};

signals:
    void translateSignal(int language);
    void statusBarMsgSignal(QString m);
    void statusBarProgressSignal(QString t, int v);
    void appLockSignal(bool lock);
    void loadPlgSignal(void* pPlgHandler);
    void selectPluginSignal(int indx);
    void updatePluginTreeTopLevelItemSignal(void* topItem);
    void updateGUISignal();
    void updatePluginItemSignal(QTreeWidgetItem* item, QString iconPath, bool enable);
    void setButtonsVisibleSignal(bool visible);
    void popupSignal(int type, QString title, QString msg, int button1, int button2, int button3);
    void actionLockSignal(char* tag, int tagLen, char* txt, int txtLen, bool* pBzy, bool* pStatus,
                          unsigned char timeout = 5);
    void updateTreeSignal(void* pPlugin);
    void showPlgSetupSignal();
    void clearPluginsSignal();
    void rejectPluginSetupSignal();
    void acceptPluginSetupSignal();
    void resetGUIsignal();
    void showApplicationSetupSignal();

    // The slots' order and signatures are part of the contract with plug-ins: do not reorder.
private slots:
    void closeEvent(QCloseEvent* event) override;
    void onAbout();
    void onSetup();
    void onPluginSetup();
    void onExit();
    void onTranslate(int language);
    void onSetStatusBarMsg(QString m);
    void onSetStatusBarProgress(QString t, int v);
    void onPluginTreeItemSelectionChanged();
    void onAppLock(bool lock);
    void onLoadPlugin(void* pPlgHandler);
    void onSelectPlugin(int indx);
    void onUpdatePluginTreeTopLevelItem(void* topItem);
    void onAccept();
    void onReject();
    void onClicked(QAbstractButton* button);
    void onUpdateGUI();
    void onUpdatePluginItem(QTreeWidgetItem* item, QString iconPath, bool enable);
    void onSetButtonsVisible(bool visible);
    void onPopup(int type, QString title, QString message, int button1, int button2, int button3);
    void onActionLock(char* tag, int tagLen, char* txt, int txtLen, bool* pBzy, bool* pStatus,
                      unsigned char timeout);
    void onUpdateTree(void* pPlugin);
    void onClearPlugins();
    void onAboutPlugin();
    void onResetGUI();

private:
    // Moves a port whose last user gave it back from `ownedPorts` to `retiredPorts`, and
    // frees the oldest retired ports beyond the few kept.
    void retirePort(cSerial* port);
    bool ownsPort(const cSerial* port) const;

    // The status-bar group: a label and a progress bar at the right end of the status bar.
    void mkStatusGroup();
    // The devices' worst state in the header, beside the application's name; made in code so
    // that the form plug-ins are built against stays as it is.
    void mkDeviceState();
    void showDeviceState();

    struct DeviceState
    {
        int severity = 0;
        QString text;
    };
    // By source; GUI thread only.
    QMap<QString, DeviceState> deviceStates;
    QLabel* deviceStateLabel = nullptr;

    // While set, connectSignals makes and breaks only the connections of the window's parts
    // (actions, tree, buttons) and leaves those of the window's own signals made: a signal
    // that "MAIN" emits while a selection rebuilds the menus would otherwise be lost, and with
    // it a plug-in's tree item or the end of the application lock. GUI thread only.
    static bool keepOwnConnections;
    // Set while this thread empties the plug-in list with pluginListMutex held. A plug-in that
    // deletes its current item as it goes moves the tree's selection: that selection must not
    // wait for the mutex its own thread holds.
    static bool clearingPlugins;

    // How long clearPlugins waits for the GUI thread to empty the list before it gives up.
    static constexpr int kClearPluginsTimeoutMs = 10000;
};
