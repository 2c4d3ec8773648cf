// The real program with the real flowmeter.plg, talking to the real simulator over its
// pseudo-terminals: readings as served, faults and recovery, settings across restarts.
#include "FlowSim.h"
#include "MosquittoBroker.h"

#include <ProgramRunner.h>
#include <RecordedFile.h>
#include <SmallTmpfs.h>
#include <WaitUntil.h>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QProcessEnvironment>
#include <QMap>
#include <QSettings>
#include <QtTest>

#include <csignal>

namespace {

// A first run's settings that record every second into `folder` from the start.
void recordInto(const QString& configDir, const QString& folder)
{
    QSettings s(configDir + "/Tessmark/Corvane.conf", QSettings::IniFormat);
    s.setValue("FlowMeter/recordFolder", folder);
    s.setValue("FlowMeter/recordInterval", 1);
    s.setValue("FlowMeter/recording", true);
}

// The rows of every file of `folder`; a file that does not read whole is named in `problem`.
RecordedFile recordedIn(const QString& folder, int* files = nullptr)
{
    const QStringList paths = RecordedFile::files(folder);
    if (files)
        *files = int(paths.size());
    RecordedFile all(paths.value(0));
    for (int i = 1; i < paths.size(); ++i) {
        RecordedFile next(paths[i]);
        all.rows << next.rows;
        if (all.problem.isEmpty() && !next.problem.isEmpty())
            all.problem = next.path + ": " + next.problem;
        if (all.problem.isEmpty() && next.headers != 1)
            all.problem = next.path + QString(": %1 headers").arg(next.headers);
    }
    return all;
}

// Starts the program with the plug-in's first-run environment pointed at `port`, and with the
// host's serial debugging on (`pollLines`), so that every reading is in the log.
bool startProgram(ProgramRunner& p, const QString& port, const QString& ids, const QString& configDir = QString(),
                  bool pollLines = true)
{
    if (pollLines && !ProgramRunner::setSerialDebug(configDir.isEmpty() ? p.configDir() : configDir, true))
        return false;
    QProcessEnvironment env = p.process().processEnvironment();
    env.insert("CORVANE_FLOWMETER_PORT", port);
    env.insert("CORVANE_FLOWMETER_IDS", ids);
    if (!configDir.isEmpty())
        env.insert("XDG_CONFIG_HOME", configDir);
    p.process().setProcessEnvironment(env);
    return p.start({"-debug"});
}

// Waits for `text` in the log after `from` characters; returns its position or -1.
int waitAfter(ProgramRunner& p, int from, const QString& text, int ms = 15000)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        const int at = p.log().indexOf(text, from);
        if (at >= 0)
            return at;
        QTest::qWait(20);
    }
    return -1;
}

struct Reading
{
    QString flow, total, temperature;
};

// The last reading of `unit` in the plug-in's log.
bool lastReading(const QString& log, int unit, Reading* r)
{
    const QRegularExpression line(QString("Flow meter plugin: Unit %1: flow (\\S+) m3/h, totalizer (\\S+) m3, "
                                          "temperature (\\S+) C")
                                      .arg(unit));
    QRegularExpressionMatch last;
    auto it = line.globalMatch(log);
    while (it.hasNext())
        last = it.next();
    if (!last.hasMatch())
        return false;
    *r = {last.captured(1), last.captured(2), last.captured(3)};
    return true;
}

// What a systemd unit of ours runs: its ExecStart= command line and its Environment=, read from
// the shipped file as systemd would (quotes group words; a leading "-" or "@" and the like only
// change how systemd treats the command).
struct ServiceUnit
{
    QStringList command;
    QMap<QString, QString> environment;
    QString problem;
};

QStringList unitWords(const QString& text)
{
    QStringList words;
    QString word;
    bool quoted = false, inWord = false;
    for (const QChar c : text) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (c.isSpace() && !quoted) {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words << word;
    return words;
}

ServiceUnit readUnit(const QString& path)
{
    ServiceUnit unit;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        unit.problem = path + ": " + file.errorString();
        return unit;
    }
    QString section;
    int execStarts = 0;
    for (const QString& raw : QString::fromUtf8(file.readAll()).split('\n')) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#') || line.startsWith(';'))
            continue;
        if (line.startsWith('[')) {
            section = line;
            continue;
        }
        if (section != "[Service]")
            continue;
        const QString key = line.section('=', 0, 0).trimmed();
        const QString value = line.section('=', 1).trimmed();
        if (key == "ExecStart") {
            ++execStarts;
            unit.command = unitWords(value);
            while (!unit.command.isEmpty() && !unit.command[0].isEmpty() && QString("-@:+!").contains(unit.command[0][0]))
                unit.command[0].remove(0, 1);
        } else if (key == "Environment") {
            for (const QString& assignment : unitWords(value))
                unit.environment.insert(assignment.section('=', 0, 0), assignment.section('=', 1));
        }
    }
    if (execStarts != 1)
        unit.problem = path + QString(": %1 ExecStart= lines").arg(execStarts);
    return unit;
}

// The environment of a service: the test's own without any display or chosen platform, and the
// unit's Environment= over it.
QProcessEnvironment serviceEnvironment(QProcessEnvironment env, const ServiceUnit& unit)
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    for (auto it = unit.environment.cbegin(); it != unit.environment.cend(); ++it)
        env.insert(it.key(), it.value());
    return env;
}

} // namespace

class TestFlowmeterProgram : public QObject
{
    Q_OBJECT

private slots:
    void readingsAreWhatTheSimulatorServed();
    void silenceAndCorruptAnswersGoOfflineWithReasonAndComeBack();
    void vanishingDeviceRecoversWithoutRestart();
    void missingDeviceAtStartIsFoundWhenItAppears();
    void storedSettingsOutliveTheEnvironment();
    void withoutSerialDebuggingOnlyChangesOfStateAreLogged();
    void recordingSurvivesKillsAtRandomMoments();
    void recordingStopsOnAFullDiskAndResumes();
    void aSecondProgramOnTheFolderWaitsItsTurn();
    void serviceUnitsPollWithoutADisplay_data();
    void serviceUnitsPollWithoutADisplay();
};

void TestFlowmeterProgram::readingsAreWhatTheSimulatorServed()
{
    FlowSim sim("1,2");
    QVERIFY(sim.started);
    ProgramRunner p;
    QVERIFY(startProgram(p, sim.link, "1,2"));
    QVERIFY(p.waitFor("Flow meter plugin: Opened port " + sim.link));
    QVERIFY(waitAfter(p, 0, "Flow meter plugin: Unit 2: flow") >= 0);
    // A few rounds, so that the last logged reading is not the very first answer.
    QVERIFY(waitAfter(p, p.log().size(), "Flow meter plugin: Unit 2: flow") >= 0);

    for (int unit : {1, 2}) {
        Reading r;
        QVERIFY(lastReading(p.log(), unit, &r));
        const bool matched = sim.answered(unit, [&](const QVector<float>& a) {
            return QString::number(a[0], 'f', 3) == r.flow && QString::number(a[1], 'f', 3) == r.total &&
                   QString::number(a[2], 'f', 2) == r.temperature;
        });
        QVERIFY2(matched, qPrintable(QString("unit %1 logged %2 / %3 / %4, which no answer held")
                                         .arg(unit).arg(r.flow, r.total, r.temperature)));
        // Unit n's base flow is 8 + 4(n-1) m³/h, swinging by at most 20 % plus noise.
        const double base = 8 + 4 * (unit - 1);
        QVERIFY(r.flow.toDouble() > base * 0.75 && r.flow.toDouble() < base * 1.25);
    }
    QVERIFY(!p.log().contains("offline"));
    QVERIFY(p.stop());
}

void TestFlowmeterProgram::silenceAndCorruptAnswersGoOfflineWithReasonAndComeBack()
{
    FlowSim sim("1");
    QVERIFY(sim.started);
    ProgramRunner p;
    QVERIFY(startProgram(p, sim.link, "1"));
    QVERIFY(p.waitFor("Flow meter plugin: Unit 1: flow"));

    int from = p.log().size();
    QVERIFY(sim.command("silence 3"));
    int at = waitAfter(p, from, "Flow meter plugin: Unit 1 offline: no answer");
    QVERIFY(at >= 0);
    QVERIFY(p.log().mid(from).contains(QRegularExpression("Unit 1: poll failed \\(no answer\\), [1-9]\\d* errors")));
    QVERIFY(waitAfter(p, at, "Flow meter plugin: Unit 1 online") >= 0);

    from = p.log().size();
    QVERIFY(sim.command("crc 3"));
    at = waitAfter(p, from, "Flow meter plugin: Unit 1 offline: corrupt check sum");
    QVERIFY(at >= 0);
    QVERIFY(waitAfter(p, at, "Flow meter plugin: Unit 1 online") >= 0);

    // A short answer and bytes nobody asked for: the first is an error, the second is not.
    from = p.log().size();
    QVERIFY(sim.command("short 1"));
    QVERIFY(waitAfter(p, from, "Unit 1: poll failed (short answer") >= 0);
    from = p.log().size();
    QVERIFY(sim.command("extra 1"));
    QVERIFY(sim.waitFor("(extra bytes)"));
    QVERIFY(waitAfter(p, p.log().size(), "Flow meter plugin: Unit 1: flow") >= 0);
    QVERIFY(waitAfter(p, p.log().size(), "Flow meter plugin: Unit 1: flow") >= 0);
    QVERIFY2(!p.log().mid(from).contains("poll failed"), qPrintable(p.log().mid(from)));

    // One lost answer is counted but does not mark the meter away.
    from = p.log().size();
    QVERIFY(sim.command("silence 1"));
    QVERIFY(waitAfter(p, from, "Unit 1: poll failed (no answer)") >= 0);
    QVERIFY(waitAfter(p, p.log().size(), "Flow meter plugin: Unit 1: flow") >= 0);
    QVERIFY(!p.log().mid(from).contains("offline"));
    QVERIFY(p.stop());
}

void TestFlowmeterProgram::vanishingDeviceRecoversWithoutRestart()
{
    FlowSim sim("1,3");
    QVERIFY(sim.started);
    ProgramRunner p;
    QVERIFY(startProgram(p, sim.link, "1,3"));
    QVERIFY(p.waitFor("Flow meter plugin: Unit 3: flow"));
    const int from = p.log().size();
    QVERIFY(sim.command("vanish 1500"));
    const int gone = waitAfter(p, from, "Flow meter plugin: Unit 3 offline:");
    QVERIFY(gone >= 0);
    QVERIFY(sim.waitFor("flowsim: back on", 5000));
    const int reopened = waitAfter(p, gone, "Flow meter plugin: Opened port " + sim.link);
    QVERIFY(reopened >= 0);
    QVERIFY(waitAfter(p, reopened, "Flow meter plugin: Unit 1 online") >= 0);
    QVERIFY(waitAfter(p, reopened, "Flow meter plugin: Unit 3: flow") >= 0);
    QVERIFY(p.stop());
}

void TestFlowmeterProgram::missingDeviceAtStartIsFoundWhenItAppears()
{
    QTemporaryDir dir;
    const QString link = dir.path() + "/later";
    ProgramRunner p;
    QVERIFY(startProgram(p, link, "2"));
    QVERIFY(p.waitFor("Flow meter plugin: Unit 2 offline: port " + link + " cannot be opened"));
    QVERIFY(p.waitFor("Flow meter plugin: Cannot open port " + link + "; trying again every second"));
    QVERIFY(waitUntil([&] {
        p.collect();
        return p.err().contains("Comport Closed\n");
    }));

    FlowSim sim("2", {});
    QVERIFY(sim.started);
    // The simulator's own link goes elsewhere; the one the program waits for is made now.
    QVERIFY(QFile::link(QFileInfo(sim.link).symLinkTarget(), link));
    QVERIFY(p.waitFor("Flow meter plugin: Opened port " + link));
    QVERIFY(p.waitFor("Flow meter plugin: Unit 2: flow"));
    // Tried again until it opened, and every failure before said once, by the plug-in and by
    // the registry alike.
    p.collect();
    QCOMPARE((p.out() + p.log()).count("Flow meter plugin: Cannot open port "), 1);
    QCOMPARE(p.err().count("Comport Closed\n"), 1);
    QCOMPARE(p.err().count(" Open " + link + " -> Error 0x0002: "), 1);
    QVERIFY(p.stop());
}

void TestFlowmeterProgram::storedSettingsOutliveTheEnvironment()
{
    QTemporaryDir config;
    FlowSim sim("1");
    QVERIFY(sim.started);
    {
        ProgramRunner p;
        QVERIFY(startProgram(p, sim.link, "1", config.path()));
        QVERIFY(p.waitFor("Flow meter plugin: Unit 1: flow"));
        QVERIFY(p.stop());
    }
    QSettings stored(config.path() + "/Tessmark/Corvane.conf", QSettings::IniFormat);
    QCOMPARE(stored.value("FlowMeter/port").toString(), sim.link);
    QCOMPARE(stored.value("FlowMeter/ids").toString(), QString("1"));

    // A second run with another environment keeps to what was stored.
    ProgramRunner p;
    QVERIFY(startProgram(p, "/nonexistent/tty", "5,6", config.path()));
    QVERIFY(p.waitFor("Flow meter plugin: Port " + sim.link + ", unit ids 1, poll period 200 ms"));
    QVERIFY(p.waitFor("Flow meter plugin: Unit 1: flow"));
    QVERIFY(p.stop());

    // Written by hand, as a commissioning engineer would: the ids unquoted.
    QFile file(config.path() + "/Tessmark/Corvane.conf");
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[FlowMeter]\nport=" + sim.link.toLocal8Bit() + "\nids=2, 1\nperiod=300\n");
    file.close();
    ProgramRunner edited;
    QVERIFY(startProgram(edited, "/nonexistent/tty", "5", config.path()));
    QVERIFY(edited.waitFor("Flow meter plugin: Port " + sim.link + ", unit ids 1,2, poll period 300 ms"));
    QVERIFY(edited.stop());
}

// The host's serial debugging is off unless switched on: the log then holds the meters' changes
// of state and no reading, and every line of the plug-in says when it was written. With it on,
// a line per reading.
void TestFlowmeterProgram::withoutSerialDebuggingOnlyChangesOfStateAreLogged()
{
    FlowSim sim("1,2");
    QVERIFY(sim.started);
    {
        ProgramRunner p;
        // A patient line, so that only the silence takes the meters away on a busy machine.
        QVERIFY(QDir().mkpath(p.configDir() + "/Tessmark"));
        QFile conf(p.configDir() + "/Tessmark/Corvane.conf");
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write("[FlowMeter]\nport=" + sim.link.toLocal8Bit() + "\nids=1,2\ntimeout=400\n");
        conf.close();
        QVERIFY(startProgram(p, sim.link, "1,2", QString(), false));
        QVERIFY(p.waitFor("Flow meter plugin: Unit 2 online"));
        // A few seconds of polling, counted at the meters.
        int asked = sim.requests(3);
        QVERIFY(waitUntil([&] { return sim.requests(3) >= asked + 20; }, 15000));
        const int from = p.log().size();
        QVERIFY(sim.command("silence 4"));
        QVERIFY(waitAfter(p, from, "Flow meter plugin: Unit 2 online") >= 0);
        asked = sim.requests(3);
        QVERIFY(waitUntil([&] { return sim.requests(3) >= asked + 20; }, 15000));
        const QString log = p.log();
        QVERIFY(p.stop());

        QStringList unstamped;
        const QStringList lines = ProgramRunner::flowmeterLines(log, &unstamped);
        QVERIFY2(unstamped.isEmpty(), qPrintable(unstamped.join('\n')));
        QVERIFY(lines.contains("Serial debugging is off: only changes of a meter's state are logged"));
        QVERIFY2(lines.filter(QRegularExpression(": flow |poll failed")).isEmpty(), qPrintable(lines.join('\n')));
        // The silence: each meter going and coming back, and nothing else. (Which of the two is
        // back first depends on how late the first answer after the silence comes.)
        QStringList during = ProgramRunner::flowmeterLines(log.mid(from));
        // Said once at the first notification wanted, when the program has no desktop to tell.
        during.removeIf([](const QString& line) {
            return line.startsWith("No session bus (") || line.startsWith("No desktop notification service");
        });
        // The answer to a request the silence held back may come after its time-out: dropped,
        // and said once for the meter.
        const QRegularExpression late("^Unit [12]: late answer dropped, the answer time-out may be too short \\(\\d+ errors\\)$");
        QVERIFY(during.filter(late).size() <= 2);
        during.removeIf([&](const QString& line) { return late.match(line).hasMatch(); });
        QStringList sorted = during;
        sorted.sort();
        QVERIFY2(sorted.size() == 4, qPrintable(sorted.join(" | ")));
        QCOMPARE(sorted, (QStringList{"Unit 1 offline: no answer", "Unit 1 online", "Unit 2 offline: no answer",
                                      "Unit 2 online"}));
        for (const char* unit : {"Unit 1", "Unit 2"})
            QVERIFY2(during.indexOf(QString(unit) + " offline: no answer") < during.indexOf(QString(unit) + " online"),
                     qPrintable(during.join('\n')));
    }
    ProgramRunner p;
    QVERIFY(startProgram(p, sim.link, "1,2"));
    QVERIFY(p.waitFor("Flow meter plugin: Unit 2: flow"));
    QVERIFY(p.stop());
    QStringList unstamped;
    const QStringList lines = ProgramRunner::flowmeterLines(p.log(), &unstamped);
    QVERIFY(!lines.filter(QRegularExpression("^Unit 2: flow [0-9.]+ m3/h")).isEmpty());
    QVERIFY2(unstamped.isEmpty(), qPrintable(unstamped.join('\n')));
}

// The program recording every second, killed (SIGKILL) at random moments, again and again:
// every file still reads whole, one header each, and a torn last line planted between two
// runs is cut back at the next start.
void TestFlowmeterProgram::recordingSurvivesKillsAtRandomMoments()
{
    FlowSim sim("1,2");
    QVERIFY(sim.started);
    QTemporaryDir config;
    QTemporaryDir records;
    recordInto(config.path(), records.path());
    const quint32 seed = QRandomGenerator::global()->generate();
    qInfo("kill moments from seed %u", seed);
    QRandomGenerator random(seed);
    constexpr int kRuns = 50;
    constexpr int kTornRun = kRuns / 2;
    QByteArray torn;
    QString tornFile;
    int rowsBeforeTorn = 0;
    for (int run = 0; run < kRuns; ++run) {
        if (run == kTornRun) {
            // The start of a row that never got its end, as a power loss mid-write leaves.
            const QStringList files = RecordedFile::files(records.path());
            QVERIFY2(!files.isEmpty(), "nothing recorded in half the runs");
            tornFile = files.last();
            rowsBeforeTorn = int(RecordedFile(tornFile).rows.size());
            QFile f(tornFile);
            QVERIFY(f.open(QIODevice::Append));
            torn = "2026-12-08T14:03:05.000+01:00,1,Meter 1,1,onli";
            QCOMPARE(f.write(torn), qint64(torn.size()));
        }
        ProgramRunner p;
        QVERIFY2(startProgram(p, sim.link, "1,2", config.path()), qPrintable(QString("run %1").arg(run)));
        if (run == kTornRun)
            QVERIFY(p.waitFor("ended in a torn line: " + QString::number(torn.size()) + " bytes cut back"));
        QTest::qWait(int(random.bounded(1800u)));
        ::kill(pid_t(p.process().processId()), SIGKILL);
        QVERIFY(p.process().waitForFinished(10000));
        QCOMPARE(p.process().exitStatus(), QProcess::CrashExit);
        if (run == kTornRun) {
            const RecordedFile repaired(tornFile);
            QVERIFY2(repaired.problem.isEmpty(), qPrintable(repaired.problem));
            QVERIFY(repaired.rows.size() >= rowsBeforeTorn);
        }
    }
    int files = 0;
    const RecordedFile all = recordedIn(records.path(), &files);
    QVERIFY(files >= 1);
    QVERIFY2(all.problem.isEmpty(), qPrintable(all.path + ": " + all.problem));
    QCOMPARE(all.headers, 1);
    // Killed while recording often enough: many runs wrote rows of both meters.
    QVERIFY2(all.rows.size() >= kRuns / 5, qPrintable(QString::number(all.rows.size())));
    QVERIFY(!all.of(1).isEmpty() && !all.of(2).isEmpty());
}

// A full file system stops the recording with the reason; space given back, it resumes, and
// every row written before is still there.
void TestFlowmeterProgram::recordingStopsOnAFullDiskAndResumes()
{
    SmallTmpfs disk(256);
    if (!disk.problem().isEmpty())
        QSKIP(qPrintable("needs a small tmpfs of its own: " + disk.problem()));
    // Ten meters: a tmpfs page of the file fills within seconds, so the full disk is met soon.
    const QString ids = "1,2,3,4,5,6,7,8,9,10";
    FlowSim sim(ids);
    QVERIFY(sim.started);
    QTemporaryDir config;
    recordInto(config.path(), disk.path());
    ProgramRunner p;
    QVERIFY(startProgram(p, sim.link, ids, config.path()));
    QVERIFY(waitUntil([&] { return recordedIn(disk.path()).of(10).size() >= 2; }, 20000));
    QVERIFY(disk.fill());
    const int stopped = waitAfter(p, 0, "Flow meter plugin: Recording stopped: ", 30000);
    QVERIFY2(stopped >= 0, qPrintable(p.log().right(2000)));
    QVERIFY(p.log().mid(stopped).section('\n', 0, 0).contains(disk.path()));
    const RecordedFile before = recordedIn(disk.path());
    QVERIFY2(before.problem.isEmpty(), qPrintable(before.problem));

    QVERIFY(disk.free());
    QVERIFY(waitAfter(p, stopped, "Flow meter plugin: Recording resumed") >= 0);
    QVERIFY(waitUntil([&] { return recordedIn(disk.path()).rows.size() > before.rows.size(); }));
    QVERIFY(p.stop());
    const RecordedFile after = recordedIn(disk.path());
    QVERIFY2(after.problem.isEmpty(), qPrintable(after.problem));
    QCOMPARE(after.headers, 1);
    QCOMPARE(after.rows.mid(0, before.rows.size()), before.rows);
}

// Two programs on one records folder, as a desktop and a service on one station, each polling a
// meter of its own: the second writes neither rows nor its alarm list there and says why, the
// first's file stays whole; once the first has ended, the second takes the folder over.
void TestFlowmeterProgram::aSecondProgramOnTheFolderWaitsItsTurn()
{
    FlowSim firstSim("1");
    FlowSim secondSim("2");
    QVERIFY(firstSim.started && secondSim.started);
    QTemporaryDir records;
    ProgramRunner first;
    ProgramRunner second;
    recordInto(first.configDir(), records.path());
    recordInto(second.configDir(), records.path());
    QVERIFY(startProgram(first, firstSim.link, "1", QString(), false));
    QVERIFY(waitUntil([&] { return !recordedIn(records.path()).of(1).isEmpty(); }, 20000));
    QVERIFY(startProgram(second, secondSim.link, "2", QString(), false));
    const QString inUse = "the records folder " + records.path() + " is in use by another Corvane (process " +
                          QString::number(first.process().processId()) + " on ";
    const int busy = waitAfter(second, 0, "Flow meter plugin: Recording stopped: " + inUse);
    QVERIFY2(busy >= 0, qPrintable(second.log().right(2000)));
    QVERIFY(second.log().contains("Alarm list " + records.path() + "/alarms.json is kept in memory only: " + inUse));
    // Intervals of the first's alone.
    const int firstRows = int(recordedIn(records.path()).of(1).size());
    QVERIFY(waitUntil([&] { return recordedIn(records.path()).of(1).size() >= firstRows + 2; }));
    QVERIFY(recordedIn(records.path()).of(2).isEmpty());

    QVERIFY(first.stop());
    const RecordedFile firsts = recordedIn(records.path());
    QVERIFY2(firsts.problem.isEmpty(), qPrintable(firsts.problem));
    QVERIFY(waitAfter(second, busy, "Flow meter plugin: Recording resumed") >= 0);
    QVERIFY(waitUntil([&] { return !recordedIn(records.path()).of(2).isEmpty(); }));
    QVERIFY(second.log().contains("Alarm list " + records.path() + "/alarms.json taken over"));
    QVERIFY(second.stop());
    const RecordedFile all = recordedIn(records.path());
    QVERIFY2(all.problem.isEmpty(), qPrintable(all.problem));
    QCOMPARE(all.headers, 1);
    QCOMPARE(all.rows.mid(0, firsts.rows.size()), firsts.rows);
    QVERIFY(!QFile::exists(records.filePath(".corvane.lock")));
}

void TestFlowmeterProgram::serviceUnitsPollWithoutADisplay_data()
{
    QTest::addColumn<QString>("unitFile");
    QTest::newRow("system unit") << QString(CORVANE_SOURCE_DIR "/packaging/systemd/corvane.service");
    QTest::newRow("user unit") << QString(CORVANE_SOURCE_DIR "/packaging/systemd/user/corvane.service");
}

// A station without a screen: the shipped unit's command line and environment, with a settings
// file as one copied over from a desktop, poll the meters, record their readings and publish
// them to a broker; and the
// same without the display-less platform says what to do in one line and ends with status 1.
void TestFlowmeterProgram::serviceUnitsPollWithoutADisplay()
{
    QFETCH(QString, unitFile);
    const ServiceUnit unit = readUnit(unitFile);
    QVERIFY2(unit.problem.isEmpty(), qPrintable(unit.problem));
    QCOMPARE(unit.command.value(0), QString("/usr/bin/corvane"));
    const QStringList args = unit.command.mid(1);

    FlowSim sim("1,2");
    QVERIFY(sim.started);
    MosquittoBroker broker;
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    QTemporaryDir recordings;
    ProgramRunner p;
    recordInto(p.configDir(), recordings.path());
    {
        QSettings s(p.configDir() + "/Tessmark/Corvane.conf", QSettings::IniFormat);
        s.setValue("FlowMeter/port", sim.link);
        s.setValue("FlowMeter/ids", "1,2");
        s.setValue("FlowMeter/mqtt/enabled", true);
        s.setValue("FlowMeter/mqtt/host", "127.0.0.1");
        s.setValue("FlowMeter/mqtt/port", broker.port());
        s.setValue("FlowMeter/mqtt/topicPrefix", "plant/station");
        s.setValue("FlowMeter/mqtt/interval", 1);
    }
    QProcessEnvironment env = serviceEnvironment(p.process().processEnvironment(), unit);
    // Nothing of the first run's environment: the settings file alone says where the meters are.
    env.remove("CORVANE_FLOWMETER_PORT");
    env.remove("CORVANE_FLOWMETER_IDS");
    p.process().setProcessEnvironment(env);
    QVERIFY2(p.start(args), qPrintable(p.err()));
    QVERIFY2(p.waitFor("Flow meter plugin: Unit 2 online"), qPrintable(p.out() + p.err()));
    QVERIFY2(waitUntil([&] { return recordedIn(recordings.path()).of(1).size() >= 2
                                    && recordedIn(recordings.path()).of(2).size() >= 2; }, 20000),
             qPrintable(p.out()));
    // The broker's own log: the states of both meters came in.
    QVERIFY2(waitUntil([&] { return broker.log().contains("'plant/station/line1/meter1/state'")
                                    && broker.log().contains("'plant/station/line1/meter2/state'"); }, 20000),
             qPrintable(broker.log()));
    QVERIFY(p.stop());
    QCOMPARE(p.exitCode(), 0);
    const RecordedFile recorded = recordedIn(recordings.path());
    QVERIFY2(recorded.problem.isEmpty(), qPrintable(recorded.problem));

    // The unit's environment and command line without the offscreen platform.
    ServiceUnit bare = unit;
    bare.environment.remove("QT_QPA_PLATFORM");
    QStringList bareArgs = args;
    const int platform = int(bareArgs.indexOf("-platform"));
    if (platform >= 0)
        bareArgs.remove(platform, 2);
    ProgramRunner q;
    q.process().setProcessEnvironment(serviceEnvironment(q.process().processEnvironment(), bare));
    q.process().start(ProgramRunner::binDir() + "/corvane", bareArgs);
    QVERIFY(q.process().waitForFinished(20000));
    q.collect();
    QCOMPARE(q.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(q.exitCode(), 1);
    QVERIFY2(q.err().startsWith("corvane: ") && q.err().contains("xvfb-run -a corvane"), qPrintable(q.err()));
    QCOMPARE(q.err().count('\n'), 1);
}

QTEST_GUILESS_MAIN(TestFlowmeterProgram)
#include "test_flowmeter_program.moc"
