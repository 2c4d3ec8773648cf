// The real flowmeter.plg in a real window of this process, against the real simulator: what
// the pages show, the scan, the totalizer reset under the application lock, setup Save and
// Discard, factory calibration, Swedish, and how long the GUI thread stalls during faults.
#include "FlowSim.h"
#include "FlowTrend.h"
#include "FlowConfig.h"
#include "IdList.h"
#include "MeterEvent.h"
#include "SettingsReader.h"

#include <FlowLinesPage.h>
#include <HostFixture.h>
#include <ModbusRtuMaster.h>
#include <MosquittoBroker.h>
#include <RecordedFile.h>
#include <gui/cMainWindow.h>
#include <gui/cSetup.h>
#include <plugin/cPlugin.h>

#include <QAction>
#include <QApplication>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QTableWidget>
#include <QListWidget>
#include <QLibrary>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QSpinBox>
#include <QCheckBox>
#include <QStandardPaths>
#include <QPushButton>
#include <QStatusBar>
#include <QToolBar>
#include <QTranslator>
#include <QTreeWidgetItem>
#include <QtTest>
#include <qcustomplot.h>

#include <QComboBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <serial/cPortPicker.h>

#include <cmath>
#include <memory>
#include <array>
#include <limits>

namespace {


// The first argument of every signal a spy took: the status-bar texts.
QStringList texts(const QSignalSpy& spy)
{
    QStringList all;
    for (const QList<QVariant>& m : spy)
        all << m.at(0).toString();
    return all;
}

// Makes the settings store's folder a regular file for as long as it lives, so that every write
// of the store fails, for root too (root ignores permissions, not a file in the path).
struct UnwritableStore
{
    explicit UnwritableStore(const TempSettings& store) : folder(store.dir() + "/Tessmark")
    {
        moved = QFileInfo(folder).isDir() && QDir().rename(folder, folder + ".away");
        QFile blocker(folder);
        ok = !QFileInfo::exists(folder) && blocker.open(QIODevice::WriteOnly);
    }
    ~UnwritableStore()
    {
        QFile::remove(folder);
        if (moved)
            QDir().rename(folder + ".away", folder);
    }
    QString folder;
    bool moved = false;
    bool ok = false;
};

// The alarm list's columns.
enum { AlarmTime, AlarmLine, AlarmMeter, AlarmText, AlarmEnd, AlarmAcknowledged };

// The window, the plug-in made by its own library and started as the host starts it.
struct Host : HostFixture
{
    QLibrary library{ProgramRunner::binDir() + "/plugins/flowmeter.plg"};
    cPlugin* plugin = nullptr;
    void (*kill)(cPlugin*) = nullptr;
    // The host's serial debugging, and with it the plug-in's line per reading that most tests
    // follow.
    bool pollLines = true;

    // `program`: the folder the window's program lies in, whose plugins/models the plug-in reads.
    bool start(const QString& port, const QString& ids, bool factory = false, int language = 0,
               const QString& program = ProgramRunner::binDir())
    {
        qputenv("CORVANE_FLOWMETER_PORT", port.toLocal8Bit());
        qputenv("CORVANE_FLOWMETER_IDS", ids.toLatin1());
        open(program)->factoryMode = factory;
        window->genericPort.debug = pollLines;
        startMain();
        return create(language);
    }
    // The plug-in made by its library, started as the host starts it.
    bool create(int language = 0)
    {
        auto make = reinterpret_cast<cPlugin* (*)(cMainWindow*)>(library.resolve("_Z14createInstanceP11cMainWindow"));
        kill = reinterpret_cast<void (*)(cPlugin*)>(library.resolve("_Z12killInstanceP7cPlugin"));
        if (!make || !kill)
            return false;
        plugin = make(window.get());
        plugin->init();
        plugin->trPlugin("flowmeter.plg", language);
        plugin->loadSettings();
        plugin->mkTree();
        return true;
    }
    // Unloaded as the host unloads it.
    void unload()
    {
        if (!plugin)
            return;
        plugin->stopAndWait();
        plugin->saveSettings();
        plugin->deinit();
        kill(plugin);
        plugin = nullptr;
    }
    ~Host()
    {
        unload();
        if (window)
            window->mainThread.stopAndWait();
        for (const char* name : {"CORVANE_FLOWMETER_PORT", "CORVANE_FLOWMETER_IDS", "CORVANE_FLOWMETER_PORT2",
                                 "CORVANE_FLOWMETER_IDS2", "CORVANE_FLOWMETER_MODEL2", "CORVANE_FLOWMETER_BAUD2",
                                 "CORVANE_FLOWMETER_PARITY2"})
            qunsetenv(name);
    }
    QString label(const char* name) const { return plugin->displayWidget->findChild<QLabel*>(name)->text(); }
    // A label of the information page, or a cell of its meter's values by the name it goes by.
    QString info(const char* name) const
    {
        if (auto* label = plugin->infoWidget->findChild<QLabel*>(name))
            return label->text();
        auto* values = plugin->infoWidget->findChild<QTableWidget*>("meterValuesTable");
        for (int r = 0; values && r < values->rowCount(); ++r)
            for (int c = 0; c < values->columnCount(); ++c)
                if (values->item(r, c)->data(Qt::UserRole).toString() == name)
                    return values->item(r, c)->text();
        return QString("<no %1>").arg(name);
    }
    QString style(const char* name) const { return plugin->displayWidget->findChild<QLabel*>(name)->styleSheet(); }
    int trendPoints() const
    {
        // The class is the plug-in's own; its point count is on the widget for outsiders.
        return plugin->displayWidget->findChild<QWidget*>("trendPlot")->property("pointCount").toInt();
    }
    // The plug-in's item holds one item per line, each line its meters.
    QTreeWidgetItem* line(int index) const { return plugin->topItem->child(index); }
    QTreeWidgetItem* unit(int id, int lineIndex = 0) const
    {
        QTreeWidgetItem* l = line(lineIndex);
        for (int i = 0; l && i < l->childCount(); ++i)
            if (l->child(i)->text(2) == QString::number(id))
                return l->child(i);
        return nullptr;
    }
    int meterCount(int lineIndex = 0) const { return line(lineIndex) ? line(lineIndex)->childCount() : 0; }
    void select(int id)
    {
        QVERIFY(plugin->lock(100));
        plugin->selectItem(unit(id));
        plugin->unlock();
    }
    QAction* action(const char* name, QMenu& menu, QToolBar& bar)
    {
        plugin->mkPluginMenu(&menu, &bar);
        return menu.findChild<QAction*>(name);
    }
    // The alarm list as the user sees it: newest first; time, line, meter, text, end, acknowledged.
    QTableView* alarmTable() const { return plugin->displayWidget->findChild<QTableView*>("alarmTable"); }
    int alarmRows() const { return alarmTable()->model()->rowCount(); }
    QString alarm(int row, int column) const
    {
        return alarmTable()->model()->index(row, column).data().toString();
    }
    // The newest entry of `meter` whose text holds `text`, and how many there are: a loaded
    // machine may add an entry of a missed answer or two, which the tests leave aside.
    int alarmRow(const QString& meter, const QString& text) const
    {
        for (int row = 0; row < alarmRows(); ++row)
            if (alarm(row, AlarmMeter) == meter && alarm(row, AlarmText).contains(text))
                return row;
        return -1;
    }
    int alarmCount(const QString& meter, const QString& text) const
    {
        int n = 0;
        for (int row = 0; row < alarmRows(); ++row)
            n += alarm(row, AlarmMeter) == meter && alarm(row, AlarmText).contains(text) ? 1 : 0;
        return n;
    }
    // The alarm list's tab: "Alarms (N)".
    QString alarmTab() const
    {
        auto* tabs = plugin->displayWidget->objectName() == "flowDisplayTabs"
                         ? qobject_cast<QTabWidget*>(plugin->displayWidget)
                         : plugin->displayWidget->findChild<QTabWidget*>("flowDisplayTabs");
        return tabs ? tabs->tabText(tabs->indexOf(alarmTable()->parentWidget())) : QString();
    }
    void click(const char* button) const
    {
        QTest::mouseClick(plugin->displayWidget->findChild<QPushButton*>(button), Qt::LeftButton);
    }
};

// The longest answer time-out the plug-in takes: a simulator starved by a loaded machine is
// still in time, so only the faults a test makes take a meter away.
constexpr int kPatientTimeoutMs = 400;

// A line that waits as long as it may for an answer.
void storePatientLine(const TempSettings& store)
{
    QSettings s(store.file(), QSettings::IniFormat);
    s.setValue("FlowMeter/timeout", kPatientTimeoutMs);
    s.sync();
}

// The requests the simulator was asked, in order, from `from` on (an offset into its output):
// unit, function, address and count in hexadecimal, without the check sum.
QStringList requestsAsked(FlowSim& sim, int from = 0)
{
    static const QRegularExpression line("flowsim: <- ((?:[0-9A-F]{2} ){5}[0-9A-F]{2})");
    QStringList asked;
    auto it = line.globalMatch(sim.collect().mid(from));
    while (it.hasNext())
        asked << it.next().captured(1);
    return asked;
}

// Recording into `folder` every `intervalS` seconds, set in the store before the plug-in reads
// it; `on`: running from the start, as after a restart.
void setRecording(const TempSettings& store, const QString& folder, int intervalS, bool on)
{
    QSettings s(store.file(), QSettings::IniFormat);
    s.setValue("FlowMeter/recordFolder", folder);
    s.setValue("FlowMeter/recordInterval", intervalS);
    s.setValue("FlowMeter/recording", on);
}

// Every row of the folder's files, read whole; empty (and a failure) when one is not.
RecordedFile recorded(const QString& folder)
{
    const QStringList files = RecordedFile::files(folder);
    RecordedFile all(files.value(0));
    // A run across midnight has two files of one header each.
    for (int i = 1; i < files.size(); ++i) {
        RecordedFile next(files[i]);
        all.rows << next.rows;
        all.headers += next.headers - 1;
        if (all.problem.isEmpty())
            all.problem = next.problem;
    }
    return all;
}

qint64 rowMs(const QStringList& row)
{
    return QDateTime::fromString(row.value(0), Qt::ISODateWithMs).toMSecsSinceEpoch();
}
// What the plug-in's meterEvent said, in the order it reached the GUI thread.
class EventLog : public QObject
{
    Q_OBJECT

public:
    QVector<MeterEvent> all;

    QStringList kinds() const
    {
        static const char* const names[] = {"WentOffline", "CameBack", "AlarmRaised", "AlarmCleared", "TotalizerReset"};
        QStringList k;
        for (const MeterEvent& e : all)
            k << names[e.kind];
        return k;
    }
    int count(MeterEvent::Kind kind) const
    {
        return int(std::count_if(all.begin(), all.end(), [kind](const MeterEvent& e) { return e.kind == kind; }));
    }
    MeterEvent last(MeterEvent::Kind kind) const
    {
        for (auto it = all.rbegin(); it != all.rend(); ++it)
            if (it->kind == kind)
                return *it;
        return MeterEvent();
    }

public slots:
    void take(MeterEvent e) { all << e; }
};
} // namespace

// The desktop's notification service as the test runs it on its own session bus: what it was
// asked to show.
class NotificationService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList summaries;
    QStringList bodies;
    QList<uint> replaces;
    QList<QVariantMap> hints;
    QList<uint> given;

public slots:
    uint Notify(const QString&, uint replacesId, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap& hintMap, int)
    {
        summaries << summary;
        bodies << body;
        replaces << replacesId;
        hints << hintMap;
        given << uint(100 + given.size());
        return given.last();
    }
    QStringList GetCapabilities() { return {"body"}; }
};

class TestFlowmeterPlugin : public QObject
{
    Q_OBJECT

    // Recordings and the alarm list of one run are not the next run's: each run starts without.
    QTemporaryDir dataHome;

private slots:
    void initTestCase() { qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit()); }
    void pagesShowTheSelectedMeter();
    void scanFindsExactlyTheMetersOnTheBus();
    void resetTotalizerHoldsTheGuiAndZeroes();
    void setupSaveKeepsAndDiscardRestores();
    void factoryModeWritesTheCalibrationFactor();
    void swedishTexts();
    void everyTextHasItsSwedish();
    void faultsTakeTheMeterOfflineAndBack();
    void eachChangeOfAMetersStateIsOneEventInOrder();
    void pollLinesFollowTheHostsSerialDebugging();
    void headerShowsTheWorstOfAllMeters();

    // readings
    void valuesThatAreNoMeasurementAreShownInvalid();
    void trendKeepsFiveMinutesOfMonotonicTime();
    void trendShowsTheRecordingsAfterStart();
    void unusableSettingsAreRefusedWithALine();
    void recordFolderMustBeAbsoluteAndNotTheRoot_data();
    void recordFolderMustBeAbsoluteAndNotTheRoot();
    void overlongValuesGoAndTheRestStaysByteForByte();
    void failedSaveIsSaidAndTheInputKept();
    void scanKeepsPollingAndCanBeCancelled();

    // the line
    void openErrorIsShownInWords();
    void meterAt19200EvenParityAndAWrongRateCorrected();
    void silenceBetweenFramesFollowsTheRate_data();
    void silenceBetweenFramesFollowsTheRate();
    void portBoxOffersTheDevicesPresent();
    void portChangedOnTheSetupPageIsNoAlarm();

    // lines
    void idListReadsRangesAndNamesWhatItLeavesOut();
    void oldSettingsBecomeOneLineAndStayOnTheSecondStart();
    void aDeadLineDoesNotSlowTheLiveOne();

    // models
    void modelMeterShownInTheChosenUnitsAndLanguage_data();
    void modelMeterShownInTheChosenUnitsAndLanguage();
    void badModelFilesAreNamedAndTheOthersLoad();
    void withoutAnyModelItSaysSoAndKeepsRunning();
    void alarmLimitIsWrittenWithinTheModelsRange();

    // every type and word order, decoded on the page and read in the fewest requests
    void everyTypeAndWordOrderReadsRightOnThePage_data();
    void everyTypeAndWordOrderReadsRightOnThePage();

    // the setup page's lines
    void linesAddedRenamedAndRemovedOnTheSetupPage();
    void aSetupThatMixesMetersIsRefusedWhole();

    // recording
    void recordingHoldsTheServedValuesAtTheInterval();
    void recordingSaysWhyAMeterIsAwayAndGoesOnAfterARestart();
    void recordingKeepsTheTotalizerBeforeAReset();
    void recordingThatCannotWriteSaysSoAndResumes();
    // the alarm list and the desktop
    void alarmListTakesAlarmsAndOfflineAndOutlivesARestart();
    void aCorruptAlarmListIsSetAsideAndTheMetersRunOn();
    void notificationReachesTheDesktop();
    void withoutASessionBusOneLineAndNoNotification();
    void mqttFromTheSetupPageShowsItsStateAndKeepsThePasswordOut();
};

void TestFlowmeterPlugin::pagesShowTheSelectedMeter()
{
    FlowSim sim("1,2");
    QVERIFY(sim.started);
    Host h;
    QVERIFY(h.start(sim.link, "1,2"));
    QCOMPARE(h.plugin->topItem->text(0), QString("Flow meter"));
    QCOMPARE(h.plugin->topItem->childCount(), 1);
    QCOMPARE(h.line(0)->text(0), sim.link);
    QCOMPARE(h.meterCount(), 2);
    QCOMPARE(h.unit(2)->text(0), QString("Meter 2"));

    QStringList icons;
    QObject::connect(h.window.get(), &cMainWindow::updatePluginItemSignal, h.window.get(),
                     [&](QTreeWidgetItem*, const QString& path, bool) { icons << path; });
    h.select(2);
    QVERIFY(waitUntil([&] { return h.label("flowValue") != "-"; }));
    // Once read, the serial number stands in the tree and the online icon is asked for.
    QVERIFY(waitUntil([&] { return !h.unit(2)->text(1).isEmpty(); }));
    QVERIFY(waitUntil([&] { return !icons.isEmpty(); }));
    QCOMPARE(icons.last(), QString(":/Other/Pixmaps/online22.png"));
    QCOMPARE(h.label("unitTitle"), QString("Meter 2"));
    QCOMPARE(h.label("stateValue"), QString("Online"));
    QCOMPARE(h.label("errorCount"), QString("0"));
    QCOMPARE(h.label("alarmValue"), QString("No alarm"));

    // The shown flow is one the simulator served to unit 2, rounded as shown.
    const QString shown = h.label("flowValue");
    QVERIFY(shown.endsWith(" m³/h"));
    QVERIFY2(sim.answered(2, [&](const QVector<float>& a) { return QString("%1 m³/h").arg(double(a[0]), 0, 'f', 2) == shown; }),
             qPrintable(shown));
    QVERIFY(h.plugin->infoWidget->findChildren<QLabel*>().size() >= 12);

    // A master lowers unit 2's flow limit to 5 m3/h, under its 12: the alarm in words, in red,
    // and the alarm icon in the tree; unit 1 (8 m3/h, limit 10) stays calm.
    QVERIFY(sim.command("set 2 13 50"));
    QVERIFY(waitUntil([&] { return h.label("alarmValue").endsWith("Flow above limit"); }));
    QVERIFY(h.plugin->displayWidget->findChild<QLabel*>("alarmValue")->styleSheet().contains("#c02020"));
    QVERIFY(waitUntil([&] { return !icons.isEmpty() && icons.last() == ":/Other/Pixmaps/alarm22.png"; }));
    QCOMPARE(h.label("stateValue"), QString("Online"));
    // Back under the limit: the alarm goes, the online icon returns.
    QVERIFY(sim.command("set 2 13 500"));
    QVERIFY(waitUntil([&] { return h.label("alarmValue") == "No alarm"; }));
    QVERIFY(waitUntil([&] { return icons.last() == ":/Other/Pixmaps/online22.png"; }));
}

void TestFlowmeterPlugin::scanFindsExactlyTheMetersOnTheBus()
{
    FlowSim sim("3,17");
    QVERIFY(sim.started);
    Host h;
    // The simulator answers at once: the default answer time-out keeps the 247 tries within
    // half a minute.
    QSettings(h.store.file(), QSettings::IniFormat).setValue("FlowMeter/timeout", 100);
    QVERIFY(h.start(sim.link, "1"));
    QList<int> progress;
    QObject::connect(h.window.get(), &cMainWindow::statusBarProgressSignal, h.window.get(),
                     [&](const QString&, int v) { progress << v; });
    QSignalSpy rebuild(h.window.get(), &cMainWindow::updateTreeSignal);
    QMenu menu;
    QToolBar bar;
    QAction* scan = h.action("flowmeterScanBus", menu, bar);
    QAction* reset = menu.findChild<QAction*>("flowmeterResetTotalizer");
    QVERIFY(scan && reset);
    QVERIFY(bar.actions().contains(scan));
    // A meter whose answer a starved simulator sent after the time-out is rightly not found;
    // that may cost another scan, but no scan may find a unit that is not on the bus.
    static const QRegularExpression foundLine("Flow meter plugin: Scan found units ([^\n]*)\n");
    QStringList found;
    int scans = 0, rebuilds = 0;
    while (found != QStringList{"3", "17"} && scans < 3) {
        ++scans;
        progress.clear();
        scan->trigger();
        // No reset while the bus is scanned: it would hold the GUI until the scan ended. The
        // scan action cancels meanwhile.
        QCOMPARE(scan->text(), QString("Cancel scan"));
        QVERIFY(!reset->isEnabled());
        QVERIFY(waitUntil([&] { return !progress.isEmpty() && progress.last() == -1; }, 90000));
        QVERIFY(reset->isEnabled());
        QCOMPARE(scan->text(), QString("Scan bus"));
        QCOMPARE(progress.first(), 0);
        QCOMPARE(progress.at(progress.size() - 2), 100);
        QVERIFY(std::is_sorted(progress.begin(), progress.end() - 1));
        QVERIFY(scan->isEnabled());
        QRegularExpressionMatch said;
        for (auto it = foundLine.globalMatch(h.log.text()); it.hasNext();)
            said = it.next();
        // An empty bus leaves the tree alone; a scan that found a meter rebuilds it.
        found = said.captured(1) == "none" ? QStringList() : said.captured(1).split(',');
        rebuilds += found.isEmpty() ? 0 : 1;
        for (const QString& id : found)
            QVERIFY2(id == "3" || id == "17", qPrintable(said.captured(0)));
    }
    QCOMPARE(found, (QStringList{"3", "17"}));
    QCOMPARE(rebuild.size(), rebuilds);
    QCOMPARE(rebuild.first().at(0).value<void*>(), static_cast<void*>(h.plugin));
    h.plugin->mkTree();
    QCOMPARE(h.meterCount(), 2);
    QVERIFY(h.unit(3) && h.unit(17));
    QVERIFY(h.log.text().contains("Flow meter plugin: Scan found units 3,17"));
    QVERIFY(waitUntil([&] { return h.log.text().contains("Flow meter plugin: Unit 17: flow"); }));

    // The line goes away during a second scan: it is said to have stopped, not to have found
    // nothing, and the meters keep their ids.
    QSignalSpy status(h.window.get(), &cMainWindow::statusBarMsgSignal);
    progress.clear();
    scan->trigger();
    QVERIFY(waitUntil([&] { return !progress.isEmpty() && progress.last() >= 5; }));
    // The port reports the lost device once, in the host's serial error box.
    ModalAnswerer& ok = h.answerBoxes(QMessageBox::Ok);
    QVERIFY(sim.command("vanish 3000"));
    QVERIFY(waitUntil([&] { return progress.last() == -1; }));
    QVERIFY(waitUntil([&] { return ok.titles.contains("ERROR"); }));
    QVERIFY(progress.size() < 100);
    const QStringList said = texts(status);
    QVERIFY2(said.contains("Scan stopped: port " + sim.link + " lost"), qPrintable(said.join("\n")));
    QVERIFY(!said.contains("Scan found: no meter"));
    QCOMPARE(rebuild.size(), rebuilds);
    h.plugin->mkTree();
    QVERIFY(h.unit(3) && h.unit(17));
    QVERIFY(scan->isEnabled());
}

void TestFlowmeterPlugin::resetTotalizerHoldsTheGuiAndZeroes()
{
    FlowSim sim("1,2");
    QVERIFY(sim.started);
    Host h;
    storePatientLine(h.store);
    QVERIFY(h.start(sim.link, "1,2"));
    h.select(1);
    QVERIFY(waitUntil([&] { return h.label("totalValue") != "-"; }));
    QVERIFY(h.label("totalValue").section(' ', 0, 0).toDouble() > 1000);

    QStringList locks;
    bool resetDoneAtUnlock = false;
    QObject::connect(h.window.get(), &cMainWindow::appLockSignal, h.window.get(), [&](bool l) {
        locks << (l ? "lock" : "unlock");
        if (!l)
            resetDoneAtUnlock = h.log.text().contains("Flow meter plugin: Unit 1: totalizer reset");
    });
    QSignalSpy status(h.window.get(), &cMainWindow::statusBarMsgSignal);
    QMenu menu;
    QToolBar bar;
    QAction* reset = h.action("flowmeterResetTotalizer", menu, bar);
    QVERIFY(reset);

    // Asked first: No leaves the meter alone.
    {
        ModalAnswerer no(QMessageBox::No);
        reset->trigger();
        QCOMPARE(no.count(), 1);
        QVERIFY(no.texts.first().contains("Meter 1"));
    }
    QTest::qWait(300);
    QVERIFY(locks.isEmpty());
    QVERIFY(!sim.collect().contains("flowsim: <- 01 06 00 0C 00 01"));

    ModalAnswerer& yes = h.answerBoxes(QMessageBox::Yes);
    reset->trigger();
    QCOMPARE(yes.count(), 1);
    QVERIFY(waitUntil([&] { return locks == QStringList{"lock", "unlock"}; }));
    // Locked until the meter had confirmed, and reported as a success.
    QVERIFY(resetDoneAtUnlock);
    // The simulator prints what it was asked after it has answered: it may reach this output
    // after the program has taken the answer.
    QVERIFY(sim.waitFor("flowsim: <- 01 06 00 0C 00 01"));
    QStringList said = texts(status);
    QVERIFY2(said.contains("Resetting the totalizer") && said.contains("Totalizer reset"), qPrintable(said.join('|')));
    QVERIFY2(said.filter("failed").isEmpty(), qPrintable(said.join('|')));
    QVERIFY(waitUntil([&] { return h.label("totalValue").section(' ', 0, 0).toDouble() < 1.0; }));
    // Only the selected meter was reset.
    QVERIFY(!sim.collect().contains("flowsim: <- 02 06 00 0C"));

    // A meter that answers the command and does nothing (write-protected) is not taken at
    // its word: its totalizer, read back, has not dropped.
    h.select(2);
    QVERIFY(sim.command("ignore 1"));
    QVERIFY(waitUntil([&] { return sim.collect().contains("flowsim: ignore 1"); }));
    status.clear();
    locks.clear();
    reset->trigger();
    QCOMPARE(yes.count(), 2);
    QVERIFY(waitUntil([&] { return locks == QStringList{"lock", "unlock"}; }));
    QVERIFY(sim.waitFor("(write ignored)"));
    said = texts(status);
    QVERIFY2(said.contains("Totalizer reset failed: Meter 2: not confirmed"), qPrintable(said.join('|')));
    QVERIFY(h.label("totalValue").section(' ', 0, 0).toDouble() > 1000);

    // Nor is one whose totalizer is no number: -inf is below anything, a reset done by its
    // looks.
    QVERIFY(sim.command("setf 2 2 -inf"));
    QVERIFY(waitUntil([&] { return h.label("totalValue") == "invalid: infinite"; }));
    status.clear();
    locks.clear();
    reset->trigger();
    QCOMPARE(yes.count(), 3);
    QVERIFY(waitUntil([&] { return locks == QStringList{"lock", "unlock"}; }));
    said = texts(status);
    QVERIFY2(said.contains("Totalizer reset failed: Meter 2: totalizer infinite"), qPrintable(said.join('|')));
}

void TestFlowmeterPlugin::setupSaveKeepsAndDiscardRestores()
{
    FlowSim sim("1,2");
    QVERIFY(sim.started);
    Host h;
    // A meter keeps the damping it has (1.0 s) whatever the stored one (3.0 s): the user did
    // not change it for this meter. Two rounds of reads, and nothing was written.
    QSettings(h.store.file(), QSettings::IniFormat).setValue("FlowMeter/damping", 30);
    storePatientLine(h.store);
    QVERIFY(h.start(sim.link, "1"));
    QVERIFY(waitUntil([&] { return sim.collect().count("flowsim: <- 01 03 00 00 00 10") >= 2; }));
    QVERIFY2(!sim.collect().contains("flowsim: <- 01 06 00 0B"), qPrintable(sim.collect()));
    QVERIFY(!h.log.text().contains("damping set to"));
    auto* setup = h.plugin->setupWidget;
    const FlowLinesPage lines(setup);
    auto* period = setup->findChild<QSpinBox*>("periodSpin");
    auto* damping = setup->findChild<QDoubleSpinBox*>("dampingSpin");
    QVERIFY(lines.meters() && period && damping);
    QVERIFY(!setup->findChild<QDoubleSpinBox*>("calibrationSpin")->isVisibleTo(setup));

    // Discard: the page shows the previous values again, nothing is stored or written.
    h.plugin->prepareSetup();
    QCOMPARE(lines.ids(), QString("1"));
    lines.setIds({1, 2});
    period->setValue(700);
    h.plugin->rejectSetup();
    QCOMPARE(lines.ids(), QString("1"));
    QCOMPARE(period->value(), 200);
    QVERIFY(!QSettings(h.store.file(), QSettings::IniFormat).contains("FlowMeter/ids"));

    // What would make a meter's readings another's is said under the lines as it is entered;
    // an id box takes no id outside 1 to 247.
    auto* problems = setup->findChild<QLabel*>("linesProblems");
    h.plugin->prepareSetup();
    lines.setIds({1, 1});
    QVERIFY(problems->isVisibleTo(setup));
    QCOMPARE(problems->text(), QString("Line 1: unit id 1 is given to more than one meter."));
    lines.idBox(1)->setValue(300);
    QCOMPARE(lines.idBox(1)->value(), 247);
    QVERIFY(!problems->isVisibleTo(setup));

    // Save as the host does it: saveSettings, then acceptSetup.
    lines.setIds({1, 2});
    period->setValue(400);
    damping->setValue(2.5);
    QSignalSpy rebuild(h.window.get(), &cMainWindow::updateTreeSignal);
    QSignalSpy status(h.window.get(), &cMainWindow::statusBarMsgSignal);
    h.plugin->saveSettings();
    h.plugin->acceptSetup();
    QVERIFY2(status.isEmpty(), qPrintable(texts(status).join('|')));
    QSettings stored(h.store.file(), QSettings::IniFormat);
    QCOMPARE(stored.value("FlowMeter/ids").toString(), QString("1,2"));
    QCOMPARE(stored.value("FlowMeter/period").toInt(), 400);
    QCOMPARE(stored.value("FlowMeter/damping").toInt(), 25);
    QCOMPARE(stored.value("FlowMeter/port").toString(), sim.link);
    // The tree is rebuilt once the host has unlocked the window, and the damping reaches
    // every meter.
    QVERIFY(waitUntil([&] { return rebuild.size() == 1; }));
    QVERIFY(waitUntil([&] { return sim.collect().contains("flowsim: <- 02 06 00 0B 00 19"); }));
    QVERIFY(sim.waitFor("flowsim: <- 01 06 00 0B 00 19"));
    h.plugin->mkTree();
    QCOMPARE(h.meterCount(), 2);

    // A Save that leaves the damping as it was writes it to no meter, not even to one whose
    // damping was set to another at its panel meanwhile.
    QVERIFY(sim.command("set 2 11 40"));
    h.plugin->prepareSetup();
    period->setValue(300);
    h.plugin->saveSettings();
    h.plugin->acceptSetup();
    const int polls = sim.collect().count("flowsim: <- 02 03 00 00 00 10");
    QVERIFY(waitUntil([&] { return sim.collect().count("flowsim: <- 02 03 00 00 00 10") >= polls + 2; }));
    QCOMPARE(sim.collect().count("flowsim: <- 01 06 00 0B"), 1);
    QCOMPARE(sim.collect().count("flowsim: <- 02 06 00 0B"), 1);

    // At unload only what was saved is kept, not a page left half edited.
    h.plugin->prepareSetup();
    lines.setIds({9});
    h.plugin->stopAndWait();
    h.plugin->saveSettings();
    QCOMPARE(QSettings(h.store.file(), QSettings::IniFormat).value("FlowMeter/ids").toString(), QString("1,2"));
}

void TestFlowmeterPlugin::factoryModeWritesTheCalibrationFactor()
{
    FlowSim sim("4");
    QVERIFY(sim.started);
    Host h;
    QVERIFY(h.start(sim.link, "4", true));
    auto* calibration = h.plugin->setupWidget->findChild<QDoubleSpinBox*>("calibrationSpin");
    QVERIFY(calibration->isVisibleTo(h.plugin->setupWidget));
    h.plugin->prepareSetup();
    calibration->setValue(1.25);
    h.plugin->saveSettings();
    h.plugin->acceptSetup();
    // 1.25 is 0x3FA00000: function 16, registers 14 and 15.
    QVERIFY(waitUntil([&] { return sim.collect().contains("flowsim: <- 04 10 00 0E 00 02 04 3F A0 00 00"); }));
}

void TestFlowmeterPlugin::swedishTexts()
{
    FlowSim sim("1");
    QVERIFY(sim.started);
    Host h;
    QVERIFY(h.start(sim.link, "1", false, 2));
    QVERIFY(h.log.text().contains("Loaded language file lang_sv_SE.qm"));
    QCOMPARE(h.unit(1)->text(0), QString("Mätare 1"));
    QVERIFY(waitUntil([&] { return h.label("stateValue") == "Ansluten"; }));
    QMenu menu;
    QToolBar bar;
    QAction* scan = h.action("flowmeterScanBus", menu, bar);
    QCOMPARE(scan->text(), QString("Sök på bussen"));
    scan->trigger();
    QCOMPARE(scan->text(), QString("Avbryt sökningen"));
    scan->trigger();
}

void TestFlowmeterPlugin::everyTextHasItsSwedish()
{
    // Every text the sources mark is in the catalogue, and the Swedish one translates it.
    QStringList marked;
    for (const char* file : {"FlowMeterPlugin.cpp", "FlowPages.cpp", "ReadingCheck.cpp", "LinePoller.cpp", "MeterLink.cpp",
                             "Recorder.cpp", "RecordingEditor.cpp", "TrendView.cpp", "MqttPublisher.cpp", "MqttEditor.cpp",
                             "FlowConfig.cpp"}) {
        QFile f(QStringLiteral(FLOWMETER_SOURCE_DIR) + "/" + file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        static const QRegularExpression mark("(?:translate|QT_TRANSLATE_NOOP)\\(\\s*\"FlowMeter\",\\s*\"((?:[^\"\\\\]|\\\\.)*)\"");
        for (auto it = mark.globalMatch(QString::fromUtf8(f.readAll())); it.hasNext();)
            marked << it.next().captured(1);
    }
    QVERIFY(marked.size() > 40);
    QTranslator sv;
    QVERIFY(sv.load(ProgramRunner::binDir() + "/lang/flowmeter/lang_sv_SE.qm"));
    int same = 0;
    for (const QString& text : marked) {
        const QString t = sv.translate("FlowMeter", text.toUtf8().constData());
        QVERIFY2(!t.isEmpty(), qPrintable("no Swedish for: " + text));
        same += t == text;
    }
    // Units and place-holders alone ("%1 ms") read the same in both.
    QVERIFY2(same <= 4, qPrintable(QString::number(same)));
}

void TestFlowmeterPlugin::faultsTakeTheMeterOfflineAndBack()
{
    FlowSim sim("1,2,3");
    QVERIFY(sim.started);
    Host h;
    QVERIFY(h.start(sim.link, "1,2,3"));
    h.select(2);
    QVERIFY(waitUntil([&] { return h.label("stateValue") == "Online"; }));

    // A 5 ms timer on the GUI thread: the longest gap between its ticks is the longest stall.
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.elapsed(), longest = 0;
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    beat.start(5);

    // Four faults for each of the three meters: offline for two rounds and more, so that a
    // busy machine, handling two rounds' refreshes in one go, still shows it.
    QVERIFY(sim.command("silence 12"));
    QVERIFY(waitUntil([&] { return h.label("stateValue").startsWith("Offline: no answer"); }));
    QVERIFY(h.label("errorCount").toInt() >= 2);
    QVERIFY(waitUntil([&] { return h.label("stateValue") == "Online"; }));
    QVERIFY(sim.command("crc 12"));
    QVERIFY(waitUntil([&] { return h.label("stateValue").startsWith("Offline: corrupt check sum"); }));
    QVERIFY(waitUntil([&] { return h.label("stateValue") == "Online"; }));
    // A meter that always takes 250 ms is reached once the answer time-out allows for it.
    h.plugin->prepareSetup();
    auto* timeout = h.plugin->setupWidget->findChild<QSpinBox*>("timeoutSpin");
    timeout->setValue(1000);
    // Kept inside the half second after which the host gives a transaction up.
    QCOMPARE(timeout->value(), 400);
    h.plugin->saveSettings();
    h.plugin->acceptSetup();
    QVERIFY(sim.command("delay 250 1000"));
    // A starved simulator may still miss the 400 ms now and then: most answers are taken, where
    // the earlier time-out took none, and the meter stays online.
    const int errors = h.label("errorCount").toInt();
    const int answered = sim.collect().count("flowsim: -> 02 ");
    QVERIFY(waitUntil([&] { return sim.collect().count("flowsim: -> 02 ") >= answered + 6; }, 30000));
    QVERIFY2(waitUntil([&] { return h.label("stateValue") == "Online"; }), qPrintable(h.log.text().right(3000)));
    QVERIFY2(h.label("errorCount").toInt() - errors <= 2, qPrintable(h.label("errorCount")));
    QVERIFY(sim.command("clear"));
    // Back to the short time-out for a meter slower than it. The simulator takes requests one
    // after the other and keeps those that came while it was late, which no meter on a bus
    // does: this phase comes last before the link is renewed, so that none of its backlog
    // reaches another phase.
    h.plugin->prepareSetup();
    timeout->setValue(100);
    h.plugin->saveSettings();
    h.plugin->acceptSetup();
    QVERIFY(sim.command("delay 400 12"));
    QVERIFY(waitUntil([&] { return h.label("stateValue").startsWith("Offline:"); }));
    QVERIFY(waitUntil([&] { return h.label("stateValue") == "Online"; }));
    QVERIFY(sim.command("clear"));
    QVERIFY(sim.command("vanish 1500"));
    QVERIFY(waitUntil([&] { return h.label("stateValue").startsWith("Offline: port"); }));
    QVERIFY(waitUntil([&] { return h.label("stateValue") == "Online"; }, 20000));
    beat.stop();
    // A figure to report, not a pass mark: a test never fails on time (sanitizer builds and a
    // loaded machine stretch every stall).
    qInfo("longest GUI-thread stall during silence, corrupt answers, delays and vanish: %lld ms", longest);
}

void TestFlowmeterPlugin::valuesThatAreNoMeasurementAreShownInvalid()
{
    FlowSim sim("1");
    QVERIFY(sim.started);
    Host h;
    QVERIFY(h.start(sim.link, "1"));
    QStringList icons;
    QObject::connect(h.window.get(), &cMainWindow::updatePluginItemSignal, h.window.get(),
                     [&](QTreeWidgetItem* item, const QString& path, bool) { if (item == h.unit(1)) icons << path; });
    h.select(1);
    QVERIFY(waitUntil([&] { return h.label("stateValue") == "Online"; }));
    const QString good = "#208020";

    struct Case
    {
        const char* command;
        const char* label;
        const char* shown;
        const char* state;
    };
    const Case cases[] = {
        {"setf 1 0 nan", "flowValue", "invalid: not a number", "No valid measurement: flow not a number"},
        {"setf 1 0 inf", "flowValue", "invalid: infinite", "No valid measurement: flow infinite"},
        {"setf 1 0 -inf", "flowValue", "invalid: infinite", "No valid measurement: flow infinite"},
        {"setf 1 0 3e38", "flowValue", "invalid: out of range", "No valid measurement: flow out of range"},
        {"setf 1 2 nan", "totalValue", "invalid: not a number", "No valid measurement: totalizer not a number"},
        {"setf 1 4 -300", "temperatureValue", "invalid: out of range",
         "No valid measurement: temperature out of range"},
    };
    for (const Case& c : cases) {
        const QByteArray reg = QByteArray(c.command).split(' ').at(2);
        QVERIFY(sim.command(c.command));
        QVERIFY2(waitUntil([&] { return h.label(c.label) == c.shown; }), c.command);
        QCOMPARE(h.label("stateValue"), QString(c.state));
        QVERIFY(!h.style("stateValue").contains(good));
        QVERIFY(!h.style("alarmValue").contains(good));
        QVERIFY(!h.style(c.label).contains(good));
        QVERIFY2(waitUntil([&] { return !icons.isEmpty() && icons.last() == ":/Other/Pixmaps/alarm22.png"; }), qPrintable(icons.join(" ")));
        QVERIFY(h.log.text().contains("Flow meter plugin: Unit 1: invalid reading (" + QString(c.state).mid(22) + ")"));
        // The values of the same answer that are readings are still shown.
        for (const char* other : {"flowValue", "totalValue", "temperatureValue"})
            if (strcmp(other, c.label) != 0)
                QVERIFY2(!h.label(other).startsWith("invalid"), other);

        // While it lasts: no trend point for an invalid flow, and no newer last good reading
        // (shown to the second: eight more answers take more than one).
        const int points = h.trendPoints();
        const QString lastGood = h.label("lastGoodValue");
        const int answered = sim.collect().count("flowsim: -> 01 03 20");
        QVERIFY(waitUntil([&] { return sim.collect().count("flowsim: -> 01 03 20") >= answered + 8; }));
        QTest::qWait(50);
        QCOMPARE(h.label("lastGoodValue"), lastGood);
        if (reg == "0")
            QCOMPARE(h.trendPoints(), points);
        else
            QVERIFY(waitUntil([&] { return h.trendPoints() > points; }));

        QVERIFY(sim.command("setf 1 " + reg + " off"));
        QVERIFY(waitUntil([&] { return h.label("stateValue") == "Online"; }));
        QVERIFY(h.style("stateValue").contains(good));
        QVERIFY(!h.label(c.label).startsWith("invalid"));
        QVERIFY(waitUntil([&] { return h.label("lastGoodValue") != lastGood; }));
    }
}

void TestFlowmeterPlugin::trendKeepsFiveMinutesOfMonotonicTime()
{
    // Ten minutes of readings every 200 ms; the wall clock is set back a day, or on a day,
    // after two minutes. The trend holds five minutes of the monotonic clock all the same.
    for (int step : {-1, 1}) {
        FlowTrend trend;
        FlowTrend::Stamp at;
        at.monotonicMs = 5'000'000;
        at.wall = QDateTime(QDate(2024, 3, 1), QTime(12, 0));
        for (int i = 0; i < 3000; ++i) {
            if (i == 600)
                at.wall = at.wall.addDays(step);
            trend.add(float(i), at);
            at.monotonicMs += 200;
            at.wall = at.wall.addMSecs(200);
        }
        const QVector<QPointF>& p = trend.points();
        QCOMPARE(p.size(), 1501);
        QCOMPARE(p.first().y(), 1499.0);
        QCOMPARE(p.last().y(), 2999.0);
        QCOMPARE(p.last().x() - p.first().x(), FlowTrend::kSpanSeconds);
    }
}

void TestFlowmeterPlugin::trendShowsTheRecordingsAfterStart()
{
    // Recordings of the day before yesterday (m³/h, a peak, the meter offline for ten rows)
    // and of half an hour ago (l/min, every 2 s), in the data folder of a user of the test's own.
    QTemporaryDir data;
    const QByteArray previousData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    struct Restore
    {
        QByteArray value;
        ~Restore() { value.isEmpty() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", value); }
    } restore{previousData};
    const QString records = data.path() + "/Tessmark/Corvane/records";
    QVERIFY(QDir().mkpath(records));
    QMap<QString, QByteArray> files;
    auto row = [&](qint64 ms, const QByteArray& unit, const char* state, const QByteArray& flow) {
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(ms);
        const QString name = records + "/line1-" + at.date().toString(Qt::ISODate) + ".csv";
        if (!files.contains(name))
            files[name] = "time,line,meter,unit id,state,detail,flow rate [" + unit + "],totalizer [m³]\n";
        files[name] += at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODateWithMs).toUtf8() + ",1,Meter 1,1," +
                       state + ",," + flow + ",1\n";
    };
    const qint64 before = QDateTime(QDate::currentDate().addDays(-2), QTime(12, 0)).toMSecsSinceEpoch();
    for (int i = 0; i < 600; ++i) {
        const bool offline = i >= 400 && i < 410;
        row(before + i * 1000, "m³/h", offline ? "offline" : (i == 300 ? "alarm" : "online"),
            offline ? QByteArray() : QByteArray::number(i == 300 ? 77.5 : 10 + (i % 8) * 0.25));
    }
    const qint64 recent = QDateTime::currentMSecsSinceEpoch() / 1000 * 1000 - 30 * 60000;
    for (int i = 0; i < 300; ++i)
        row(recent + i * 2000, "l/min", "online", i == 100 ? "500" : "100");
    for (auto it = files.begin(); it != files.end(); ++it) {
        QFile f(it.key());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(it.value());
    }

    FlowSim sim("1");
    QVERIFY(sim.started);
    Host h;
    QVERIFY(h.start(sim.link, "1"));
    QVERIFY2(h.waitLog(QString("History read back from %1 recording file(s)\n").arg(files.size())),
             qPrintable(h.log.text().right(1500)));
    h.select(1);
    QVERIFY(waitUntil([&] { return h.label("flowValue") != "-"; }));
    auto* span = h.plugin->displayWidget->findChild<QComboBox*>("trendSpan");
    auto* plot = h.plugin->displayWidget->findChild<QCustomPlot*>("trendCanvas");
    QVERIFY(span && plot);
    QCOMPARE(span->count(), 5);
    span->setCurrentIndex(4);
    emit span->activated(4);
    // The live readings join the ones read back, parted by a gap.
    QVERIFY(waitUntil([&] {
        return plot->graph(0)->dataCount() > 0 &&
               (plot->graph(0)->data()->constEnd() - 1)->key * 1000 > recent + 300 * 2000;
    }));
    // A pixel column's width: where it holds several seconds, it is drawn at its middle.
    const double column = 7 * 24 * 3600 * 1000.0 / plot->axisRect()->width();
    double peakBefore = 0, peakRecent = 0;
    bool gapOffline = false, gapToLive = false, gapAfterBefore = false;
    for (auto it = plot->graph(0)->data()->constBegin(); it != plot->graph(0)->data()->constEnd(); ++it) {
        const double ms = it->key * 1000;
        if (std::isnan(it->value)) {
            gapOffline = gapOffline || (ms >= before + 399000 && ms <= before + 410000);
            gapAfterBefore = gapAfterBefore || (ms >= before + 599000 && ms < recent);
            gapToLive = gapToLive || ms >= recent + 299 * 2000;
            continue;
        }
        QVERIFY2(ms >= before - column, qPrintable(QDateTime::fromMSecsSinceEpoch(qint64(ms)).toString(Qt::ISODate)));
        if (ms < before + 600000 + column)
            peakBefore = std::max(peakBefore, it->value);
        else if (ms < recent + 600000 + column)
            peakRecent = std::max(peakRecent, it->value);
    }
    QCOMPARE(peakBefore, 77.5);
    QCOMPARE(peakRecent, 500 * 60.0 / 1000.0);
    QVERIFY(gapOffline);
    QVERIFY(gapAfterBefore);
    QVERIFY(gapToLive);
    // The five minutes of now hold the live readings, and more as they come.
    span->setCurrentIndex(0);
    emit span->activated(0);
    const int live = h.trendPoints();
    QVERIFY(waitUntil([&] { return h.trendPoints() > live; }));
}

void TestFlowmeterPlugin::unusableSettingsAreRefusedWithALine()
{
    FlowSim sim("2,4");
    QVERIFY(sim.started);
    Host h;
    // A calibration factor of NaN, and a 50 MB unit id list and port: each key that cannot be
    // used takes its default (here the environment's port and ids), said in a line. The long
    // ones are gone from the file, the others are kept for the user to see.
    QByteArray ids(50 * 1024 * 1024, '7');
    for (qsizetype i = 1; i < ids.size(); i += 2)
        ids[i] = ',';
    const QByteArray port = "/dev/" + QByteArray(50 * 1024 * 1024, 'x');
    h.store.writeRaw("[FlowMeter]\ncalibration=nan\nperiod=fast\ntimeout=9000\nids=" + ids + "\nport=" + port + "\n");
    QVERIFY(h.start(sim.link, "4", true));
    const QString log = h.log.text();
    QVERIFY2(log.contains("Flow meter plugin: Setting ids is 52428800 characters long (more than 4096); the default is used\n"), qPrintable(log));
    QVERIFY(log.contains("Flow meter plugin: Setting port is 52428805 characters long (more than 4096); the default is used\n"));
    QVERIFY(log.contains("Flow meter plugin: Setting calibration = nan is not a number; the default 1 is used\n"));
    QVERIFY(log.contains("Flow meter plugin: Setting period is not a whole number; the default 200 is used\n"));
    QVERIFY(log.contains("Flow meter plugin: Setting timeout = 9000 is out of range (20 to 400); 400 is used\n"));
    QVERIFY(log.contains("Flow meter plugin: Port " + sim.link + ", unit ids 4, poll period 200 ms, answer time-out 400 ms\n"));
    QVERIFY(QFileInfo(h.store.file()).size() < 100);
    QCOMPARE(QSettings(h.store.file(), QSettings::IniFormat).value("FlowMeter/period").toString(), QString("fast"));
    QCOMPARE(h.meterCount(), 1);
    h.select(4);
    QVERIFY(waitUntil([&] { return h.label("stateValue") == "Online"; }));
    h.plugin->prepareSetup();
    QCOMPARE(h.plugin->setupWidget->findChild<QDoubleSpinBox*>("calibrationSpin")->value(), 1.0);
    h.plugin->rejectSetup();
}

void TestFlowmeterPlugin::recordFolderMustBeAbsoluteAndNotTheRoot_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("problem");
    const QString relative = "The recording folder must be an absolute path, starting with /.";
    const QString root = "The recording folder cannot be the root folder /.";
    QTest::newRow("root") << "/" << root;
    QTest::newRow("root, written longer") << "//" << root;
    QTest::newRow("root, through a folder") << "/tmp/.." << root;
    QTest::newRow("relative") << "records" << relative;
    QTest::newRow("relative to here") << "./records" << relative;
    QTest::newRow("home, unexpanded") << "~/records" << relative;
    QTest::newRow("absolute") << QDir::tempPath() + "/corvane-records" << QString();
}

// A records folder the program would take relative to wherever it was started, or the root
// (as root it wrote /line1-....csv there), is refused: from the settings file with a line and
// the default folder, on the setup page under the field and with Save refused.
void TestFlowmeterPlugin::recordFolderMustBeAbsoluteAndNotTheRoot()
{
    QFETCH(QString, folder);
    QFETCH(QString, problem);
    const QString fallback = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Tessmark/Corvane/records";
    FlowSim sim("1");
    QVERIFY(sim.started);
    Host h;
    setRecording(h.store, folder, 1, false);
    QVERIFY(h.start(sim.link, "1"));
    const QString refusedLine = "Flow meter plugin: Setting recordFolder: '" + folder + "' is ";
    QCOMPARE(h.log.text().contains(refusedLine), !problem.isEmpty());
    if (!problem.isEmpty())
        QVERIFY2(h.log.text().contains("; the default folder " + fallback + " is used\n"), qPrintable(h.log.text()));
    auto* setup = h.plugin->setupWidget;
    auto* folderEdit = setup->findChild<QLineEdit*>("recordFolderEdit");
    auto* shown = setup->findChild<QLabel*>("recordFolderProblem");
    QVERIFY(folderEdit && shown);
    h.plugin->prepareSetup();
    QCOMPARE(folderEdit->text(), problem.isEmpty() ? folder : QString());
    QVERIFY(!shown->isVisibleTo(setup));

    // Typed on the page: said under the field as it is entered, and Save takes nothing.
    const QString before = QSettings(h.store.file(), QSettings::IniFormat).value("FlowMeter/recordFolder").toString();
    folderEdit->setText(folder);
    QCOMPARE(shown->isVisibleTo(setup), !problem.isEmpty());
    QCOMPARE(shown->text(), problem);
    QSignalSpy status(h.window.get(), &cMainWindow::statusBarMsgSignal);
    h.plugin->saveSettings();
    h.plugin->acceptSetup();
    QSettings stored(h.store.file(), QSettings::IniFormat);
    if (problem.isEmpty()) {
        QCOMPARE(stored.value("FlowMeter/recordFolder").toString(), folder);
        return;
    }
    QCOMPARE(stored.value("FlowMeter/recordFolder").toString(), before);
    QVERIFY(h.log.text().contains("Flow meter plugin: Setup not saved: the recording folder '" + folder + "' is "));
    QVERIFY2(texts(status).contains("Flow meter: setup not saved: " + problem), qPrintable(texts(status).join('|')));
    // The page comes back as it was entered, with what is wrong with it.
    h.plugin->prepareSetup();
    QCOMPARE(folderEdit->text(), folder);
    QVERIFY(shown->isVisibleTo(setup));
    h.plugin->rejectSetup();
}

void TestFlowmeterPlugin::overlongValuesGoAndTheRestStaysByteForByte()
{
    // The store is the host's and every plug-in's: only the overlong key lines of the group go,
    // cut where QSettings cuts them, and every other byte stays (CRLF, a byte-order mark, a
    // line continued by a backslash, a quoted value over several lines, a long comment, long
    // values of other groups).
    TempSettings store;
    const QByteArray big(6000, '5');
    const QByteArray head = "\xef\xbb\xbf[General]\r\nfoo=\"a;b\"\r\n[Other]\r\nids=" + big +
                            "\r\nquoted=\"a\r\n[FlowMeter]\r\nids=" + big + "\"\r\n[FlowMeter]\r\nperiod=300\r\n";
    const QByteArray note = "note=\"one\r\n" + big + "=x\"\r\n";
    const QByteArray port = "port=/dev/a\\\r\n" + big + "\r\n";
    const QByteArray comment = ";" + big + "\r\n  ";
    const QByteArray ids = "ids=" + big + "," + big + "\r\n";
    const QByteArray damping = "damping=\\\\\r\n";
    const QByteArray limit = "limit=" + big + "\r\n";
    const QByteArray tail = "timeout=50 ; " + big + "\r\n[Other2]\r\nk=v\r\n";
    const QByteArray whole = head + note + port + comment + ids + damping + limit + tail;
    const QByteArray kept = head + comment + damping + tail;
    store.writeRaw(whole);
    QFile::setPermissions(store.file(), QFile::ReadOwner | QFile::WriteOwner);
    QMap<QString, QVariant> before;
    {
        QSettings s(store.file(), QSettings::IniFormat);
        for (const QString& key : s.allKeys())
            before[key] = s.value(key);
    }
    QStringList lines;
    auto log = [&](const QString& line) { lines << line; };
    auto contents = [&] {
        QFile f(store.file());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    SettingsReader::dropOverlongValues(store.file(), "FlowMeter", log);
    QVERIFY(contents() == kept);
    QCOMPARE(QFile::permissions(store.file()) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
    QCOMPARE(lines, QStringList({"Setting note is 6009 characters long (more than 4096); the default is used",
                                 "Setting port is 6009 characters long (more than 4096); the default is used",
                                 "Setting ids is 12001 characters long (more than 4096); the default is used",
                                 "Setting limit is 6000 characters long (more than 4096); the default is used"}));
    QSettings s(store.file(), QSettings::IniFormat);
    for (const char* key : {"FlowMeter/note", "FlowMeter/port", "FlowMeter/ids", "FlowMeter/limit"})
        QVERIFY(before.remove(key) == 1);
    QCOMPARE(s.allKeys().size(), before.size());
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        QVERIFY2(s.value(it.key()) == it.value(), qPrintable(it.key()));
    QCOMPARE(s.value("FlowMeter/timeout").toString(), QString("50"));
    QVERIFY(s.value("Other/quoted").toString().endsWith("ids=" + big));

    // While another save holds the store, it is left as it is and the value is refused once Qt
    // has read it.
    store.writeRaw(whole);
    lines.clear();
    {
        QLockFile other(store.file() + ".lock");
        QVERIFY(other.tryLock(0));
        SettingsReader::dropOverlongValues(store.file(), "FlowMeter", log);
    }
    QVERIFY(contents() == whole);
    QCOMPARE(lines, QStringList{"Overlong settings could not be taken out of " + store.file() + " (it cannot be locked)"});
    QSettings again(store.file(), QSettings::IniFormat);
    again.beginGroup("FlowMeter");
    QCOMPARE(SettingsReader(again, log).text("ids", "1"), QString("1"));
    QCOMPARE(lines.last(), QString("Setting ids is 12002 characters long (more than 4096); the default is used"));
}

void TestFlowmeterPlugin::failedSaveIsSaidAndTheInputKept()
{
    FlowSim sim("1,2");
    QVERIFY(sim.started);
    Host h;
    QVERIFY(h.start(sim.link, "1"));
    const FlowLinesPage lines(h.plugin->setupWidget);
    QSignalSpy status(h.window.get(), &cMainWindow::statusBarMsgSignal);
    {
        UnwritableStore blocked(h.store);
        QVERIFY(blocked.ok);
        h.plugin->prepareSetup();
        lines.setIds({1, 2});
        h.plugin->saveSettings();
        h.plugin->acceptSetup();
        QVERIFY2(texts(status).contains("Flow meter: settings could not be saved to " + h.store.file()),
                 qPrintable(texts(status).join('|')));
        QVERIFY(h.log.text().contains("Flow meter plugin: Settings could not be saved to " + h.store.file() + "\n"));
        QVERIFY(!h.log.text().contains("Settings saved: port " + sim.link + ", unit ids 1,2"));
        // What was entered is in use and on the page the next time it opens.
        h.plugin->prepareSetup();
        QCOMPARE(lines.ids(), QString("1,2"));
        h.plugin->rejectSetup();
        h.plugin->mkTree();
        QCOMPARE(h.meterCount(), 2);
    }
    // Once the folder can be written again, the next save keeps it.
    h.plugin->saveSettings();
    QVERIFY(h.log.text().contains("Settings saved: port " + sim.link + ", unit ids 1,2"));
    QCOMPARE(QSettings(h.store.file(), QSettings::IniFormat).value("FlowMeter/ids").toString(), QString("1,2"));
}

void TestFlowmeterPlugin::scanKeepsPollingAndCanBeCancelled()
{
    FlowSim sim("1,5");
    QVERIFY(sim.started);
    Host h;
    QSettings(h.store.file(), QSettings::IniFormat).setValue("FlowMeter/timeout", 30);
    QVERIFY(h.start(sim.link, "1"));
    h.select(1);
    QVERIFY(waitUntil([&] { return h.label("stateValue") == "Online"; }));
    QList<int> progress;
    QObject::connect(h.window.get(), &cMainWindow::statusBarProgressSignal, h.window.get(),
                     [&](const QString&, int v) { progress << v; });
    QSignalSpy status(h.window.get(), &cMainWindow::statusBarMsgSignal);
    QSignalSpy rebuild(h.window.get(), &cMainWindow::updateTreeSignal);
    QMenu menu;
    QToolBar bar;
    QAction* scan = h.action("flowmeterScanBus", menu, bar);
    scan->trigger();
    QVERIFY(waitUntil([&] { return !progress.isEmpty() && progress.last() >= 5; }));
    // The configured meter is still read, and its page follows, while the scan goes on.
    const int answered = sim.answers(1).size();
    const QString lastGood = h.label("lastGoodValue");
    QVERIFY(waitUntil([&] { return sim.answers(1).size() >= answered + 8 && h.label("lastGoodValue") != lastGood; }));
    QVERIFY(progress.last() != -1);
    QCOMPARE(h.label("stateValue"), QString("Online"));

    QCOMPARE(scan->text(), QString("Cancel scan"));
    QVERIFY(scan->isEnabled());
    scan->trigger();
    QVERIFY(waitUntil([&] { return progress.last() == -1; }));
    QVERIFY2(texts(status).contains("Scan stopped: cancelled"), qPrintable(texts(status).join('|')));
    QVERIFY(h.log.text().contains("Flow meter plugin: Scan cancelled at unit "));
    QVERIFY(!h.log.text().contains("Scan found"));
    QCOMPARE(rebuild.size(), 0);
    QCOMPARE(scan->text(), QString("Scan bus"));
}

void TestFlowmeterPlugin::openErrorIsShownInWords()
{
    // A regular file where the device should be: a slip of the path a user can make.
    QTemporaryDir dir;
    const QString path = dir.filePath("notaport");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    Host h;
    h.captureConsole();
    h.answerBoxes(QMessageBox::Ok);
    QVERIFY(h.start(path, "1"));
    // The port is asked for from the poll thread, through the event loop the wait below runs.
    QSignalSpy status(h.window.get(), &cMainWindow::statusBarMsgSignal);
    const QString words = "not a serial device";
    QVERIFY(waitUntil([&] {
        return texts(status).contains("Flow meter: port " + path + " cannot be opened (" + words + "); trying again");
    }));
    h.plugin->selectItem(h.unit(1));
    QVERIFY(waitUntil([&] { return h.info("lastErrorValue") == "port " + path + " cannot be opened: " + words; }));
    QCOMPARE(h.info("lineLabel"), "9600 8N1, not open: " + words);
    // The log says it in English once, not at every retry.
    QVERIFY(h.waitLog("Flow meter plugin: Port " + path + ": not a serial device (a regular file)\n"));
    QTest::qWait(2500);
    QCOMPARE(h.log.text().count("Flow meter plugin: Port " + path + ": not a serial device"), 1);
}

namespace {

void storeLine(const TempSettings& store, int baud, const char* parity)
{
    QSettings s(store.file(), QSettings::IniFormat);
    s.setValue("FlowMeter/baud", baud);
    s.setValue("FlowMeter/parity", parity);
    s.sync();
}

} // namespace

void TestFlowmeterPlugin::meterAt19200EvenParityAndAWrongRateCorrected()
{
    {
        // The meters at 9600, the plug-in at 19200: nothing is heard. Set right and saved, the
        // port opens again at the new rate and the meter is back, in the same program.
        FlowSim sim("1");
        QVERIFY(sim.started);
        Host h;
        h.captureConsole();
        storeLine(h.store, 19200, "N");
        QVERIFY(h.start(sim.link, "1"));
        h.select(1);
        QVERIFY(waitUntil([&] { return h.label("stateValue").startsWith("Offline: no answer"); }));
        QVERIFY(sim.waitFor("requests go unheard"));
        h.plugin->prepareSetup();
        auto* rate = h.plugin->setupWidget->findChild<QComboBox*>("rateBox");
        QCOMPARE(rate->currentText(), QString("19200"));
        rate->setCurrentIndex(rate->findData(9600));
        h.plugin->saveSettings();
        h.plugin->acceptSetup();
        QVERIFY(waitUntil([&] { return h.label("stateValue") == "Online"; }));
        QVERIFY(h.log.text().contains("Settings saved: port " + sim.link + ", unit ids 1, line 9600 8N1"));
        QCOMPARE(QSettings(h.store.file(), QSettings::IniFormat).value("FlowMeter/baud").toInt(), 9600);
    }
    FlowSim sim("1", {"--baud", "19200", "--parity", "even"});
    QVERIFY(sim.started);
    Host h;
    h.captureConsole();
    StdStreamCapture console(2);
    h.answerBoxes(QMessageBox::Ok);
    storeLine(h.store, 19200, "E");
    QVERIFY(h.start(sim.link, "1"));
    h.select(1);
    QVERIFY2(waitUntil([&] { return h.label("stateValue") == "Online"; }), qPrintable(console.text()));
    QVERIFY(h.waitLog("Flow meter plugin: Unit 1: flow"));
    QVERIFY2(!console.text().contains("Error code"), qPrintable(console.text()));
    QVERIFY(h.log.text().contains("Flow meter plugin: Opened port " + sim.link + " at 19200 8E1\n"));
    QCOMPARE(h.info("lineLabel"), QString("19200 8E1"));
    // The host's line shows what the terminal runs. A pseudo-terminal may drop the parity (the
    // simulator then compares rate and stop bits only); if it did, a line of its own says so.
    const QString log = h.console->text();
    const bool kept = log.contains(" Opened " + sim.link + " (19200,8,E,1)\n");
    const bool dropped = log.contains(" Opened " + sim.link + " (19200,8,N,1)\n") &&
                         log.contains(" Line settings 19200 8E1 asked, the device took 19200 8N1 on " + sim.link + "\n");
    QVERIFY2(kept != dropped, qPrintable(log.right(3000)));
}

void TestFlowmeterPlugin::silenceBetweenFramesFollowsTheRate_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<double>("leastUs");
    // 3.5 characters of 10 bits up to 19200 baud, 1.75 ms above.
    QTest::newRow("9600") << 9600 << 3.5 * 10 * 1e6 / 9600;
    QTest::newRow("19200") << 19200 << 3.5 * 10 * 1e6 / 19200;
    QTest::newRow("38400") << 38400 << 1750.0;
    QTest::newRow("115200") << 115200 << 1750.0;
}

void TestFlowmeterPlugin::silenceBetweenFramesFollowsTheRate()
{
    QFETCH(int, baud);
    QFETCH(double, leastUs);
    FlowSim sim("1,2,3", {"--baud", QString::number(baud), "--pace"});
    QVERIFY(sim.started);
    Host h;
    h.captureConsole();
    storeLine(h.store, baud, "N");
    QSettings(h.store.file(), QSettings::IniFormat).setValue("FlowMeter/period", 50);
    QVERIFY(h.start(sim.link, "1,2,3"));
    // Past the first contact (its damping writes have shorter answers): whole-map reads only.
    QVERIFY(h.waitLog("plugin: Unit 3: flow"));
    QTest::qWait(300);
    const int skip = sim.frames().size();
    QElapsedTimer polled;
    polled.start();
    QVERIFY(waitUntil([&] { return polled.elapsed() >= 1500 && sim.frames().size() > skip + 10; }, 30000));
    const QVector<FlowSim::Frame> frames = sim.frames();
    QVERIFY(frames.size() > skip + 10);
    // The tap has the requests; each answer follows its request after the simulator's own
    // silence and takes 37 characters on the wire. What is left of the gap is the host's.
    const double charUs = 10 * 1e6 / baud;
    const double answerEndsAfterUs = std::max(3.5 * charUs, baud > 19200 ? 1750.0 : 0.0) + 37 * charUs;
    double least = 1e12;
    for (int i = skip + 1; i < frames.size(); ++i)
        least = std::min(least, frames[i].startUs - frames[i - 1].endUs - answerEndsAfterUs);
    QVERIFY2(least >= leastUs, qPrintable(QString("%1 us of silence, at least %2 wanted").arg(least).arg(leastUs)));
    // Those gaps also carry the simulator's and the terminal's latency, milliseconds that hide a
    // silence short by less than that. The plug-in waits what its port says, and the port is
    // shared at equal settings: that figure is held to the rate's own.
    cSerial* port = h.window->openPort(sim.link.toStdString(), cLineSettings(uint32_t(baud), 8, 'N', 1));
    QVERIFY(port);
    const uint32_t silenceUs = port->interFrameSilenceUs();
    h.window->closePort(port);
    QCOMPARE(silenceUs, uint32_t(std::ceil(leastUs)));
}

void TestFlowmeterPlugin::portBoxOffersTheDevicesPresent()
{
    FlowSim sim("1");
    QVERIFY(sim.started);
    Host h;
    h.captureConsole();
    QVERIFY(h.start(sim.link, "1"));
    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkpath("dev/serial/by-id") && QDir(root.path()).mkpath("sys/class/tty"));
    QFile node(root.path() + "/dev/ttyUSB0");
    QVERIFY(node.open(QIODevice::WriteOnly));
    node.close();
    const QString stable = root.path() + "/dev/serial/by-id/usb-FTDI_USB-RS485_A1B2-if00-port0";
    QVERIFY(QFile::link("../../ttyUSB0", stable));
    auto* picker = h.plugin->findChild<cPortPicker*>();
    QVERIFY(picker);
    picker->setDeviceRoot(root.path());

    h.plugin->prepareSetup();
    auto* box = h.plugin->setupWidget->findChild<QComboBox*>("portBox");
    QCOMPARE(box->count(), 1);
    QVERIFY(box->itemText(0).contains(stable));
    // What was stored stays in the field; a device picked is stored by its stable path.
    QCOMPARE(h.plugin->setupWidget->findChild<QLineEdit*>("portEdit")->text(), sim.link);
    box->setCurrentIndex(0);
    emit box->activated(0);
    QCOMPARE(h.plugin->setupWidget->findChild<QLineEdit*>("portEdit")->text(), stable);
    h.plugin->saveSettings();
    h.plugin->acceptSetup();
    QCOMPARE(QSettings(h.store.file(), QSettings::IniFormat).value("FlowMeter/port").toString(), stable);

    // A path typed in is stored as typed, also when a device offered starts the same way (an
    // adapter to be plugged in later, ttyUSB1, while ttyUSB10 is there).
    QFile other(root.path() + "/dev/ttyUSB10");
    QVERIFY(other.open(QIODevice::WriteOnly));
    other.close();
    h.plugin->prepareSetup();
    QCOMPARE(box->count(), 2);
    auto* edit = h.plugin->setupWidget->findChild<QLineEdit*>("portEdit");
    // Completion acts only in a shown window with the focus, as the user has it. The events
    // this lets through include the plug-in opening the fake device picked above, which is no
    // terminal: its error box is answered.
    h.answerBoxes(QMessageBox::Ok);
    QWidget* page = edit->window();
    page->show();
    // An answered box can take the activation back: ask again until the page has it.
    QTRY_VERIFY((page->activateWindow(), edit->setFocus(), edit->hasFocus()));
    edit->selectAll();
    const QString typed = root.path() + "/dev/ttyUSB1";
    QTest::keyClicks(edit, typed);
    QTest::keyClick(edit, Qt::Key_Tab);
    QCOMPARE(edit->text(), typed);
    h.plugin->saveSettings();
    h.plugin->acceptSetup();
    QCOMPARE(QSettings(h.store.file(), QSettings::IniFormat).value("FlowMeter/port").toString(), typed);
}

// A port the user changes on the setup page is said in the log, not raised as an alarm: a meter
// that answers on the new port as it did on the old is never offline on the way.
void TestFlowmeterPlugin::portChangedOnTheSetupPageIsNoAlarm()
{
    FlowSim sim("1");
    FlowSim other("1");
    QVERIFY(sim.started && other.started);
    Host h;
    storePatientLine(h.store);
    QVERIFY(h.start(sim.link, "1"));
    EventLog events;
    QVERIFY(QObject::connect(h.plugin, SIGNAL(meterEvent(MeterEvent)), &events, SLOT(take(MeterEvent))));
    h.select(1);
    QVERIFY(waitUntil([&] { return h.label("stateValue") == "Online"; }));

    h.plugin->prepareSetup();
    h.plugin->setupWidget->findChild<QLineEdit*>("portEdit")->setText(other.link);
    h.plugin->saveSettings();
    h.plugin->acceptSetup();
    QVERIFY(h.waitLog("Flow meter plugin: Opened port " + other.link + " at 9600 8N1\n"));
    const int opened = int(h.log.text().indexOf("Flow meter plugin: Opened port " + other.link));
    QVERIFY(waitUntil([&] { return h.log.text().mid(opened).count("Flow meter plugin: Unit 1: flow") >= 3; }));
    for (const MeterEvent& e : events.all)
        QVERIFY2(e.kind != MeterEvent::WentOffline || !e.detail.startsWith("port changed"), qPrintable(e.detail));
    QVERIFY(!h.log.text().contains("offline: port changed"));
    QCOMPARE(h.alarmCount("Meter 1", "port changed"), 0);
    QCOMPARE(h.label("stateValue"), QString("Online"));
    QVERIFY2(h.log.text().contains("Flow meter plugin: Line 1: port " + sim.link + " at 9600 8N1 changed to " +
                                   other.link + " at 9600 8N1; the meters keep their state while it opens\n"),
             qPrintable(h.log.text()));
}

void TestFlowmeterPlugin::idListReadsRangesAndNamesWhatItLeavesOut()
{
    QStringList rejected;
    QCOMPARE(IdList::parse("5, 1;3-4 2  247", &rejected), (std::vector<int>{1, 2, 3, 4, 5, 247}));
    QVERIFY(rejected.isEmpty());
    // Each id once, whatever the overlaps; a range written with blanks counts.
    QCOMPARE(IdList::parse("2-4, 3 - 6, 4", &rejected), (std::vector<int>{2, 3, 4, 5, 6}));
    QVERIFY(rejected.isEmpty());
    // Outside 1 to 247, backwards, not numbers, four digits that would wrap: named, left out.
    QCOMPARE(IdList::parse("0, 248, 9-7, 1-300, x, -3, 1000, 12", &rejected), std::vector<int>{12});
    QCOMPARE(rejected, (QStringList{"0", "248", "9-7", "1-300", "x", "-3", "1000"}));
    QCOMPARE(IdList::parse("", nullptr), std::vector<int>{});
    QCOMPARE(IdList::text({1, 2, 5}), QString("1,2,5"));
    QCOMPARE(IdList::parse(IdList::text({3, 7, 200})), (std::vector<int>{3, 7, 200}));
}

namespace {

// The lines of one group of an INI file, as bytes.
QByteArray group(const QString& file, const QByteArray& name)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = f.readAll();
    const qsizetype from = all.indexOf("[" + name + "]");
    if (from < 0)
        return {};
    const qsizetype to = all.indexOf("\n[", from);
    return all.mid(from, to < 0 ? -1 : to - from);
}

} // namespace

void TestFlowmeterPlugin::oldSettingsBecomeOneLineAndStayOnTheSecondStart()
{
    FlowSim sim("1,2");
    QVERIFY(sim.started);
    Host h;
    const QByteArray old = "[FlowMeter]\nport=" + sim.link.toLocal8Bit() +
                           "\nids=2, 1\nbaud=9600\nparity=N\nperiod=300\ntimeout=150\ndamping=20\nselected=2\n";
    h.store.writeRaw(old);
    // The environment seeds a first run only: these are not used.
    QVERIFY(h.start("/dev/nothing", "7"));
    QVERIFY(h.log.text().contains(
        "Flow meter plugin: Settings of one line read as line 1 of model Tessmark FM-1 and stored as a list of lines\n"));
    QVERIFY(h.log.text().contains("Flow meter plugin: Port " + sim.link + ", unit ids 1,2, poll period 300 ms, answer time-out 150 ms\n"));
    {
        // Written back at once, before any save: the list form beside the keys of before.
        QSettings s(h.store.file(), QSettings::IniFormat);
        s.beginGroup("FlowMeter");
        QCOMPARE(s.value("lines/size").toInt(), 1);
        QCOMPARE(s.value("lines/1/port").toString(), sim.link);
        QCOMPARE(s.value("lines/1/period").toInt(), 300);
        QCOMPARE(s.value("lines/1/timeout").toInt(), 150);
        QCOMPARE(s.value("lines/1/meters/size").toInt(), 2);
        QCOMPARE(s.value("lines/1/meters/1/id").toInt(), 1);
        QCOMPARE(s.value("lines/1/meters/2/id").toInt(), 2);
        QCOMPARE(s.value("lines/1/meters/2/model").toString(), QString("Tessmark FM-1"));
        QCOMPARE(s.value("damping").toInt(), 20);
        QCOMPARE(s.value("selected").toInt(), 2);
        const QByteArray stored = group(h.store.file(), "FlowMeter");
        QVERIFY2(stored.contains("\nids=2, 1\n") && stored.contains("\nperiod=300\n"), stored.constData());
    }
    QCOMPARE(h.meterCount(), 2);
    QVERIFY(h.waitLog("Flow meter plugin: Unit 2: flow"));

    h.unload();
    const QByteArray first = group(h.store.file(), "FlowMeter");
    // An older Corvane still finds its keys, for the first line.
    QCOMPARE(QSettings(h.store.file(), QSettings::IniFormat).value("FlowMeter/ids").toString(), QString("1,2"));
    const int migrations = h.log.text().count("stored as a list of lines");
    QVERIFY(h.create());
    QCOMPARE(group(h.store.file(), "FlowMeter"), first);
    QCOMPARE(h.log.text().count("stored as a list of lines"), migrations);
    QCOMPARE(h.meterCount(), 2);
    QVERIFY(h.waitLog("Flow meter plugin: Unit 1: flow", h.log.text().count("Flow meter plugin: Unit 1: flow") + 1));
    h.unload();
    QCOMPARE(group(h.store.file(), "FlowMeter"), first);
}

void TestFlowmeterPlugin::aDeadLineDoesNotSlowTheLiveOne()
{
    // The second line's simulator serves unit 50 only: its three meters never answer, and
    // each of them costs the line an answer time-out every round.
    FlowSim live("1,2");
    FlowSim dead("50");
    QVERIFY(live.started && dead.started);
    Host h;
    h.captureConsole();
    qputenv("CORVANE_FLOWMETER_PORT2", dead.link.toLocal8Bit());
    qputenv("CORVANE_FLOWMETER_IDS2", "1-3");
    qputenv("CORVANE_FLOWMETER_BAUD2", "19200");
    qputenv("CORVANE_FLOWMETER_PARITY2", "E");
    storePatientLine(h.store);
    QVERIFY(h.start(live.link, "1,2"));
    QCOMPARE(h.plugin->topItem->childCount(), 2);
    QCOMPARE(h.line(1)->text(0), dead.link);
    QCOMPARE(h.line(1)->text(1), QString("19200 8E1"));
    QCOMPARE(h.meterCount(1), 3);
    QVERIFY(h.unit(3, 1) && !h.unit(3, 0));
    QVERIFY(h.log.text().contains("Flow meter plugin: Line 2: port " + dead.link +
                                  ", unit ids 1,2,3, poll period 200 ms, answer time-out 100 ms, 19200 8E1\n"));
    QVERIFY(h.waitLog("Flow meter plugin: Line 2 unit 3 offline: no answer"));
    QVERIFY(h.waitLog("Flow meter plugin: Unit 2: flow"));

    // Polled one after the other, the live line would send nothing while the dead one waits out
    // an answer time-out; polled side by side, it keeps reading meanwhile. Counted at the
    // simulators' taps (one clock for both): live requests that began within the first 60 ms
    // after a dead request had gone out, less than its 100 ms time-out, so that a dead request
    // the simulator noted late does not make a window the dead line no longer waited in.
    const int liveSkip = live.frames().size();
    const int deadSkip = dead.frames().size();
    auto overlapping = [&] {
        const QVector<FlowSim::Frame> l = live.frames(), d = dead.frames();
        int n = 0;
        for (int i = liveSkip; i < l.size(); ++i)
            for (int k = deadSkip; k < d.size(); ++k)
                if (l[i].startUs > d[k].endUs && l[i].startUs < d[k].endUs + 60000) {
                    ++n;
                    break;
                }
        return n;
    };
    QVERIFY2(waitUntil([&] { return overlapping() >= 5; }, 30000),
             qPrintable(QString("%1 live requests during the dead line's waits").arg(overlapping())));
    const QVector<FlowSim::Frame> l = live.frames(), d = dead.frames();
    if (l.size() > liveSkip + 1 && d.size() > deadSkip + 1)
        qInfo("requests: live line %.1f ms apart, dead line %.1f ms apart (a figure, not a pass mark)",
              (l.last().startUs - l[liveSkip].startUs) / 1000.0 / (l.size() - liveSkip - 1),
              (d.last().startUs - d[deadSkip].startUs) / 1000.0 / (d.size() - deadSkip - 1));

    // Selecting a meter of the dead line shows it, not the first line's meter of that id.
    h.select(1);
    QVERIFY(waitUntil([&] { return h.label("stateValue") == "Online"; }));
    QVERIFY(h.plugin->lock(100));
    h.plugin->selectItem(h.unit(1, 1));
    h.plugin->unlock();
    QVERIFY(h.label("stateValue").startsWith("Offline: no answer"));
    // Kept for the next start by its line and id, with both lines in the list form.
    h.unload();
    QSettings stored(h.store.file(), QSettings::IniFormat);
    QCOMPARE(stored.value("FlowMeter/selectedLine").toInt(), 1);
    QCOMPARE(stored.value("FlowMeter/selected").toInt(), 1);
    QCOMPARE(stored.value("FlowMeter/lines/size").toInt(), 2);
    QCOMPARE(stored.value("FlowMeter/lines/2/parity").toString(), QString("E"));
    QCOMPARE(stored.value("FlowMeter/lines/2/meters/3/id").toInt(), 3);
}

namespace {

// One line of meters, each with its model and name, in the form the plug-in stores; a patient
// line, as the cases that use it are not about time-outs.
void storeLine(const TempSettings& store, const QString& port, const QVector<MeterConfig>& meters)
{
    QSettings s(store.file(), QSettings::IniFormat);
    s.beginGroup("FlowMeter");
    s.beginWriteArray("lines", 1);
    s.setArrayIndex(0);
    s.setValue("port", port);
    s.setValue("timeout", kPatientTimeoutMs);
    s.beginWriteArray("meters", int(meters.size()));
    for (int i = 0; i < meters.size(); ++i) {
        s.setArrayIndex(i);
        s.setValue("id", meters[i].id);
        s.setValue("model", meters[i].model);
        s.setValue("name", meters[i].name);
    }
    s.endArray();
    s.endArray();
    s.endGroup();
}

QString modelFile(const char* name)
{
    return ProgramRunner::binDir() + "/plugins/models/" + name;
}

float floatOf(uint16_t high, uint16_t low)
{
    const uint32_t bits = uint32_t(high) << 16 | low;
    float f;
    memcpy(&f, &bits, sizeof f);
    return f;
}

// The user's model folder in a temporary data home, for as long as it lives; the recordings
// and the alarm list go there too.
struct UserModels
{
    UserModels() : previous(qgetenv("XDG_DATA_HOME")) { qputenv("XDG_DATA_HOME", home.path().toLocal8Bit()); }
    ~UserModels() { qputenv("XDG_DATA_HOME", previous); }
    QString folder() const { return home.path() + "/Tessmark/Corvane/models"; }
    QString alarmsFile() const { return home.path() + "/Tessmark/Corvane/records/alarms.json"; }
    QString add(const QString& name, const QByteArray& bytes) const
    {
        QDir().mkpath(folder());
        QFile f(folder() + "/" + name);
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
        return f.fileName();
    }
    QTemporaryDir home;
    QByteArray previous;
};

} // namespace

// A page checked in each of the plug-in's languages, by its index and locale.
static void languageRows()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("localeName");
    QTest::newRow("English") << 1 << "en";
    QTest::newRow("Swedish") << 2 << "sv_SE";
}

void TestFlowmeterPlugin::modelMeterShownInTheChosenUnitsAndLanguage_data()
{
    languageRows();
}

void TestFlowmeterPlugin::modelMeterShownInTheChosenUnitsAndLanguage()
{
    QFETCH(int, language);
    QFETCH(QString, localeName);
    // An insertion meter: input registers, floats low word first, a u32 totalizer in litres,
    // a temperature in tenths, a limit in l/min; shown in m³/h, litres and °F.
    FlowSim sim("4", {"--model", modelFile("tessmark-fm2i.json")});
    QVERIFY(sim.started);
    Host h;
    h.captureConsole();
    storeLine(h.store, sim.link, {MeterConfig{4, "Tessmark FM-2i", "FT-101 inlet"}});
    QSettings(h.store.file(), QSettings::IniFormat).setValue("FlowMeter/volumeUnit", "l");
    QSettings(h.store.file(), QSettings::IniFormat).setValue("FlowMeter/temperatureUnit", "degF");
    // Registers as an independent master would see them, and the figures worked out from them.
    const uint16_t flow[2] = {0x0000, 0x42F1};   // 100, 101: CDAB, 120.5 l/min
    const uint16_t total[2] = {0xD687, 0x0012};  // 102, 103: CDAB, 1234567 litres
    const uint16_t temperature = 0xFFC9;         // 104: -55 tenths of a degree
    const uint16_t limit = 1500;                 // holding 200: tenths of l/min
    for (const QByteArray& c : {QByteArray("seti 4 100 ") + QByteArray::number(flow[0]),
                                QByteArray("seti 4 101 ") + QByteArray::number(flow[1]),
                                QByteArray("seti 4 102 ") + QByteArray::number(total[0]),
                                QByteArray("seti 4 103 ") + QByteArray::number(total[1]),
                                QByteArray("seti 4 104 ") + QByteArray::number(temperature),
                                QByteArray("seti 4 105 258"), QByteArray("seti 4 122 1234"),
                                QByteArray("set 4 200 ") + QByteArray::number(limit)})
        QVERIFY2(sim.command(c) && sim.waitFor("flowsim: " + c), c.constData());
    const double m3h = floatOf(flow[1], flow[0]) * 60.0 / 1000.0;
    const double litres = double(uint32_t(total[1]) << 16 | total[0]);
    const double fahrenheit = int16_t(temperature) * 0.1 * 9.0 / 5.0 + 32.0;
    const double limitM3h = limit * 0.1 * 60.0 / 1000.0;
    QLocale locale(localeName);
    locale.setNumberOptions(QLocale::OmitGroupSeparator);

    QVERIFY(h.start(sim.link, "1", false, language));
    QCOMPARE(h.unit(4)->text(0), QString("FT-101 inlet"));
    h.select(4);
    QVERIFY2(waitUntil([&] { return h.label("flowValue") != "-"; }), qPrintable(h.log.text().right(2000)));
    QCOMPARE(h.label("unitTitle"), QString("FT-101 inlet"));
    QCOMPARE(h.label("flowValue"), locale.toString(m3h, 'f', 2) + " m³/h");
    QCOMPARE(h.label("totalValue"), locale.toString(litres, 'f', 1) + " l");
    QCOMPARE(h.label("temperatureValue"), locale.toString(fahrenheit, 'f', 1) + " °F");
    QCOMPARE(h.label("limitValue"), locale.toString(limitM3h, 'f', 2) + " m³/h");
    // Bit 1 is an alarm, bit 8 is not: the alarm is said and marked.
    QVERIFY(h.style("alarmValue").contains("#c02020"));
    QVERIFY(!h.label("alarmValue").contains(language == 1 ? "No alarm" : "Inget larm"));
    // The limit is drawn on the trend, in the unit the flow is drawn in.
    QCOMPARE(h.plugin->displayWidget->findChild<QWidget*>("trendPlot")->property("limit").toDouble(), limitM3h);
    QCOMPARE(h.info("modelValue"), QString("Tessmark FM-2i"));
    // An extra value of the model, in the language's numbers.
    const QString volts = locale.toString(12.34, 'f', 2) + " V";
    QCOMPARE(h.info("extra_Supply_voltageValue"), volts);
    // The shipped model's own words in the language too: a bit's meaning, an extra's name.
    QVERIFY2(h.label("alarmValue").contains(language == 2 ? "Tomt rör" : "Empty pipe"), qPrintable(h.label("alarmValue")));
    QCOMPARE(h.info("extra_Flow_velocityLabel"), QString(language == 2 ? "Flödeshastighet:" : "Flow velocity:"));
    // The picture for the guide, where a folder is given for pictures as test_screenshots takes it.
    const QString shots = qEnvironmentVariable("CORVANE_SCREENSHOT_DIR");
    if (!shots.isEmpty() && language == 1) {
        h.plugin->infoWidget->resize(300, 760);
        QVERIFY(h.plugin->infoWidget->grab().save(shots + "/flowmeter-info.png"));
    }
    // The log stays English with a point, in the model's units.
    QVERIFY(h.waitLog("Flow meter plugin: Unit 4: flow 120.500 l/min, totalizer 1234.567 m3, "
                      "temperature -5.50 C, alarm 0x0102\n"));

    // Read in the fewest requests: the input registers in two ranges too far apart to merge,
    // the holding registers in one. Counted by the request, not by a rate: a round cut short
    // by a missed answer, or read again after a late one, changes how often each is asked,
    // not which; a read made once, as of the meter's identity, is no part of a round.
    const int from = sim.collect().size();
    QVERIFY(h.waitLog("Flow meter plugin: Unit 4: flow", h.log.text().count("Flow meter plugin: Unit 4: flow") + 7, 30000));
    QMap<QString, int> times;
    for (const QString& r : requestsAsked(sim, from))
        times[r] += 1;
    QStringList inputs, holding;
    for (auto it = times.begin(); it != times.end(); ++it) {
        if (it.value() < 4)
            continue;
        if (it.key().startsWith("04 04 "))
            inputs << it.key();
        else if (it.key().startsWith("04 03 "))
            holding << it.key();
    }
    QVERIFY2(inputs.size() == 2 && holding.size() == 1, qPrintable(QStringList(times.keys()).join(" | ")));
}

void TestFlowmeterPlugin::badModelFilesAreNamedAndTheOthersLoad()
{
    UserModels user;
    const QString bad = user.add("bad.json", R"({ "maker": "Acme", "model": "B-1", "values": [
        { "role": "flowRate", "function": 7, "address": 0, "type": "f32", "unit": "m3/h" } ] })");
    const QString broken = user.add("broken.json", "{ \"maker\": \"Acme\",\n  \"model\" \"B-2\" }");
    FlowSim sim("1,2");
    QVERIFY(sim.started);
    Host h;
    storeLine(h.store, sim.link, {MeterConfig{1, "Tessmark FM-1", ""}, MeterConfig{2, "Acme B-1", "Boiler"}});
    QVERIFY(h.start(sim.link, "1"));
    // Each file with its place and reason, in the log and on the setup page.
    const QString log = h.log.text();
    QVERIFY2(log.contains("Flow meter plugin: Model file " + bad + ": $.values[0].function: "), qPrintable(log));
    QVERIFY2(log.contains("Flow meter plugin: Model file " + broken + ": line 2, column "), qPrintable(log));
    QVERIFY(log.contains("Flow meter plugin: Meter models: Tessmark FM-1, Tessmark FM-2i\n"));
    auto* problems = h.plugin->setupWidget->findChild<QListWidget*>("modelProblems");
    QVERIFY(problems && problems->isVisibleTo(h.plugin->setupWidget));
    QCOMPARE(problems->count(), 2);
    QStringList listed;
    for (int i = 0; i < problems->count(); ++i)
        listed << problems->item(i)->text();
    QVERIFY2(listed.filter(bad + ": $.values[0].function: ").size() == 1, qPrintable(listed.join('|')));
    QVERIFY(listed.filter(broken + ": line 2").size() == 1);
    QVERIFY(h.plugin->setupWidget->findChild<QLabel*>("modelsLabel")->text().contains("Tessmark FM-1"));

    // The meter of the model that did not load says why and is never asked; the other reads.
    QCOMPARE(h.unit(2)->text(0), QString("Boiler"));
    h.select(2);
    QCOMPARE(h.label("stateValue"), QString("Offline: model Acme B-1 not found"));
    h.select(1);
    QVERIFY(waitUntil([&] { return h.label("stateValue") == "Online"; }));
    QVERIFY(!sim.collect().contains("flowsim: <- 02 "));
    h.select(2);
    QCOMPARE(h.label("stateValue"), QString("Offline: model Acme B-1 not found"));
    QCOMPARE(h.info("modelValue"), QString("Acme B-1 (not found)"));
}

void TestFlowmeterPlugin::withoutAnyModelItSaysSoAndKeepsRunning()
{
    FlowSim sim("1");
    QVERIFY(sim.started);
    Host h;
    h.captureConsole();
    // A program folder without the shipped models.
    QVERIFY(h.start(sim.link, "1", false, 0, h.bin()));
    QVERIFY(h.log.text().contains("Flow meter plugin: No meter model could be loaded (looked in " + h.plugins() + "/models and "));
    QCOMPARE(h.plugin->setupWidget->findChild<QLabel*>("modelsLabel")->text(),
             QString("No meter model could be loaded: no meter can be read."));
    h.select(1);
    QCOMPARE(h.label("stateValue"), QString("Offline: model Tessmark FM-1 not found"));
    // Nothing is asked of the line, and the plug-in goes on: a scan finds no model to ask by
    // and a reset says why.
    QTest::qWait(500);
    QVERIFY(!sim.collect().contains("flowsim: <- 01 03"));
    QMenu menu;
    QToolBar bar;
    QAction* reset = h.action("flowmeterResetTotalizer", menu, bar);
    QSignalSpy status(h.window.get(), &cMainWindow::statusBarMsgSignal);
    h.answerBoxes(QMessageBox::Yes);
    reset->trigger();
    QVERIFY(waitUntil([&] { return texts(status).filter("Totalizer reset failed").size() == 1; }));
    QVERIFY2(texts(status).contains("Totalizer reset failed: Meter 1: model Tessmark FM-1 not found"),
             qPrintable(texts(status).join('|')));
}

void TestFlowmeterPlugin::alarmLimitIsWrittenWithinTheModelsRange()
{
    FlowSim sim("1");
    QVERIFY(sim.started);
    Host h;
    storePatientLine(h.store);
    QVERIFY(h.start(sim.link, "1"));
    h.select(1);
    QVERIFY(waitUntil([&] { return h.label("limitValue") != "-"; }));
    // FM-1's limit: holding register 13 in tenths of m³/h, at most 6553.5.
    QCOMPARE(h.label("limitValue"), QString("10.00 m³/h"));
    h.plugin->prepareSetup();
    auto* edit = h.plugin->setupWidget->findChild<QWidget*>("alarmLimitEditor")->findChild<QLineEdit*>();
    QVERIFY(edit);
    QSignalSpy status(h.window.get(), &cMainWindow::statusBarMsgSignal);
    // Beyond the model's range: refused, nothing sent.
    edit->setText("7000");
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::qWait(300);
    QVERIFY(!sim.collect().contains("flowsim: <- 01 06 00 0D"));
    edit->setText("12.5");
    QTest::keyClick(edit, Qt::Key_Return);
    QVERIFY(waitUntil([&] { return sim.collect().contains("flowsim: <- 01 06 00 0D 00 7D"); }));
    QVERIFY(waitUntil([&] { return texts(status).contains("Meter 1: alarm limit written"); }));
    QVERIFY(waitUntil([&] { return h.label("limitValue") == "12.50 m³/h"; }));
    QVERIFY(h.log.text().contains("Flow meter plugin: Unit 1: alarm limit set to 12.500 m3/h\n"));
    h.plugin->rejectSetup();
}

namespace {

// A value of the every-type model: where it lies, how it is coded, the number the test puts
// there (its bits, most significant first) and how many decimals the page owes it.
struct CodedValue
{
    QString name; // empty for a role's value
    QString role;
    QString type;
    QString order;
    uint64_t bits = 0;
    double scale = 1;
    double offset = 0;
    QString unit;
    int decimals = 0;
    int function = 3;
    int address = 0;

    int width() const { return type.endsWith("16") ? 1 : type.endsWith("64") ? 4 : 2; }
};

uint64_t bitsOfFloat(float f)
{
    uint32_t b;
    memcpy(&b, &f, sizeof b);
    return b;
}

uint64_t bitsOfDouble(double d)
{
    uint64_t b;
    memcpy(&b, &d, sizeof b);
    return b;
}

// Bytes A, B, C, ... (most significant first) laid into registers in address order as the
// word order says, and back: each order is its own inverse, so one function does both.
QVector<uint16_t> layBytes(const QByteArray& bytes, const QString& order)
{
    QByteArray b = bytes;
    const int n = int(b.size() / 2);
    if (order == "CDAB" || order == "DCBA") {
        QByteArray reversed;
        for (int k = n - 1; k >= 0; --k)
            reversed += b.mid(2 * k, 2);
        b = reversed;
    }
    if (order == "BADC" || order == "DCBA")
        for (int k = 0; k < n; ++k)
            std::swap(b[2 * k], b[2 * k + 1]);
    QVector<uint16_t> words;
    for (int k = 0; k < n; ++k)
        words << uint16_t(uint8_t(b[2 * k]) << 8 | uint8_t(b[2 * k + 1]));
    return words;
}

QByteArray bigEndian(uint64_t bits, int registers)
{
    QByteArray b;
    for (int k = 2 * registers - 1; k >= 0; --k)
        b += char(uint8_t(bits >> (8 * k)));
    return b;
}

// The registers' bytes back in value order, as a number of the value's type.
QByteArray valueBytes(const QVector<uint16_t>& words, const QString& order)
{
    QByteArray wire;
    for (uint16_t w : words)
        wire += char(w >> 8), wire += char(w & 0xFF);
    QVector<uint16_t> back = layBytes(wire, order);
    QByteArray b;
    for (uint16_t w : back)
        b += char(w >> 8), b += char(w & 0xFF);
    return b;
}

// What the page must show for `words`, worked out from the bytes alone.
QString expectedText(const CodedValue& v, const QVector<uint16_t>& words, const QLocale& locale, bool withUnit = true)
{
    const QByteArray b = valueBytes(words, v.order);
    uint64_t bits = 0;
    for (char c : b)
        bits = bits << 8 | uint8_t(c);
    double raw = 0;
    if (v.type == "u16" || v.type == "u32")
        raw = double(bits);
    else if (v.type == "i16")
        raw = int16_t(uint16_t(bits));
    else if (v.type == "i32")
        raw = int32_t(uint32_t(bits));
    else if (v.type == "u64") {
        // A whole count beyond 2^53 is shown to its last digit, not as the nearest double.
        if (v.scale == 1 && v.offset == 0)
            return locale.toString(qulonglong(bits)) + (v.unit.isEmpty() ? "" : " " + v.unit);
        raw = double(bits);
    } else if (v.type == "f32") {
        const uint32_t b32 = uint32_t(bits);
        float f;
        memcpy(&f, &b32, sizeof f);
        raw = f;
    } else {
        memcpy(&raw, &bits, sizeof raw);
    }
    auto invalid = [](const char* why) {
        return QCoreApplication::translate("FlowMeter", "invalid: %1").arg(QCoreApplication::translate("FlowMeter", why));
    };
    if (std::isnan(raw))
        return invalid("not a number");
    if (std::isinf(raw))
        return invalid("infinite");
    double shown = raw * v.scale + v.offset;
    QString unit = v.unit;
    if (v.unit == "l/min")
        shown = shown * 60.0 / 1000.0, unit = "m³/h";
    else if (v.unit == "l")
        shown = shown / 3.785411784, unit = "US gal";
    else if (v.unit == "degF")
        shown = (shown - 32.0) * 5.0 / 9.0, unit = "°C";
    if (std::round(shown * std::pow(10.0, v.decimals)) == 0)
        shown = 0;
    const QString figure = locale.toString(shown, 'f', v.decimals);
    return !withUnit || unit.isEmpty() ? figure : figure + " " + unit;
}

// The reads a poll of `values` needs at the fewest: each function apart, by address, a gap of
// at most `maxGap` taken along, at most 125 registers a read. (function, first, count) each.
QVector<std::array<int, 3>> fewestReads(QVector<CodedValue> values, int maxGap)
{
    std::stable_sort(values.begin(), values.end(), [](const CodedValue& a, const CodedValue& b) {
        return a.function != b.function ? a.function < b.function : a.address < b.address;
    });
    QVector<std::array<int, 3>> reads;
    for (const CodedValue& v : values) {
        if (!reads.isEmpty()) {
            std::array<int, 3>& last = reads.last();
            const int end = std::max(last[1] + last[2], v.address + v.width());
            if (last[0] == v.function && v.address - (last[1] + last[2]) <= maxGap && end - last[1] <= 125) {
                last[2] = end - last[1];
                continue;
            }
        }
        reads.append({v.function, v.address, v.width()});
    }
    return reads;
}

} // namespace

void TestFlowmeterPlugin::everyTypeAndWordOrderReadsRightOnThePage_data()
{
    languageRows();
}

void TestFlowmeterPlugin::everyTypeAndWordOrderReadsRightOnThePage()
{
    QFETCH(int, language);
    QFETCH(QString, localeName);
    // The worked example of the model format: 12.5 as an f32 in each word order.
    const QByteArray twelveAndAHalf = bigEndian(bitsOfFloat(12.5f), 2);
    QCOMPARE(layBytes(twelveAndAHalf, "ABCD"), (QVector<uint16_t>{0x4148, 0x0000}));
    QCOMPARE(layBytes(twelveAndAHalf, "CDAB"), (QVector<uint16_t>{0x0000, 0x4148}));
    QCOMPARE(layBytes(twelveAndAHalf, "BADC"), (QVector<uint16_t>{0x4841, 0x0000}));
    QCOMPARE(layBytes(twelveAndAHalf, "DCBA"), (QVector<uint16_t>{0x0000, 0x4841}));

    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    // type, order, bits, scale, offset, unit, decimals: edges of each type, scales and offsets.
    QVector<CodedValue> values = {
        {"", "flowRate", "f32", "DCBA", bitsOfFloat(251.3f), 1, 0, "l/min", 2},
        {"", "totalizer", "f64", "CDAB", bitsOfDouble(98765.4321), 1, 0, "l", 1},
        {"", "temperature", "i16", "BADC", uint16_t(985), 0.1, 0, "degF", 1},
        {"u16 ABCD", "", "u16", "ABCD", 0xBEEF, 1, 0, "", 0},
        {"u16 CDAB", "", "u16", "CDAB", 0xFFFF, 0.1, -5, "V", 1},
        {"u16 BADC", "", "u16", "BADC", 0x1234, 0.01, 0, "", 2},
        // Steps of ten with half a unit of offset: the half must not be rounded away.
        {"u16 DCBA", "", "u16", "DCBA", 1, 10, 0.5, "", 1},
        {"i16 ABCD", "", "i16", "ABCD", 0xFFFF, 1, 0, "", 0},
        {"i16 CDAB", "", "i16", "CDAB", 0x8000, 0.01, 0, "bar", 2},
        {"i16 BADC", "", "i16", "BADC", 0x7FFF, 1, 0, "", 0},
        {"i16 DCBA", "", "i16", "DCBA", uint16_t(-1234), 0.1, 100, "", 1},
        {"u32 ABCD", "", "u32", "ABCD", 0xDEADBEEF, 1, 0, "", 0},
        {"u32 CDAB", "", "u32", "CDAB", 0xFFFFFFFF, 0.001, 0, "kWh", 3},
        {"u32 BADC", "", "u32", "BADC", 0x00010002, 1, -65536, "", 0},
        {"u32 DCBA", "", "u32", "DCBA", 123456789, 0.01, 0, "", 2},
        {"i32 ABCD", "", "i32", "ABCD", 0x80000000, 1, 0, "", 0},
        {"i32 CDAB", "", "i32", "CDAB", 0xFFFFFFFF, 1, 0, "", 0},
        {"i32 BADC", "", "i32", "BADC", 0x7FFFFFFF, 0.001, 0, "", 3},
        {"i32 DCBA", "", "i32", "DCBA", uint32_t(-7654321), 0.01, 0.5, "", 2},
        {"u64 ABCD", "", "u64", "ABCD", (uint64_t(1) << 53) + 1, 1, 0, "", 0},
        {"u64 CDAB", "", "u64", "CDAB", ~uint64_t(0), 1, 0, "", 0},
        {"u64 BADC", "", "u64", "BADC", 0x0102030405060708, 1, 0, "", 0},
        {"u64 DCBA", "", "u64", "DCBA", 1234567890123, 0.001, 0, "", 3},
        {"f32 ABCD", "", "f32", "ABCD", bitsOfFloat(-1234.5678f), 1, 0, "", 3},
        {"f32 CDAB", "", "f32", "CDAB", bitsOfFloat(float(nan)), 1, 0, "m/s", 3},
        {"f32 BADC", "", "f32", "BADC", bitsOfFloat(12.5f), 2, 1, "", 3},
        // A negative that rounds to nothing is shown as nothing, not "-0".
        {"f32 DCBA", "", "f32", "DCBA", bitsOfFloat(-0.0004f), 1, 0, "", 3},
        {"f64 ABCD", "", "f64", "ABCD", bitsOfDouble(123456789.125), 1, 0, "", 3},
        {"f64 CDAB", "", "f64", "CDAB", bitsOfDouble(-9876.54321), 1, 0, "", 3},
        {"f64 BADC", "", "f64", "BADC", bitsOfDouble(inf), 1, 0, "", 3},
        {"f64 DCBA", "", "f64", "DCBA", bitsOfDouble(6.02214076e-3), 1000, 0, "", 3},
    };
    // Every type in holding and in input registers, in two ranges each: holding registers
    // chained by gaps the model lets a read take along until 125 registers cut them, input
    // registers split where a gap is one longer than that.
    const int maxGap = 8;
    const int holdingGaps[] = {8, 7, 8, 6, 8, 8};
    const int inputGaps[] = {0, 2, maxGap + 1, 1, 4};
    int nextHolding = 10, nextInput = 1000, holdingCount = 0, inputCount = 0;
    for (int i = 0; i < values.size(); ++i) {
        CodedValue& v = values[i];
        v.function = v.role == "flowRate" ? 3 : !v.role.isEmpty() ? 4 : i % 2 ? 3 : 4;
        if (v.function == 3) {
            v.address = nextHolding;
            nextHolding += v.width() + holdingGaps[holdingCount++ % 6];
        } else {
            v.address = nextInput;
            nextInput += v.width() + inputGaps[inputCount++ % 5];
        }
    }
    QJsonArray list;
    for (const CodedValue& v : values) {
        QJsonObject o{{"function", v.function}, {"address", v.address}, {"type", v.type}, {"order", v.order}};
        if (v.role.isEmpty())
            o["name"] = v.name;
        else
            o["role"] = v.role;
        if (v.scale != 1)
            o["scale"] = v.scale;
        if (v.offset != 0)
            o["offset"] = v.offset;
        if (!v.unit.isEmpty())
            o["unit"] = v.unit;
        list << o;
    }
    // The user's own model, which the simulator serves too.
    UserModels user;
    const QString file = user.add("every-type.json", QJsonDocument(QJsonObject{{"maker", "Test"},
                                                                              {"model", "Every type"},
                                                                              {"maxGap", maxGap},
                                                                              {"values", list}})
                                                         .toJson());

    FlowSim sim("7", {"--model", file});
    QVERIFY2(sim.started, qPrintable(sim.collect()));
    Host h;
    storeLine(h.store, sim.link, {MeterConfig{7, "Test Every type", "FT-7"}});
    {
        QSettings s(h.store.file(), QSettings::IniFormat);
        s.setValue("FlowMeter/flowUnit", "m3/h");
        s.setValue("FlowMeter/volumeUnit", "gal");
        s.setValue("FlowMeter/temperatureUnit", "degC");
    }
    // The raw words, placed as an independent master would find them.
    QVector<QVector<uint16_t>> words;
    for (const CodedValue& v : values) {
        words << layBytes(bigEndian(v.bits, v.width()), v.order);
        for (int k = 0; k < v.width(); ++k) {
            const QByteArray c = QByteArray(v.function == 3 ? "set" : "seti") + " 7 " +
                                 QByteArray::number(v.address + k) + " " + QByteArray::number(words.last()[k]);
            QVERIFY2(sim.command(c) && sim.waitFor("flowsim: " + c), c.constData());
        }
    }

    QLocale locale(localeName);
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    QVERIFY(h.start(sim.link, "1", false, language));
    h.select(7);
    auto info = [&](const QString& row) { return h.info(row.toUtf8().constData()); };
    QVERIFY2(waitUntil([&] { return h.label("flowValue") != "-" && info("extra_f64_DCBAValue") != "-"; }),
             qPrintable(h.log.text().left(3000)));
    QCOMPARE(h.label("flowValue"), expectedText(values[0], words[0], locale));
    QCOMPARE(h.label("totalValue"), expectedText(values[1], words[1], locale));
    QCOMPARE(h.label("temperatureValue"), expectedText(values[2], words[2], locale));
    QStringList wrong;
    for (int i = 3; i < values.size(); ++i) {
        const QString row = "extra_" + QString(values[i].name).replace(' ', '_') + "Value";
        const QString expected = expectedText(values[i], words[i], locale);
        if (info(row) != expected)
            wrong << QString("%1: shown %2, expected %3").arg(values[i].name, info(row), expected);
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join("\n")));
    if (language == 2)
        QVERIFY(info("extra_f64_DCBAValue").contains(','));

    // A poll is the fewest reads: the simulator is asked the same reads, in the same order,
    // round after round, and nothing else. A round cut short by a missed answer starts over,
    // and a read after a late answer is asked again at once: rounds whole and in order are
    // counted, not the places of the requests.
    const QVector<std::array<int, 3>> reads = fewestReads(values, maxGap);
    QStringList round;
    int holdingReads = 0, inputReads = 0;
    for (const auto& r : reads) {
        round << QString("07 %1 %2 %3 %4 %5")
                     .arg(r[0], 2, 16, QChar('0'))
                     .arg(r[1] >> 8, 2, 16, QChar('0'))
                     .arg(r[1] & 0xFF, 2, 16, QChar('0'))
                     .arg(r[2] >> 8, 2, 16, QChar('0'))
                     .arg(r[2] & 0xFF, 2, 16, QChar('0'))
                     .toUpper();
        (r[0] == 3 ? holdingReads : inputReads) += 1;
    }
    // The model is laid out so both rules bite: more than one read of each function.
    QVERIFY(holdingReads >= 2 && inputReads >= 2);
    auto wholeRounds = [&] {
        const QStringList asked = requestsAsked(sim);
        int rounds = 0;
        for (int i = 0; i + round.size() <= asked.size(); ++i)
            if (asked.mid(i, round.size()) == round)
                ++rounds;
        return rounds;
    };
    QVERIFY2(waitUntil([&] { return wholeRounds() >= 4; }, 30000), qPrintable(requestsAsked(sim).join("\n")));
    QStringList other;
    for (const QString& r : requestsAsked(sim))
        if (!round.contains(r))
            other << r;
    QVERIFY2(other.isEmpty(), qPrintable(other.join("\n")));
}

void TestFlowmeterPlugin::linesAddedRenamedAndRemovedOnTheSetupPage()
{
    FlowSim first("1,2");
    FlowSim second("5");
    QVERIFY(first.started && second.started);
    Host h;
    QVERIFY(h.start(first.link, "1,2"));
    QVERIFY(h.waitLog("Flow meter plugin: Unit 2: flow"));
    auto* setup = h.plugin->setupWidget;
    const FlowLinesPage lines(setup);
    QSignalSpy rebuild(h.window.get(), &cMainWindow::updateTreeSignal);
    const auto save = [&] {
        const int before = rebuild.size();
        h.plugin->saveSettings();
        h.plugin->acceptSetup();
        QVERIFY(waitUntil([&] { return rebuild.size() == before + 1; }));
        h.plugin->mkTree();
    };
    const auto opened = [&](const QString& port) { return h.log.text().count("Flow meter plugin: Opened port " + port + " at "); };

    // A second line, its meter given an id and a name: polled on its own port, and stored.
    h.plugin->prepareSetup();
    lines.press("addLineButton");
    QCOMPARE(lines.lineList()->currentRow(), 1);
    setup->findChild<QLineEdit*>("portEdit")->setText(second.link);
    lines.setIds({5});
    lines.rename(0, "FT-201 outlet");
    save();
    QCOMPARE(h.plugin->topItem->childCount(), 2);
    QCOMPARE(h.line(1)->text(0), second.link);
    QCOMPARE(h.unit(5, 1)->text(0), QString("FT-201 outlet"));
    QVERIFY(h.waitLog("Flow meter plugin: Line 2 unit 5: flow"));
    QVERIFY(waitUntil([&] { return !second.answers(5).isEmpty(); }));
    {
        QSettings stored(h.store.file(), QSettings::IniFormat);
        QCOMPARE(stored.value("FlowMeter/lines/size").toInt(), 2);
        QCOMPARE(stored.value("FlowMeter/lines/2/port").toString(), second.link);
        QCOMPARE(stored.value("FlowMeter/lines/2/meters/size").toInt(), 1);
        QCOMPARE(stored.value("FlowMeter/lines/2/meters/1/id").toInt(), 5);
        QCOMPARE(stored.value("FlowMeter/lines/2/meters/1/name").toString(), QString("FT-201 outlet"));
        QCOMPARE(stored.value("FlowMeter/lines/2/meters/1/model").toString(), QString("Tessmark FM-1"));
        QCOMPARE(stored.value("FlowMeter/lines/1/port").toString(), first.link);
    }
    QVERIFY(h.log.text().contains("Flow meter plugin: Settings saved: line 2: port " + second.link + ", unit ids 5, line 9600 8N1\n"));

    // A meter renamed on the first line: its new name in the tree; nothing reopened for it.
    h.plugin->prepareSetup();
    lines.showLine(0);
    QCOMPARE(lines.ids(), QString("1,2"));
    lines.rename(1, "FT-101 inlet");
    save();
    QCOMPARE(h.unit(2)->text(0), QString("FT-101 inlet"));
    QCOMPARE(h.unit(1)->text(0), QString("Meter 1"));
    QCOMPARE(opened(first.link), 1);
    QCOMPARE(opened(second.link), 1);

    // An alarm of the second line's meter, open when the line moves up.
    QVERIFY(second.command("set 5 13 1"));
    QVERIFY(waitUntil([&] { return h.alarmCount("FT-201 outlet", "Flow above limit") == 1; }));
    QCOMPARE(h.alarm(h.alarmRow("FT-201 outlet", "Flow above limit"), AlarmLine), QString("2"));

    // The first line removed: its polling stops and its port is closed; the other line moves
    // up, keeps its open port and goes on being polled.
    h.plugin->prepareSetup();
    lines.showLine(0);
    lines.press("removeLineButton");
    save();
    QVERIFY2(h.log.text().contains("Flow meter plugin: Line of port " + first.link +
                                   " removed: its polling stopped and the port closed\n"),
             qPrintable(h.log.text().right(2000)));
    QCOMPARE(h.plugin->topItem->childCount(), 1);
    QCOMPARE(h.line(0)->text(0), second.link);
    QCOMPARE(h.unit(5)->text(0), QString("FT-201 outlet"));
    const int answered = first.collect().count("flowsim: -> ");
    QVERIFY(h.waitLog("Flow meter plugin: Unit 5: flow"));
    QVERIFY(h.waitLog("Flow meter plugin: Unit 5: flow", h.log.text().count("Flow meter plugin: Unit 5: flow") + 3));
    QCOMPARE(first.collect().count("flowsim: -> "), answered);
    QCOMPARE(opened(second.link), 1);
    // Its alarm went up with it, still open, and ends when the meter says so: one entry.
    const auto moved = [&] { return h.alarmRow("FT-201 outlet", "Flow above limit"); };
    QCOMPARE(h.alarm(moved(), AlarmLine), QString("1"));
    QCOMPARE(h.alarm(moved(), AlarmEnd), QString("ongoing"));
    QVERIFY(second.command("set 5 13 250"));
    QVERIFY(waitUntil([&] { return h.alarm(moved(), AlarmEnd) != "ongoing"; }));
    QCOMPARE(h.alarmCount("FT-201 outlet", "Flow above limit"), 1);
    QSettings stored(h.store.file(), QSettings::IniFormat);
    QCOMPARE(stored.value("FlowMeter/lines/size").toInt(), 1);
    QCOMPARE(stored.value("FlowMeter/lines/1/port").toString(), second.link);
    QVERIFY(!stored.contains("FlowMeter/lines/2/port"));
}

void TestFlowmeterPlugin::aSetupThatMixesMetersIsRefusedWhole()
{
    FlowSim sim("1,2");
    QVERIFY(sim.started);
    Host h;
    QVERIFY(h.start(sim.link, "1,2"));
    auto* setup = h.plugin->setupWidget;
    const FlowLinesPage lines(setup);
    auto* period = setup->findChild<QSpinBox*>("periodSpin");
    auto* damping = setup->findChild<QDoubleSpinBox*>("dampingSpin");
    auto* problems = setup->findChild<QLabel*>("linesProblems");
    const auto stored = [&] {
        QFile file(h.store.file());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
    };
    const QByteArray before = stored();
    QSignalSpy rebuild(h.window.get(), &cMainWindow::updateTreeSignal);
    QSignalSpy status(h.window.get(), &cMainWindow::statusBarMsgSignal);

    // One id twice on a line, and a second line on the first one's port: each is a reason, the
    // other fields changed with them are not taken either.
    h.plugin->prepareSetup();
    lines.setIds({1, 1});
    period->setValue(900);
    damping->setValue(4.5);
    lines.press("addLineButton");
    setup->findChild<QLineEdit*>("portEdit")->setText(sim.link);
    const QString twice = "Line 1: unit id 1 is given to more than one meter.";
    const QString shared = "Lines 1 and 2 use the same port " + sim.link + ": a port serves one line.";
    QVERIFY(problems->isVisibleTo(setup));
    QVERIFY(problems->text().contains(twice) && problems->text().contains(shared));
    h.plugin->saveSettings();
    h.plugin->acceptSetup();
    QVERIFY2(texts(status).contains("Flow meter: setup not saved: " + twice + " " + shared),
             qPrintable(texts(status).join('|')));
    QVERIFY(h.log.text().contains("Flow meter plugin: Setup not saved: " + twice + "\n"));
    QVERIFY(h.log.text().contains("Flow meter plugin: Setup not saved: " + shared + "\n"));
    QVERIFY(stored() == before);
    QTest::qWait(100);
    QCOMPARE(rebuild.size(), 0);
    QCOMPARE(h.plugin->topItem->childCount(), 1);
    QCOMPARE(h.meterCount(), 2);
    // Both meters are still read, at the period in use.
    QVERIFY(h.waitLog("Flow meter plugin: Unit 2: flow"));
    QVERIFY(!sim.collect().contains("flowsim: <- 01 06 00 0B 00 2D"));

    // Opened again, the page holds what was entered and says what is wrong with it; Discard
    // brings back the setup in use.
    h.plugin->prepareSetup();
    QCOMPARE(lines.lineList()->count(), 2);
    lines.showLine(0);
    QCOMPARE(lines.ids(), QString("1,1"));
    QCOMPARE(period->value(), 900);
    QVERIFY(problems->isVisibleTo(setup) && problems->text().contains(twice));
    h.plugin->rejectSetup();
    QCOMPARE(lines.lineList()->count(), 1);
    QCOMPARE(lines.ids(), QString("1,2"));
    QCOMPARE(period->value(), 200);
    QVERIFY(!problems->isVisibleTo(setup));

    // Put right, it is taken.
    h.plugin->prepareSetup();
    lines.setIds({1, 2});
    period->setValue(300);
    h.plugin->saveSettings();
    h.plugin->acceptSetup();
    QVERIFY(waitUntil([&] { return rebuild.size() == 1; }));
    QCOMPARE(QSettings(h.store.file(), QSettings::IniFormat).value("FlowMeter/lines/1/period").toInt(), 300);
}

// Rows every second, in the units chosen, with what an independent master read from the same
// meters at the same moments (through the simulator's second terminal).
void TestFlowmeterPlugin::recordingHoldsTheServedValuesAtTheInterval()
{
    FlowSim sim("1,2");
    QVERIFY(sim.started);
    ModbusRtuMaster monitor(sim.monitor);
    QVERIFY(monitor.connected());
    QTemporaryDir records;
    Host h;
    setRecording(h.store, records.path(), 1, false);
    QSettings(h.store.file(), QSettings::IniFormat).setValue("FlowMeter/flowUnit", "l/min");
    QVERIFY(h.start(sim.link, "1,2"));
    QMenu menu;
    QToolBar bar;
    QAction* record = h.action("flowmeterRecord", menu, bar);
    QVERIFY(record);
    QCOMPARE(record->text(), QString("Start recording"));
    QVERIFY(bar.actions().contains(record));
    QVERIFY(h.waitLog("Unit 2: flow"));
    QSignalSpy status(h.window.get(), &cMainWindow::statusBarMsgSignal);
    record->trigger();
    QCOMPARE(record->text(), QString("Stop recording"));
    QVERIFY2(texts(status).contains("Recording every 1 s to " + records.path()), qPrintable(texts(status).join('|')));
    auto* mark = h.window->statusBar()->findChild<QLabel*>("flowmeterRecordingMark");
    QVERIFY(mark);
    QVERIFY(mark->isVisibleTo(h.window.get()));
    QVERIFY(mark->text().contains("Recording"));
    QVERIFY(!mark->property("failing").toBool());
    // Kept at once: a program killed now records again at its next start.
    QVERIFY(QSettings(h.store.file(), QSettings::IniFormat).value("FlowMeter/recording").toBool());

    struct Sample
    {
        qint64 ms;
        int unit;
        double flow, total, temperature;
    };
    QVector<Sample> samples;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 5500 || (samples.size() <= 40 && t.elapsed() < 60000)) {
        for (int unit : {1, 2}) {
            uint16_t r[6];
            if (monitor.read(unit, 0, 6, r))
                samples << Sample{QDateTime::currentMSecsSinceEpoch(), unit, ModbusRtuMaster::floatAt(r),
                                  ModbusRtuMaster::floatAt(r + 2), ModbusRtuMaster::floatAt(r + 4)};
        }
        QTest::qWait(40);
    }
    QVERIFY(samples.size() > 40);
    record->trigger();
    QCOMPARE(record->text(), QString("Start recording"));
    QVERIFY(!mark->isVisibleTo(h.window.get()));
    QVERIFY(!QSettings(h.store.file(), QSettings::IniFormat).value("FlowMeter/recording").toBool());

    const RecordedFile f = recorded(records.path());
    QVERIFY2(f.problem.isEmpty(), qPrintable(f.path + ": " + f.problem));
    QCOMPARE(f.headers, 1);
    QCOMPARE(f.header.mid(0, 9), (QStringList{"time", "line", "meter", "unit id", "state", "detail",
                                              "flow rate [l/min]", "totalizer [m³]", "temperature [°C]"}));
    // Every value of the model but its command.
    for (const char* other : {"alarm bits", "status bits", "serial number", "firmware version", "damping [s]",
                              "alarm limit [l/min]", "calibration factor"})
        QVERIFY2(f.header.contains(other), qPrintable(f.header.join('|')));
    QCOMPARE(f.header.size(), 16);

    const QRegularExpression isoTime("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$");
    for (int unit : {1, 2}) {
        const QVector<QStringList> rows = f.of(unit);
        QVERIFY2(rows.size() >= 4, qPrintable(QString("unit %1: %2 rows").arg(unit).arg(rows.size())));
        int oneSecondSteps = 0;
        int compared = 0;
        const double base = 8 + 4 * (unit - 1);
        for (int i = 0; i < rows.size(); ++i) {
            const QStringList& r = rows[i];
            QVERIFY2(isoTime.match(r[0]).hasMatch(), qPrintable(r[0]));
            QCOMPARE(r[1], QString("1"));
            QCOMPARE(r[2], QString("Meter %1").arg(unit));
            if (i > 0) {
                const qint64 step = std::llround((rowMs(r) - rowMs(rows[i - 1])) / 1000.0);
                QVERIFY2(step >= 1, qPrintable(r[0] + " after " + rows[i - 1][0]));
                oneSecondSteps += step == 1 ? 1 : 0;
            }
            // No newer reading: nothing written again as if it were one.
            if (r[4] == "stale") {
                QVERIFY(r.mid(6).join("").isEmpty());
                continue;
            }
            QVERIFY2(r[4] == "online" || r[4] == "alarm", qPrintable(r.join(',')));
            const double flow = r[6].toDouble() * 60 / 1000;
            const double total = r[7].toDouble();
            const double temperature = r[8].toDouble();
            const bool matched = std::any_of(samples.begin(), samples.end(), [&](const Sample& s) {
                return s.unit == unit && std::abs(s.ms - rowMs(r)) <= 1000 && std::abs(s.flow - flow) <= 0.03 * base &&
                       std::abs(s.total - total) <= 0.01 && std::abs(s.temperature - temperature) <= 0.2;
            });
            QVERIFY2(matched, qPrintable(QString("unit %1 recorded %2, which the meter did not serve then").arg(unit).arg(r.join(','))));
            ++compared;
            // A serial number is a whole number, the alarm bits too.
            QCOMPARE(r[f.column("serial number")], QString::number(24070000 + unit * 137));
            QVERIFY(QRegularExpression("^\\d+$").match(r[f.column("alarm bits")]).hasMatch());
        }
        QVERIFY(compared >= 3);
        QVERIFY2(oneSecondSteps * 2 >= rows.size() - 1, qPrintable(QString::number(oneSecondSteps)));
    }
}

// A meter that does not answer is a row of its state and why, with no value; the recording
// set to run goes on by itself when the plug-in starts again, into the same file.
void TestFlowmeterPlugin::recordingSaysWhyAMeterIsAwayAndGoesOnAfterARestart()
{
    FlowSim sim("1");
    QVERIFY(sim.started);
    QTemporaryDir records;
    Host h;
    setRecording(h.store, records.path(), 1, true);
    QVERIFY(h.start(sim.link, "1"));
    QVERIFY(waitUntil([&] { return recorded(records.path()).of(1, "online").size() >= 2; }, 20000));
    QVERIFY(sim.command("silence 15"));
    QVERIFY(waitUntil([&] { return !recorded(records.path()).of(1, "offline").isEmpty(); }, 20000));
    QVERIFY(waitUntil([&] {
        const QVector<QStringList> rows = recorded(records.path()).of(1);
        return !rows.isEmpty() && rows.last()[4] == "online" && !recorded(records.path()).of(1, "offline").isEmpty();
    }, 20000));
    const QStringList away = recorded(records.path()).of(1, "offline").first();
    QCOMPARE(away[5], QString("no answer"));
    QVERIFY2(away.mid(6).join("").isEmpty(), qPrintable(away.join(',')));

    const int before = recorded(records.path()).rows.size();
    h.unload();
    // What was handed over is written by the time the plug-in is gone.
    const RecordedFile atUnload = recorded(records.path());
    QVERIFY(atUnload.rows.size() >= before);
    QVERIFY(h.create());
    QVERIFY(waitUntil([&] { return recorded(records.path()).rows.size() >= atUnload.rows.size() + 2; }, 20000));
    const RecordedFile f = recorded(records.path());
    QVERIFY2(f.problem.isEmpty(), qPrintable(f.problem));
    QCOMPARE(f.headers, 1);
    QCOMPARE(f.rows.mid(0, atUnload.rows.size()), atUnload.rows);
    for (int i = 1; i < f.rows.size(); ++i)
        QVERIFY(rowMs(f.rows[i]) > rowMs(f.rows[i - 1]));
    QVERIFY(h.log.text().contains("Flow meter plugin: Recording to " + records.path()));
}

// The totalizer reset from the menu is an event row holding the value it had before.
void TestFlowmeterPlugin::recordingKeepsTheTotalizerBeforeAReset()
{
    FlowSim sim("1");
    QVERIFY(sim.started);
    QTemporaryDir records;
    Host h;
    setRecording(h.store, records.path(), 1, true);
    QVERIFY(h.start(sim.link, "1"));
    QVERIFY(waitUntil([&] { return recorded(records.path()).of(1, "online").size() >= 2; }, 20000));
    QMenu menu;
    QToolBar bar;
    QAction* reset = h.action("flowmeterResetTotalizer", menu, bar);
    h.select(1);
    h.answerBoxes(QMessageBox::Yes);
    const RecordedFile before = recorded(records.path());
    const int total = before.column("totalizer [m³]");
    const double last = before.of(1, "online").last()[total].toDouble();
    QVERIFY(last > 1000);
    reset->trigger();
    QVERIFY(waitUntil([&] { return !recorded(records.path()).of(1, "reset").isEmpty(); }, 20000));
    QVERIFY(waitUntil([&] { return recorded(records.path()).of(1, "online").size() > before.of(1, "online").size() + 1; }, 20000));
    const RecordedFile f = recorded(records.path());
    QVERIFY2(f.problem.isEmpty(), qPrintable(f.problem));
    const QVector<QStringList> resets = f.of(1, "reset");
    QCOMPARE(resets.size(), 1);
    QCOMPARE(resets[0][5], QString("totalizer reset from Corvane"));
    // 8 to 12 m³/h: a few seconds between the last row and the reset add hundredths at most.
    QVERIFY2(std::abs(resets[0][total].toDouble() - last) < 0.05, qPrintable(resets[0].join(',')));
    QVERIFY(f.of(1, "online").last()[total].toDouble() < 1.0);
    // Only the totalizer is in the event row.
    QStringList others = resets[0].mid(6);
    others.removeAt(total - 6);
    QVERIFY(others.join("").isEmpty());
}

// A folder that cannot be written stops the recording with the reason, said once, in red in
// the status bar; once it can be written, recording resumes by itself.
void TestFlowmeterPlugin::recordingThatCannotWriteSaysSoAndResumes()
{
    FlowSim sim("1");
    QVERIFY(sim.started);
    QTemporaryDir tmp;
    // A file where the folder should be: no one, root included, can make the folder.
    const QString folder = tmp.filePath("records");
    QFile blocker(folder);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Host h;
    setRecording(h.store, folder, 1, true);
    QVERIFY(h.start(sim.link, "1"));
    QSignalSpy status(h.window.get(), &cMainWindow::statusBarMsgSignal);
    QObject* recorder = h.plugin->findChild<QObject*>("flowmeterRecorder");
    QVERIFY(recorder);
    QSignalSpy failed(recorder, SIGNAL(failed(QString)));
    QVERIFY(failed.wait(5000));
    QVERIFY2(failed.first().first().toString().contains(folder), qPrintable(failed.first().first().toString()));
    auto* mark = h.window->statusBar()->findChild<QLabel*>("flowmeterRecordingMark");
    QVERIFY(mark && mark->isVisibleTo(h.window.get()));
    QVERIFY(mark->property("failing").toBool());
    QVERIFY(mark->toolTip().contains(folder));
    QVERIFY(mark->styleSheet().contains("color"));
    QVERIFY(h.waitLog("Flow meter plugin: Recording stopped: "));
    // Tried at each interval, said once.
    QTest::qWait(2500);
    QCOMPARE(texts(status).filter("Recording stopped: ").size(), 1);
    QCOMPARE(failed.size(), 1);
    QCOMPARE(h.log.text().count("Recording stopped: "), 1);
    // An entry of the alarm list of its own, open while nothing is written.
    QCOMPARE(h.alarmCount(QString(), folder), 1);
    QCOMPARE(h.alarm(h.alarmRow(QString(), folder), AlarmEnd), QString("ongoing"));

    QVERIFY(QFile::remove(folder));
    QVERIFY(h.waitLog("Flow meter plugin: Recording resumed"));
    QVERIFY(waitUntil([&] { return h.alarm(h.alarmRow(QString(), folder), AlarmEnd) != "ongoing"; }));
    QVERIFY(texts(status).contains("Recording resumed"));
    QVERIFY(!mark->property("failing").toBool());
    QVERIFY(mark->styleSheet().isEmpty());
    QVERIFY(waitUntil([&] { return !recorded(folder).of(1).isEmpty(); }));
    QVERIFY(recorded(folder).problem.isEmpty());

    // Another folder and interval from the setup page: kept, and used from the next row on.
    auto* setup = h.plugin->setupWidget;
    auto* folderEdit = setup->findChild<QLineEdit*>("recordFolderEdit");
    auto* interval = setup->findChild<QSpinBox*>("recordIntervalSpin");
    QVERIFY(folderEdit && interval && setup->findChild<QPushButton*>("recordFolderButton"));
    h.plugin->prepareSetup();
    QCOMPARE(folderEdit->text(), folder);
    QCOMPARE(interval->value(), 1);
    QCOMPARE(interval->minimum(), 1);
    QCOMPARE(interval->maximum(), 3600);
    const QString moved = tmp.filePath("moved");
    folderEdit->setText(moved);
    interval->setValue(2);
    h.plugin->saveSettings();
    h.plugin->acceptSetup();
    QSettings stored(h.store.file(), QSettings::IniFormat);
    QCOMPARE(stored.value("FlowMeter/recordFolder").toString(), moved);
    QCOMPARE(stored.value("FlowMeter/recordInterval").toInt(), 2);
    QVERIFY(stored.value("FlowMeter/recording").toBool());
    QVERIFY(h.waitLog("Flow meter plugin: Recording moved to " + moved));
    QVERIFY(waitUntil([&] { return recorded(moved).of(1).size() >= 2; }));
    const QVector<QStringList> rows = recorded(moved).of(1);
    QCOMPARE(std::llround((rowMs(rows[1]) - rowMs(rows[0])) / 1000.0) % 2, 0LL);
}

// The events the alarm list, the recorder and the log follow: every change once, in the order
// it happened, with what it was about; nothing for a reading that changes nothing.
void TestFlowmeterPlugin::eachChangeOfAMetersStateIsOneEventInOrder()
{
    FlowSim sim("1");
    QVERIFY(sim.started);
    Host h;
    storePatientLine(h.store);
    QVERIFY(h.start(sim.link, "1"));
    EventLog events;
    QVERIFY(QObject::connect(h.plugin, SIGNAL(meterEvent(MeterEvent)), &events, SLOT(take(MeterEvent))));
    h.select(1);
    // The first answer after the start counts as coming back.
    QVERIFY(waitUntil([&] { return events.count(MeterEvent::CameBack) == 1; }));
    const MeterEvent first = events.last(MeterEvent::CameBack);
    QCOMPARE(first.line, 0);
    QCOMPARE(first.id, 1);
    QVERIFY(first.wall.isValid() && first.monotonicMs > 0);

    // The flow limit lowered below the flow at the meter: the alarm, in the model's words.
    QVERIFY(sim.command("set 1 13 50"));
    QVERIFY(waitUntil([&] { return events.count(MeterEvent::AlarmRaised) == 1; }));
    const MeterEvent raised = events.last(MeterEvent::AlarmRaised);
    QCOMPARE(raised.detail, QString("Flow above limit"));
    QCOMPARE(raised.bits & 7, quint64(1));

    // Away and back with the alarm still on: it was never cleared, nor raised again.
    QVERIFY(sim.command("silence 3"));
    QVERIFY(waitUntil([&] { return events.count(MeterEvent::CameBack) == 2; }));
    QCOMPARE(events.last(MeterEvent::WentOffline).detail, QString("no answer"));
    QVERIFY(events.last(MeterEvent::WentOffline).monotonicMs >= raised.monotonicMs);

    QVERIFY(sim.command("set 1 13 200"));
    QVERIFY(waitUntil([&] { return events.count(MeterEvent::AlarmCleared) == 1; }));
    QCOMPARE(events.last(MeterEvent::AlarmCleared).bits & 7, quint64(0));

    // The totalizer falls at the meter (served by hand) and rises again: one event, with the
    // last total before the fall.
    QVERIFY(sim.command("setf 1 2 5"));
    QVERIFY(waitUntil([&] { return events.count(MeterEvent::TotalizerReset) == 1; }));
    const MeterEvent fell = events.last(MeterEvent::TotalizerReset);
    QCOMPARE(fell.detail, QString("totalizer fell at the meter"));
    QCOMPARE(fell.unit, QString("m3"));
    double lastBefore = 0;
    for (const QVector<float>& a : sim.answers(1)) {
        if (a[1] == 5.0f)
            break;
        lastBefore = a[1];
    }
    QVERIFY2(lastBefore > 1000 && std::fabs(fell.value - lastBefore) < 1e-3 * lastBefore,
             qPrintable(QString("%1 / %2").arg(fell.value).arg(lastBefore)));
    QVERIFY(sim.command("setf 1 2 off"));
    // The meter's own total served again, and shown (the label alone may still show the total
    // of before the fall).
    QVERIFY(waitUntil([&] {
        return !sim.answers(1).isEmpty() && sim.answers(1).last()[1] > 1000
            && h.label("totalValue").section(' ', 0, 0).toDouble() > 1000;
    }));

    // Our own reset: the total read before it, within what flows meanwhile.
    QMenu menu;
    QToolBar bar;
    QAction* reset = h.action("flowmeterResetTotalizer", menu, bar);
    QVERIFY(reset);
    const double shownBefore = double(sim.answers(1).last()[1]);
    h.answerBoxes(QMessageBox::Yes);
    reset->trigger();
    QVERIFY(waitUntil([&] { return events.count(MeterEvent::TotalizerReset) == 2; }));
    const MeterEvent ours = events.last(MeterEvent::TotalizerReset);
    QCOMPARE(ours.detail, QString("totalizer reset from Corvane"));
    QCOMPARE(ours.unit, QString("m3"));
    QVERIFY2(ours.value >= shownBefore - 1e-3 && ours.value < shownBefore + 0.05,
             qPrintable(QString("%1 / %2").arg(ours.value).arg(shownBefore)));
    // The zero after it is no fall at the meter.
    QVERIFY(waitUntil([&] { return h.label("totalValue").section(' ', 0, 0).toDouble() < 1.0; }));
    // A few more rounds for anything said twice to arrive.
    HostFixture::settle(600);

    QCOMPARE(events.kinds(), (QStringList{"CameBack", "AlarmRaised", "WentOffline", "CameBack", "AlarmCleared",
                                          "TotalizerReset", "TotalizerReset"}));
}

// The host's serial debugging switched in its setup dialog while the meters are polled: the
// line per reading starts and stops with it, and every line of the plug-in says when.
void TestFlowmeterPlugin::pollLinesFollowTheHostsSerialDebugging()
{
    FlowSim sim("1");
    QVERIFY(sim.started);
    Host h;
    h.pollLines = false;
    QVERIFY(h.start(sim.link, "1"));
    QVERIFY(h.waitLog("Flow meter plugin: Unit 1 online"));
    int asked = sim.requests(3);
    QVERIFY(waitUntil([&] { return sim.requests(3) >= asked + 5; }));
    QVERIFY(!h.log.text().contains("Flow meter plugin: Unit 1: flow"));

    // As the dialog's check box does it.
    h.window->setupDialog->onDebugClicked(true);
    QVERIFY(h.waitLog("Flow meter plugin: Serial debugging is on: a line for every poll of every meter"));
    QVERIFY(h.waitLog("Flow meter plugin: Unit 1: flow", 3));
    h.window->setupDialog->onDebugClicked(false);
    QVERIFY(h.waitLog("Flow meter plugin: Serial debugging is off: only changes of a meter's state are logged", 2));
    // A poll under way as it was switched may still say its reading.
    asked = sim.requests(3);
    QVERIFY(waitUntil([&] { return sim.requests(3) >= asked + 2; }));
    const int readings = h.log.text().count("Flow meter plugin: Unit 1: flow");
    QVERIFY(waitUntil([&] { return sim.requests(3) >= asked + 7; }));
    QCOMPARE(h.log.text().count("Flow meter plugin: Unit 1: flow"), readings);

    QStringList unstamped;
    QVERIFY(ProgramRunner::flowmeterLines(h.log.text(), &unstamped).size() > 5);
    QVERIFY2(unstamped.isEmpty(), qPrintable(unstamped.join('\n')));
}

// The host's header shows the worst state of all meters, whichever is on show.
void TestFlowmeterPlugin::headerShowsTheWorstOfAllMeters()
{
    FlowSim sim("1,2");
    QVERIFY(sim.started);
    Host h;
    storePatientLine(h.store);
    QVERIFY(h.start(sim.link, "1,2"));
    h.select(1);
    auto* state = h.window->findChild<QLabel*>("deviceState");
    QVERIFY(state);
    QVERIFY(h.waitLog("Flow meter plugin: Unit 2 online"));
    QVERIFY(state->isHidden());

    // An alarm on the meter not on show.
    QVERIFY(sim.command("set 2 13 50"));
    QVERIFY(waitUntil([&] { return state->text() == "Alarm: Meter 2 (Flow above limit)"; }));
    QCOMPARE(state->property("severity").toInt(), 2);
    QVERIFY(state->isVisibleTo(h.window.get()));
    QCOMPARE(h.label("unitTitle"), QString("Meter 1"));
    QVERIFY(sim.command("set 2 13 250"));
    QVERIFY(waitUntil([&] { return state->isHidden(); }));

    // Both away for a round: said in a number.
    // Four faults for each of the three meters: offline for two rounds and more, so that a
    // busy machine, handling two rounds' refreshes in one go, still shows it.
    QVERIFY(sim.command("silence 12"));
    QVERIFY(waitUntil([&] { return state->text() == "2 meters offline"; }));
    QCOMPARE(state->property("severity").toInt(), 1);
    QVERIFY(waitUntil([&] { return state->isHidden(); }));

    // Unloaded with an alarm on: its meters are no longer anyone's to show.
    QVERIFY(sim.command("set 1 13 10"));
    QVERIFY(waitUntil([&] { return state->property("severity").toInt() == 2; }));
    h.unload();
    QVERIFY(state->isHidden());
}

namespace {

// Two meters of the model file, whose alarm bits take a word set with "set ID 6 WORD" until
// "set ID 6 off"; named on the setup, as the list and the desktop name them.
bool startNamedPair(Host& h, FlowSim& sim)
{
    storeLine(h.store, sim.link, {MeterConfig{1, "Tessmark FM-1", "FT-101 inlet"}, MeterConfig{2, "Tessmark FM-1", "FT-102 outlet"}});
    return h.start(sim.link, "1,2") && waitUntil([&] { return h.unit(2) && !h.unit(2)->text(1).isEmpty(); });
}

QJsonArray alarmsIn(const QString& file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(f.readAll()).object().value("entries").toArray();
}

} // namespace

void TestFlowmeterPlugin::alarmListTakesAlarmsAndOfflineAndOutlivesARestart()
{
    UserModels data;
    FlowSim sim("1,2", FlowSim::modelOptions(modelFile("tessmark-fm1.json")));
    QVERIFY(sim.started);
    Host h;
    QVERIFY(startNamedPair(h, sim));
    QCOMPARE(h.alarmTab(), h.alarmRows() ? QString("Alarms (%1)").arg(h.alarmRows()) : QString("Alarms"));
    const QString hot = "Temperature above 60 °C";

    QVERIFY(sim.command("set 2 6 4"));
    QVERIFY(waitUntil([&] { return h.alarmCount("FT-102 outlet", hot) == 1; }));
    QCOMPARE(h.alarm(h.alarmRow("FT-102 outlet", hot), AlarmLine), QString("1"));
    QCOMPARE(h.alarm(h.alarmRow("FT-102 outlet", hot), AlarmEnd), QString("ongoing"));
    QCOMPARE(h.alarmTab(), QString("Alarms (%1)").arg(h.alarmRows()));
    QVERIFY(sim.command("set 2 6 off"));
    QVERIFY(waitUntil([&] { return h.alarm(h.alarmRow("FT-102 outlet", hot), AlarmEnd) != "ongoing"; }));
    QCOMPARE(h.alarmCount("FT-102 outlet", hot), 1);

    // The line's device goes away: each meter an entry, ended when it answers again.
    h.answerBoxes(QMessageBox::Ok);
    QVERIFY(sim.command("vanish 1500"));
    QVERIFY(waitUntil([&] { return h.alarmCount("FT-101 inlet", "lost") == 1 && h.alarmCount("FT-102 outlet", "lost") == 1; }));
    QVERIFY2(h.alarm(h.alarmRow("FT-101 inlet", "lost"), AlarmText).startsWith("Offline: port "),
             qPrintable(h.alarm(h.alarmRow("FT-101 inlet", "lost"), AlarmText)));
    QVERIFY(waitUntil([&] {
        return h.alarm(h.alarmRow("FT-101 inlet", "lost"), AlarmEnd) != "ongoing" &&
               h.alarm(h.alarmRow("FT-102 outlet", "lost"), AlarmEnd) != "ongoing";
    }, 20000));

    // The first one acknowledged.
    const int unseen = h.alarmRows();
    h.alarmTable()->selectRow(h.alarmRow("FT-102 outlet", hot));
    h.click("acknowledgeButton");
    QCOMPARE(h.alarmTab(), QString("Alarms (%1)").arg(unseen - 1));
    QVERIFY(!h.alarm(h.alarmRow("FT-102 outlet", hot), AlarmAcknowledged).isEmpty());
    QVERIFY(h.alarm(h.alarmRow("FT-102 outlet", "lost"), AlarmAcknowledged).isEmpty());

    // An alarm still on when the program ends: in the file, and on the list after the restart.
    QVERIFY(sim.command("set 1 6 1"));
    QVERIFY(waitUntil([&] { return h.alarmCount("FT-101 inlet", "Flow above limit") == 1; }));
    const int rows = h.alarmRows();
    h.unload();
    const QJsonArray saved = alarmsIn(data.alarmsFile());
    QCOMPARE(saved.size(), rows);
    QJsonObject open;
    for (const QJsonValue& v : saved)
        if (v.toObject().value("text").toString() == "Flow above limit")
            open = v.toObject();
    QCOMPARE(open.value("meter").toString(), QString("FT-101 inlet"));
    QCOMPARE(open.value("unit id").toInt(), 1);
    QVERIFY(!open.contains("end"));

    QVERIFY(h.create());
    QCOMPARE(h.alarmRows(), rows);
    QCOMPARE(h.alarmTab(), QString("Alarms (%1)").arg(unseen));
    QVERIFY(!h.alarm(h.alarmRow("FT-102 outlet", hot), AlarmAcknowledged).isEmpty());
    QCOMPARE(h.alarm(h.alarmRow("FT-101 inlet", "Flow above limit"), AlarmEnd), QString("ongoing"));
    // The meter answers with its alarm still on: the entry of before goes on, no second one.
    QVERIFY(waitUntil([&] { return h.unit(1) && h.unit(1)->data(0, Qt::UserRole).toString().contains("alarm"); }));
    const int answered = sim.collect().count("flowsim: -> ");
    QVERIFY(waitUntil([&] { return sim.collect().count("flowsim: -> ") >= answered + 6; }));
    HostFixture::settle();
    QCOMPARE(h.alarmCount("FT-101 inlet", "Flow above limit"), 1);
    QCOMPARE(h.alarm(h.alarmRow("FT-101 inlet", "Flow above limit"), AlarmEnd), QString("ongoing"));
    QVERIFY(sim.command("set 1 6 off"));
    QVERIFY(waitUntil([&] { return h.alarm(h.alarmRow("FT-101 inlet", "Flow above limit"), AlarmEnd) != "ongoing"; }));
    h.click("acknowledgeAllButton");
    QCOMPARE(h.alarmTab(), QString("Alarms"));
    QVERIFY(waitUntil([&] {
        for (const QJsonValue& v : alarmsIn(data.alarmsFile()))
            if (!v.toObject().contains("end") || !v.toObject().contains("acknowledged"))
                return false;
        return true;
    }));
}

void TestFlowmeterPlugin::aCorruptAlarmListIsSetAsideAndTheMetersRunOn()
{
    UserModels data;
    const QByteArray corrupt = "{\"version\": 1, \"entries\": [{\"kind\": \"alarm\", \"start\": ";
    QVERIFY(QDir().mkpath(QFileInfo(data.alarmsFile()).absolutePath()));
    {
        QFile f(data.alarmsFile());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(corrupt);
    }
    FlowSim sim("1,2", FlowSim::modelOptions(modelFile("tessmark-fm1.json")));
    QVERIFY(sim.started);
    Host h;
    QVERIFY(startNamedPair(h, sim));
    QVERIFY(h.log.text().contains("Flow meter plugin: Alarm list " + data.alarmsFile() + " cannot be read whole (not JSON"));
    const QFileInfoList aside = QFileInfo(data.alarmsFile()).dir().entryInfoList({"alarms.json.unreadable-*"});
    QCOMPARE(aside.size(), 1);
    QFile kept(aside[0].filePath());
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), corrupt);
    QCOMPARE(h.alarmCount("FT-102 outlet", "No flow"), 0);
    QVERIFY(sim.command("set 2 6 2"));
    QVERIFY(waitUntil([&] { return h.alarmCount("FT-102 outlet", "No flow") == 1; }));
    QVERIFY(waitUntil([&] { return alarmsIn(data.alarmsFile()).size() == h.alarmRows(); }));
}

void TestFlowmeterPlugin::notificationReachesTheDesktop()
{
    if (!QDBusConnection::sessionBus().isConnected())
        QSKIP("needs a session bus of its own: ctest runs it as test_flowmeter_notifications under dbus-run-session");
    UserModels data;
    FlowSim sim("1,2", FlowSim::modelOptions(modelFile("tessmark-fm1.json")));
    QVERIFY(sim.started);
    Host h;
    QVERIFY(startNamedPair(h, sim));
    const QString noService = "No desktop notification service on the session bus";
    const QString hot = "Temperature above 60 °C";

    // No one serves notifications yet: said once, whatever the alarms.
    QVERIFY(sim.command("set 2 6 4"));
    QVERIFY(waitUntil([&] { return h.alarmCount("FT-102 outlet", hot) == 1; }));
    QVERIFY(h.waitLog(noService));
    QVERIFY(sim.command("set 2 6 off"));
    QVERIFY(waitUntil([&] { return h.alarm(h.alarmRow("FT-102 outlet", hot), AlarmEnd) != "ongoing"; }));
    QVERIFY(sim.command("set 2 6 1"));
    QVERIFY(waitUntil([&] { return h.alarmCount("FT-102 outlet", "Flow above limit") == 1; }));

    // The service comes, on a connection of its own, through the bus.
    QDBusConnection own = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "notificationService");
    QVERIFY(own.isConnected());
    NotificationService service;
    QVERIFY(own.registerObject("/org/freedesktop/Notifications", &service, QDBusConnection::ExportAllSlots));
    QVERIFY(own.registerService("org.freedesktop.Notifications"));
    // The alarm of before back within a minute, not yet acknowledged: its entry counts it, and
    // nothing new pops up.
    QVERIFY(sim.command("set 2 6 4"));
    QVERIFY(waitUntil([&] { return h.alarm(h.alarmRow("FT-102 outlet", hot), AlarmText) == hot + " (2 times)"; }));
    // Acknowledged, and back once more: told.
    h.click("acknowledgeAllButton");
    QVERIFY(sim.command("set 2 6 1"));
    QVERIFY(waitUntil([&] { return service.summaries.contains("Alarm: FT-102 outlet"); }));
    const int alarm = int(service.summaries.indexOf("Alarm: FT-102 outlet"));
    QVERIFY2(service.bodies[alarm].contains("Flow above limit (2 times)") && service.bodies[alarm].contains("unit 2"),
             qPrintable(service.bodies[alarm]));
    QCOMPARE(service.hints[alarm].value("urgency").toInt(), 2);
    QCOMPARE(h.log.text().count(noService), 1);

    // The meters go offline: each told by name; meter 2's replaces its alarm on the desktop.
    // (An answer missed on a loaded machine may have opened an entry that this continues: one
    // acknowledged is told.)
    h.click("acknowledgeAllButton");
    h.answerBoxes(QMessageBox::Ok);
    QVERIFY(sim.command("vanish 1500"));
    QVERIFY(waitUntil([&] {
        return service.summaries.contains("Offline: FT-101 inlet") && service.summaries.contains("Offline: FT-102 outlet");
    }));
    const int offline = int(service.summaries.lastIndexOf("Offline: FT-102 outlet"));
    int before = offline - 1;
    while (before >= 0 && !service.summaries[before].endsWith("FT-102 outlet"))
        --before;
    QVERIFY(before >= 0);
    QCOMPARE(service.replaces[offline], service.given[before]);
    QVERIFY(waitUntil([&] {
        return h.alarm(h.alarmRow("FT-101 inlet", "lost"), AlarmEnd) != "ongoing" &&
               h.alarm(h.alarmRow("FT-102 outlet", "lost"), AlarmEnd) != "ongoing";
    }, 20000));
    h.unload();
    own.unregisterService("org.freedesktop.Notifications");
    QDBusConnection::disconnectFromBus("notificationService");
}

void TestFlowmeterPlugin::withoutASessionBusOneLineAndNoNotification()
{
    if (QDBusConnection::sessionBus().isConnected())
        QSKIP("a session bus is there: ctest runs this one without");
    UserModels data;
    FlowSim sim("1,2", FlowSim::modelOptions(modelFile("tessmark-fm1.json")));
    QVERIFY(sim.started);
    Host h;
    QVERIFY(startNamedPair(h, sim));
    QVERIFY(sim.command("set 2 6 4"));
    QVERIFY(waitUntil([&] { return h.alarmCount("FT-102 outlet", "Temperature above 60 °C") == 1; }));
    QVERIFY(h.waitLog("Flow meter plugin: No session bus ("));
    QVERIFY(sim.command("set 1 6 2"));
    QVERIFY(waitUntil([&] { return h.alarmCount("FT-101 inlet", "No flow") == 1; }));
    HostFixture::settle();
    QCOMPARE(h.log.text().count("Flow meter plugin: No session bus ("), 1);
    QVERIFY(h.log.text().contains("alarms are not shown as desktop notifications"));
}

QTEST_MAIN(TestFlowmeterPlugin)
// Publishing set up on the setup page: the connection's state in the status bar, a wrong
// password in words there (in red) and in the log; the password in neither the settings file
// nor the log; a setup without a broker host is not taken, and said.
void TestFlowmeterPlugin::mqttFromTheSetupPageShowsItsStateAndKeepsThePasswordOut()
{
    QTemporaryDir dir;
    const QString passwd = QStandardPaths::findExecutable("mosquitto_passwd");
    QVERIFY(!passwd.isEmpty());
    QProcess make;
    make.start(passwd, {"-c", "-b", dir.filePath("passwords"), "station", "s3cret-Pw"});
    QVERIFY(make.waitForFinished(30000) && make.exitCode() == 0);
    QFile::setPermissions(dir.filePath("passwords"), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    MosquittoBroker broker;
    MosquittoBroker::Options o;
    o.passwordFile = dir.filePath("passwords");
    QVERIFY2(broker.start(o), qPrintable(broker.error()));

    FlowSim sim("1");
    QVERIFY(sim.started);
    Host h;
    QVERIFY(h.start(sim.link, "1"));
    auto* setup = h.plugin->setupWidget;
    auto* enabled = setup->findChild<QCheckBox*>("mqttEnabled");
    auto* host = setup->findChild<QLineEdit*>("mqttHost");
    auto* port = setup->findChild<QSpinBox*>("mqttPort");
    auto* user = setup->findChild<QLineEdit*>("mqttUser");
    auto* password = setup->findChild<QLineEdit*>("mqttPassword");
    auto* prefix = setup->findChild<QLineEdit*>("mqttPrefix");
    QVERIFY(enabled && host && port && user && password && prefix);
    QCOMPARE(password->echoMode(), QLineEdit::Password);
    h.plugin->prepareSetup();
    QVERIFY(!enabled->isChecked());
    QVERIFY(!host->isEnabled());

    // On, but no host: not taken, and said.
    enabled->setChecked(true);
    h.plugin->saveSettings();
    h.plugin->acceptSetup();
    QVERIFY(h.waitLog("Setup of MQTT not taken: MQTT: the broker's host is missing"));
    QVERIFY(!QSettings(h.store.file(), QSettings::IniFormat).value("FlowMeter/mqtt/enabled").toBool());

    h.plugin->prepareSetup();
    enabled->setChecked(true);
    host->setText("127.0.0.1");
    port->setValue(broker.port());
    prefix->setText("setup/station");
    user->setText("station");
    password->setText("wrong-Pw-4411");
    emit password->textEdited(password->text());
    h.plugin->saveSettings();
    h.plugin->acceptSetup();
    QLabel* mark = nullptr;
    QVERIFY(waitUntil([&] {
        mark = h.window->statusBar()->findChild<QLabel*>("flowmeterMqttMark");
        return mark && mark->text().startsWith("MQTT: refused: wrong user name or password");
    }));
    QVERIFY(mark->styleSheet().contains("color"));
    QVERIFY(h.waitLog("Flow meter plugin: MQTT: refused: wrong user name or password"));

    // The right one: connected. Opening the page again and saving keeps it, unseen.
    h.plugin->prepareSetup();
    password->setText("s3cret-Pw");
    emit password->textEdited(password->text());
    h.plugin->saveSettings();
    h.plugin->acceptSetup();
    QVERIFY(waitUntil([&] { return mark && mark->text().startsWith("MQTT: connected"); }, 20000));
    QVERIFY(mark->styleSheet().isEmpty());
    QVERIFY(h.waitLog("Flow meter plugin: MQTT: connected to 127.0.0.1:" + QString::number(broker.port())));
    QVERIFY(broker.log().contains("u'station'"));

    QFile stored(h.store.file());
    QVERIFY(stored.open(QIODevice::ReadOnly));
    const QByteArray file = stored.readAll();
    QVERIFY2(file.contains("mqtt\\host=127.0.0.1") && file.contains("mqtt\\user=station"), file.constData());
    for (const char* secret : {"s3cret-Pw", "wrong-Pw-4411"}) {
        QVERIFY2(!file.contains(secret), secret);
        QVERIFY2(!h.log.text().contains(secret), secret);
    }
    QVERIFY(!file.contains("password"));
    QVERIFY(h.waitLog("Flow meter plugin: MQTT: the password is kept in "));

    // A new start takes the password from where it was kept, and connects with it.
    h.unload();
    const int connections = int(broker.log().count("u'station'"));
    QVERIFY(h.create());
    QVERIFY(h.waitLog("Flow meter plugin: MQTT: the password is read from "));
    QVERIFY(waitUntil([&] { return broker.log().count("u'station'") > connections; }, 20000));
    QVERIFY(h.waitLog("Flow meter plugin: MQTT: connected to 127.0.0.1:" + QString::number(broker.port()), 2));
    QVERIFY(!h.log.text().contains("s3cret-Pw"));
}

#include "test_flowmeter_plugin.moc"
