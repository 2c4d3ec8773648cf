#pragma once

#include "FlowConfig.h"
#include "FlowPages.h"
#include "MeterEvent.h"
#include "MeterModelLoader.h"
#include "MqttSettings.h"
#include "ValueFormat.h"

#include <plugin/cPlugin.h>
#include <serial/cOpenError.h>

#include <QLocale>
#include <QMap>
#include <QPointer>
#include <QPair>
#include <QString>
#include <QTimer>
#include <QVector>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class QAction;
class QLabel;
class QTabWidget;
class AlarmListView;
class AlarmLog;
class FolderLock;
class DesktopNotifier;
class QTreeWidgetItem;
class LinePoller;
class Recorder;
class MqttPublisher;
class MqttEditor;
class SecretStore;
class MeterHistories;
class cPortPicker;

// The flow-meter plug-in: MODBUS RTU flow meters on serial lines, each line polled by a thread
// of its own (LinePoller); this class is the GUI side: the tree, the pages, the menu and the
// settings. Its own thread only watches for the host's stop and then stops the lines.
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
    // One row per meter into the recordings, then the timer set for the next interval.
    void loggerTimerTick() override;
    // Every meter's state to the broker, when publishing is on.
    void internetTimerTick() override;

    // Waits for the host's stop, then stops every line's thread.
    void runHandler(void* arg) override;

    // Why the port would not open, in the user's language.
    static Reason openErrorText(const cOpenError& e);

signals:
    // Every line's meterEvent, passed on to the GUI thread in the order each line saw them.
    void meterEvent(MeterEvent event);

private slots:
    // The pages change with new readings, not with the host's 10 ms refresh: each line's
    // thread signals each round.
    void onLineChanged(int line);
    void onPortWanted(int line);
    void onScanProgress(int line, int percent);
    void onScanDone(int line, QString found, QString failure);
    void onResetDone(int line, bool ok, QString failure);
    void onWriteDone(int line, int id, bool ok, QString failure);
    // From the setup page: the shown meter's alarm limit, in the model's unit.
    void onLimitWanted(double value);
    void onScanBus();
    void onResetTotalizer();
    // Selects the meter watched when the program last ended, once loading is over.
    void onRestoreSelection();
    // Puts the serial devices present into the setup page's port box.
    void offerPorts();
    // The recordings were read back into the meters' histories.
    void onHistoryLoaded(int files, int skipped, QStringList problems);

private:
    void log(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Tells the host's header the worst state of all meters, when it changed.
    void reportDeviceState();
    // Reads the models of the program's folder and the user's; says what could not be read.
    void loadModels();
    // Units and numbers as the user reads them.
    ValueFormat format() const { return ValueFormat(config.units, locale); }
    // Gives each line its thread (started) and its part of `c`; lines gone are stopped and
    // their ports closed.
    void applyConfig(const FlowConfig& c);
    void stopLines();
    // Opens (again) the port line `line`'s thread waits for.
    void openPortOf(int line, LinePoller* p);
    void closePorts();
    void logConfig();
    LinePoller* poller(int line) const;
    // Ends a reset once: reports its outcome and lets go of the GUI.
    void finishReset(bool ok, const QString& failure);
    void refreshPages();
    void refreshTree();
    // Scan bus (Cancel scan while one runs) and Reset totalizer (while no scan runs): offered
    // while the GUI is free.
    void updateActions();
    // The meter the pages show: the selected one, or the first meter of the selected line.
    QPair<int, int> shownMeter() const;

    // GUI thread only: the setup in use. Each line's thread has its own copy of its line.
    FlowConfig config;
    MeterModelLoader loader;
    // The language the plug-in's texts are in: its numbers follow it.
    QLocale locale;
    // Created and removed on the GUI thread; stopped from the plug-in's own thread at unload.
    mutable std::mutex pollersMutex;
    std::vector<std::unique_ptr<LinePoller>> pollers;

    bool setupOpen = false;
    // What Save refused (see saveSettings), shown again when the page next opens.
    std::optional<FlowConfig> refused;
    // What Save changed that the meters are to be given when the setup is accepted.
    std::optional<int> owedDamping;
    std::optional<float> owedCalibration;
    bool guiLocked = false;
    bool scanning = false;
    int scanLine = 0;
    // A reset holds the GUI until every line it was asked of has answered.
    bool actionBusy = false;
    int resetsPending = 0;
    bool resetOk = true;
    QString resetFailure;
    // Per line, the port whose last open failed, so that the log says it once.
    QMap<int, QString> failedOpenOf;
    // The selected line (from 0) and meter (0: the line itself, or nothing).
    int selectedLine = 0;
    int selectedId = 0;
    // The meter to select again at start, and the tries left for it.
    int restoreLine = 0;
    int restoreId = 0;
    int restoreTries = 0;
    QTimer* restoreTimer;
    QVector<QTreeWidgetItem*> lineItems;
    QMap<QPair<int, int>, QTreeWidgetItem*> items;
    QAction* scanAction = nullptr;
    QAction* resetAction = nullptr;
    // The serial devices present, for the setup page; GUI thread only.
    cPortPicker* picker;
    FlowDisplayPage* display;
    FlowInfoPage* info;
    FlowSetupPage* setup;
    // What the header was last told, so that only a change is sent.
    int reportedSeverity = 0;
    QString reportedState;
    // Whether the lines write a line per poll: the host's serial debugging, as last seen by
    // the plug-in's thread.
    std::atomic<bool> pollLines{false};
    // CORVANE_FLOWMETER_POLL_LINES=1: a line per poll whatever the serial debugging says.
    bool pollLinesAlways = false;

    // ---- Recording of the readings (Recorder), started and stopped from the menu.
    void onRecordAction();
    // `save`: the choice is written to the settings at once (not at a start from them).
    void startRecording(bool save);
    void stopRecording();
    // The logger timer set to the next whole interval of the local clock, so that rows fall on
    // round times however long a tick took.
    void armLoggerTimer();
    // The mark in the host's status bar and the menu's text, as the recording now is.
    void showRecording();
    Recorder* recorder;
    QAction* recordAction = nullptr;
    // In the host's status bar, which deletes it if it goes first.
    QPointer<QLabel> recordMark;
    // Every meter's flow over the last days, for the trend.
    MeterHistories* histories;
    void showHistory(QPair<int, int> meter, const MeterModel* model, const ValueFormat& f);

    // The alarm list beside the meter's page, and the desktop told of what enters it.
    void makeAlarmList();
    void retranslateAlarmList();
    QTabWidget* displayTabs = nullptr;
    AlarmLog* alarms = nullptr;
    FolderLock* folderLock = nullptr;
    AlarmListView* alarmView = nullptr;
    DesktopNotifier* notifier = nullptr;

    // ---- Publishing to an MQTT broker (MqttPublisher), on the internet timer.
    void startMqtt(const MqttSettings& m);
    // Every line's setup and its meters as last read to the publisher: right after its start
    // (`first`), or at the interval's end.
    void giveMqttLines(bool first);
    // The connection's state in the host's status bar.
    void showMqtt();
    // The setup page's fields taken, when they hold nothing wrong; false otherwise (said).
    bool takeMqttSetup();
    MqttPublisher* mqtt = nullptr;
    QPointer<QLabel> mqttMark;
    MqttEditor* mqttEditor = nullptr;
    // Where the broker's password is kept, beside the settings file but never in it.
    std::unique_ptr<SecretStore> secrets;
    static const char* const kMqttSecretKey;
    // In use; its password is held here only, never in the plain settings file.
    MqttSettings mqttConfig;
};
