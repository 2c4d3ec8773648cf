#pragma once

#include "FlowPages.h"
#include "ModbusRtu.h"

#include <plugin/cPlugin.h>
#include <serial/cLineSettings.h>
#include <serial/cOpenError.h>

#include <QByteArray>
#include <QMap>
#include <QTimer>
#include <QString>

#include <atomic>
#include <mutex>
#include <vector>

class QAction;
class QTreeWidgetItem;
class cPortPicker;
class cSerial;

// What the plug-in is told to do: kept in its settings group, edited on its setup page.
// A transaction is given up by the host after half a second, while the port's thread still
// waits on the line and the requests of the other meters queue behind it. The answer time-out
// stays well inside that: 400 ms, plus the request, the 37-byte answer and the frame gap.
constexpr int kLongestAnswerTimeoutMs = 400;

struct FlowMeterConfig
{
    QString port;
    // 9600 8N1 unless set: what every stored setup before line settings meant.
    cLineSettings line;
    std::vector<int> ids;
    int periodMs = 200;
    // How long a meter may take to start its answer (and pause within it). 100 ms leaves a
    // real meter at 9600 baud about 90 ms to turn round; slower ones need more, up to
    // kLongestAnswerTimeoutMs.
    int answerTimeoutMs = 100;
    int dampingTenths = 10;
    float calibration = 1.0f;
};

// The flow-meter plug-in: polls MODBUS RTU flow meters on one serial line from its own
// thread and shows them in the tree and on its pages.
class cFlowMeterPlugin : public cPlugin
{
    Q_OBJECT

public:
    explicit cFlowMeterPlugin(cMainWindow* window);
    ~cFlowMeterPlugin() override;

    void init() override;
    void deinit() override;
    void selectItem(QTreeWidgetItem* item) override;
    void deselect() override;
    void mkItemTree() override;
    void saveSettings() override;
    void loadSettings() override;
    void mkPluginMenu(QMenu* menu, QToolBar* toolBar) override;
    void acceptSetup() override;
    void rejectSetup() override;
    void prepareSetup() override;
    void retranslate() override;
    void lockGui(bool lock) override;

    // The poll loop, on the plug-in's own thread.
    void runHandler(void* arg) override;

    // Ids 1 to 247 from a list such as "1,2,5-8", sorted, each once. Parts that are not such
    // ids or ranges are left out and named in `rejected`.
    static std::vector<int> parseIds(const QString& text, QStringList* rejected = nullptr);
    static QString idsText(const std::vector<int>& ids);
    // Why the port would not open, in the user's language.
    static QString openErrorText(const cOpenError& e);

signals:
    // From the poll thread: new readings or states are in `units`.
    void unitsChangedSignal();
    // From the poll thread: the port is wanted open (or reopened) at this path.
    void portWantedSignal();
    void scanProgressSignal(int percent);
    // `found` is the ids that answered; a scan cut short says why in `failure` instead.
    void scanDoneSignal(QString found, QString failure);

private slots:
    // The pages change with new readings, not with the host's 10 ms refresh: the poll thread
    // signals each round.
    void onUnitsChanged();
    void onPortWanted();
    void onScanProgress(int percent);
    void onScanDone(QString found, QString failure);
    void onScanBus();
    void onResetTotalizer();
    // Selects the meter watched when the program last ended, once loading is over.
    void onRestoreSelection();
    // Puts the serial devices present into the setup page's port box.
    void offerPorts();

private:
    FlowMeterConfig configCopy();
    void setConfig(const FlowMeterConfig& c);
    // One read of a meter's map; a meter that is back is given `dampingTenths` if it has another.
    void pollUnit(cSerial* port, int id, int dampingTenths);
    void recordFailure(int id, const QString& reason);
    bool exchange(cSerial* port, const std::vector<uint8_t>& request, unsigned short answerSize,
                  std::vector<uint16_t>* registers, QString* reason,
                  modbus::Check* outcome = nullptr);
    void runScan(cSerial* port);
    void runReset(cSerial* port);
    // Ends a reset once: reports its outcome and lets go of the GUI.
    void finishReset(bool ok, const QString& failure);
    void runSetupWrites(cSerial* port);
    void markAllOffline(const QString& reason);
    cSerial* usablePort();
    void log(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void refreshPages();
    void refreshTree();
    // Scan bus (Cancel scan while one runs) and Reset totalizer (while no scan runs): offered
    // while the GUI is free.
    void updateActions();
    int shownUnit();

    // Guards `config` and `units` between the GUI thread and the poll thread; held only to
    // copy, never across a transaction.
    std::mutex stateMutex;
    FlowMeterConfig config;
    QMap<int, UnitState> units;

    // The port, opened and closed on the GUI thread (the registry belongs to it) and used by
    // the poll thread once published.
    std::atomic<cSerial*> port{nullptr};
    std::atomic<bool> portRequested{false};
    std::atomic<bool> reopenPort{false};
    std::atomic<bool> openFailed{false};
    std::atomic<int> selectedId{0};
    // The configured answer time-out, for the poll thread without taking the state lock.
    std::atomic<int> answerTimeoutMs{100};
    std::atomic<bool> scanRequested{false};
    std::atomic<bool> scanning{false};
    // Set on the GUI thread to end a running scan at its next try.
    std::atomic<bool> scanCancel{false};
    std::atomic<bool> resetRequested{false};
    std::atomic<bool> setupWritesRequested{false};
    std::atomic<int> resetUnit{0};
    // Set on the GUI thread when a reset is asked for, cleared by the poll thread when it ends.
    std::atomic<bool> actionBusy{false};

    bool setupOpen = false;
    bool guiLocked = false;
    // The port whose last open failed (GUI thread only), so that the log says it once.
    QString failedOpenOf;
    // Why the port is not open, in words (under stateMutex); empty while it is or is on its way.
    QString openFailure;
    // The meter to select again at start, and the tries left for it.
    int restoreId = 0;
    int restoreTries = 0;
    QTimer* restoreTimer;
    QMap<int, QTreeWidgetItem*> items;
    QAction* scanAction = nullptr;
    QAction* resetAction = nullptr;
    // The serial devices present, for the setup page; GUI thread only.
    cPortPicker* picker;
    FlowDisplayPage* display;
    FlowInfoPage* info;
    FlowSetupPage* setup;
};
