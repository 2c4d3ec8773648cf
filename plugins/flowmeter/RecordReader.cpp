#include "RecordReader.h"
#include "Csv.h"
#include "DisplayUnit.h"
#include "BoundedFile.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Rows come at the recording's interval, offline or not; a silence of more than a few of them
// is a time the recording did not run.
constexpr double kGapIntervals = 2.5;
// A quoted line end may split a row over lines; a row of more is no row of ours.
constexpr int kMostLinesInRow = 4;
// A row is a time, a few numbers and a meter's name (at most 4096 characters in the settings,
// up to 4 bytes each in UTF-8): no line of ours comes near this.
constexpr qint64 kLongestLine = 64 * 1024;

// The time of a row in ms since the epoch: the recorder's own form
// ("2026-12-08T14:03:05.000+01:00") worked out by hand, a week of rows being millions of them
// and a general parse looking up the time zone for each; any other ISO 8601 form through Qt.
bool parseTime(const QString& text, qint64* ms)
{
    auto digits = [&](int at, int count) {
        int v = 0;
        for (int i = 0; i < count; ++i) {
            const int d = int(text[at + i].unicode()) - '0';
            if (d < 0 || d > 9)
                return -1;
            v = v * 10 + d;
        }
        return v;
    };
    if (text.size() == 29 && text[4] == '-' && text[7] == '-' && text[10] == 'T' && text[13] == ':' &&
        text[16] == ':' && text[19] == '.' && (text[23] == '+' || text[23] == '-') && text[26] == ':') {
        const QDate day(digits(0, 4), digits(5, 2), digits(8, 2));
        const int h = digits(11, 2), m = digits(14, 2), s = digits(17, 2), z = digits(20, 3);
        const int oh = digits(24, 2), om = digits(27, 2);
        if (day.isValid() && h >= 0 && h < 24 && m >= 0 && m < 60 && s >= 0 && s < 60 && z >= 0 && oh >= 0 &&
            oh <= 14 && om >= 0 && om < 60) {
            const qint64 offset = (qint64(oh) * 60 + om) * 60000 * (text[23] == '-' ? -1 : 1);
            // Julian day 2440588 is 1970-01-01.
            *ms = (((day.toJulianDay() - 2440588) * 24 + h) * 60 + m) * 60000 + qint64(s) * 1000 + z - offset;
            return true;
        }
    }
    const QDateTime at = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!at.isValid())
        return false;
    *ms = at.toMSecsSinceEpoch();
    return true;
}

struct DayFile
{
    QDate day;
    int part;
    QString path;
};

} // namespace

QMap<RecordReader::MeterKey, FlowHistory> RecordReader::read(qint64 fromMs, qint64 untilMs,
                                                             const std::atomic<bool>* cancel)
{
    QMap<MeterKey, FlowHistory> out;
    const QRegularExpression name(QStringLiteral("^line(\\d+)-(\\d{4}-\\d{2}-\\d{2})(?:\\.(\\d+))?\\.csv$"));
    // A day file holds the rows of one local day; a day either side covers any offset.
    const QDate first = QDateTime::fromMSecsSinceEpoch(fromMs).date().addDays(-1);
    const QDate last = QDateTime::fromMSecsSinceEpoch(untilMs).date().addDays(1);
    QVector<DayFile> found;
    // FIFOs and devices too (QDir::System): one at a day file's name is said, not passed over
    // unseen.
    for (const QString& f : QDir(dir).entryList({QStringLiteral("line*.csv")}, QDir::Files | QDir::System)) {
        const QRegularExpressionMatch m = name.match(f);
        if (!m.hasMatch())
            continue;
        const QDate day = QDate::fromString(m.captured(2), Qt::ISODate);
        if (!day.isValid() || day < first || day > last)
            continue;
        found.push_back({day, m.captured(3).isEmpty() ? 1 : m.captured(3).toInt(), QDir(dir).filePath(f)});
    }
    std::sort(found.begin(), found.end(), [](const DayFile& a, const DayFile& b) {
        return a.day != b.day ? a.day < b.day : a.part < b.part;
    });
    // One day at a time: the rows of a week of many meters would take far more memory than
    // the histories they end up in.
    for (int i = 0; i < found.size();) {
        QMap<MeterKey, QVector<Row>> rows;
        const QDate day = found[i].day;
        for (; i < found.size() && found[i].day == day; ++i) {
            if (cancel && cancel->load(std::memory_order_relaxed))
                return out;
            readFile(found[i].path, fromMs, untilMs, &rows, cancel);
        }
        for (auto it = rows.begin(); it != rows.end(); ++it) {
            QVector<Row>& r = it.value();
            // The parts of one day (and a clock set back while recording) may interleave.
            std::stable_sort(r.begin(), r.end(), [](const Row& a, const Row& b) { return a.ms < b.ms; });
            FlowHistory& h = out[it.key()];
            for (const Row& row : r)
                h.add(row.ms, row.flow, row.gapAfterMs);
        }
    }
    return out;
}

void RecordReader::readFile(const QString& path, qint64 fromMs, qint64 untilMs, QMap<MeterKey, QVector<Row>>* rows,
                            const std::atomic<bool>* cancel)
{
    BoundedFile opened;
    QFile file;
    // A FIFO would hold the reading thread in open(), a link to a device feed it for ever.
    if (!opened.open(path) || !file.open(opened.handle(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        trouble << QStringLiteral("%1: %2").arg(path, opened.isOpen() ? file.errorString() : opened.why());
        return;
    }
    opened.release();
    ++files;
    bool saidOverlong = false;
    // At most one row's worth of a line: a longer one (a torn tail of NUL bytes, another
    // program's file) is passed over in pieces, never held whole.
    auto boundedLine = [&]() {
        QByteArray bytes = file.readLine(kLongestLine + 1);
        if (bytes.size() < kLongestLine || bytes.endsWith('\n'))
            return bytes;
        const qint64 at = file.pos() - bytes.size();
        while (!file.atEnd() && !file.readLine(kLongestLine + 1).endsWith('\n')) {
        }
        if (!saidOverlong)
            trouble << QStringLiteral("%1: the line at byte %2 is longer than %3 bytes, more than any row; skipped")
                           .arg(path)
                           .arg(at)
                           .arg(kLongestLine);
        saidOverlong = true;
        // Neither a row nor a part of one.
        return QByteArray("\x01\n");
    };
    auto nextRow = [&](QStringList* fields, bool* whole) {
        QString text;
        qint64 afterFirst = -1;
        for (int i = 0; i < kMostLinesInRow && !file.atEnd(); ++i) {
            const QByteArray bytes = boundedLine();
            if (i == 0)
                afterFirst = file.pos();
            // The last line of a file being written, or of one cut short by a crash, has no
            // line end yet: it is not a row.
            *whole = bytes.endsWith('\n');
            text += QString::fromUtf8(bytes);
            QString line = text;
            while (line.endsWith('\n') || line.endsWith('\r'))
                line.chop(1);
            if (Csv::split(line, fields) && *whole)
                return true;
            if (!*whole)
                break;
        }
        // A quote left open is one bad line, not the end of the rows after it.
        if (afterFirst >= 0 && *whole)
            file.seek(afterFirst);
        *whole = false;
        return !text.isEmpty();
    };
    QStringList header;
    bool whole = false;
    if (!nextRow(&header, &whole) || !whole || header.value(0) != QLatin1String("time")) {
        trouble << QStringLiteral("%1: no header").arg(path);
        return;
    }
    const int lineAt = int(header.indexOf(QStringLiteral("line")));
    const int idAt = int(header.indexOf(QStringLiteral("unit id")));
    const int stateAt = int(header.indexOf(QStringLiteral("state")));
    int flowAt = -1;
    DisplayUnit::Unit unit = DisplayUnit::Unknown;
    const QRegularExpression flowHead(QStringLiteral("^flow rate \\[(.*)\\]$"));
    for (int i = 0; i < header.size(); ++i) {
        const QRegularExpressionMatch m = flowHead.match(header[i]);
        if (m.hasMatch()) {
            flowAt = i;
            unit = DisplayUnit::parse(m.captured(1));
            break;
        }
    }
    if (lineAt < 0 || idAt < 0 || stateAt < 0 || flowAt < 0) {
        trouble << QStringLiteral("%1: no flow rate in its header").arg(path);
        return;
    }
    if (DisplayUnit::quantity(unit) != DisplayUnit::Flow) {
        trouble << QStringLiteral("%1: the flow rate's unit is not known").arg(path);
        return;
    }
    QMap<MeterKey, QVector<Row>> ofFile;
    QStringList f;
    while (!file.atEnd()) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            break;
        if (!nextRow(&f, &whole))
            break;
        qint64 ms = 0;
        const bool timeOk = whole && f.size() == header.size() && parseTime(f[0], &ms);
        bool lineOk = false, idOk = false;
        const int line = timeOk ? f[lineAt].toInt(&lineOk) : 0;
        const int id = timeOk ? f[idAt].toInt(&idOk) : 0;
        if (!timeOk || !lineOk || !idOk || line < 1) {
            ++skipped;
            continue;
        }
        const QString& state = f[stateAt];
        // An event row marks a moment while the meter is read; it says nothing of the flow.
        if (state == QLatin1String("reset"))
            continue;
        if (ms < fromMs || ms >= untilMs)
            continue;
        double flow = std::numeric_limits<double>::quiet_NaN();
        if (state == QLatin1String("online") || state == QLatin1String("alarm")) {
            bool ok = false;
            const double v = f[flowAt].toDouble(&ok);
            if (ok && std::isfinite(v))
                flow = DisplayUnit::convert(v, unit, DisplayUnit::CubicMetrePerHour);
        }
        ofFile[MeterKey(line - 1, id)].push_back({ms, flow, 0});
    }
    for (auto it = ofFile.begin(); it != ofFile.end(); ++it) {
        QVector<Row>& r = it.value();
        // The interval this file was recorded at, as its rows show it: the middle of the steps.
        QVector<qint64> steps;
        for (int i = 1; i < r.size(); ++i)
            if (r[i].ms > r[i - 1].ms)
                steps << r[i].ms - r[i - 1].ms;
        qint64 gapAfter = FlowHistory::kDefaultGapAfterMs;
        if (!steps.isEmpty()) {
            std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
            gapAfter = std::max<qint64>(1500, qint64(kGapIntervals * double(steps[steps.size() / 2])));
        }
        for (Row& row : r)
            row.gapAfterMs = gapAfter;
        (*rows)[it.key()] += r;
    }
}
