// The flow-meter plug-in: MODBUS RTU flow meters on serial lines (docs/flowmeter.md has the
// register map). Built with the SDK like any outside plug-in.
#include "FlowMeterPlugin.h"
#include "FlowLog.h"
#include "FlowSettings.h"
#include "IdList.h"
#include "AlarmLimitEditor.h"
#include "AlarmListView.h"
#include "AlarmLog.h"
#include "DesktopNotifier.h"
#include "FolderLock.h"
#include "LinePoller.h"
#include "LinesEditor.h"
#include "MeterHistories.h"
#include "MeterValuesView.h"
#include "Recorder.h"
#include "MqttPublisher.h"
#include "MqttEditor.h"
#include "SecretStore.h"
#include "RecordingEditor.h"
#include "SettingsReader.h"
#include "UnitsChooser.h"
#include "ValueCodec.h"

#include <gui/cMainWindow.h>
#include <serial/cPortPicker.h>
#include <serial/cSerial.h>

#include <QAction>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QListWidget>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QDir>
#include <QLayout>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidgetItem>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <thread>

namespace {

const char* const kIconOnline = ":/Other/Pixmaps/online22.png";
const char* const kIconOffline = ":/Other/Pixmaps/offline22.png";
const char* const kIconAlarm = ":/Other/Pixmaps/alarm22.png";

// Two names of one device (a by-id link and the device it points to) are one port.
QString portKey(const QString& port)
{
    const QString canonical = QFileInfo(port).canonicalFilePath();
    return canonical.isEmpty() ? port.trimmed() : canonical;
}

std::vector<int> idsOf(const LineConfig& l)
{
    std::vector<int> ids;
    for (const MeterConfig& m : l.meters)
        ids.push_back(m.id);
    return ids;
}

// The meters of `ids` on line `l`: those already there keep their model and name; new ones
// take the model of the line's first meter (the one model there was, on a line of none).
QVector<MeterConfig> metersFor(const LineConfig& l, const std::vector<int>& ids)
{
    const QString model = l.meters.isEmpty() ? QString(FlowSettings::kFirstModel) : l.meters.front().model;
    QVector<MeterConfig> meters;
    for (int id : ids) {
        MeterConfig m{id, model, QString()};
        for (const MeterConfig& old : l.meters)
            if (old.id == id)
                m = old;
        meters << m;
    }
    return meters;
}

QByteArray local(const QString& s)
{
    return s.toLocal8Bit();
}

} // namespace

cFlowMeterPlugin::cFlowMeterPlugin(cMainWindow* window) : cPlugin(window, "FLOWMETER")
{
    name = "Flow meter";
    description = "MODBUS RTU flow meters on a serial line: flow, totalizer, temperature and alarms";
    version = 1.0f;
    display = new FlowDisplayPage;
    info = new FlowInfoPage;
    setup = new FlowSetupPage;
    displayWidget = display;
    infoWidget = info;
    setupWidget = setup;
    displayWidget->hide();
    infoWidget->hide();
    setupWidget->hide();
    topItem = new QTreeWidgetItem(QStringList{name});
    pixmap = QPixmap(":/Other/Pixmaps/online.png");

    picker = new cPortPicker(this);
    // An adapter plugged in or out while the setup page is open shows up in its list.
    connect(picker, &cPortPicker::portsChanged, this, &cFlowMeterPlugin::offerPorts);
    connect(setup->limit, &AlarmLimitEditor::writeRequested, this, &cFlowMeterPlugin::onLimitWanted);
    // For a measurement of the line's timing from the log, with or without a log file.
    pollLinesAlways = qEnvironmentVariableIntValue("CORVANE_FLOWMETER_POLL_LINES") == 1;
    restoreTimer = new QTimer(this);
    restoreTimer->setInterval(100);
    connect(restoreTimer, &QTimer::timeout, this, &cFlowMeterPlugin::onRestoreSelection);

    recorder = new Recorder([this](const QString& line) { log("%s", line.toLocal8Bit().constData()); }, this);
    // Found by name by whoever follows its failures (the alarm list, tests).
    recorder->setObjectName("flowmeterRecorder");
    connect(recorder, &Recorder::failed, this, [this](const QString& why) {
        emit mainWindow->statusBarMsgSignal(QCoreApplication::translate("FlowMeter", "Recording stopped: %1").arg(why));
    });
    connect(recorder, &Recorder::resumed, this, [this] {
        emit mainWindow->statusBarMsgSignal(QCoreApplication::translate("FlowMeter", "Recording resumed"));
    });
    connect(recorder, &Recorder::stateChanged, this, &cFlowMeterPlugin::showRecording);
    connect(this, &cFlowMeterPlugin::meterEvent, recorder, &Recorder::onMeterEvent);
    // A row every second must not wander by the coarse timer's 5 %.
    loggerTimer->setTimerType(Qt::PreciseTimer);
    histories = new MeterHistories(this);
    connect(histories, &MeterHistories::loaded, this, &cFlowMeterPlugin::onHistoryLoaded);
    makeAlarmList();
    // One claim on the records folder for the recordings and the alarm list alike; made after
    // both, so that it goes after the alarm list has written its last.
    folderLock = new FolderLock(this);
    recorder->setFolderLock(folderLock);
    alarms->setFolderLock(folderLock);
    mqtt = new MqttPublisher([this](const QString& line) { log("%s", line.toLocal8Bit().constData()); }, this);
    mqtt->setObjectName("flowmeterMqtt");
    connect(this, &cFlowMeterPlugin::meterEvent, mqtt, &MqttPublisher::onMeterEvent);
    connect(mqtt, &MqttPublisher::statusChanged, this, &cFlowMeterPlugin::showMqtt);
    mqttEditor = new MqttEditor(setup);
    secrets = std::make_unique<SecretStore>(QFileInfo(QSettings("Tessmark", "Corvane").fileName()).absolutePath());
    if (setup->layout())
        setup->layout()->addWidget(mqttEditor);
    // Made after the page, its fields would come between the damping and Save: they go after
    // the recording's, which come before the lines.
    QWidget* before = setup->recording->interval;
    for (QWidget* w : mqttEditor->focusChain()) {
        QWidget::setTabOrder(before, w);
        before = w;
    }
}

cFlowMeterPlugin::~cFlowMeterPlugin()
{
    stopAndWait();
    stopLines();
    closePorts();
    loggerTimer->stop();
    internetTimer->stop();
    // Says "offline" and leaves what was not confirmed in the spool.
    delete mqtt;
    mqtt = nullptr;
    delete mqttMark.data();
    // Its thread writes what it was given before it ends.
    delete recorder;
    recorder = nullptr;
    delete recordMark.data();
    delete topItem;
}

void cFlowMeterPlugin::log(const char* format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    FlowLog::line(outStream(), line);
}

Reason cFlowMeterPlugin::openErrorText(const cOpenError& e)
{
    const QString detail = QString::fromLocal8Bit(e.detail.c_str());
    switch (e.reason) {
    case cOpenError::None:
        return {};
    case cOpenError::NoPermission:
        return Reason(QT_TRANSLATE_NOOP("FlowMeter",
                                        "no permission; on Debian: sudo adduser $USER dialout, then log in again"));
    case cOpenError::NotPresent:
        return Reason(QT_TRANSLATE_NOOP("FlowMeter", "not present; is the adapter plugged in?"));
    case cOpenError::InUse:
        return Reason(QT_TRANSLATE_NOOP("FlowMeter", "in use by another program: %1")).arg(detail);
    case cOpenError::NotSerial:
        return Reason(QT_TRANSLATE_NOOP("FlowMeter", "not a serial device"));
    case cOpenError::OtherSettings:
        return Reason(QT_TRANSLATE_NOOP("FlowMeter", "open at other line settings: %1")).arg(detail);
    case cOpenError::BadSettings:
        return Reason(QT_TRANSLATE_NOOP("FlowMeter", "the device refused the line settings"));
    case cOpenError::Failed:
        break;
    }
    return Reason::verbatim(detail);
}

LinePoller* cFlowMeterPlugin::poller(int line) const
{
    std::lock_guard<std::mutex> g(pollersMutex);
    return line >= 0 && size_t(line) < pollers.size() ? pollers[size_t(line)].get() : nullptr;
}

void cFlowMeterPlugin::applyConfig(const FlowConfig& c)
{
    config = c;
    folderLock->setRetryInterval(c.recording.intervalMs());
    // The lock may move with the folder: the writer's last rows for the old one go first.
    if (!FolderLock::sameFolder(c.recording.path(), folderLock->folder()))
        recorder->flush();
    alarms->open(c.recording.path());
    // Where each line kept went (old place -> new): what is kept of its meters goes with it.
    QMap<int, int> moved;
    std::vector<std::unique_ptr<LinePoller>> gone;
    QMap<int, QString> failed;
    {
        std::lock_guard<std::mutex> g(pollersMutex);
        // Each line keeps the thread (and the open port) of the line it was: found by its port,
        // else by its place among the lines left. A line removed above another thus does not
        // make the ports below it be closed and opened again one place up.
        std::vector<std::unique_ptr<LinePoller>> old = std::move(pollers);
        pollers.clear();
        pollers.resize(size_t(c.lines.size()));
        for (int i = 0; i < c.lines.size(); ++i)
            for (auto& p : old)
                if (p && portKey(p->config().port) == portKey(c.lines[i].port)) {
                    pollers[size_t(i)] = std::move(p);
                    break;
                }
        auto rest = old.begin();
        for (auto& slot : pollers) {
            while (!slot && rest != old.end()) {
                if (*rest)
                    slot = std::move(*rest);
                ++rest;
            }
        }
        for (auto& p : old)
            if (p)
                gone.push_back(std::move(p));
        for (size_t i = 0; i < pollers.size(); ++i) {
            if (pollers[i]) {
                if (failedOpenOf.contains(pollers[i]->index()))
                    failed.insert(int(i), failedOpenOf.value(pollers[i]->index()));
                moved.insert(pollers[i]->index(), int(i));
                pollers[i]->setIndex(int(i));
                continue;
            }
            auto p = std::make_unique<LinePoller>(int(i), this);
            // Queued: these come from the line's thread and touch widgets. Made here, not with
            // the host's connection set, so that no reading is lost while the tree is rebuilt.
            connect(p.get(), &LinePoller::changed, this, &cFlowMeterPlugin::onLineChanged, Qt::QueuedConnection);
            connect(p.get(), &LinePoller::portWanted, this, &cFlowMeterPlugin::onPortWanted, Qt::QueuedConnection);
            connect(p.get(), &LinePoller::scanProgress, this, &cFlowMeterPlugin::onScanProgress, Qt::QueuedConnection);
            connect(p.get(), &LinePoller::scanDone, this, &cFlowMeterPlugin::onScanDone, Qt::QueuedConnection);
            connect(p.get(), &LinePoller::resetDone, this, &cFlowMeterPlugin::onResetDone, Qt::QueuedConnection);
            connect(p.get(), &LinePoller::statusMessage, mainWindow, &cMainWindow::statusBarMsgSignal,
                    Qt::QueuedConnection);
            connect(p.get(), &LinePoller::writeDone, this, &cFlowMeterPlugin::onWriteDone, Qt::QueuedConnection);
            connect(p.get(), &LinePoller::meterEvent, this, &cFlowMeterPlugin::meterEvent, Qt::QueuedConnection);
            // Straight from the line's thread to the publisher's queue: a reading does not wait
            // for the window to be free before it goes to the broker. The lines end before the
            // publisher does. What a line reads while lines move is told by its port.
            connect(p.get(), &LinePoller::reading, mqtt, &MqttPublisher::reading, Qt::DirectConnection);
            p->setLogPolls(pollLines);
            connect(p.get(), &LinePoller::changed, alarms, &AlarmLog::onLineRound, Qt::QueuedConnection);
            pollers[i] = std::move(p);
        }
        for (size_t i = 0; i < pollers.size(); ++i)
            pollers[i]->setConfig(c.lines[int(i)], loader.models());
    }
    failedOpenOf = failed;
    alarms->moveLines(moved);
    // The trend may point at a history of a line now gone; the next refresh points it anew.
    display->trend->setHistory(nullptr, DisplayUnit::CubicMetrePerHour);
    histories->moveLines(moved);
    recorder->moveLines(moved);
    QVector<AlarmLog::Meter> meters;
    for (int i = 0; i < c.lines.size(); ++i)
        for (const MeterConfig& m : c.lines[i].meters)
            meters.push_back(AlarmLog::Meter{i, m.id, m.shownName(), c.lines[i].port});
    alarms->setMeters(meters);
    for (auto& p : gone) {
        p->stopAndWait();
        if (resetsPending > 0 && p->takeResetRequest())
            onResetDone(p->index(), false, QCoreApplication::translate("FlowMeter", "unloaded"));
        const QByteArray path = local(p->config().port);
        if (cSerial* port = p->takePort()) {
            mainWindow->closePort(port);
            log("Line of port %s removed: its polling stopped and the port closed", path.constData());
        } else {
            log("Line of port %s removed: its polling stopped", path.constData());
        }
    }
    // The lines run while the plug-in's thread does: from loadSettings until the host stops it.
    if (running) {
        std::lock_guard<std::mutex> g(pollersMutex);
        for (auto& p : pollers)
            p->start();
    }
    // Meters removed take what they showed in the header with them.
    reportDeviceState();
}

void cFlowMeterPlugin::stopLines()
{
    std::lock_guard<std::mutex> g(pollersMutex);
    // All asked first, then waited for: each line ends within one of its short sleeps.
    for (auto& p : pollers)
        p->running = false;
    for (auto& p : pollers)
        p->stopAndWait();
}

void cFlowMeterPlugin::closePorts()
{
    std::lock_guard<std::mutex> g(pollersMutex);
    for (auto& p : pollers)
        if (cSerial* port = p->takePort())
            mainWindow->closePort(port);
}

void cFlowMeterPlugin::runHandler(void*)
{
    // The host's serial debugging is switched in its setup dialog, at once and without a word
    // to the plug-ins, and set from the stored settings: watched here rather than asked for.
    int seen = -1;
    while (running) {
        const bool on = mainWindow->genericPort.debug || pollLinesAlways;
        if (int(on) != seen) {
            seen = on;
            pollLines = on;
            {
                std::lock_guard<std::mutex> g(pollersMutex);
                for (auto& p : pollers)
                    p->setLogPolls(on);
            }
            log(on ? "Serial debugging is on: a line for every poll of every meter"
                   : "Serial debugging is off: only changes of a meter's state are logged");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // The lines end with this thread and give their ports back: at a quit the host stops this
    // thread before it closes every port, and a port closed under a running line would be
    // taken for a device pulled out. Whoever stops this thread (the host, deinit, the
    // destructor) waits for it on the GUI thread, so the port registry still has one user at
    // a time.
    stopLines();
    closePorts();
}

void cFlowMeterPlugin::init()
{
    setup->setFactoryMode(mainWindow->factoryMode);
    loadModels();
    log("Ready (SDK %s)", CORVANE_SDK_VERSION);
}

void cFlowMeterPlugin::loadModels()
{
    // The program's models lie beside the plug-ins; the user's own come last and win.
    const QString plugins = QFileInfo(mainWindow->appPath).absolutePath() + "/plugins";
    loader.load({MeterModelLoader::programFolder(plugins), MeterModelLoader::userFolder()});
    QStringList problems;
    for (const ModelProblem& p : loader.problems()) {
        log("Model file %s", local(p.text()).constData());
        problems << p.text();
    }
    if (loader.models().isEmpty())
        log("No meter model could be loaded (looked in %s and %s): no meter can be read",
            local(MeterModelLoader::programFolder(plugins)).constData(),
            local(MeterModelLoader::userFolder()).constData());
    else
        log("Meter models: %s", local(loader.models().keys().join(", ")).constData());
    setup->modelProblems->clear();
    setup->modelProblems->addItems(problems);
    setup->modelProblems->setVisible(!problems.isEmpty());
    setup->modelsLabel->setText(
        loader.models().isEmpty()
            ? QCoreApplication::translate("FlowMeter", "No meter model could be loaded: no meter can be read.")
            : QCoreApplication::translate("FlowMeter", "Meter models: %1").arg(loader.models().keys().join(", ")));
    setup->modelsLabel->setProperty("modelsLoaded", int(loader.models().size()));
    setup->lines->setModelNames(loader.models().keys());
}

void cFlowMeterPlugin::logConfig()
{
    for (int i = 0; i < config.lines.size(); ++i) {
        const LineConfig& l = config.lines[i];
        const QByteArray ids = IdList::text(idsOf(l)).toLatin1();
        if (i == 0) {
            log("Port %s, unit ids %s, poll period %d ms, answer time-out %d ms", local(l.port).constData(),
                ids.constData(), l.periodMs, l.answerTimeoutMs);
            log("Line %s", l.line.text().c_str());
        } else {
            log("Line %d: port %s, unit ids %s, poll period %d ms, answer time-out %d ms, %s", i + 1,
                local(l.port).constData(), ids.constData(), l.periodMs, l.answerTimeoutMs, l.line.text().c_str());
        }
    }
}

void cFlowMeterPlugin::loadSettings()
{
    auto logLine = [this](const QString& line) { log("%s", line.toLocal8Bit().constData()); };
    SettingsReader::dropOverlongValues(QSettings("Tessmark", "Corvane").fileName(), FlowSettings::kGroup, logLine);
    QSettings s("Tessmark", "Corvane");
    bool oldForm = false;
    const FlowConfig c = FlowSettings::load(s, logLine, &oldForm);
    if (oldForm) {
        // Written back at once in the list form; the keys of before stay for an older Corvane.
        FlowSettings::save(s, c, false);
        s.sync();
        log("Settings of one line read as line 1 of model %s and stored as a list of lines", FlowSettings::kFirstModel);
    }
    if (!running)
        startHandler(TYPE_PLAIN, this, "FLOWMETER");
    applyConfig(c);
    logConfig();
    // Recording that ran when the program last ended goes on.
    if (c.recording.on)
        startRecording(false);
    const QString password = mqttConfig.password;
    mqttConfig = FlowSettings::loadMqtt(s, logLine);
    mqttConfig.password = password;
    if (mqttConfig.enabled && mqttConfig.password.isEmpty() && !mqttConfig.userName.isEmpty()) {
        QString error;
        const std::optional<QString> kept = secrets->read(kMqttSecretKey, &error);
        if (kept) {
            mqttConfig.password = *kept;
            log("MQTT: the password is read from %s", secrets->where().toLocal8Bit().constData());
        } else if (!error.isEmpty()) {
            log("MQTT: the password could not be read: %s", error.toLocal8Bit().constData());
        }
    }
    startMqtt(mqttConfig);
    histories->load(c.recording.path());
    restoreLine = c.selectedLine;
    restoreId = c.selectedId;
    if (restoreId > 0) {
        restoreTries = 100;
        restoreTimer->start();
    }
}

void cFlowMeterPlugin::offerPorts()
{
    QVector<PortChoice> choices;
    for (const cPortPicker::Port& p : picker->ports())
        choices.push_back(PortChoice{p.text(), p.path, p.accessible});
    setup->lines->setPortChoices(choices);
}

void cFlowMeterPlugin::onRestoreSelection()
{
    QTreeWidget* tree = topItem->treeWidget();
    const QPair<int, int> wanted(restoreLine, restoreId);
    // Loading is over once our item is in the tree and the window is unlocked; by then a
    // selection the user made wins, and after ten seconds the wish is dropped.
    const bool loaded = tree && tree->isEnabled() && items.contains(wanted);
    if (--restoreTries <= 0 || (loaded && tree->currentItem())) {
        restoreTimer->stop();
        return;
    }
    if (!loaded)
        return;
    restoreTimer->stop();
    log("Showing %s again", local(items.value(wanted)->text(0)).constData());
    tree->setCurrentItem(items.value(wanted), 0);
}

void cFlowMeterPlugin::saveSettings()
{
    // Save from the setup page commits its fields; at unload (thread stopped) only what was
    // saved before is written, never a half-edited page.
    if (setupOpen && running) {
        FlowConfig c = config;
        c.lines = setup->lines->lines();
        c.dampingTenths = int(std::lround(setup->damping->value() * 10));
        if (mainWindow->factoryMode)
            c.calibration = float(setup->calibration->value());
        c.units = setup->units->units();
        c.recording = setup->recording->recording();
        c.recording.on = config.recording.on;
        // Two meters at one id would mix their readings, two lines on one port fight over it:
        // such a setup is not taken at all, not even its other fields. What was entered is
        // kept for the page's next opening, problems and all.
        // Nor is a recording folder that is no place for files of ours.
        const QVector<Reason> reasons = setup->lines->conflicts();
        const QString badFolder = RecordingConfig::folderProblemLogText(c.recording.folder);
        if (!reasons.isEmpty() || !badFolder.isEmpty()) {
            refused = c;
            QStringList conflicts;
            for (const Reason& why : reasons) {
                log("Setup not saved: %s", local(why.english()).constData());
                conflicts << why.text();
            }
            if (!badFolder.isEmpty()) {
                log("Setup not saved: the recording folder %s", local(badFolder).constData());
                conflicts << setup->recording->problem();
            }
            emit mainWindow->statusBarMsgSignal(
                QCoreApplication::translate("FlowMeter", "Flow meter: setup not saved: %1").arg(conflicts.join(" ")));
            return;
        }
        if (selectedLine >= c.lines.size()) {
            selectedLine = 0;
            selectedId = 0;
        }
        const RecordingConfig was = config.recording;
        // Only what the user changed goes to the meters: a meter keeps every setting of its
        // own that this Save did not touch (another make's damping, set at its panel).
        if (c.dampingTenths != config.dampingTenths)
            owedDamping = c.dampingTenths;
        if (mainWindow->factoryMode && c.calibration != config.calibration)
            owedCalibration = c.calibration;
        applyConfig(c);
        if (takeMqttSetup())
            startMqtt(mqttConfig);
        if (c.recording.on && (c.recording.path() != was.path() || c.recording.intervalS != was.intervalS))
            startRecording(false);
    }
    FlowConfig c = config;
    // The meter on show is shown again at the next start.
    c.selectedLine = selectedLine;
    c.selectedId = selectedId;
    QSettings s("Tessmark", "Corvane");
    FlowSettings::save(s, c, true);
    FlowSettings::saveMqtt(s, mqttConfig);
    s.sync();
    // A folder the user cannot write would otherwise lose the change without a word until the
    // next start. The setup keeps what was entered: it is in use, and saved again at unload.
    // (A store that did not parse keeps its FormatError after a good write; only a failed write
    // is an access error.)
    if (s.status() == QSettings::AccessError) {
        log("Settings could not be saved to %s", local(s.fileName()).constData());
        emit mainWindow->statusBarMsgSignal(
            QCoreApplication::translate("FlowMeter", "Flow meter: settings could not be saved to %1").arg(s.fileName()));
        return;
    }
    const LineConfig first = c.lines.value(0);
    log("Settings saved: port %s, unit ids %s, line %s", local(first.port).constData(),
        IdList::text(idsOf(first)).toLatin1().constData(), first.line.text().c_str());
    for (int i = 1; i < c.lines.size(); ++i)
        log("Settings saved: line %d: port %s, unit ids %s, line %s", i + 1, local(c.lines[i].port).constData(),
            IdList::text(idsOf(c.lines[i])).toLatin1().constData(), c.lines[i].line.text().c_str());
}

void cFlowMeterPlugin::prepareSetup()
{
    // A setup refused at Save comes back as it was entered, with what is wrong with it.
    const FlowConfig c = refused.value_or(config);
    refused.reset();
    offerPorts();
    setup->lines->setLines(c.lines);
    setup->lines->setCurrentLine(c.lines.isEmpty() ? -1 : std::clamp(selectedLine, 0, int(c.lines.size()) - 1));
    setup->damping->setValue(c.dampingTenths / 10.0);
    setup->calibration->setValue(c.calibration);
    mqttEditor->setSettings(mqttConfig);
    setup->setFactoryMode(mainWindow->factoryMode);
    setup->units->setUnits(c.units);
    setup->recording->setRecording(c.recording);
    setup->limit->setUnits(c.units);
    // The limit of the meter on show, as last read.
    const QPair<int, int> shown = shownMeter();
    LinePoller* p = poller(shown.first);
    const QMap<int, MeterState> units = p ? p->units() : QMap<int, MeterState>();
    const MeterModel* model = units.contains(shown.second) ? loader.model(units.value(shown.second).model) : nullptr;
    if (model)
        setup->limit->setMeter(*model, units.value(shown.second));
    else
        setup->limit->clear();
    setupOpen = true;
    // The host shows the page after this returns; the cursor waits in the first field, so a
    // keyboard user can go down the form with Tab.
    QTimer::singleShot(0, setup->lines->port, [this] {
        if (!setupOpen)
            return;
        if (setup->lines->port->isEnabled())
            setup->lines->port->setFocus(Qt::OtherFocusReason);
        else
            setup->lines->addLineButton->setFocus(Qt::OtherFocusReason);
    });
}

void cFlowMeterPlugin::acceptSetup()
{
    setupOpen = false;
    const std::optional<int> damping = std::exchange(owedDamping, std::nullopt);
    const std::optional<float> calibration = std::exchange(owedCalibration, std::nullopt);
    // A refused setup changed nothing: nothing to write, no tree to rebuild.
    if (refused)
        return;
    {
        std::lock_guard<std::mutex> g(pollersMutex);
        for (auto& p : pollers)
            p->requestSetupWrites(damping, calibration);
    }
    // The host unlocks the window after this returns; a tree rebuild asked for now would be
    // dropped while it is still locked.
    QTimer::singleShot(0, this, [this] { emit mainWindow->updateTreeSignal(this); });
}

void cFlowMeterPlugin::rejectSetup()
{
    setupOpen = false;
    refused.reset();
    prepareSetup();
    setupOpen = false;
}

void cFlowMeterPlugin::retranslate()
{
    // Numbers in the language of the texts (a decimal comma in Swedish); never grouped, so that
    // a total reads the same on the page as in the log.
    locale = translator.language().isEmpty() ? QLocale::system() : QLocale(translator.language());
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    setup->limit->setLocale(locale);
    info->values->setLocale(locale);
    display->trend->setLocale(locale);
    description = QCoreApplication::translate(
        "FlowMeter", "MODBUS RTU flow meters on a serial line: flow, totalizer, temperature and alarms");
    display->retranslate();
    info->retranslate();
    mqttEditor->retranslate();
    setup->retranslate();
    retranslateAlarmList();
    updateActions();
    if (resetAction)
        resetAction->setText(QCoreApplication::translate("FlowMeter", "Reset totalizer"));
    showRecording();
    for (auto it = items.begin(); it != items.end(); ++it)
        for (const MeterConfig& m : config.lines.value(it.key().first).meters)
            if (m.id == it.key().second)
                it.value()->setText(0, m.shownName());
    refreshPages();
    reportedState.clear();
    reportDeviceState();
}

void cFlowMeterPlugin::selectItem(QTreeWidgetItem* item)
{
    selectedLine = 0;
    selectedId = 0;
    if (item && item->parent() == topItem) {
        selectedLine = lineItems.indexOf(item);
    } else if (item && item->parent() && item->parent()->parent() == topItem) {
        selectedLine = lineItems.indexOf(item->parent());
        selectedId = item->text(2).toInt();
    }
    if (selectedLine < 0)
        selectedLine = 0;
    refreshPages();
}

void cFlowMeterPlugin::deselect()
{
}

void cFlowMeterPlugin::lockGui(bool lock)
{
    guiLocked = lock;
    updateActions();
}

void cFlowMeterPlugin::updateActions()
{
    // A reset asked for during a scan would wait, with the GUI held, until the scan ended: it
    // is offered again once the scan is done.
    if (scanAction) {
        scanAction->setEnabled(!guiLocked);
        scanAction->setText(scanning ? QCoreApplication::translate("FlowMeter", "Cancel scan")
                                     : QCoreApplication::translate("FlowMeter", "Scan bus"));
    }
    if (resetAction)
        resetAction->setEnabled(!guiLocked && !scanning);
}

void cFlowMeterPlugin::mkItemTree()
{
    items.clear();
    lineItems.clear();
    qDeleteAll(topItem->takeChildren());
    for (int i = 0; i < config.lines.size(); ++i) {
        const LineConfig& l = config.lines[i];
        auto* lineItem = new QTreeWidgetItem(QStringList{l.port, QString::fromStdString(l.line.text()), QString()});
        lineItem->setIcon(0, QIcon(kIconOffline));
        topItem->addChild(lineItem);
        lineItems << lineItem;
        for (const MeterConfig& m : l.meters) {
            auto* item = new QTreeWidgetItem(QStringList{m.shownName(), QString(), QString::number(m.id)});
            item->setIcon(0, QIcon(kIconOffline));
            lineItem->addChild(item);
            items.insert(qMakePair(i, m.id), item);
        }
    }
    // The host finds a selection again among its plug-ins' children only; a meter is one level
    // further down, so the plug-in puts it back itself.
    if (QTreeWidget* tree = topItem->treeWidget()) {
        for (QTreeWidgetItem* lineItem : lineItems)
            lineItem->setExpanded(true);
        if (QTreeWidgetItem* item = items.value(qMakePair(selectedLine, selectedId)))
            tree->setCurrentItem(item, 0);
    }
    refreshTree();
}

void cFlowMeterPlugin::mkPluginMenu(QMenu* menu, QToolBar* toolBar)
{
    scanAction = new QAction(QIcon(":/Menu/Pixmaps/id.png"), QCoreApplication::translate("FlowMeter", "Scan bus"), menu);
    scanAction->setObjectName("flowmeterScanBus");
    resetAction = new QAction(QIcon(":/Other/Pixmaps/m3.png"), QCoreApplication::translate("FlowMeter", "Reset totalizer"), menu);
    resetAction->setObjectName("flowmeterResetTotalizer");
    connect(scanAction, &QAction::triggered, this, &cFlowMeterPlugin::onScanBus);
    connect(resetAction, &QAction::triggered, this, &cFlowMeterPlugin::onResetTotalizer);
    // The actions die with the menu when the host rebuilds it.
    connect(scanAction, &QObject::destroyed, this, [this] { scanAction = nullptr; });
    connect(resetAction, &QObject::destroyed, this, [this] { resetAction = nullptr; });
    updateActions();
    menu->addAction(scanAction);
    menu->addAction(resetAction);
    if (toolBar) {
        toolBar->addAction(scanAction);
        toolBar->addAction(resetAction);
    }
    recordAction = new QAction(QIcon(":/Other/Pixmaps/online.png"), QString(), menu);
    recordAction->setObjectName("flowmeterRecord");
    connect(recordAction, &QAction::triggered, this, &cFlowMeterPlugin::onRecordAction);
    connect(recordAction, &QObject::destroyed, this, [this] { recordAction = nullptr; });
    menu->addAction(recordAction);
    if (toolBar)
        toolBar->addAction(recordAction);
    showRecording();
}

void cFlowMeterPlugin::onScanBus()
{
    // While a scan runs the action cancels it.
    if (scanning) {
        LinePoller* p = poller(scanLine);
        if (!p || p->cancelScan()) {
            // The line's thread had not started it yet.
            log("Scan cancelled before it began");
            onScanDone(scanLine, QString(), QCoreApplication::translate("FlowMeter", "cancelled"));
        }
        return;
    }
    // The line of the selection is scanned.
    scanLine = selectedLine;
    LinePoller* p = poller(scanLine);
    if (!p)
        return;
    scanning = true;
    updateActions();
    emit mainWindow->statusBarProgressSignal(QCoreApplication::translate("FlowMeter", "Scanning the bus"), 0);
    p->requestScan();
}

void cFlowMeterPlugin::onScanProgress(int line, int percent)
{
    if (scanning && line == scanLine)
        emit mainWindow->statusBarProgressSignal(QCoreApplication::translate("FlowMeter", "Scanning the bus"), percent);
}

void cFlowMeterPlugin::onScanDone(int line, QString found, QString failure)
{
    if (!scanning || line != scanLine)
        return;
    scanning = false;
    updateActions();
    const QString text =
        !failure.isEmpty()
            ? QCoreApplication::translate("FlowMeter", "Scan stopped: %1").arg(failure)
            : QCoreApplication::translate("FlowMeter", "Scan found: %1")
                  .arg(found.isEmpty() ? QCoreApplication::translate("FlowMeter", "no meter") : found);
    emit mainWindow->statusBarProgressSignal(text, -1);
    emit mainWindow->statusBarMsgSignal(text);
    // An empty bus leaves the configured ids alone: the meters may simply be switched off.
    if (failure.isEmpty() && !found.isEmpty() && line < config.lines.size()) {
        FlowConfig c = config;
        c.lines[line].meters = metersFor(c.lines[line], IdList::parse(found));
        applyConfig(c);
        emit mainWindow->updateTreeSignal(this);
    }
}

void cFlowMeterPlugin::onResetTotalizer()
{
    if (actionBusy)
        return;
    QString which = QCoreApplication::translate("FlowMeter", "all meters");
    if (selectedId)
        for (const MeterConfig& m : config.lines.value(selectedLine).meters)
            if (m.id == selectedId)
                which = m.shownName();
    const auto answer = QMessageBox::question(mainWindow, QCoreApplication::translate("FlowMeter", "Reset totalizer"),
                                              QCoreApplication::translate("FlowMeter", "Reset the totalizer of %1 to zero?").arg(which),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    actionBusy = true;
    resetOk = true;
    resetFailure.clear();
    resetsPending = 0;
    // The GUI is held with the application lock for as long as the reset runs. The host's
    // action lock would not do: it waits only while the window's own port runs, and the
    // host never starts that port, so it would let go at once.
    emit mainWindow->appLockSignal(true);
    emit mainWindow->statusBarMsgSignal(QCoreApplication::translate("FlowMeter", "Resetting the totalizer"));
    {
        std::lock_guard<std::mutex> g(pollersMutex);
        for (auto& p : pollers) {
            if (selectedId && p->index() != selectedLine)
                continue;
            ++resetsPending;
            p->requestReset(selectedId);
        }
    }
    if (resetsPending == 0)
        finishReset(false, QCoreApplication::translate("FlowMeter", "no meter"));
}

void cFlowMeterPlugin::onResetDone(int, bool ok, QString failure)
{
    if (!actionBusy || resetsPending <= 0)
        return;
    if (!ok && resetOk) {
        resetOk = false;
        resetFailure = failure;
    }
    if (--resetsPending == 0)
        finishReset(resetOk, resetFailure);
}

void cFlowMeterPlugin::finishReset(bool ok, const QString& failure)
{
    if (!actionBusy)
        return;
    actionBusy = false;
    resetsPending = 0;
    emit mainWindow->statusBarMsgSignal(ok ? QCoreApplication::translate("FlowMeter", "Totalizer reset")
                                           : QCoreApplication::translate("FlowMeter", "Totalizer reset failed: %1").arg(failure));
    emit mainWindow->appLockSignal(false);
}

void cFlowMeterPlugin::deinit()
{
    stopAndWait();
    stopLines();
    histories->stop();
    // A reset a line's thread never got to must not leave the GUI locked.
    if (actionBusy)
        finishReset(false, QCoreApplication::translate("FlowMeter", "unloaded"));
    closePorts();
    // Meters no longer read are nobody's worry in the header.
    mainWindow->setDeviceState(name, 0, QString());
    reportedState.clear();
    reportedSeverity = 0;
    // The recording stays on in the settings: it goes on at the next start.
    loggerTimer->stop();
    recorder->flush();
    alarms->flush();
    internetTimer->stop();
    mqtt->stop();
}

// ---- GUI side of the ports: the registry is the GUI thread's.

void cFlowMeterPlugin::onPortWanted(int)
{
    // Asked for just before the lines stopped with this plug-in's thread: nobody reads it now.
    if (!running)
        return;
    // Every line that waits is served, whatever index the signal carries: a line's index moves
    // when a line above it is removed, and the signal may have been sent before.
    for (int line = 0;; ++line) {
        LinePoller* p = poller(line);
        if (!p)
            break;
        if (p->wantsPort())
            openPortOf(line, p);
    }
    refreshPages();
}

void cFlowMeterPlugin::openPortOf(int line, LinePoller* p)
{
    const LineConfig c = p->config();
    const QString path = c.port;
    if (cSerial* old = p->takePort())
        mainWindow->closePort(old);
    cOpenError why;
    cSerial* port = mainWindow->openPort(path.toLocal8Bit().toStdString(), c.line, &why);
    if (port) {
        log("Opened port %s at %s", local(path).constData(), c.line.text().c_str());
        p->portOpened(port);
        failedOpenOf.remove(line);
    } else {
        // Tried again every second until the device is there: said once in the log, and the
        // registry's "Opening: " in the status bar is followed by what came of it.
        const Reason failure = openErrorText(why);
        const QString words = failure.text();
        p->portFailed(failure);
        if (failedOpenOf.value(line) != path + words) {
            log("Cannot open port %s; trying again every second", local(path).constData());
            if (why.failed())
                log("Port %s: %s", local(path).constData(), why.text().c_str());
        }
        failedOpenOf[line] = path + words;
        emit mainWindow->statusBarMsgSignal(
            words.isEmpty()
                ? QCoreApplication::translate("FlowMeter", "Flow meter: port %1 cannot be opened; trying again").arg(path)
                : QCoreApplication::translate("FlowMeter", "Flow meter: port %1 cannot be opened (%2); trying again")
                      .arg(path, words));
    }
}

// ---- GUI side of the readings.

QPair<int, int> cFlowMeterPlugin::shownMeter() const
{
    if (selectedId)
        return qMakePair(selectedLine, selectedId);
    const LineConfig l = config.lines.value(selectedLine);
    return qMakePair(selectedLine, l.meters.isEmpty() ? 0 : l.meters.front().id);
}

void cFlowMeterPlugin::onLineChanged(int line)
{
    if (LinePoller* p = poller(line))
        histories->feed(line, p->units(), loader);
    refreshTree();
    reportDeviceState();
    if (line == shownMeter().first)
        refreshPages();
}

void cFlowMeterPlugin::refreshTree()
{
    const ValueFormat shown = format();
    for (int i = 0; i < lineItems.size(); ++i) {
        LinePoller* p = poller(i);
        if (!p)
            continue;
        const QMap<int, MeterState> copy = p->units();
        bool anyOnline = false;
        for (auto it = copy.begin(); it != copy.end(); ++it) {
            const MeterState& u = it.value();
            anyOnline = anyOnline || u.online;
            QTreeWidgetItem* item = items.value(qMakePair(i, it.key()));
            const MeterModel* model = loader.model(u.model);
            if (!item || !model)
                continue;
            const int serial = model->indexOf(ValueRole::SerialNumber);
            if (u.seen && serial >= 0 && serial < u.values.size() && std::isfinite(u.values[serial])) {
                // As the pages show it: a u64 to its last digit, and no number a long long
                // cannot hold pushed through llround.
                const ModelValue& v = model->values[serial];
                QString text = serial < u.wholes.size() ? shown.wholeText(v, u.wholes[serial]) : QString();
                if (text.isEmpty())
                    text = shown.text(v, u.values[serial], ReadingCheck::Valid);
                if (item->text(1) != text)
                    item->setText(1, text);
            }
            const int a = model->indexOf(ValueRole::AlarmBits);
            const bool alarm = a >= 0 && a < u.values.size() && ValueFormat::alarmSet(model->values[a], u.values[a]);
            // A meter without a valid measurement wants attention as an alarm does.
            const QString icon = !u.online ? kIconOffline : (alarm || !u.readingValid() ? kIconAlarm : kIconOnline);
            // Only a change is sent: the host rebuilds the icon from the file each time.
            if (item->data(0, Qt::UserRole).toString() != icon) {
                item->setData(0, Qt::UserRole, icon);
                emit mainWindow->updatePluginItemSignal(item, icon, true);
            }
        }
        QTreeWidgetItem* lineItem = lineItems[i];
        const QString icon = anyOnline ? kIconOnline : kIconOffline;
        if (lineItem->data(0, Qt::UserRole).toString() != icon) {
            lineItem->setData(0, Qt::UserRole, icon);
            emit mainWindow->updatePluginItemSignal(lineItem, icon, true);
        }
    }
}

void cFlowMeterPlugin::refreshPages()
{
    const QPair<int, int> shown = shownMeter();
    LinePoller* p = poller(shown.first);
    if (!p) {
        display->showNone();
        return;
    }
    const LineConfig l = p->config();
    const QString failure = p->openFailure().text();
    const QString line = QString::fromStdString(l.line.text());
    info->line->setText(failure.isEmpty() ? line
                                          : QCoreApplication::translate("FlowMeter", "%1, not open: %2").arg(line, failure));
    const QMap<int, MeterState> units = p->units();
    if (!units.contains(shown.second)) {
        display->showNone();
        return;
    }
    MeterConfig meter{shown.second, QString(), QString()};
    for (const MeterConfig& m : l.meters)
        if (m.id == shown.second)
            meter = m;
    const MeterState& u = units[shown.second];
    const MeterModel* model = loader.model(u.model);
    const ValueFormat f = format();
    display->show(model, u, meter.shownName(), f);
    showHistory(shown, model, f);
    info->show(model, u, l.port, l.periodMs, f);
}

// ---- The alarm limit, from the setup page.

void cFlowMeterPlugin::onLimitWanted(double value)
{
    const QPair<int, int> shown = shownMeter();
    LinePoller* p = poller(shown.first);
    const QMap<int, MeterState> units = p ? p->units() : QMap<int, MeterState>();
    const MeterModel* model = units.contains(shown.second) ? loader.model(units.value(shown.second).model) : nullptr;
    const ModelValue* limit = model ? model->find(ValueRole::AlarmLimit) : nullptr;
    Reason why;
    // Checked here as the meter will take it, so that a refusal is said before anything is sent.
    if (!limit)
        why = Reason(QT_TRANSLATE_NOOP("FlowMeter", "the meter's model has no alarm limit"));
    else if (ValueCodec::encode(*limit, value, &why).empty() && why.isEmpty())
        why = Reason(QT_TRANSLATE_NOOP("FlowMeter", "not a value the meter can take"));
    if (!why.isEmpty()) {
        log("Alarm limit %s not written: %s", local(QString::number(value)).constData(), local(why.english()).constData());
        emit mainWindow->statusBarMsgSignal(
            QCoreApplication::translate("FlowMeter", "Alarm limit not written: %1").arg(why.text()));
        return;
    }
    p->requestWrite(shown.second, ValueRole::AlarmLimit, value);
}

void cFlowMeterPlugin::onWriteDone(int line, int id, bool ok, QString failure)
{
    QString which = QCoreApplication::translate("FlowMeter", "Meter %1").arg(id);
    for (const MeterConfig& m : config.lines.value(line).meters)
        if (m.id == id)
            which = m.shownName();
    emit mainWindow->statusBarMsgSignal(
        ok ? QCoreApplication::translate("FlowMeter", "%1: alarm limit written").arg(which)
           : QCoreApplication::translate("FlowMeter", "%1: alarm limit not written (%2)").arg(which, failure));
}

// ---- The meters' worst state, for the host's header.

void cFlowMeterPlugin::reportDeviceState()
{
    QStringList alarms;
    QStringList offline;
    QStringList invalid;
    for (int i = 0; i < config.lines.size(); ++i) {
        LinePoller* p = poller(i);
        if (!p)
            continue;
        const QMap<int, MeterState> units = p->units();
        const QSet<int> away = p->offlineIds();
        for (const MeterConfig& m : config.lines[i].meters) {
            if (!units.contains(m.id))
                continue;
            const MeterState& u = units[m.id];
            const MeterModel* model = loader.model(u.model);
            const QString name = m.shownName();
            // A meter away keeps the alarm it had: nothing says it is over.
            const int a = model ? model->indexOf(ValueRole::AlarmBits) : -1;
            const quint64 bits = a >= 0 && a < u.values.size() ? ValueFormat::alarmBits(model->values[a], u.values[a]) : 0;
            if (bits)
                alarms << QString("%1 (%2)").arg(name, ValueFormat::alarmWords(model->values[a], bits, true));
            if (!model || away.contains(m.id))
                offline << name;
            else if (u.online && !u.readingValid())
                invalid << name;
        }
    }
    int severity = 0;
    QString text;
    if (!alarms.isEmpty()) {
        severity = 2;
        text = alarms.size() == 1
                   ? QCoreApplication::translate("FlowMeter", "Alarm: %1").arg(alarms.front())
                   : QCoreApplication::translate("FlowMeter", "Alarm: %1 and %2 more").arg(alarms.front()).arg(alarms.size() - 1);
    } else if (!offline.isEmpty() || !invalid.isEmpty()) {
        severity = 1;
        QStringList parts;
        if (offline.size() == 1)
            parts << QCoreApplication::translate("FlowMeter", "%1 offline").arg(offline.front());
        else if (offline.size() > 1)
            parts << QCoreApplication::translate("FlowMeter", "%1 meters offline").arg(offline.size());
        if (invalid.size() == 1)
            parts << QCoreApplication::translate("FlowMeter", "%1: no valid reading").arg(invalid.front());
        else if (invalid.size() > 1)
            parts << QCoreApplication::translate("FlowMeter", "%1 meters without a valid reading").arg(invalid.size());
        text = parts.join(", ");
    }
    if (severity == reportedSeverity && text == reportedState)
        return;
    reportedSeverity = severity;
    reportedState = text;
    mainWindow->setDeviceState(name, severity, text);
}

// ---- Recording.

void cFlowMeterPlugin::onRecordAction()
{
    if (recorder->running())
        stopRecording();
    else
        startRecording(true);
}

void cFlowMeterPlugin::startRecording(bool save)
{
    config.recording.on = true;
    if (save) {
        QSettings s("Tessmark", "Corvane");
        FlowSettings::saveRecording(s, config.recording);
    }
    const QString folder = config.recording.path();
    recorder->start(folder);
    armLoggerTimer();
    emit mainWindow->statusBarMsgSignal(QCoreApplication::translate("FlowMeter", "Recording every %1 s to %2")
                                            .arg(config.recording.intervalS)
                                            .arg(folder));
}

void cFlowMeterPlugin::stopRecording()
{
    config.recording.on = false;
    QSettings s("Tessmark", "Corvane");
    FlowSettings::saveRecording(s, config.recording);
    loggerTimer->stop();
    recorder->stop();
    emit mainWindow->statusBarMsgSignal(QCoreApplication::translate("FlowMeter", "Recording stopped"));
}

void cFlowMeterPlugin::armLoggerTimer()
{
    const qint64 interval = config.recording.intervalMs();
    const QDateTime now = QDateTime::currentDateTime();
    const qint64 local = now.toMSecsSinceEpoch() + qint64(now.offsetFromUtc()) * 1000;
    // Half an interval ahead: a tick a little early for its round time is not given a second
    // one right after it.
    const qint64 next = ((local + interval / 2) / interval + 1) * interval;
    loggerTimer->start(int(next - local));
}

void cFlowMeterPlugin::loggerTimerTick()
{
    if (!recorder->running()) {
        loggerTimer->stop();
        return;
    }
    QVector<Recorder::Line> lines;
    for (int i = 0;; ++i) {
        LinePoller* p = poller(i);
        if (!p)
            break;
        lines << Recorder::Line{p->config(), p->units()};
    }
    recorder->tick(QDateTime::currentDateTime(), lines, loader.models(), config.units);
    armLoggerTimer();
}

void cFlowMeterPlugin::showRecording()
{
    const bool on = recorder && recorder->running();
    if (recordAction)
        recordAction->setText(on ? QCoreApplication::translate("FlowMeter", "Stop recording")
                                 : QCoreApplication::translate("FlowMeter", "Start recording"));
    if ((!on && !recordMark) || !mainWindow)
        return;
    if (!recordMark) {
        recordMark = new QLabel;
        recordMark->setObjectName("flowmeterRecordingMark");
        mainWindow->statusBar()->addPermanentWidget(recordMark);
    }
    recordMark->setVisible(on);
    const bool failing = on && recorder->failing();
    recordMark->setProperty("failing", failing);
    recordMark->setText(QString::fromUtf8("\u25CF ") + QCoreApplication::translate("FlowMeter", "Recording"));
    // Red, and bold for whoever does not tell red apart, while nothing is written.
    recordMark->setStyleSheet(failing ? "QLabel { color: #d32f2f; font-weight: bold; }" : QString());
    recordMark->setToolTip(failing ? QCoreApplication::translate("FlowMeter", "Recording stopped: %1").arg(recorder->error())
                                   : QCoreApplication::translate("FlowMeter", "Recording every %1 s to %2")
                                         .arg(config.recording.intervalS)
                                         .arg(recorder->folder()));
}

// ---- The alarm list.

void cFlowMeterPlugin::makeAlarmList()
{
    alarms = new AlarmLog(this);
    notifier = new DesktopNotifier(this);
    alarmView = new AlarmListView(alarms);
    // A tab beside the meter's page: whichever meter is on show, the count of entries not yet
    // acknowledged stands in the tab's title.
    displayTabs = new QTabWidget;
    displayTabs->setObjectName("flowDisplayTabs");
    displayTabs->addTab(display, QString());
    displayTabs->addTab(alarmView, alarmView->windowTitle());
    // The page was hidden as the host's page; now the tab shows it.
    display->setVisible(true);
    displayWidget = displayTabs;
    displayWidget->hide();
    connect(alarmView, &QWidget::windowTitleChanged, displayTabs, [this](const QString& title) {
        const int tab = displayTabs->indexOf(alarmView);
        displayTabs->setTabText(tab, title);
        displayTabs->setTabIcon(tab, alarms->unacknowledged() > 0 ? QIcon(kIconAlarm) : QIcon());
    });
    connect(this, &cFlowMeterPlugin::meterEvent, alarms, &AlarmLog::onMeterEvent);
    connect(alarms, &AlarmLog::raised, notifier, &DesktopNotifier::onRaised);
    auto toLog = [this](const QString& line) { log("%s", local(line).constData()); };
    connect(alarms, &AlarmLog::logLine, this, toLog);
    connect(notifier, &DesktopNotifier::logLine, this, toLog);
    // The recorder's failures are alarms of the plug-in's own, ended when it writes again.
    connect(recorder, &Recorder::failed, alarms, &AlarmLog::raiseGeneral);
    connect(recorder, &Recorder::resumed, alarms, &AlarmLog::endAllGeneral);
    retranslateAlarmList();
}

void cFlowMeterPlugin::retranslateAlarmList()
{
    displayTabs->setTabText(displayTabs->indexOf(display), QCoreApplication::translate("FlowMeter", "Meter"));
    alarmView->retranslate();
    displayTabs->setTabText(displayTabs->indexOf(alarmView), alarmView->windowTitle());
}

// ---- Entry points.

CORVANE_PLUGIN_EXPORT bool pluginVersionOK(cMainWindow* window)
{
    return window && QString::number(window->appVersion, 'f', 1) == CORVANE_SDK_VERSION;
}

CORVANE_PLUGIN_EXPORT cPlugin* createInstance(cMainWindow* window)
{
    return new cFlowMeterPlugin(window);
}

CORVANE_PLUGIN_EXPORT void killInstance(cPlugin* plugin)
{
    delete plugin;
}

// ---- History and trend.

void cFlowMeterPlugin::showHistory(QPair<int, int> meter, const MeterModel* model, const ValueFormat& f)
{
    const ModelValue* flow = model ? model->find(ValueRole::FlowRate) : nullptr;
    display->trend->setHistory(histories->of(meter.first, meter.second),
                               flow ? f.shownUnit(*flow) : DisplayUnit::CubicMetrePerHour);
}

void cFlowMeterPlugin::onHistoryLoaded(int files, int skipped, QStringList problems)
{
    for (const QString& p : problems)
        log("Recording not read back: %s", local(p).constData());
    // Said only where there were recordings: a program that never recorded stays quiet.
    if (files > 0 && skipped > 0)
        log("History read back from %d recording file(s); %d damaged line(s) skipped", files, skipped);
    else if (files > 0)
        log("History read back from %d recording file(s)", files);
    refreshPages();
}

// ---- Publishing to an MQTT broker.

const char* const cFlowMeterPlugin::kMqttSecretKey = "flowmeter/mqtt/password";

void cFlowMeterPlugin::startMqtt(const MqttSettings& settings)
{
    if (!settings.enabled || settings.host.isEmpty()) {
        internetTimer->stop();
        mqtt->stop();
        if (settings.enabled)
            log("MQTT: on, but no broker host is set: nothing is published");
        return;
    }
    MqttSettings m = settings;
    // A station without a desktop gets it from its service's environment; never logged.
    const QByteArray fromEnvironment = qgetenv("CORVANE_FLOWMETER_MQTT_PASSWORD");
    if (m.password.isEmpty() && !fromEnvironment.isEmpty()) {
        m.password = QString::fromUtf8(fromEnvironment);
        log("MQTT: the password is taken from the environment");
    }
    mqtt->start(m, QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
                       .filePath("Tessmark/Corvane/mqtt"));
    // Each meter's first reading goes out at once rather than an interval from now.
    giveMqttLines(true);
    internetTimer->start(std::clamp(m.publishIntervalS, 1, 3600) * 1000);
}

void cFlowMeterPlugin::giveMqttLines(bool first)
{
    QVector<MqttPublisher::Line> lines;
    for (int i = 0;; ++i) {
        LinePoller* p = poller(i);
        if (!p)
            break;
        lines << MqttPublisher::Line{p->config(), p->units()};
    }
    if (first)
        mqtt->begin(lines, loader.models(), format());
    else
        mqtt->tick(lines, loader.models(), format());
}

void cFlowMeterPlugin::internetTimerTick()
{
    if (!mqtt->running()) {
        internetTimer->stop();
        return;
    }
    giveMqttLines(false);
}

void cFlowMeterPlugin::showMqtt()
{
    const QString text = mqtt ? mqtt->statusText() : QString();
    if ((text.isEmpty() && !mqttMark) || !mainWindow)
        return;
    if (!mqttMark) {
        mqttMark = new QLabel;
        mqttMark->setObjectName("flowmeterMqttMark");
        mainWindow->statusBar()->addPermanentWidget(mqttMark);
    }
    mqttMark->setVisible(!text.isEmpty());
    mqttMark->setText(text);
    const bool bad = mqtt->linkState() == MqttLink::State::Refused || mqtt->linkState() == MqttLink::State::TlsFailure
        || !mqtt->spoolProblemText().isEmpty();
    mqttMark->setToolTip(mqtt->spoolProblemText());
    mqttMark->setStyleSheet(bad ? "QLabel { color: #d32f2f; font-weight: bold; }" : QString());
}

bool cFlowMeterPlugin::takeMqttSetup()
{
    const QString problem = mqttEditor->problem();
    if (!problem.isEmpty()) {
        // The rest of the setup is taken; the broker's part stays as it was until it is right.
        log("Setup of MQTT not taken: %s", problem.toLocal8Bit().constData());
        emit mainWindow->statusBarMsgSignal(problem);
        return false;
    }
    MqttSettings m = mqttEditor->settings();
    if (!mqttEditor->passwordEdited()) {
        m.password = mqttConfig.password;
    } else {
        QString error;
        const bool kept = m.password.isEmpty() ? secrets->remove(kMqttSecretKey, &error)
                                               : secrets->write(kMqttSecretKey, m.password, &error);
        if (kept && !m.password.isEmpty()) {
            log("MQTT: the password is kept in %s", secrets->where().toLocal8Bit().constData());
        } else if (!kept) {
            // Still used until the program ends: the connection need not wait for the store.
            const QString why = QCoreApplication::translate("FlowMeter", "MQTT: the password could not be stored: %1")
                                    .arg(error);
            log("%s", why.toLocal8Bit().constData());
            emit mainWindow->statusBarMsgSignal(why);
        }
    }
    mqttConfig = m;
    return true;
}
