// The flow-meter plug-in: MODBUS RTU flow meters on one serial line (docs/flowmeter.md has
// the register map). Built with the SDK like any outside plug-in.
#include "FlowMeterPlugin.h"
#include "ModbusRtu.h"
#include "SettingsReader.h"

#include <core/cLog.h>
#include <gui/cMainWindow.h>
#include <serial/cPortPicker.h>
#include <serial/cSerial.h>

#include <QAction>
#include <QCoreApplication>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSettings>
#include <QSpinBox>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidgetItem>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <limits>
#include <thread>

namespace {

const char* const kSettingsGroup = "FlowMeter";
const char* const kDefaultPort = "/dev/ttyUSB0";
// Registers 0 to 15: the whole map in one read.
constexpr uint16_t kMapSize = 16;
// A reset totalizer has counted at most a few seconds' flow when it is read back.
constexpr float kResetConfirmedBelowM3 = 0.5f;
constexpr uint16_t kRegTotal = 2;
constexpr uint16_t kRegDamping = 11;
constexpr uint16_t kRegCommand = 12;
constexpr uint16_t kRegCalibration = 14;
// One lost frame is common on a long RS-485 line; a meter counts as away after two in a row.
constexpr int kOfflineAfter = 2;
constexpr int kReopenEveryMs = 1000;

const char* const kIconOnline = ":/Other/Pixmaps/online22.png";
const char* const kIconOffline = ":/Other/Pixmaps/offline22.png";
const char* const kIconAlarm = ":/Other/Pixmaps/alarm22.png";

// Sleeps in short steps so that a stop request is seen at once.
bool sleepWhile(const std::atomic<bool>& running, int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (running && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return running;
}

// What of a list of unit ids is left out, for the setup page and the status bar.
QString leftOutText(const QStringList& rejected)
{
    return QCoreApplication::translate("FlowMeter", "Not unit ids (1 to 247), left out: %1").arg(rejected.join(", "));
}

QString unitName(int id)
{
    return QCoreApplication::translate("FlowMeter", "Meter %1").arg(id);
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

    // Queued: these come from the poll thread and touch widgets. Made here, not with the
    // host's connection set, so that no reading is lost while the tree is rebuilt.
    connect(this, &cFlowMeterPlugin::unitsChangedSignal, this, &cFlowMeterPlugin::onUnitsChanged,
            Qt::QueuedConnection);
    connect(this, &cFlowMeterPlugin::portWantedSignal, this, &cFlowMeterPlugin::onPortWanted, Qt::QueuedConnection);
    connect(this, &cFlowMeterPlugin::scanProgressSignal, this, &cFlowMeterPlugin::onScanProgress,
            Qt::QueuedConnection);
    connect(this, &cFlowMeterPlugin::scanDoneSignal, this, &cFlowMeterPlugin::onScanDone, Qt::QueuedConnection);

    // Said while typing, not only after Save: an id that is not one would quietly drop a meter.
    connect(setup->ids, &QLineEdit::textChanged, this, [this](const QString& text) {
        QStringList rejected;
        parseIds(text, &rejected);
        setup->idsHint->setText(leftOutText(rejected));
        setup->idsHint->setVisible(!rejected.isEmpty());
    });
    picker = new cPortPicker(this);
    // An adapter plugged in or out while the setup page is open shows up in its list.
    connect(picker, &cPortPicker::portsChanged, this, &cFlowMeterPlugin::offerPorts);
    restoreTimer = new QTimer(this);
    restoreTimer->setInterval(100);
    connect(restoreTimer, &QTimer::timeout, this, &cFlowMeterPlugin::onRestoreSelection);
}

cFlowMeterPlugin::~cFlowMeterPlugin()
{
    stopAndWait();
    if (cSerial* p = port.exchange(nullptr))
        mainWindow->closePort(p);
    delete topItem;
}

void cFlowMeterPlugin::log(const char* format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    cLog::line(outStream(), "%s plugin: %s", name.toLatin1().constData(), line);
}

std::vector<int> cFlowMeterPlugin::parseIds(const QString& text, QStringList* rejected)
{
    static const QRegularExpression aroundDash("\\s*-\\s*");
    static const QRegularExpression separators("[,;\\s]+");
    static const QRegularExpression range("^(\\d{1,3})-(\\d{1,3})$");
    std::vector<int> ids;
    auto add = [&ids](int id) {
        if (std::find(ids.begin(), ids.end(), id) == ids.end())
            ids.push_back(id);
    };
    QString normal = text;
    normal.replace(aroundDash, "-");
    for (const QString& part : normal.split(separators, Qt::SkipEmptyParts)) {
        bool ok = false;
        const int id = part.toInt(&ok);
        if (ok && id >= 1 && id <= 247) {
            add(id);
            continue;
        }
        const QRegularExpressionMatch m = range.match(part);
        const int first = m.captured(1).toInt();
        const int last = m.captured(2).toInt();
        if (m.hasMatch() && first >= 1 && first <= last && last <= 247) {
            for (int i = first; i <= last; ++i)
                add(i);
            continue;
        }
        if (rejected)
            *rejected << part;
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

QString cFlowMeterPlugin::openErrorText(const cOpenError& e)
{
    const QString detail = QString::fromLocal8Bit(e.detail.c_str());
    switch (e.reason) {
    case cOpenError::None:
        return {};
    case cOpenError::NoPermission:
        return QCoreApplication::translate("FlowMeter",
                                           "no permission; on Debian: sudo adduser $USER dialout, then log in again");
    case cOpenError::NotPresent:
        return QCoreApplication::translate("FlowMeter", "not present; is the adapter plugged in?");
    case cOpenError::InUse:
        return QCoreApplication::translate("FlowMeter", "in use by another program: %1").arg(detail);
    case cOpenError::NotSerial:
        return QCoreApplication::translate("FlowMeter", "not a serial device");
    case cOpenError::OtherSettings:
        return QCoreApplication::translate("FlowMeter", "open at other line settings: %1").arg(detail);
    case cOpenError::BadSettings:
        return QCoreApplication::translate("FlowMeter", "the device refused the line settings");
    case cOpenError::Failed:
        break;
    }
    return detail;
}

QString cFlowMeterPlugin::idsText(const std::vector<int>& ids)
{
    QStringList parts;
    for (int id : ids)
        parts << QString::number(id);
    return parts.join(",");
}

FlowMeterConfig cFlowMeterPlugin::configCopy()
{
    std::lock_guard<std::mutex> g(stateMutex);
    return config;
}

void cFlowMeterPlugin::setConfig(const FlowMeterConfig& c)
{
    std::lock_guard<std::mutex> g(stateMutex);
    const bool portChanged = !config.port.isEmpty() && (c.port != config.port || c.line != config.line);
    config = c;
    answerTimeoutMs = c.answerTimeoutMs;
    QMap<int, UnitState> kept;
    for (int id : c.ids) {
        UnitState u = units.value(id);
        u.id = id;
        kept.insert(id, u);
    }
    units = kept;
    if (portChanged)
        reopenPort = true;
}

void cFlowMeterPlugin::init()
{
    setup->setFactoryMode(mainWindow->factoryMode);
    log("Ready (SDK %s)", CORVANE_SDK_VERSION);
}

void cFlowMeterPlugin::loadSettings()
{
    auto logLine = [this](const QString& line) { log("%s", line.toLocal8Bit().constData()); };
    SettingsReader::dropOverlongValues(QSettings("Tessmark", "Corvane").fileName(), kSettingsGroup, logLine);
    QSettings s("Tessmark", "Corvane");
    s.beginGroup(kSettingsGroup);
    FlowMeterConfig c;
    // On the first run the environment may name the line (make run points it at the
    // simulator); afterwards the stored setting holds.
    const QString envPort = qEnvironmentVariable("CORVANE_FLOWMETER_PORT");
    const QString envIds = qEnvironmentVariable("CORVANE_FLOWMETER_IDS");
    SettingsReader read(s, logLine);
    c.port = read.text("port", envPort.isEmpty() ? QString(kDefaultPort) : envPort);
    QStringList rejected;
    c.ids = parseIds(read.text("ids", envIds.isEmpty() ? QString("1") : envIds), &rejected);
    if (!rejected.isEmpty())
        log("Unit ids left out of the settings (not 1 to 247): %s", rejected.join(", ").toLocal8Bit().constData());
    // An id no meter can have selects nothing, rather than the nearest meter.
    const int selected = read.integer("selected", 0, 0, std::numeric_limits<int>::max());
    restoreId = selected <= 247 ? selected : 0;
    c.periodMs = read.integer("period", 200, 50, 60000);
    c.answerTimeoutMs = read.integer("timeout", 100, 20, kLongestAnswerTimeoutMs);
    // Each figure on its own: a wrong parity must not also throw away a good rate.
    const int baud = read.integer("baud", 9600, 1200, 230400);
    if (cLineSettings::isStandardRate(uint32_t(baud)))
        c.line.baud = uint32_t(baud);
    else
        log("Setting baud: %d is not a standard rate; 9600 is used", baud);
    c.line.dataBits = uint8_t(read.integer("dataBits", 8, 7, 8));
    const QString parity = read.text("parity", "N").trimmed().toUpper();
    if (parity == "N" || parity == "E" || parity == "O")
        c.line.parity = parity.at(0).toLatin1();
    else
        log("Setting parity: '%s' is not N, E or O; N is used", parity.left(20).toLocal8Bit().constData());
    c.line.stopBits = uint8_t(read.integer("stopBits", 1, 1, 2));
    c.dampingTenths = read.integer("damping", 10, 0, 600);
    c.calibration = float(read.real("calibration", 1.0, 0.5, 2.0));
    s.endGroup();
    setConfig(c);
    log("Port %s, unit ids %s, poll period %d ms, answer time-out %d ms", c.port.toLocal8Bit().constData(),
        idsText(c.ids).toLatin1().constData(), c.periodMs, c.answerTimeoutMs);
    log("Line %s", c.line.text().c_str());
    if (!running)
        startHandler(TYPE_PLAIN, this, "FLOWMETER");
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
    setup->setPortChoices(choices);
}

void cFlowMeterPlugin::onRestoreSelection()
{
    QTreeWidget* tree = topItem->treeWidget();
    // Loading is over once our item is in the tree and the window is unlocked; by then a
    // selection the user made wins, and after ten seconds the wish is dropped.
    const bool loaded = tree && tree->isEnabled() && items.contains(restoreId);
    if (--restoreTries <= 0 || (loaded && tree->currentItem())) {
        restoreTimer->stop();
        return;
    }
    if (!loaded)
        return;
    restoreTimer->stop();
    log("Showing %s again", unitName(restoreId).toLocal8Bit().constData());
    tree->setCurrentItem(items.value(restoreId), 0);
}

void cFlowMeterPlugin::saveSettings()
{
    // Save from the setup page commits its fields; at unload (thread stopped) only what was
    // saved before is written, never a half-edited page.
    if (setupOpen && running) {
        FlowMeterConfig c = configCopy();
        c.port = setup->port->text().trimmed();
        c.line = cLineSettings(setup->baud(), uint8_t(setup->dataBits()), setup->parity(), uint8_t(setup->stopBits()));
        QStringList rejected;
        c.ids = parseIds(setup->ids->text(), &rejected);
        if (!rejected.isEmpty()) {
            log("Unit ids left out (not 1 to 247): %s", rejected.join(", ").toLocal8Bit().constData());
            emit mainWindow->statusBarMsgSignal(leftOutText(rejected));
        }
        c.periodMs = setup->period->value();
        c.answerTimeoutMs = setup->timeout->value();
        c.dampingTenths = int(std::lround(setup->damping->value() * 10));
        if (mainWindow->factoryMode)
            c.calibration = float(setup->calibration->value());
        setConfig(c);
    }
    const FlowMeterConfig c = configCopy();
    QSettings s("Tessmark", "Corvane");
    s.beginGroup(kSettingsGroup);
    s.setValue("port", c.port);
    s.setValue("ids", idsText(c.ids));
    s.setValue("period", c.periodMs);
    s.setValue("timeout", c.answerTimeoutMs);
    s.setValue("baud", int(c.line.baud));
    s.setValue("dataBits", int(c.line.dataBits));
    s.setValue("parity", QString(QChar(c.line.parity)));
    s.setValue("stopBits", int(c.line.stopBits));
    s.setValue("damping", c.dampingTenths);
    s.setValue("calibration", double(c.calibration));
    // The meter on show is shown again at the next start.
    s.setValue("selected", selectedId.load());
    s.endGroup();
    s.sync();
    // A folder the user cannot write would otherwise lose the change without a word until the
    // next start. The setup keeps what was entered: it is in use, and saved again at unload.
    // (A store that did not parse keeps its FormatError after a good write; only a failed write
    // is an access error.)
    if (s.status() == QSettings::AccessError) {
        log("Settings could not be saved to %s", s.fileName().toLocal8Bit().constData());
        emit mainWindow->statusBarMsgSignal(
            QCoreApplication::translate("FlowMeter", "Flow meter: settings could not be saved to %1").arg(s.fileName()));
        return;
    }
    log("Settings saved: port %s, unit ids %s, line %s", c.port.toLocal8Bit().constData(),
        idsText(c.ids).toLatin1().constData(), c.line.text().c_str());
}

void cFlowMeterPlugin::prepareSetup()
{
    const FlowMeterConfig c = configCopy();
    offerPorts();
    setup->port->setText(c.port);
    setup->setLine(c.line.baud, c.line.dataBits, c.line.parity, c.line.stopBits);
    setup->ids->setText(idsText(c.ids));
    setup->period->setValue(c.periodMs);
    setup->timeout->setValue(c.answerTimeoutMs);
    setup->damping->setValue(c.dampingTenths / 10.0);
    setup->calibration->setValue(c.calibration);
    setup->setFactoryMode(mainWindow->factoryMode);
    setupOpen = true;
    // The host shows the page after this returns; the cursor waits in the first field, so a
    // keyboard user can go down the form with Tab.
    QTimer::singleShot(0, setup->port, [this] {
        if (setupOpen)
            setup->port->setFocus(Qt::OtherFocusReason);
    });
}

void cFlowMeterPlugin::acceptSetup()
{
    setupOpen = false;
    setupWritesRequested = true;
    // The host unlocks the window after this returns; a tree rebuild asked for now would be
    // dropped while it is still locked.
    QTimer::singleShot(0, this, [this] { emit mainWindow->updateTreeSignal(this); });
}

void cFlowMeterPlugin::rejectSetup()
{
    setupOpen = false;
    prepareSetup();
    setupOpen = false;
}

void cFlowMeterPlugin::retranslate()
{
    description = QCoreApplication::translate(
        "FlowMeter", "MODBUS RTU flow meters on a serial line: flow, totalizer, temperature and alarms");
    display->retranslate();
    info->retranslate();
    setup->retranslate();
    updateActions();
    if (resetAction)
        resetAction->setText(QCoreApplication::translate("FlowMeter", "Reset totalizer"));
    for (auto it = items.begin(); it != items.end(); ++it)
        it.value()->setText(0, unitName(it.key()));
    refreshPages();
}

void cFlowMeterPlugin::selectItem(QTreeWidgetItem* item)
{
    selectedId = (item && item->parent() == topItem) ? item->text(2).toInt() : 0;
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
    qDeleteAll(topItem->takeChildren());
    const FlowMeterConfig c = configCopy();
    for (int id : c.ids) {
        auto* item = new QTreeWidgetItem(QStringList{unitName(id), QString(), QString::number(id)});
        item->setIcon(0, QIcon(kIconOffline));
        topItem->addChild(item);
        items.insert(id, item);
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
}

void cFlowMeterPlugin::onScanBus()
{
    // While a scan runs the action cancels it.
    if (scanning) {
        if (scanRequested.exchange(false)) {
            // The poll thread had not started it yet.
            log("Scan cancelled before it began");
            onScanDone(QString(), QCoreApplication::translate("FlowMeter", "cancelled"));
        } else {
            scanCancel = true;
        }
        return;
    }
    // A cancel that came after the last scan had ended must not stop this one.
    scanCancel = false;
    scanning = true;
    updateActions();
    emit mainWindow->statusBarProgressSignal(QCoreApplication::translate("FlowMeter", "Scanning the bus"), 0);
    scanRequested = true;
}

void cFlowMeterPlugin::onScanProgress(int percent)
{
    emit mainWindow->statusBarProgressSignal(QCoreApplication::translate("FlowMeter", "Scanning the bus"), percent);
}

void cFlowMeterPlugin::onScanDone(QString found, QString failure)
{
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
    if (failure.isEmpty() && !found.isEmpty()) {
        FlowMeterConfig c = configCopy();
        c.ids = parseIds(found);
        setConfig(c);
        emit mainWindow->updateTreeSignal(this);
    }
}

void cFlowMeterPlugin::onResetTotalizer()
{
    if (actionBusy)
        return;
    const int id = selectedId;
    const QString which = id ? unitName(id) : QCoreApplication::translate("FlowMeter", "all meters");
    const auto answer = QMessageBox::question(mainWindow, QCoreApplication::translate("FlowMeter", "Reset totalizer"),
                                              QCoreApplication::translate("FlowMeter", "Reset the totalizer of %1 to zero?").arg(which),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    resetUnit = id;
    actionBusy = true;
    // The GUI is held with the application lock for as long as the reset runs. The host's
    // action lock would not do: it waits only while the window's own port runs, and the
    // host never starts that port, so it would let go at once.
    emit mainWindow->appLockSignal(true);
    emit mainWindow->statusBarMsgSignal(QCoreApplication::translate("FlowMeter", "Resetting the totalizer"));
    resetRequested = true;
}

void cFlowMeterPlugin::deinit()
{
    stopAndWait();
    // A reset the poll thread never got to must not leave the GUI locked.
    if (resetRequested.exchange(false))
        finishReset(false, QCoreApplication::translate("FlowMeter", "unloaded"));
    if (cSerial* p = port.exchange(nullptr))
        mainWindow->closePort(p);
}

// ---- GUI side of the port: the registry is the GUI thread's.

void cFlowMeterPlugin::onPortWanted()
{
    const FlowMeterConfig c = configCopy();
    const QString path = c.port;
    if (cSerial* old = port.exchange(nullptr))
        mainWindow->closePort(old);
    cOpenError why;
    cSerial* p = mainWindow->openPort(path.toLocal8Bit().toStdString(), c.line, &why);
    openFailed = !p;
    {
        std::lock_guard<std::mutex> g(stateMutex);
        openFailure = p ? QString() : openErrorText(why);
    }
    if (p) {
        log("Opened port %s at %s", path.toLocal8Bit().constData(), c.line.text().c_str());
        port = p;
        failedOpenOf.clear();
    } else {
        // Tried again every second until the device is there: said once in the log, and the
        // registry's "Opening: " in the status bar is followed by what came of it.
        const QString words = openErrorText(why);
        if (failedOpenOf != path + words) {
            log("Cannot open port %s; trying again every second", path.toLocal8Bit().constData());
            if (why.failed())
                log("Port %s: %s", path.toLocal8Bit().constData(), why.text().c_str());
        }
        failedOpenOf = path + words;
        emit mainWindow->statusBarMsgSignal(
            words.isEmpty()
                ? QCoreApplication::translate("FlowMeter", "Flow meter: port %1 cannot be opened; trying again").arg(path)
                : QCoreApplication::translate("FlowMeter", "Flow meter: port %1 cannot be opened (%2); trying again")
                      .arg(path, words));
    }
    refreshPages();
    portRequested = false;
}

// ---- The poll thread.

cSerial* cFlowMeterPlugin::usablePort()
{
    // While the GUI thread replaces the port, the old one is not touched any more.
    cSerial* p = port;
    if (p && !reopenPort && !portRequested && p->handle >= 0 && p->running)
        return p;
    return nullptr;
}

void cFlowMeterPlugin::runHandler(void*)
{
    auto lastOpenTry = std::chrono::steady_clock::now() - std::chrono::hours(1);
    while (running) {
        const auto cycleStart = std::chrono::steady_clock::now();
        const FlowMeterConfig c = configCopy();
        cSerial* p = usablePort();
        if (!p) {
            const QString path = c.port;
            // While an open is on its way the meters keep the state they had.
            QString reason;
            if (reopenPort)
                reason = QCoreApplication::translate("FlowMeter", "port changed to %1").arg(path);
            else if (port)
                reason = QCoreApplication::translate("FlowMeter", "port %1 lost (device gone)").arg(path);
            else if (openFailed) {
                reason = QCoreApplication::translate("FlowMeter", "port %1 cannot be opened").arg(path);
                std::lock_guard<std::mutex> g(stateMutex);
                if (!openFailure.isEmpty())
                    reason += ": " + openFailure;
            }
            if (!reason.isEmpty() && !portRequested)
                markAllOffline(reason);
            if (!portRequested && cycleStart - lastOpenTry >= std::chrono::milliseconds(kReopenEveryMs)) {
                lastOpenTry = cycleStart;
                reopenPort = false;
                portRequested = true;
                emit portWantedSignal();
            }
            // A scan or reset asked for meanwhile ends here, saying why.
            const QString why = reason.isEmpty() ? QCoreApplication::translate("FlowMeter", "no port") : reason;
            if (scanRequested.exchange(false))
                emit scanDoneSignal(QString(), why);
            if (resetRequested.exchange(false))
                finishReset(false, why);
            sleepWhile(running, 50);
            continue;
        }
        if (scanRequested.exchange(false))
            runScan(p);
        if (resetRequested.exchange(false))
            runReset(p);
        if (setupWritesRequested.exchange(false))
            runSetupWrites(p);
        for (int id : c.ids) {
            if (!running)
                break;
            pollUnit(p, id, c.dampingTenths);
        }
        emit unitsChangedSignal();
        const auto spent = std::chrono::steady_clock::now() - cycleStart;
        const int left = c.periodMs - int(std::chrono::duration_cast<std::chrono::milliseconds>(spent).count());
        if (left > 0)
            sleepWhile(running, left);
    }
}

bool cFlowMeterPlugin::exchange(cSerial* p, const std::vector<uint8_t>& request, unsigned short answerSize,
                                std::vector<uint16_t>* registers, QString* reason, modbus::Check* outcome)
{
    unsigned char answer[TRSC_BUFFER_SIZE];
    unsigned short received = 0;
    const unsigned char result = p->transaction(request.data(), (unsigned short)request.size(), answer, &received,
                                                answerSize, std::chrono::microseconds(p->interFrameSilenceUs()), 0,
                                                (unsigned short)answerTimeoutMs.load(), nullptr, 1);
    if (result != TRSC_OK) {
        if (reason)
            *reason = (p->handle < 0 || !p->running) ? QCoreApplication::translate("FlowMeter", "device gone") : QCoreApplication::translate("FlowMeter", "transaction failed");
        return false;
    }
    int exception = 0;
    const modbus::Check check = modbus::checkAnswer(request, answer, received, registers, &exception);
    if (outcome)
        *outcome = check;
    switch (check) {
    case modbus::Check::Ok:
        return true;
    case modbus::Check::NoAnswer:
        if (reason)
            *reason = QCoreApplication::translate("FlowMeter", "no answer");
        break;
    case modbus::Check::Short:
        if (reason)
            *reason = QCoreApplication::translate("FlowMeter", "short answer (%1 of %2 bytes)").arg(received).arg(answerSize);
        break;
    case modbus::Check::BadCrc:
        if (reason)
            *reason = QCoreApplication::translate("FlowMeter", "corrupt check sum");
        break;
    case modbus::Check::WrongUnit:
        if (reason)
            *reason = QCoreApplication::translate("FlowMeter", "answer from another unit");
        break;
    case modbus::Check::Exception:
        if (reason)
            *reason = QCoreApplication::translate("FlowMeter", "MODBUS exception %1").arg(exception);
        break;
    case modbus::Check::Malformed:
        if (reason)
            *reason = QCoreApplication::translate("FlowMeter", "malformed answer");
        break;
    }
    return false;
}

void cFlowMeterPlugin::pollUnit(cSerial* p, int id, int wanted)
{
    std::vector<uint16_t> r;
    QString reason;
    if (!exchange(p, modbus::readHolding(uint8_t(id), 0, kMapSize), modbus::readAnswerSize(kMapSize), &r, &reason)) {
        recordFailure(id, reason);
        return;
    }
    UnitState fresh;
    fresh.flow = modbus::toFloat(r[0], r[1]);
    fresh.total = modbus::toFloat(r[2], r[3]);
    fresh.temperature = modbus::toFloat(r[4], r[5]);
    fresh.alarm = r[6];
    fresh.status = r[7];
    fresh.serial = modbus::toUint32(r[8], r[9]);
    fresh.firmware = r[10];
    fresh.damping = r[11];
    fresh.calibration = modbus::toFloat(r[14], r[15]);
    fresh.flowProblem = ReadingCheck::flow(fresh.flow);
    fresh.totalProblem = ReadingCheck::total(fresh.total);
    fresh.temperatureProblem = ReadingCheck::temperature(fresh.temperature);
    const FlowTrend::Stamp now = FlowTrend::Stamp::now();
    bool cameBack = false;
    bool becameInvalid = false;
    {
        std::lock_guard<std::mutex> g(stateMutex);
        if (!units.contains(id))
            return;
        UnitState& u = units[id];
        cameBack = !u.online;
        u.online = true;
        u.seen = true;
        u.failuresInRow = 0;
        u.flow = fresh.flow;
        u.total = fresh.total;
        u.temperature = fresh.temperature;
        u.alarm = fresh.alarm;
        u.status = fresh.status;
        u.serial = fresh.serial;
        u.firmware = fresh.firmware;
        u.damping = fresh.damping;
        u.calibration = fresh.calibration;
        becameInvalid = !fresh.readingValid() &&
                        (u.readingValid() || u.flowProblem != fresh.flowProblem ||
                         u.totalProblem != fresh.totalProblem || u.temperatureProblem != fresh.temperatureProblem);
        u.flowProblem = fresh.flowProblem;
        u.totalProblem = fresh.totalProblem;
        u.temperatureProblem = fresh.temperatureProblem;
        // A meter that answers without a valid measurement is there, but has not been read:
        // its last good reading stays where it was.
        if (fresh.readingValid())
            u.lastGood = now.wall;
        if (fresh.flowProblem == ReadingCheck::Valid)
            u.trend.add(fresh.flow, now);
    }
    if (cameBack)
        log("Unit %d online", id);
    // A meter met for the first time, or back after being away (replaced, restarted, set by
    // hand), is given the damping of the setup.
    if (cameBack && fresh.damping != wanted) {
        QString why;
        if (exchange(p, modbus::writeSingle(uint8_t(id), kRegDamping, uint16_t(wanted)), modbus::kWriteAnswerSize,
                     nullptr, &why))
            log("Unit %d: damping set to %.1f s (it had %.1f s)", id, wanted / 10.0, fresh.damping / 10.0);
        else
            log("Unit %d: damping not written (%s)", id, why.toLocal8Bit().constData());
    }
    if (fresh.readingValid())
        log("Unit %d: flow %.3f m3/h, totalizer %.3f m3, temperature %.2f C, alarm 0x%04X", id, double(fresh.flow),
            double(fresh.total), double(fresh.temperature), unsigned(fresh.alarm));
    else if (becameInvalid)
        log("Unit %d: invalid reading (%s)", id, invalidReadingText(fresh, false).toLocal8Bit().constData());
}

void cFlowMeterPlugin::recordFailure(int id, const QString& reason)
{
    bool wentOffline = false;
    int errors = 0;
    {
        std::lock_guard<std::mutex> g(stateMutex);
        if (!units.contains(id))
            return;
        UnitState& u = units[id];
        errors = ++u.errors;
        u.reason = reason;
        if (++u.failuresInRow >= kOfflineAfter && (u.online || !u.seen)) {
            wentOffline = u.online || u.failuresInRow == kOfflineAfter;
            u.online = false;
        }
    }
    log("Unit %d: poll failed (%s), %d errors", id, reason.toLocal8Bit().constData(), errors);
    if (wentOffline)
        log("Unit %d offline: %s", id, reason.toLocal8Bit().constData());
}

void cFlowMeterPlugin::markAllOffline(const QString& reason)
{
    QList<int> changed;
    {
        std::lock_guard<std::mutex> g(stateMutex);
        for (UnitState& u : units) {
            if (u.online || u.reason != reason) {
                if (u.online)
                    ++u.errors;
                u.online = false;
                u.reason = reason;
                changed << u.id;
            }
        }
    }
    for (int id : changed)
        log("Unit %d offline: %s", id, reason.toLocal8Bit().constData());
    if (!changed.isEmpty())
        emit unitsChangedSignal();
}

void cFlowMeterPlugin::runScan(cSerial* p)
{
    QStringList found;
    int lastPercent = -1;
    // The configured meters are polled between the tries at their usual period: a scan of an
    // empty bus takes 247 answer time-outs, half a minute, and their values must not stand
    // still meanwhile as if they were current.
    const FlowMeterConfig c = configCopy();
    auto lastRound = std::chrono::steady_clock::now();
    for (int id = 1; id <= 247; ++id) {
        if (scanCancel.exchange(false)) {
            log("Scan cancelled at unit %d", id);
            emit scanDoneSignal(QString(), QCoreApplication::translate("FlowMeter", "cancelled"));
            return;
        }
        // A scan cut short is no picture of the bus: the meters keep their ids.
        if (!running) {
            log("Scan stopped at unit %d: the plug-in is closing", id);
            emit scanDoneSignal(QString(), QCoreApplication::translate("FlowMeter", "the plug-in is closing"));
            return;
        }
        if (!usablePort()) {
            const QString why = QCoreApplication::translate("FlowMeter", "port %1 lost").arg(configCopy().port);
            log("Scan stopped at unit %d: %s", id, why.toLocal8Bit().constData());
            emit scanDoneSignal(QString(), why);
            return;
        }
        modbus::Check check = modbus::Check::NoAnswer;
        // The firmware register alone: a short question, and any meter has it. A device that
        // refuses it with an exception is there all the same. The configured time-out, so
        // that a slow meter the poll would reach is found too.
        const bool answered = exchange(p, modbus::readHolding(uint8_t(id), 10, 1), modbus::readAnswerSize(1), nullptr,
                                       nullptr, &check);
        if (answered || check == modbus::Check::Exception)
            found << QString::number(id);
        if (std::chrono::steady_clock::now() - lastRound >= std::chrono::milliseconds(c.periodMs)) {
            lastRound = std::chrono::steady_clock::now();
            for (int unit : c.ids) {
                if (!running)
                    break;
                pollUnit(p, unit, c.dampingTenths);
            }
            emit unitsChangedSignal();
        }
        const int percent = id * 100 / 247;
        if (percent != lastPercent) {
            lastPercent = percent;
            emit scanProgressSignal(percent);
        }
    }
    log("Scan found units %s", found.isEmpty() ? "none" : found.join(",").toLatin1().constData());
    emit scanDoneSignal(found.join(","), QString());
}

void cFlowMeterPlugin::runReset(cSerial* p)
{
    const int only = resetUnit;
    const std::vector<int> ids = only ? std::vector<int>{only} : configCopy().ids;
    bool ok = !ids.empty();
    QString failure = ok ? QString() : QCoreApplication::translate("FlowMeter", "no meter");
    for (int id : ids) {
        QString reason;
        // The totalizer is read before and after: a meter that takes the command and does
        // nothing (write-protected, busy) answers the write all the same.
        auto readTotal = [&](float* total) {
            std::vector<uint16_t> r;
            if (!exchange(p, modbus::readHolding(uint8_t(id), kRegTotal, 2), modbus::readAnswerSize(2), &r, &reason) ||
                r.size() != 2)
                return false;
            *total = modbus::toFloat(r[0], r[1]);
            // -inf is below anything and would count as a reset done; NaN as one never done
            // for a reason nobody is told.
            const ReadingCheck::Problem problem = ReadingCheck::total(*total);
            if (problem != ReadingCheck::Valid) {
                reason = QCoreApplication::translate("FlowMeter", "totalizer") + " " + ReadingCheck::text(problem);
                return false;
            }
            return true;
        };
        float before = 0;
        const bool knewBefore = readTotal(&before);
        reason.clear();
        bool done = exchange(p, modbus::writeSingle(uint8_t(id), kRegCommand, 1), modbus::kWriteAnswerSize, nullptr,
                             &reason);
        // Confirmed once the totalizer reads near zero and below what it was; read back a few
        // times before giving up.
        bool confirmed = false;
        for (int tries = 0; done && !confirmed && tries < 10 && running; ++tries) {
            float after = 0;
            if (readTotal(&after))
                confirmed = after < kResetConfirmedBelowM3 && (!knewBefore || after < before);
            if (!confirmed)
                sleepWhile(running, 20);
        }
        if (confirmed)
            log("Unit %d: totalizer reset", id);
        else
            log("Unit %d: totalizer reset failed (%s)", id, reason.isEmpty() ? "not confirmed" : reason.toLocal8Bit().constData());
        if (!confirmed && failure.isEmpty())
            failure = unitName(id) + ": " + (reason.isEmpty() ? QCoreApplication::translate("FlowMeter", "not confirmed") : reason);
        ok = ok && confirmed;
    }
    finishReset(ok, failure);
}

void cFlowMeterPlugin::finishReset(bool ok, const QString& failure)
{
    if (!actionBusy.exchange(false))
        return;
    emit mainWindow->statusBarMsgSignal(ok ? QCoreApplication::translate("FlowMeter", "Totalizer reset")
                                           : QCoreApplication::translate("FlowMeter", "Totalizer reset failed: %1").arg(failure));
    emit mainWindow->appLockSignal(false);
}

void cFlowMeterPlugin::runSetupWrites(cSerial* p)
{
    const FlowMeterConfig c = configCopy();
    const bool factory = mainWindow->factoryMode;
    for (int id : c.ids) {
        QString reason;
        if (!exchange(p, modbus::writeSingle(uint8_t(id), kRegDamping, uint16_t(c.dampingTenths)),
                      modbus::kWriteAnswerSize, nullptr, &reason)) {
            log("Unit %d: damping not written (%s)", id, reason.toLocal8Bit().constData());
            // Saved all the same, and written when the meter is next back; but said now.
            emit mainWindow->statusBarMsgSignal(QCoreApplication::translate("FlowMeter", "%1: damping not written (%2)")
                                                    .arg(unitName(id), reason));
        }
        if (factory) {
            uint16_t hi, lo;
            modbus::fromFloat(c.calibration, &hi, &lo);
            if (!exchange(p, modbus::writeMultiple(uint8_t(id), kRegCalibration, {hi, lo}), modbus::kWriteAnswerSize,
                          nullptr, &reason))
                log("Unit %d: calibration factor not written (%s)", id, reason.toLocal8Bit().constData());
        }
    }
}

// ---- GUI side of the readings.

int cFlowMeterPlugin::shownUnit()
{
    const int id = selectedId;
    if (id)
        return id;
    const FlowMeterConfig c = configCopy();
    return c.ids.empty() ? 0 : c.ids.front();
}

void cFlowMeterPlugin::onUnitsChanged()
{
    refreshTree();
    refreshPages();
}

void cFlowMeterPlugin::refreshTree()
{
    QMap<int, UnitState> copy;
    {
        std::lock_guard<std::mutex> g(stateMutex);
        copy = units;
    }
    for (auto it = items.begin(); it != items.end(); ++it) {
        const UnitState u = copy.value(it.key());
        QTreeWidgetItem* item = it.value();
        if (u.seen && item->text(1) != QString::number(u.serial))
            item->setText(1, QString::number(u.serial));
        // A meter without a valid measurement wants attention as an alarm does.
        const QString icon = !u.online ? kIconOffline : (u.alarm || !u.readingValid() ? kIconAlarm : kIconOnline);
        // Only a change is sent: the host rebuilds the icon from the file each time.
        if (item->data(0, Qt::UserRole).toString() != icon) {
            item->setData(0, Qt::UserRole, icon);
            emit mainWindow->updatePluginItemSignal(item, icon, true);
        }
    }
}

void cFlowMeterPlugin::refreshPages()
{
    const int id = shownUnit();
    UnitState u;
    QString portName;
    int periodMs = 0;
    QString line;
    QString failure;
    {
        std::lock_guard<std::mutex> g(stateMutex);
        line = QString::fromStdString(config.line.text());
        failure = openFailure;
    }
    info->line->setText(failure.isEmpty() ? line
                                          : QCoreApplication::translate("FlowMeter", "%1, not open: %2").arg(line, failure));
    {
        std::lock_guard<std::mutex> g(stateMutex);
        if (!units.contains(id)) {
            display->showNone();
            return;
        }
        u = units.value(id);
        portName = config.port;
        periodMs = config.periodMs;
    }
    display->show(u, unitName(id));
    info->show(u, portName, periodMs);
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
