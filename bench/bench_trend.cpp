// The trend on the offscreen platform, with a week of readings each second for one meter:
// the time to draw one frame (the history decimated to the plot's pixel columns, the plot
// replotted), against the same view drawing five minutes, measured in the same run. Then the
// resident memory with 64 meters' 24 h history, against the process before any history, and
// the time to read a day's recording of one meter back.
#include "FlowHistory.h"
#include "RecordReader.h"
#include "ResidentMemory.h"
#include "TrendView.h"

#include <qcustomplot.h>

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kFrames = 40;
constexpr int kMeters = 64;
volatile qsizetype columnsMade = 0;

double flowAt(qint64 t)
{
    return 12.0 + 3.0 * std::sin(double(t) / 5.4e6) + double((t * 7919) % 1000) / 2000.0;
}

// Median ms of a frame: the view drawn anew as a new reading makes it, replotted at once.
double frameMs(TrendView& view, FlowHistory& history, qint64 now)
{
    std::vector<double> ms;
    for (int i = 0; i < kFrames; ++i) {
        history.add(now + i * 1000, flowAt(now + i * 1000));
        const auto t0 = Clock::now();
        view.refresh();
        view.plot->replot(QCustomPlot::rpImmediateRefresh);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        QCoreApplication::processEvents();
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

double decimateMs(const FlowHistory& history, qint64 from, qint64 to, int columns)
{
    std::vector<double> ms;
    for (int i = 0; i < kFrames; ++i) {
        const auto t0 = Clock::now();
        const QVector<FlowHistory::Column> c = history.decimate(from, to, columns);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        // Kept, so that the work is not optimised away.
        columnsMade += c.size();
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 now = QDateTime::currentMSecsSinceEpoch() / 1000 * 1000;

    // Memory first, before the views and their pixmaps are there.
    const long emptyKb = residentKb();
    {
        std::vector<std::unique_ptr<FlowHistory>> meters;
        size_t bytes = 0;
        for (int m = 0; m < kMeters; ++m) {
            meters.push_back(std::make_unique<FlowHistory>());
            // Five polls a second, as the plug-in's default period reads them.
            for (qint64 t = now - 24 * 3600 * 1000LL; t < now; t += 200)
                meters.back()->add(t, flowAt(t + m));
            bytes += meters.back()->bytes();
        }
        const long fullKb = residentKb();
        printf("memory: %d meters x 24 h (5 readings/s): resident %+.1f MB over empty (%.1f MB), buckets %.1f MB, "
               "%.1f MB a meter\n",
               kMeters, (fullKb - emptyKb) / 1024.0, emptyKb / 1024.0, bytes / 1048576.0,
               (fullKb - emptyKb) / 1024.0 / kMeters);
    }

    FlowHistory week, minutes;
    for (qint64 t = now - FlowHistory::kKeepMs + 1000; t < now; t += 1000)
        week.add(t, flowAt(t));
    for (qint64 t = now - 5 * 60000; t < now; t += 1000)
        minutes.add(t, flowAt(t));
    printf("history: %d buckets over 7 days (%.1f MB)\n", week.size(), week.bytes() / 1048576.0);

    TrendView view;
    view.resize(1200, 420);
    view.show();
    QCoreApplication::processEvents();
    view.setHistory(&minutes, DisplayUnit::CubicMetrePerHour);
    view.setSpan(TrendView::FiveMinutes);
    const double reference = frameMs(view, minutes, now);
    view.setHistory(&week, DisplayUnit::CubicMetrePerHour);
    view.setSpan(TrendView::SevenDays);
    const double frame = frameMs(view, week, now);
    const int columns = view.plot->axisRect()->width();
    const double decimation = decimateMs(week, now - FlowHistory::kKeepMs, now, columns);
    printf("frame: 7 days of 1 s readings %.2f ms (median of %d; target 16 ms), 5 minutes %.2f ms: ratio %.2f\n",
           frame, kFrames, reference, frame / reference);
    printf("of which decimation to %d columns: %.2f ms\n", columns, decimation);

    // A day of one meter's rows every second, as the recorder writes them, read back.
    QTemporaryDir dir;
    const QDateTime day(QDate::currentDate().addDays(-1), QTime(0, 0));
    QFile f(dir.filePath("line1-" + day.date().toString(Qt::ISODate) + ".csv"));
    if (!f.open(QIODevice::WriteOnly))
        return 1;
    f.write("time,line,meter,unit id,state,detail,flow rate [m³/h],totalizer [m³],temperature [°C],alarm bits\n");
    for (qint64 t = day.toMSecsSinceEpoch(); t < day.toMSecsSinceEpoch() + 24 * 3600 * 1000LL; t += 1000) {
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(t);
        f.write(at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODateWithMs).toUtf8() +
                ",1,FT-101 inlet,1,online,," + QByteArray::number(flowAt(t), 'g', 10) + ",1234.5,21.5,0\n");
    }
    const qint64 size = f.size();
    f.close();
    const auto r0 = Clock::now();
    RecordReader reader(dir.path());
    const auto read = reader.read(day.toMSecsSinceEpoch(), now);
    const double readMs = std::chrono::duration<double, std::milli>(Clock::now() - r0).count();
    printf("read back: a day at 1 s (%.1f MB, %d buckets) in %.0f ms\n", size / 1048576.0,
           read.value({0, 1}).size(), readMs);
    return 0;
}
