// Recording 64 FM-2i meters every second for one simulated hour, time compressed (no waiting
// between intervals): four lines of 16 meters, each line's rows of an interval appended to its
// day file with one write and one fdatasync (RecordFile), as the recorder does.
//
// Reference, measured in the same run: the same rows written to the same kind of files without
// fdatasync. A third pass only builds the rows, to tell the cost of formatting from the cost of
// writing. Figures: CPU seconds (user + system) per simulated hour, wall seconds, bytes per day
// (the hour extrapolated), what the process sent to the storage layer per day, and fdatasync
// calls per minute.
#include "BenchShort.h"
#include "Csv.h"
#include "DisplayUnit.h"
#include "MeterModel.h"
#include "MeterModelLoader.h"
#include "RecordFile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/resource.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLines = 4;
constexpr int kMetersPerLine = 16;
const int kSeconds = benchShortOr(3600, 600);

// One column of the record file: a value of the model, in the unit it is written in.
struct Column
{
    int index = 0;
    DisplayUnit::Unit from = DisplayUnit::Unknown;
    DisplayUnit::Unit to = DisplayUnit::Unknown;
    bool whole = false;
};

QString columnName(const ModelValue& v)
{
    switch (v.role) {
    case ValueRole::FlowRate: return "flow rate";
    case ValueRole::Totalizer: return "totalizer";
    case ValueRole::Temperature: return "temperature";
    case ValueRole::AlarmBits: return "alarm bits";
    case ValueRole::StatusBits: return "status bits";
    case ValueRole::SerialNumber: return "serial number";
    case ValueRole::FirmwareVersion: return "firmware version";
    case ValueRole::Damping: return "damping";
    case ValueRole::AlarmLimit: return "alarm limit";
    case ValueRole::CalibrationFactor: return "calibration factor";
    default: return v.name;
    }
}

// The rows of one line as the documented format has them, values in the default display units
// (m³/h, m³, °C), with a meter's process and noise made up here.
class Rows
{
public:
    Rows(const MeterModel& m, int lineNumber)
        : model(m)
        , line(lineNumber)
    {
        QStringList head = {"time", "line", "meter", "unit id", "state", "detail"};
        const DisplayUnit::Unit shown[] = {DisplayUnit::Unknown, DisplayUnit::CubicMetrePerHour, DisplayUnit::CubicMetre,
                                           DisplayUnit::Celsius};
        for (int i = 0; i < m.values.size(); ++i) {
            const ModelValue& v = m.values[i];
            if (v.function == 5)
                continue;
            Column c;
            c.index = i;
            c.from = DisplayUnit::parse(v.unit);
            c.to = c.from == DisplayUnit::Unknown ? c.from : shown[DisplayUnit::quantity(c.from)];
            c.whole = v.type != ValueType::F32 && v.type != ValueType::F64 && v.scale == 1.0 && v.offset == 0.0;
            columns << c;
            const QString unit = c.to != DisplayUnit::Unknown ? DisplayUnit::symbol(c.to) : v.unit;
            head << (unit.isEmpty() ? columnName(v) : columnName(v) + " [" + unit + "]");
        }
        header = Csv::line(head);
        for (int k = 0; k < kMetersPerLine; ++k)
            totals << 1000.0 * (k + 1);
    }

    QStringList at(const QDateTime& when, int second)
    {
        const int offset = when.offsetFromUtc();
        const QString stamp = when.toString("yyyy-MM-ddTHH:mm:ss.zzz") + (offset < 0 ? '-' : '+')
                              + QTime(0, 0).addSecs(std::abs(offset)).toString("HH:mm");
        QStringList rows;
        rows.reserve(kMetersPerLine);
        for (int k = 0; k < kMetersPerLine; ++k) {
            const int id = k + 1;
            QStringList f = {stamp, QString::number(line), model.model + ' ' + QString::number(id), QString::number(id)};
            // Now and then a meter does not answer: its row has the state and no values.
            if ((second * 7 + k * 13) % 997 == 0) {
                f << "offline" << "no answer";
                for (int c = 0; c < columns.size(); ++c)
                    f << QString();
                rows << Csv::line(f);
                continue;
            }
            f << "online" << QString();
            const double flowLpm = 150.0 + 10.0 * k + 2.0 * (random.generateDouble() - 0.5);
            totals[k] += flowLpm / 60000.0;
            for (const Column& c : columns) {
                const ModelValue& v = model.values[c.index];
                double x = 0;
                switch (v.role) {
                case ValueRole::FlowRate: x = flowLpm; break;
                case ValueRole::Totalizer: x = totals[k]; break;
                case ValueRole::Temperature: x = std::round(200.0 + 5 * random.generateDouble()) / 10.0; break;
                case ValueRole::AlarmBits: x = 0; break;
                case ValueRole::SerialNumber: x = 24000000 + line * 100 + id; break;
                case ValueRole::FirmwareVersion: x = 260; break;
                case ValueRole::AlarmLimit: x = 450.0; break;
                case ValueRole::Damping: x = 1.0; break;
                default: x = v.unit == "V" ? 3.61 : flowLpm / 1200.0; break;
                }
                x = DisplayUnit::convert(x, c.from, c.to);
                f << (c.whole ? QString::number(qint64(x)) : Csv::number(x));
            }
            rows << Csv::line(f);
        }
        return rows;
    }

    QString header;

private:
    const MeterModel& model;
    int line;
    QVector<Column> columns;
    QVector<double> totals;
    QRandomGenerator random{17};
};

// The reference: the same bytes appended with one write an interval, never made durable.
class PlainFile
{
public:
    PlainFile(const QString& path, const QString& header)
    {
        fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        head = header.toUtf8() + '\n';
    }
    ~PlainFile()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool append(const QStringList& rows)
    {
        QByteArray out = head;
        head.clear();
        for (const QString& r : rows)
            out += r.toUtf8() + '\n';
        return fd >= 0 && ::write(fd, out.constData(), size_t(out.size())) == ssize_t(out.size());
    }

private:
    int fd = -1;
    QByteArray head;
};

struct Figures
{
    double userS = 0;
    double systemS = 0;
    double wallS = 0;
    qint64 fileBytes = 0;
    qint64 storageBytes = 0;
    int syncs = 0;
    bool ok = true;
    double cpuS() const { return userS + systemS; }
};

struct Mark
{
    rusage usage{};
    Clock::time_point wall;
    qint64 storage = 0;
};

// What this process has sent to the storage layer so far (bytes of pages it dirtied).
qint64 storageWritten()
{
    QFile io("/proc/self/io");
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& l : io.readAll().split('\n'))
        if (l.startsWith("write_bytes:"))
            return l.mid(12).trimmed().toLongLong();
    return -1;
}

Mark mark()
{
    Mark m;
    getrusage(RUSAGE_SELF, &m.usage);
    m.wall = Clock::now();
    m.storage = storageWritten();
    return m;
}

double seconds(const timeval& a, const timeval& b)
{
    return double(b.tv_sec - a.tv_sec) + double(b.tv_usec - a.tv_usec) / 1e6;
}

void since(const Mark& from, Figures* f)
{
    const Mark to = mark();
    f->userS = seconds(from.usage.ru_utime, to.usage.ru_utime);
    f->systemS = seconds(from.usage.ru_stime, to.usage.ru_stime);
    f->wallS = std::chrono::duration<double>(to.wall - from.wall).count();
    f->storageBytes = from.storage >= 0 && to.storage >= 0 ? to.storage - from.storage : -1;
}

qint64 folderBytes(const QString& folder)
{
    qint64 n = 0;
    for (const QFileInfo& f : QDir(folder).entryInfoList(QDir::Files))
        n += f.size();
    return n;
}

enum class Pass { BuildOnly, Plain, Durable };

Figures run(Pass pass, const MeterModel& model, const QString& folder)
{
    QDir().mkpath(folder);
    const QDateTime start(QDate(2026, 12, 8), QTime(9, 0));
    QVector<Rows*> lines;
    QVector<RecordFile*> durable;
    QVector<PlainFile*> plain;
    for (int l = 1; l <= kLines; ++l) {
        lines << new Rows(model, l);
        durable << new RecordFile(folder, l);
        if (pass == Pass::Plain)
            plain << new PlainFile(folder + '/' + RecordFile::fileName(l, start.date(), 1), lines.last()->header);
    }
    Figures f;
    qint64 built = 0;
    const Mark from = mark();
    for (int s = 0; s < kSeconds && f.ok; ++s) {
        const QDateTime when = start.addSecs(s);
        for (int l = 0; l < kLines; ++l) {
            const QStringList rows = lines[l]->at(when, s);
            if (pass == Pass::BuildOnly) {
                built += rows.size();
            } else if (pass == Pass::Plain) {
                f.ok = plain[l]->append(rows);
            } else {
                const RecordFile::Result r = durable[l]->append(when.date(), lines[l]->header, rows);
                if (!r.ok)
                    fprintf(stderr, "%s\n", qPrintable(r.error));
                f.ok = r.ok;
                f.syncs += r.ok;
            }
        }
    }
    since(from, &f);
    qDeleteAll(lines);
    qDeleteAll(durable);
    qDeleteAll(plain);
    f.fileBytes = folderBytes(folder);
    if (pass == Pass::BuildOnly && built != qint64(kSeconds) * kLines * kMetersPerLine)
        f.ok = false;
    return f;
}

const char* fileSystem(const QString& folder)
{
    struct statfs s;
    if (statfs(QFile::encodeName(folder).constData(), &s) != 0)
        return "unknown";
    switch (s.f_type) {
    case EXT4_SUPER_MAGIC: return "ext4";
    case TMPFS_MAGIC: return "tmpfs (fdatasync costs nothing here)";
    case BTRFS_SUPER_MAGIC: return "btrfs";
    case XFS_SUPER_MAGIC: return "xfs";
    case OVERLAYFS_SUPER_MAGIC: return "overlay";
    default: return "other";
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ModelProblem problem;
    const auto model = MeterModelLoader::parseFile(QStringLiteral(FLOWMETER_SOURCE_DIR) + "/models/tessmark-fm2i.json", &problem);
    if (!model) {
        fprintf(stderr, "%s\n", qPrintable(problem.text()));
        return 1;
    }
    // Beside the build rather than in a RAM-backed /tmp, where fdatasync would cost nothing.
    QTemporaryDir tmp(QDir::currentPath() + "/bench-recording-XXXXXX");
    if (!tmp.isValid()) {
        fprintf(stderr, "no temporary folder in %s\n", qPrintable(QDir::currentPath()));
        return 1;
    }
    printf("%d meters of the %s on %d lines, a row each every second for %d simulated s, time compressed\n",
           kLines * kMetersPerLine, qPrintable(model->name()), kLines, kSeconds);
    printf("files in %s (%s)\n", qPrintable(tmp.path()), fileSystem(tmp.path()));

    const Figures build = run(Pass::BuildOnly, *model, tmp.path() + "/build");
    const Figures plain = run(Pass::Plain, *model, tmp.path() + "/plain");
    const Figures durable = run(Pass::Durable, *model, tmp.path() + "/durable");
    if (!build.ok || !plain.ok || !durable.ok) {
        fprintf(stderr, "a pass did not complete\n");
        return 1;
    }
    // Both writers must have written the very same bytes, or the comparison means nothing.
    for (int l = 1; l <= kLines; ++l) {
        const QString name = RecordFile::fileName(l, QDate(2026, 12, 8), 1);
        QFile a(tmp.path() + "/plain/" + name), b(tmp.path() + "/durable/" + name);
        if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly) || a.readAll() != b.readAll()) {
            fprintf(stderr, "%s: the two writers' files differ\n", qPrintable(name));
            return 1;
        }
    }

    const double hours = kSeconds / 3600.0;
    const double minutes = kSeconds / 60.0;
    printf("\n%-32s %10s %10s %10s %10s %14s %14s\n", "per simulated hour", "user s", "system s", "CPU s", "wall s",
           "file MB/day", "storage MB/day");
    auto line = [&](const char* name, const Figures& f) {
        printf("%-32s %10.3f %10.3f %10.3f %10.3f %14.1f %14.1f\n", name, f.userS / hours, f.systemS / hours,
               f.cpuS() / hours, f.wallS / hours, f.fileBytes * 24.0 / hours / 1e6,
               f.storageBytes < 0 ? -1.0 : f.storageBytes * 24.0 / hours / 1e6);
    };
    line("rows built only", build);
    line("written, no fdatasync (ref.)", plain);
    line("written and fdatasync'd", durable);
    printf("\nbytes per day: %.1f MB (%.0f bytes per row)\n", durable.fileBytes * 24.0 / hours / 1e6,
           double(durable.fileBytes) / (double(kSeconds) * kLines * kMetersPerLine));
    printf("fdatasync calls per minute: %.1f (%d in %d simulated s; one per line and interval)\n",
           durable.syncs / minutes, durable.syncs, kSeconds);
    printf("CPU of recording per real hour at this rate: %.2f s = %.3f%% of one core\n", durable.cpuS() / hours,
           100.0 * durable.cpuS() / hours / 3600.0);
    printf("ratio CPU durable/reference: %.2f, wall durable/reference: %.2f, wall per fdatasync: %.3f ms\n",
           durable.cpuS() / plain.cpuS(), durable.wallS / plain.wallS,
           durable.syncs ? 1000.0 * (durable.wallS - plain.wallS) / durable.syncs : 0.0);
    if (durable.storageBytes >= 0 && plain.storageBytes > 0)
        printf("ratio storage bytes durable/reference: %.2f\n", double(durable.storageBytes) / double(plain.storageBytes));
    return 0;
}
