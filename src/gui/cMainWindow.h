#pragma once

#include "../core/cThread.h"
#include "../serial/cSerial.h"

#include <QMainWindow>
#include <QMutex>
#include <QString>
#include <QTranslator>
#include <QVector>

#include <cstdio>
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
    // Has the GUI thread unload every plug-in and returns when the plug-in list is empty.
    void clearPlugins();

    // The registry of shared ports. openPort returns the listed port of that name with one
    // more user, or opens a new one (null when it cannot be opened); closePort gives up one
    // use and closes the port with its last user; closeAllPorts closes every listed port.
    // A port leaves the list when it is closed, but the object lives on until the window goes,
    // so a pointer that a plug-in still holds stays valid for closePort.
    cSerial* openPort(const std::string& name);
    void closePort(cSerial* port);
    void closeAllPorts();

    // The window's diagnostic log: the output stream of "MAIN GUI".
    FILE* logStream() const { return mainGuiThread.outStream(); }

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
    // Every port the registry opened, listed or not; freed with the window, after the
    // plug-ins that may hold them are gone.
    std::vector<std::unique_ptr<cSerial>> ownedPorts;
    QTreeWidgetItem* currentTreeItem;
    QMutex pluginListMutex;
    QDialog* aboutDialog;
    cThread mainThread;
    cThread mainGuiThread;
    bool factoryMode;
    bool debugMode;

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

private slots:
    void closeEvent(QCloseEvent* event) override;
    void onExit();
    void onPopup(int type, QString title, QString message, int button1, int button2, int button3);
    void onClearPlugins();

private:
    // How long clearPlugins waits for the GUI thread to empty the list before it gives up.
    static constexpr int kClearPluginsTimeoutMs = 10000;
};
