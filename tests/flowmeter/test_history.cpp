// A meter's flow history and the recordings it is filled from: buckets, gaps, decimation for
// drawing, the wall clock set back, and day files as a crash or another program leaves them,
// read from a real temporary folder.
#include "FlowHistory.h"
#include "RecordReader.h"

#include <Contained.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>

#include <sys/stat.h>

namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
// 2026-12-01 00:00:00 UTC.
constexpr qint64 kT0 = 1796083200000LL;

// A flow as the history keeps it: to a float's precision.
double kept(double v)
{
    return double(float(v));
}

void write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
    f.write(bytes);
}

QByteArray stamp(qint64 ms, int offsetS = 3600)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toOffsetFromUtc(offsetS).toString(Qt::ISODateWithMs).toUtf8();
}

QString dayFile(const QTemporaryDir& dir, int line, qint64 ms, const QString& part = QString())
{
    return dir.filePath(QStringLiteral("line%1-%2%3.csv")
                            .arg(line)
                            .arg(QDateTime::fromMSecsSinceEpoch(ms).date().toString(Qt::ISODate), part));
}

} // namespace

class TestHistory : public QObject
{
    Q_OBJECT

private slots:
    void bucketsKeepEachSecondsExtremes();
    void decimationKeepsPeaksAndGaps();
    void silenceAndClockSetBack();
    void recordsReadBack();
    void damagedRecordsAreSkipped();
    void whatIsNoRecordIsReadOnlyToABound_data();
    void whatIsNoRecordIsReadOnlyToABound();
};

void TestHistory::bucketsKeepEachSecondsExtremes()
{
    FlowHistory h;
    // Five polls a second: one bucket each second, its lowest and highest.
    for (int i = 0; i < 50; ++i)
        h.add(kT0 + i * 200, i % 5 == 2 ? 10.0 + i : 5.0 - i % 5);
    QCOMPARE(h.size(), 10);
    const QVector<FlowHistory::Sample> s = h.samples(kT0 + 3000, kT0 + 6000);
    QCOMPARE(s.size(), 3);
    QCOMPARE(s[0].ms, kT0 + 3000);
    QCOMPARE(s[0].max, 10.0 + 17);
    QCOMPARE(s[0].min, 5.0 - 4);
    QCOMPARE(s[2].ms, kT0 + 5000);
    QCOMPARE(h.bytes(), size_t(10 * 12));
    // Older than what is kept drops off as newer readings come.
    FlowHistory week;
    week.add(kT0, 1);
    week.add(kT0 + 3600000, 2, FlowHistory::kKeepMs);
    week.add(kT0 + FlowHistory::kKeepMs + 1000, 3, FlowHistory::kKeepMs);
    QCOMPARE(week.firstMs(), kT0 + 3600000);
    QCOMPARE(week.size(), 2);
}

void TestHistory::decimationKeepsPeaksAndGaps()
{
    // Six hours of readings every second, a one-second spike and a dip, and the meter away for
    // half a minute.
    FlowHistory h;
    const qint64 spike = kT0 + 4321 * 1000, dip = kT0 + 17777 * 1000;
    const qint64 goneFrom = kT0 + 9000 * 1000, goneTo = goneFrom + 30000;
    for (qint64 t = kT0; t < kT0 + 6 * 3600 * 1000; t += 1000) {
        double v = 50 + std::sin(double(t - kT0) / 600000.0);
        if (t == spike)
            v = 400;
        if (t == dip)
            v = -3;
        h.add(t + 137, t >= goneFrom && t < goneTo ? kNan : v);
    }
    const QVector<FlowHistory::Column> c = h.decimate(kT0, kT0 + 6 * 3600 * 1000, 500);
    double top = -1e9, bottom = 1e9;
    int gaps = 0;
    for (int i = 0; i < c.size(); ++i) {
        if (c[i].isGap()) {
            ++gaps;
            // The gap lies between the last reading before it and the first after.
            QVERIFY(i > 0 && i + 1 < c.size());
            QVERIFY(c[i - 1].ms < goneFrom && c[i + 1].ms >= goneTo - 20000);
            QCOMPARE(c[i].ms, goneFrom);
            continue;
        }
        top = std::max(top, c[i].max);
        bottom = std::min(bottom, c[i].min);
        if (i > 0)
            QVERIFY(c[i].ms > c[i - 1].ms);
    }
    QCOMPARE(top, 400.0);
    QCOMPARE(bottom, -3.0);
    QCOMPARE(gaps, 1);
    // Never more than two points a column, whatever the number of readings.
    QVERIFY(c.size() <= 500 + 2);
    // A column as wide as the spike's neighbours still shows it beside them.
    bool spikeColumn = false;
    for (const FlowHistory::Column& col : c)
        spikeColumn = spikeColumn || (col.max == 400.0 && col.min > 40);
    QVERIFY(spikeColumn);
    // Narrower columns than seconds: every reading at its own time.
    const QVector<FlowHistory::Column> fine = h.decimate(spike - 5000, spike + 5000, 800);
    QCOMPARE(fine.size(), 10);
    QCOMPARE(fine[5].ms, spike);
    QCOMPARE(fine[5].max, 400.0);
}

void TestHistory::silenceAndClockSetBack()
{
    FlowHistory h;
    for (int i = 0; i < 10; ++i)
        h.add(kT0 + i * 1000, 5);
    // The program was not running for a minute: a gap, not a line across.
    h.add(kT0 + 70000, 6);
    QVector<FlowHistory::Sample> s = h.samples(kT0, kT0 + 100000);
    QCOMPARE(s.size(), 12);
    QVERIFY(s[10].isGap());
    QCOMPARE(s[10].ms, kT0 + 10000);
    // Slower rows, allowed by the caller, are joined.
    h.add(kT0 + 130000, 7, 90000);
    QVERIFY(!h.samples(kT0 + 70001, kT0 + 200000).first().isGap());
    // A gap said twice is one gap.
    h.add(kT0 + 131000, kNan);
    h.add(kT0 + 132000, kNan);
    QCOMPARE(h.samples(kT0 + 131000, kT0 + 200000).size(), 1);

    // The clock set back by 40 s: the keys stay in order, the trend goes on at the new time
    // parted from what came before, and nothing before the new time is touched.
    FlowHistory back;
    for (int i = 0; i < 100; ++i)
        back.add(kT0 + i * 1000, i);
    for (int i = 0; i < 10; ++i)
        back.add(kT0 + 60000 + i * 1000, 1000 + i);
    s = back.samples(0, std::numeric_limits<qint64>::max());
    for (int i = 1; i < s.size(); ++i)
        QVERIFY2(s[i].ms >= s[i - 1].ms, qPrintable(QString::number(i)));
    QCOMPARE(s[60].max, 60.0);
    QVERIFY(s[61].isGap());
    QCOMPARE(s[62].ms, kT0 + 60000);
    QCOMPARE(s[62].max, 1000.0);
    QCOMPARE(s.last().max, 1009.0);
    QCOMPARE(s.size(), 61 + 1 + 10);
    const QVector<FlowHistory::Column> c = back.decimate(kT0, kT0 + 100000, 1000);
    QCOMPARE(c.last().max, 1009.0);

    // What was loaded is followed by what came meanwhile, apart when far apart.
    FlowHistory loaded, live;
    loaded.add(kT0, 1);
    loaded.add(kT0 + 1000, 2);
    live.add(kT0 + 600000, 3);
    loaded.append(live);
    s = loaded.samples(kT0, kT0 + 700000);
    QCOMPARE(s.size(), 4);
    QVERIFY(s[2].isGap());
    QCOMPARE(s[3].max, 3.0);
}

void TestHistory::recordsReadBack()
{
    QTemporaryDir dir;
    const qint64 yesterday = kT0 - 24 * 3600 * 1000;
    const QByteArray head = "time,line,meter,unit id,state,detail,flow rate [l/min],totalizer [m³],alarm bits\n";
    QByteArray older = head;
    // Every 10 s, an alarm, offline rows and a reset event between.
    for (int i = 0; i < 30; ++i) {
        const qint64 t = yesterday + 3600000 + i * 10000;
        const char* state = i == 5 ? "alarm" : (i >= 10 && i < 13 ? "offline" : "online");
        const QByteArray flow = i >= 10 && i < 13 ? "" : QByteArray::number(100 + i);
        older += stamp(t) + ",1,\"FT-1, inlet\",3," + state + ",," + flow + ",12.5,0\n";
        if (i == 20)
            older += stamp(t + 500) + ",1,\"FT-1, inlet\",3,reset,totalizer reset from Corvane,,12.5,\n";
    }
    write(dayFile(dir, 1, yesterday + 3600000), older);
    // Today: another header (the unit changed) in the day's second part, and line 2.
    write(dayFile(dir, 1, kT0 + 7200000, ".2"),
          "time,line,meter,unit id,state,detail,flow rate [m³/h],temperature [°C]\n" + stamp(kT0 + 7200000) +
              ",1,FT-1,3,online,,9.5,20\n" + stamp(kT0 + 7201000) + ",1,FT-1,3,stale,,,\n");
    write(dayFile(dir, 2, kT0 + 7200000), "time,line,meter,unit id,state,detail,flow rate [US gal/min]\n" +
                                              stamp(kT0 + 7200000, -5 * 3600) + ",2,Meter 7,7,online,,1\n");
    // Out of the span asked for.
    write(dayFile(dir, 1, kT0 - 10 * 24 * 3600 * 1000), head + stamp(kT0 - 10 * 24 * 3600 * 1000) + ",1,FT-1,3,online,,1,1,0\n");

    RecordReader reader(dir.path());
    const QMap<RecordReader::MeterKey, FlowHistory> h = reader.read(kT0 - 7 * 24 * 3600 * 1000, kT0 + 24 * 3600 * 1000);
    QCOMPARE(reader.filesRead(), 3);
    QCOMPARE(reader.linesSkipped(), 0);
    QCOMPARE(h.keys(), (QList<RecordReader::MeterKey>{{0, 3}, {1, 7}}));
    const QVector<FlowHistory::Sample> s = h[{0, 3}].samples(0, std::numeric_limits<qint64>::max());
    // 27 rows read, the offline ones one gap, the jump to today a gap, today's reading, and the
    // stale row one more gap.
    QCOMPARE(s.size(), 27 + 1 + 1 + 1 + 1);
    QCOMPARE(s[0].ms, yesterday + 3600000);
    QCOMPARE(s[0].max, kept(100 * 60.0 / 1000.0));
    QCOMPARE(s[5].max, kept(105 * 60.0 / 1000.0));
    QVERIFY(s[10].isGap());
    QCOMPARE(s[11].max, kept(113 * 60.0 / 1000.0));
    QVERIFY(s[28].isGap());
    QCOMPARE(s[29].max, 9.5);
    QVERIFY(s[30].isGap());
    // Written five hours behind UTC, placed where it happened.
    const FlowHistory other = h.value({1, 7});
    QCOMPARE(other.firstMs(), kT0 + 7200000);
    QVERIFY(std::fabs(other.samples(0, std::numeric_limits<qint64>::max()).first().max - 0.227124707) < 1e-6);
    // Only the span asked for.
    RecordReader part(dir.path());
    QCOMPARE(part.read(kT0, kT0 + 24 * 3600 * 1000).value({0, 3}).size(), 2);
}

void TestHistory::damagedRecordsAreSkipped()
{
    QTemporaryDir dir;
    QByteArray text = "time,line,meter,unit id,state,detail,flow rate [m³/h]\n";
    for (int i = 0; i < 5; ++i)
        text += stamp(kT0 + i * 1000) + ",1,M,1,online,,\"" + QByteArray::number(i + 1) + "\"\n";
    // Malformed: a time that is none, too few fields, an open quote running to the end of the
    // next lines, a number that is none (a gap), and a torn last line without its line end.
    text += "yesterday,1,M,1,online,,3\n";
    text += stamp(kT0 + 5000) + ",1,M\n";
    text += stamp(kT0 + 6000) + ",1,M,1,online,,7\n";
    text += stamp(kT0 + 7000) + ",1,\"M,1,online,,8\n";
    // Another program's form of the time: in UTC, written as Z.
    text += QDateTime::fromMSecsSinceEpoch(kT0 + 7500, Qt::UTC).toString(Qt::ISODateWithMs).toUtf8() + ",1,M,1,online,,10\n";
    text += stamp(kT0 + 8000) + ",1,M,1,online,,9\n";
    text += stamp(kT0 + 9000) + ",1,M,1,online,,9\n";
    text += stamp(kT0 + 10000) + ",1,M,1,online,,9\n";
    text += stamp(kT0 + 11000) + ",1,M,1,online,,x\n";
    text += stamp(kT0 + 12000) + ",1,M,1,online,,12\n";
    // Cut inside its number (13): whole in its fields, but no reading.
    text += stamp(kT0 + 13000) + ",1,M,1,online,,1";
    write(dayFile(dir, 1, kT0), text);
    // A file of no use at all beside it, and one whose flow unit is not known.
    write(dayFile(dir, 2, kT0), QByteArray("\xff\xfe garbage", 10));
    write(dayFile(dir, 3, kT0), "time,line,meter,unit id,state,detail,flow rate [furlongs/fortnight]\n");
    RecordReader reader(dir.path());
    const QMap<RecordReader::MeterKey, FlowHistory> h = reader.read(kT0 - 1000, kT0 + 60000);
    QCOMPARE(reader.problems().size(), 2);
    // Time, short row, the quoted run (four lines) and the torn line.
    QCOMPARE(reader.linesSkipped(), 4);
    const QVector<FlowHistory::Sample> s = h.value({0, 0}).samples(0, kT0 + 60000);
    QVERIFY(s.isEmpty());
    const QVector<FlowHistory::Sample> m = h.value({0, 1}).samples(0, kT0 + 60000);
    QStringList got;
    for (const FlowHistory::Sample& x : m)
        got << (x.isGap() ? QStringLiteral("-") : QString::number(x.max));
    QCOMPARE(got.join(QLatin1Char(' ')), QStringLiteral("1 2 3 4 5 7 10 9 9 9 - 12"));
}

void TestHistory::whatIsNoRecordIsReadOnlyToABound_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("files");
    QTest::addColumn<int>("skipped");
    QTest::addColumn<QString>("problem");
    // A crash while a run of NUL bytes was written, or another program's file: 200 MB without a
    // line end, which would be taken whole into memory (twice over, as text) before it is cut.
    QTest::newRow("torn 200 MB tail") << "tail" << 2 << 1 << "longer than";
    // One such line among rows: the rows after it are still read.
    QTest::newRow("overlong line between rows") << "middle" << 2 << 1 << "longer than";
    // Read without end.
    QTest::newRow("link to /dev/zero") << "zero" << 1 << 0 << "not a regular file (a character device)";
    // Opening it would wait for a writer.
    QTest::newRow("FIFO") << "fifo" << 1 << 0 << "not a regular file (a FIFO)";
}

void TestHistory::whatIsNoRecordIsReadOnlyToABound()
{
    QFETCH(QString, kind);
    QFETCH(int, files);
    QFETCH(int, skipped);
    QFETCH(QString, problem);
    QTemporaryDir dir;
    const QByteArray head = "time,line,meter,unit id,state,detail,flow rate [m³/h]\n";
    QByteArray good = head;
    for (int i = 0; i < 3; ++i)
        good += stamp(kT0 + i * 1000) + ",1,M,1,online,," + QByteArray::number(i + 1) + "\n";
    write(dayFile(dir, 1, kT0), good);
    const QString other = dayFile(dir, 2, kT0);
    if (kind == "tail" || kind == "middle") {
        QByteArray text = head + stamp(kT0) + ",2,N,5,online,,4\n";
        write(other, text);
        QFile f(other);
        QVERIFY(f.resize(text.size() + (kind == "tail" ? 200 : 1) * 1024 * 1024));
        if (kind == "middle") {
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.seek(f.size()));
            f.write("\n" + stamp(kT0 + 1000) + ",2,N,5,online,,5\n");
            f.close();
        }
    } else if (kind == "zero") {
        QVERIFY(QFile::link("/dev/zero", other));
    } else {
        QCOMPARE(::mkfifo(QFile::encodeName(other).constData(), 0600), 0);
    }
    const Contained::Outcome o = Contained::run(
        [&] {
            RecordReader reader(dir.path());
            const QMap<RecordReader::MeterKey, FlowHistory> h = reader.read(kT0 - 1000, kT0 + 60000);
            std::fprintf(stderr, "files %d, skipped %d, problems: %s\n", reader.filesRead(), reader.linesSkipped(),
                         qPrintable(reader.problems().join(" | ")));
            CONTAINED_CHECK(reader.filesRead() == files, 1);
            CONTAINED_CHECK(reader.linesSkipped() == skipped, 2);
            CONTAINED_CHECK(h.value({0, 1}).samples(0, kT0 + 60000).size() == 3, 3);
            if (kind == "tail" || kind == "middle")
                CONTAINED_CHECK(h.value({1, 5}).samples(0, kT0 + 60000).size() == (kind == "tail" ? 1 : 2), 4);
            if (problem.isEmpty())
                return reader.problems().isEmpty() ? 0 : 5;
            CONTAINED_CHECK(reader.problems().size() == 1, 6);
            CONTAINED_CHECK(reader.problems()[0].startsWith(other + ": "), 7);
            CONTAINED_CHECK(reader.problems()[0].contains(problem), 8);
            return 0;
        },
        60000, 256LL * 1024 * 1024);
    QVERIFY2(o.ok(), qPrintable(o.what()));
}

QTEST_GUILESS_MAIN(TestHistory)
#include "test_history.moc"
