// The record files: a header once per file across restarts, whole rows only, the sibling file
// when the header changes, the repair of a torn last line, day changes, and the file-system
// faults (a full and a read-only file system, on a small tmpfs the test mounts as root). The
// recorder over them: event rows that outlive a failed append, and one recorder a folder.
#include "Csv.h"
#include "FolderLock.h"
#include "MeterModelLoader.h"
#include "RecordFile.h"
#include "RecordRow.h"
#include "Recorder.h"

#include <Contained.h>
#include <ProgramRunner.h>
#include <RecordedFile.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <sys/stat.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QDate day1(2026, 12, 8);
const QDate day2(2026, 12, 9);
const QString header1 = "time,line,meter,unit id,state,detail,flow rate [m³/h],totalizer [m³]";
const QString header2 = "time,line,meter,unit id,state,detail,flow rate [l/min],totalizer [l]";

QString row(int n, const QString& meter = "Meter 1")
{
    const QTime t = QTime(0, 0).addSecs(n % 86400);
    return Csv::line({"2026-12-08T" + t.toString("HH:mm:ss") + ".000+01:00", "1", meter, "5", "online", "",
                      Csv::number(12.5 + n / 1000.0), Csv::number(1000.25 + n)});
}

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void plant(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// What a file holding `header` and then `rows` must be, byte for byte.
QByteArray expected(const QString& header, const QStringList& rows)
{
    QByteArray out = header.toUtf8() + '\n';
    for (const QString& r : rows)
        out += r.toUtf8() + '\n';
    return out;
}

QStringList rowsFrom(int first, int count)
{
    QStringList rows;
    for (int i = first; i < first + count; ++i)
        rows << row(i);
    return rows;
}

// A file where the records folder should be: no one, root included, can append there. What the
// folder held waits beside it.
bool block(const QString& folder)
{
    if (QFileInfo::exists(folder) && !QDir().rename(folder, folder + ".away"))
        return false;
    QFile f(folder);
    return f.open(QIODevice::WriteOnly) && f.write("not a folder\n") > 0;
}

bool unblock(const QString& folder)
{
    return QFile::remove(folder) && (!QFileInfo::exists(folder + ".away") || QDir().rename(folder + ".away", folder));
}

// The reset of unit 5's totalizer, seen at `wall`, with its value before in m³.
MeterEvent resetAt(const QDateTime& wall, double before)
{
    MeterEvent e;
    e.kind = MeterEvent::TotalizerReset;
    e.line = 0;
    e.id = 5;
    e.wall = wall;
    e.detail = "totalizer reset from Corvane";
    e.value = before;
    e.unit = "m3";
    return e;
}

QStringList timesOf(const QVector<QStringList>& rows)
{
    QStringList out;
    for (const QStringList& r : rows)
        out << r.value(0);
    return out;
}

bool runs(const QString& program, const QStringList& args, QString* output)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    const bool ok = p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    *output = QString::fromLocal8Bit(p.readAll()).trimmed();
    return ok;
}

} // namespace

class TestRecording : public QObject
{
    Q_OBJECT

    QTemporaryDir tmp;
    QString mountPoint; // a tmpfs of this test while mounted
    QMap<QString, MeterModel> models;
    // One line of one meter, unit 5, that does not answer: a row at every interval all the same.
    QVector<Recorder::Line> lines;
    const QDateTime t0 = QDateTime(day1, QTime(10, 0));

    void tick(Recorder& recorder, int second)
    {
        recorder.tick(t0.addSecs(second), lines, models, DisplayUnits());
    }

    QString pathOf(const QString& folder, const QDate& day, int part = 1) const
    {
        return folder + '/' + RecordFile::fileName(1, day, part);
    }

    // A small tmpfs of `size`, or a skip when this is not root.
    bool mountSmall(const QString& size, QString* why)
    {
        if (::geteuid() != 0) {
            *why = "mounting a small tmpfs needs root (CI runs the suite as root)";
            return false;
        }
        const QString at = tmp.path() + "/small";
        QDir().mkpath(at);
        QString out;
        if (!runs("mount", {"-t", "tmpfs", "-o", "size=" + size + ",mode=0755", "corvane-test", at}, &out)) {
            *why = "mount -t tmpfs refused here (a container without CAP_SYS_ADMIN?): " + out;
            return false;
        }
        mountPoint = at;
        return true;
    }

    bool remount(const char* mode)
    {
        QString out;
        const bool ok = runs("mount", {"-o", QString("remount,") + mode, mountPoint}, &out);
        if (!ok)
            qWarning("remount,%s: %s", mode, qPrintable(out));
        return ok;
    }

private slots:
    void initTestCase()
    {
        ModelProblem problem;
        const auto fm1 = MeterModelLoader::parseFile(CORVANE_SOURCE_DIR "/plugins/flowmeter/models/tessmark-fm1.json", &problem);
        QVERIFY2(fm1, qPrintable(problem.reason));
        models.insert(fm1->name(), *fm1);
        Recorder::Line line;
        line.config.meters = {MeterConfig{5, fm1->name(), "FT-105"}};
        lines = {line};
    }

    void cleanup()
    {
        if (mountPoint.isEmpty())
            return;
        QString out;
        // A test that failed half-way may leave the tmpfs read-only or busy; it goes all the same.
        if (!runs("umount", {mountPoint}, &out) && !runs("umount", {"-l", mountPoint}, &out))
            qWarning("could not unmount %s: %s", qPrintable(mountPoint), qPrintable(out));
        mountPoint.clear();
    }

    // A row says the meter's state in the file's own words, whatever language the window
    // speaks: a reason in English, the firmware as the page writes it, "alarm" only for the bits
    // the model marks as alarms.
    void rowsInTheFilesOwnWords_data()
    {
        QTest::addColumn<bool>("online");
        QTest::addColumn<double>("alarmField");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("detail");
        QTest::newRow("away, in Swedish") << false << 0.0 << "offline" << "short answer (3 of 37 bytes)";
        QTest::newRow("a bit the model does not list") << true << 8.0 << "online" << "";
        QTest::newRow("a marked bit beside it") << true << 9.0 << "alarm" << "Flow above limit";
    }
    void rowsInTheFilesOwnWords()
    {
        QFETCH(bool, online);
        QFETCH(double, alarmField);
        QFETCH(QString, state);
        QFETCH(QString, detail);
        QTranslator sv;
        QVERIFY(sv.load(ProgramRunner::binDir() + "/lang/flowmeter/lang_sv_SE.qm"));
        QCoreApplication::installTranslator(&sv);
        const MeterModel& fm1 = models.first();
        MeterState u;
        u.online = u.seen = online;
        u.reason = Reason(QT_TRANSLATE_NOOP("FlowMeter", "short answer (%1 of %2 bytes)")).arg(3).arg(37);
        for (const ModelValue& v : fm1.values)
            u.values << (v.role == ValueRole::AlarmBits ? alarmField : v.role == ValueRole::FirmwareVersion ? 0x0102 : 1.0);
        u.problems.fill(ReadingCheck::Valid, u.values.size());
        u.wholes.fill(0, u.values.size());
        const RecordRow rows({&fm1}, DisplayUnits());
        QStringList r;
        const QString line = rows.meter(t0, 0, "FT-105", 5, &fm1, u, false);
        QCoreApplication::removeTranslator(&sv);
        QVERIFY2(Csv::split(line, &r), qPrintable(line));
        QCOMPARE(r.value(4), state);
        QCOMPARE(r.value(5), detail);
        if (online)
            QCOMPARE(r.value(6 + rows.columns().indexOf("firmware version")), QString("1.2"));
    }

    void fileNames()
    {
        QCOMPARE(RecordFile::fileName(1, day1, 1), QString("line1-2026-12-08.csv"));
        QCOMPARE(RecordFile::fileName(12, day2, 2), QString("line12-2026-12-09.2.csv"));
        QCOMPARE(RecordFile::fileName(3, QDate(2027, 1, 5), 10), QString("line3-2027-01-05.10.csv"));
    }

    // The names the developers' guide gives the files are the names they get.
    void namesAsDocumented()
    {
        QFile doc(QStringLiteral(CORVANE_SOURCE_DIR) + "/docs/recording.md");
        QVERIFY(doc.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(doc.readAll());
        const QRegularExpression named("`(line<N>-<YYYY-MM-DD>(?:\\.\\d+)?\\.csv)`");
        QStringList patterns;
        for (auto it = named.globalMatch(text); it.hasNext();)
            patterns << it.next().captured(1);
        patterns.removeDuplicates();
        QCOMPARE(patterns.size(), 2);
        for (const QString& pattern : patterns) {
            const int part = pattern.count('.') == 2 ? pattern.section('.', 1, 1).toInt() : 1;
            QString name = pattern;
            name.replace("<N>", "7").replace("<YYYY-MM-DD>", "2026-12-08");
            QCOMPARE(RecordFile::fileName(7, day1, part), name);
        }
    }

    // A restart appends to the day's file, its header once; each append lands whole, in order.
    void headerOnceAcrossRestart()
    {
        const QString folder = tmp.path() + "/restart/records";
        {
            RecordFile first(folder, 1);
            RecordFile::Result r = first.append(day1, header1, rowsFrom(0, 3));
            QVERIFY2(r.ok, qPrintable(r.error));
            QCOMPARE(r.path, pathOf(folder, day1));
            r = first.append(day1, header1, rowsFrom(3, 1));
            QVERIFY2(r.ok, qPrintable(r.error));
        }
        RecordFile second(folder, 1);
        const RecordFile::Result r = second.append(day1, header1, rowsFrom(4, 2));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.repairedBytes, qint64(0));
        QCOMPARE(bytesOf(pathOf(folder, day1)), expected(header1, rowsFrom(0, 6)));
    }

    // A meter's name with a comma, quotes or even a line end reads back as it was, one row a line.
    void awkwardNamesReadBack()
    {
        const QString folder = tmp.path() + "/names";
        const QStringList names = {"Tank \"A\", north", "Pump, 2", "two\nlines", "Mätare ½"};
        QStringList rows;
        for (const QString& n : names)
            rows << row(1, n);
        RecordFile file(folder, 1);
        const RecordFile::Result r = file.append(day1, header1, rows);
        QVERIFY2(r.ok, qPrintable(r.error));

        const QList<QByteArray> lines = bytesOf(pathOf(folder, day1)).split('\n');
        QCOMPARE(lines.size(), names.size() + 2); // the header, the rows, and nothing after the last line end
        QVERIFY(lines.last().isEmpty());
        QStringList fields;
        QVERIFY(Csv::split(QString::fromUtf8(lines[0]), &fields));
        QCOMPARE(fields.size(), 8);
        for (int i = 0; i < names.size(); ++i) {
            QVERIFY2(Csv::split(QString::fromUtf8(lines[i + 1]), &fields), lines[i + 1].constData());
            QCOMPARE(fields.size(), 8);
            QCOMPARE(fields[2], QString(names[i]).replace('\n', ' '));
            QCOMPARE(fields[6], Csv::number(12.501));
        }
    }

    // Rows under another header go on in .2 (then .3); a restart with either header finds its file.
    void changedHeaderGoesToSibling()
    {
        const QString folder = tmp.path() + "/sibling";
        const QString header3 = header1 + ",temperature [°C]";
        {
            RecordFile file(folder, 1);
            QVERIFY(file.append(day1, header1, {row(0)}).ok);
            const RecordFile::Result r = file.append(day1, header2, {row(1)});
            QVERIFY2(r.ok, qPrintable(r.error));
            QCOMPARE(r.path, pathOf(folder, day1, 2));
        }
        RecordFile again(folder, 1);
        QCOMPARE(again.append(day1, header1, {row(2)}).path, pathOf(folder, day1, 1));
        QCOMPARE(again.append(day1, header2, {row(3)}).path, pathOf(folder, day1, 2));
        QCOMPARE(again.append(day1, header3, {row(4)}).path, pathOf(folder, day1, 3));

        QCOMPARE(bytesOf(pathOf(folder, day1, 1)), expected(header1, {row(0), row(2)}));
        QCOMPARE(bytesOf(pathOf(folder, day1, 2)), expected(header2, {row(1), row(3)}));
        QCOMPARE(bytesOf(pathOf(folder, day1, 3)), expected(header3, {row(4)}));
        QVERIFY(!QFile::exists(pathOf(folder, day1, 4)));
    }

    // Something at a day file's name that is no file: a FIFO took the rows until its buffer was
    // full and then held the writer for ever, a link to /dev/zero swallowed them. The name is
    // passed over as one of another header is, and nothing is written into it.
    void dayFileThatIsNoFileIsPassedOver_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << "fifo";
        QTest::newRow("link to /dev/zero") << "zero";
    }
    void dayFileThatIsNoFileIsPassedOver()
    {
        QFETCH(QString, kind);
        const QString folder = tmp.path() + "/nofile-" + QTest::currentDataTag();
        QVERIFY(QDir().mkpath(folder));
        const QString first = pathOf(folder, day1, 1);
        if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(first).constData(), 0600), 0);
        else {
            const QString zero = Contained::zeroDevice(tmp.path());
            if (zero.isEmpty())
                QSKIP("no device of the test's own can be made here (not root)");
            QVERIFY(QFile::link(zero, first));
        }
        RecordFile file(folder, 1);
        const RecordFile::Result r = file.append(day1, header1, {row(0), row(1)});
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.path, pathOf(folder, day1, 2));
        QCOMPARE(bytesOf(pathOf(folder, day1, 2)), expected(header1, {row(0), row(1)}));
        QCOMPARE(QFileInfo(first).isFile(), false);
    }

    // A crash in the middle of a write leaves a torn last line: the next start cuts it back to
    // the last line end, says how much, and goes on from a whole row.
    void tornLastLineRepaired_data()
    {
        QTest::addColumn<QByteArray>("torn");
        QTest::newRow("in a field") << QByteArray("2026-12-08T00:00:09.000+01:00,1,Met");
        QTest::newRow("in a quoted field") << QByteArray("2026-12-08T00:00:09.000+01:00,1,\"Tank \"\"A\"\", no");
        QTest::newRow("a lone line end missing") << row(9).toUtf8();
        // Longer than one read of the tail, so the search for the line end goes back in steps.
        QTest::newRow("longer than a block") << QByteArray(10000, 'x');
    }
    void tornLastLineRepaired()
    {
        QFETCH(QByteArray, torn);
        const QString folder = tmp.path() + "/torn-" + QTest::currentDataTag();
        QDir().mkpath(folder);
        plant(pathOf(folder, day1), expected(header1, rowsFrom(0, 3)) + torn);

        RecordFile file(folder, 1);
        RecordFile::Result r = file.append(day1, header1, rowsFrom(3, 2));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.repairedBytes, qint64(torn.size()));
        r = file.append(day1, header1, rowsFrom(5, 1));
        QVERIFY(r.ok);
        QCOMPARE(r.repairedBytes, qint64(0));
        QCOMPARE(bytesOf(pathOf(folder, day1)), expected(header1, rowsFrom(0, 6)));
    }

    // A file whose very first write was torn holds not one line end: nothing in it is a row,
    // and it becomes a file with its header. One under another header is left as it is.
    void fileWithoutLineEnd()
    {
        const QString folder = tmp.path() + "/noLineEnd";
        QDir().mkpath(folder);
        const QByteArray tornHeader = header1.left(20).toUtf8();
        plant(pathOf(folder, day1), tornHeader);
        const QByteArray foreign = expected(header2, {row(0)}) + "2026-12-08T00:00:01.000+01:00,1,Me";
        plant(pathOf(folder, day2), foreign);

        RecordFile file(folder, 1);
        RecordFile::Result r = file.append(day1, header1, {row(1)});
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.repairedBytes, qint64(tornHeader.size()));
        QCOMPARE(bytesOf(pathOf(folder, day1)), expected(header1, {row(1)}));

        r = file.append(day2, header1, {row(2)});
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.path, pathOf(folder, day2, 2));
        QCOMPARE(r.repairedBytes, qint64(0));
        QCOMPARE(bytesOf(pathOf(folder, day2)), foreign);
    }

    // Each day its own file with its header; a late row of the day before goes back to its file.
    void dayChange()
    {
        const QString folder = tmp.path() + "/days";
        RecordFile file(folder, 1);
        QVERIFY(file.append(day1, header1, {row(0)}).ok);
        RecordFile::Result r = file.append(day2, header1, {row(1)});
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.path, pathOf(folder, day2));
        r = file.append(day1, header1, {row(2)});
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.path, pathOf(folder, day1));
        QCOMPARE(bytesOf(pathOf(folder, day1)), expected(header1, {row(0), row(2)}));
        QCOMPARE(bytesOf(pathOf(folder, day2)), expected(header1, {row(1)}));
    }

    // Killed at random moments while appending, 50 times over: no row is lost, doubled or
    // broken, and the header stays the only one. (A kill seldom lands inside the write itself;
    // the torn lines planted above are what proves the repair.)
    void killedWhileAppending()
    {
        const QString folder = tmp.path() + "/killed";
        QDir().mkpath(folder);
        QRandomGenerator random(4711);
        int torn = 0;
        // The row after the last whole one in the file: each start goes on from there, so the
        // rows of the file must count up without a gap.
        auto nextRow = [&] {
            const QByteArray bytes = QFile::exists(pathOf(folder, day1)) ? bytesOf(pathOf(folder, day1)) : QByteArray();
            torn += !bytes.isEmpty() && !bytes.endsWith('\n');
            const int end = bytes.lastIndexOf('\n');
            QStringList fields;
            if (end < 0 || !Csv::split(QString::fromUtf8(bytes.left(end).split('\n').last()), &fields)
                || fields.size() != 8 || fields[0] == "time")
                return 0;
            return int(fields[7].toDouble() - 1000.25) + 1;
        };
        for (int kill = 0; kill < 50; ++kill) {
            const int next = nextRow();
            const pid_t child = ::fork();
            QVERIFY(child >= 0);
            if (child == 0) {
                RecordFile file(folder, 1);
                for (int n = next;; n += 300)
                    if (!file.append(day1, header1, rowsFrom(n, 300)).ok)
                        ::_exit(3);
            }
            ::usleep(useconds_t(random.bounded(2000, 30000)));
            ::kill(child, SIGKILL);
            int status = 0;
            QCOMPARE(::waitpid(child, &status, 0), child);
            QVERIFY2(WIFSIGNALED(status), "the child stopped before it was killed");
        }
        const int last = nextRow();
        RecordFile restarted(folder, 1);
        const RecordFile::Result r = restarted.append(day1, header1, {row(last)});
        QVERIFY2(r.ok, qPrintable(r.error));

        const QByteArray all = bytesOf(pathOf(folder, day1));
        QVERIFY(all.endsWith('\n'));
        QList<QByteArray> lines = all.split('\n');
        lines.removeLast();
        QCOMPARE(lines.first(), header1.toUtf8());
        QCOMPARE(lines.size(), last + 2);
        QVERIFY(last > 50);
        for (int i = 1; i < lines.size(); ++i)
            QCOMPARE(lines[i], row(i - 1).toUtf8());
        qInfo("%d rows after 50 kills; %d kills tore a line", last + 1, torn);
    }

    // A file removed or moved away while recording runs is made anew, its header first, rather
    // than the rows going on into a file nobody can reach any more.
    void fileRemovedWhileOpen()
    {
        const QString folder = tmp.path() + "/removed";
        RecordFile file(folder, 1);
        QVERIFY(file.append(day1, header1, {row(0)}).ok);
        QVERIFY(QFile::rename(pathOf(folder, day1), folder + "/kept.csv"));
        const RecordFile::Result r = file.append(day1, header1, {row(1)});
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(bytesOf(pathOf(folder, day1)), expected(header1, {row(1)}));
        QCOMPARE(bytesOf(folder + "/kept.csv"), expected(header1, {row(0)}));
    }

    // A folder that cannot be made: said with its path, nothing thrown, and the next append,
    // once the way is clear, records.
    void folderCannotBeMade()
    {
        const QString blocker = tmp.path() + "/blocker";
        plant(blocker, "a file where a folder should be\n");
        const QString folder = blocker + "/records";
        RecordFile file(folder, 1);
        RecordFile::Result r = file.append(day1, header1, {row(0)});
        QVERIFY(!r.ok);
        QVERIFY(r.notWritable);
        QVERIFY(!r.noSpace);
        QVERIFY2(r.error.contains(folder), qPrintable(r.error));
        QCOMPARE(r.path, pathOf(folder, day1));

        r = file.append(QDate(), header1, {row(0)});
        QVERIFY(!r.ok);
        QVERIFY(!r.error.isEmpty());

        QVERIFY(QFile::remove(blocker));
        r = file.append(day1, header1, {row(1)});
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(bytesOf(pathOf(folder, day1)), expected(header1, {row(1)}));
    }

    // A full file system: the append that does not fit fails with noSpace and a message, the
    // file still ends at a whole row with every row accepted before; once space is freed the
    // next append records again. A new day's file that cannot get its first bytes gets its
    // header when it can.
    void fullFileSystem()
    {
        QString why;
        if (!mountSmall("128k", &why))
            QSKIP(qPrintable(why));
        const QString folder = mountPoint + "/records";
        const QString filler = mountPoint + "/filler";
        plant(filler, QByteArray(48 * 1024, 'f'));

        RecordFile file(folder, 1);
        QStringList accepted;
        RecordFile::Result r;
        // Batches of 37 rows straddle the file system's pages, so the last one is torn in the
        // middle by the full disk unless it is taken back.
        for (int n = 0; n < 10000; n += 37) {
            const QStringList batch = rowsFrom(n, 37);
            r = file.append(day1, header1, batch);
            if (!r.ok)
                break;
            accepted += batch;
        }
        QVERIFY2(!r.ok, "the file system never filled");
        QVERIFY(r.noSpace);
        QVERIFY(!r.notWritable);
        QCOMPARE(r.path, pathOf(folder, day1));
        QVERIFY2(r.error.contains(r.path), qPrintable(r.error));
        QVERIFY(accepted.size() > 100);
        QCOMPARE(bytesOf(pathOf(folder, day1)), expected(header1, accepted));

        r = file.append(day2, header1, {row(0)});
        QVERIFY(!r.ok);
        QVERIFY(r.noSpace);

        QVERIFY(QFile::remove(filler));
        r = file.append(day1, header1, rowsFrom(20000, 3));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.repairedBytes, qint64(0));
        QCOMPARE(bytesOf(pathOf(folder, day1)), expected(header1, accepted + rowsFrom(20000, 3)));
        r = file.append(day2, header1, {row(1)});
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(bytesOf(pathOf(folder, day2)), expected(header1, {row(1)}));
    }

    // A read-only file system (root ignores a folder's mode, a read-only mount it cannot):
    // notWritable with a message, nothing before lost, and recording resumes once it is
    // writable again.
    void readOnlyFileSystem()
    {
        QString why;
        if (!mountSmall("256k", &why))
            QSKIP(qPrintable(why));
        const QString folder = mountPoint + "/records";
        RecordFile file(folder, 1);
        QVERIFY(file.append(day1, header1, rowsFrom(0, 2)).ok);
        // The kernel refuses a read-only remount while a file is open for writing.
        file.close();
        QVERIFY(remount("ro"));

        RecordFile::Result r = file.append(day1, header1, rowsFrom(2, 1));
        QVERIFY(!r.ok);
        QVERIFY(r.notWritable);
        QVERIFY(!r.noSpace);
        QVERIFY2(r.error.contains(pathOf(folder, day1)), qPrintable(r.error));
        RecordFile other(mountPoint + "/elsewhere", 2);
        r = other.append(day1, header1, {row(0)});
        QVERIFY(!r.ok);
        QVERIFY(r.notWritable);

        QVERIFY(remount("rw"));
        r = file.append(day1, header1, rowsFrom(3, 1));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(bytesOf(pathOf(folder, day1)), expected(header1, rowsFrom(0, 2) + rowsFrom(3, 1)));
    }

    // A totalizer reset in an interval that could not be written is written at the next one
    // that writes: with its own time, in order, once; also when the outcome of the append that
    // carried it comes in only after the next interval was handed over.
    void resetRowOutlivesAFailedAppend()
    {
        const QString folder = tmp.path() + "/kept/records";
        QStringList said;
        Recorder recorder([&](const QString& line) { said << line; });
        recorder.start(folder);
        tick(recorder, 0);
        recorder.flush();
        QVERIFY(!recorder.failing());

        QVERIFY(block(folder));
        const MeterEvent first = resetAt(t0.addMSecs(1500), 1234.5);
        recorder.onMeterEvent(first);
        tick(recorder, 2);
        recorder.flush();
        QVERIFY(recorder.failing());
        const MeterEvent second = resetAt(t0.addMSecs(2500), 0.25);
        recorder.onMeterEvent(second);
        tick(recorder, 3);
        recorder.flush();
        QVERIFY(unblock(folder));
        tick(recorder, 4);
        recorder.flush();
        QVERIFY(!recorder.failing());
        tick(recorder, 5);
        recorder.flush();

        const MeterEvent third = resetAt(t0.addMSecs(5500), 7);
        recorder.onMeterEvent(third);
        tick(recorder, 6);
        tick(recorder, 7);
        recorder.flush();

        const RecordedFile f(pathOf(folder, day1));
        QVERIFY2(f.problem.isEmpty(), qPrintable(f.problem));
        QCOMPARE(f.headers, 1);
        const QVector<QStringList> resets = f.of(5, "reset");
        QCOMPARE(timesOf(resets), QStringList({RecordRow::time(first.wall), RecordRow::time(second.wall),
                                               RecordRow::time(third.wall)}));
        const int total = f.column("totalizer [m³]");
        QCOMPARE(resets[0][total], QString("1234.5"));
        QCOMPARE(resets[1][total], QString("0.25"));
        // The meter's rows of the intervals not written are a gap, said once.
        QStringList written;
        for (int s : {0, 4, 5, 6, 7})
            written << RecordRow::time(t0.addSecs(s));
        QCOMPARE(timesOf(f.of(5, "offline")), written);
        QCOMPARE(said.filter("Recording stopped: ").size(), 1);
        QCOMPARE(said.filter("Recording resumed").size(), 1);
    }

    // What is kept while nothing can be written is bounded: beyond the bound the oldest rows go,
    // said once, and the newest are written once the folder can be written again.
    void keptRowsAreBounded()
    {
        const QString folder = tmp.path() + "/bounded/records";
        QVERIFY(QDir().mkpath(tmp.path() + "/bounded"));
        QVERIFY(block(folder));
        QStringList said;
        Recorder recorder([&](const QString& line) { said << line; });
        recorder.start(folder);
        const int many = Recorder::kMaxKeptRows + 10;
        for (int n = 0; n < many; ++n)
            recorder.onMeterEvent(resetAt(t0.addMSecs(n), n));
        tick(recorder, 4);
        recorder.flush();
        recorder.onMeterEvent(resetAt(t0.addMSecs(4500), many));
        tick(recorder, 5);
        recorder.flush();
        QCOMPARE(said.filter("the oldest are dropped").size(), 1);

        QVERIFY(unblock(folder));
        tick(recorder, 6);
        recorder.flush();
        const RecordedFile f(pathOf(folder, day1));
        QVERIFY2(f.problem.isEmpty(), qPrintable(f.problem));
        const QVector<QStringList> resets = f.of(5, "reset");
        QCOMPARE(resets.size(), Recorder::kMaxKeptRows);
        const int total = f.column("totalizer [m³]");
        QCOMPARE(resets.first()[total], Csv::number(many + 1 - Recorder::kMaxKeptRows));
        QCOMPARE(resets.last()[total], Csv::number(many));
    }

    // Two programs on one records folder: the second writes nothing there and says why, the
    // first's file stays whole; once the first ends, the second takes over at its next interval
    // and writes what it kept meanwhile. (The lock a killed program leaves is taken over by the
    // next run: the program test that kills it while recording needs that to go on.)
    void oneRecorderAFolder()
    {
        const QString folder = tmp.path() + "/shared";
        QVERIFY(QDir().mkpath(folder));
        auto firstLock = std::make_unique<FolderLock>();
        auto first = std::make_unique<Recorder>([](const QString&) {});
        first->setFolderLock(firstLock.get());
        first->start(folder);
        QVERIFY(firstLock->held());
        tick(*first, 0);
        first->flush();

        FolderLock secondLock;
        QStringList said;
        Recorder second([&](const QString& line) { said << line; });
        second.setFolderLock(&secondLock);
        QSignalSpy failed(&second, &Recorder::failed);
        second.start(folder);
        const MeterEvent reset = resetAt(t0.addMSecs(1500), 99);
        second.onMeterEvent(reset);
        tick(second, 1);
        second.flush();
        QCOMPARE(failed.size(), 1);
        const QString why = failed[0][0].toString();
        QVERIFY2(why.startsWith(QString("the records folder %1 is in use by another Corvane (process %2 on ")
                                    .arg(folder)
                                    .arg(QCoreApplication::applicationPid())),
                 qPrintable(why));
        QCOMPARE(second.error(), why);
        QVERIFY(said.contains("Recording stopped: " + why + "; trying again at each interval"));
        tick(*first, 2);
        first->flush();
        tick(second, 2);
        second.flush();
        QCOMPARE(failed.size(), 1);
        const QByteArray firstsOwn = bytesOf(pathOf(folder, day1));
        const RecordedFile before(pathOf(folder, day1));
        QCOMPARE(timesOf(before.rows), QStringList({RecordRow::time(t0), RecordRow::time(t0.addSecs(2))}));

        first.reset();
        firstLock.reset();
        tick(second, 3);
        second.flush();
        QVERIFY(secondLock.held());
        QVERIFY(!second.failing());
        QVERIFY(said.contains("Recording resumed"));
        const RecordedFile after(pathOf(folder, day1));
        QVERIFY2(after.problem.isEmpty(), qPrintable(after.problem));
        QCOMPARE(after.headers, 1);
        QVERIFY(bytesOf(pathOf(folder, day1)).startsWith(firstsOwn));
        QCOMPARE(timesOf(after.rows).mid(before.rows.size()),
                 QStringList({RecordRow::time(reset.wall), RecordRow::time(t0.addSecs(3))}));

        // Moved to a folder of its own instead of waiting: the busy folder's failure is over,
        // and whoever waits for its end (the alarm list's entry) is told.
        FolderLock thirdLock;
        Recorder third([](const QString&) {});
        third.setFolderLock(&thirdLock);
        QSignalSpy thirdResumed(&third, &Recorder::resumed);
        third.start(folder);
        tick(third, 4);
        third.flush();
        QVERIFY(third.failing());
        third.start(tmp.path() + "/own");
        QVERIFY(!third.failing());
        QCOMPARE(thirdResumed.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestRecording)
#include "test_recording.moc"
