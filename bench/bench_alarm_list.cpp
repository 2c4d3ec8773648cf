// The alarm list's cost on the GUI thread, where it runs: writing the whole list of 1000
// entries (done once per turn of the event loop that changed it; each entry's text is kept
// from the write before), against writing the same
// number of bytes through the same atomic rename (the file system's share, measured in the same
// run); and a line of 64 meters going offline at once, which must cost one write, not 64.
#include "AlarmLog.h"
#include "AlarmStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int kRounds = 50;

double msPer(QElapsedTimer& t, int n)
{
    return double(t.nsecsElapsed()) / 1e6 / n;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString file = dir.path() + "/alarms.json";

    QVector<AlarmEntry> entries;
    const QDateTime start = QDateTime::currentDateTime().addDays(-30);
    for (int i = 0; i < AlarmLog::kMaxEntries; ++i) {
        AlarmEntry e;
        e.kind = i % 3 == 0 ? AlarmEntry::Offline : AlarmEntry::Alarm;
        e.start = start.addSecs(i * 60);
        e.end = e.start.addSecs(30);
        e.acknowledged = e.start.addSecs(45);
        e.line = i % 4;
        e.id = 1 + i % 64;
        e.port = QString("/dev/serial/by-id/usb-FTDI_USB_RS485_%1-if00-port0").arg(e.line);
        e.meter = QString("FT-%1 inlet").arg(100 + e.id);
        e.text = e.kind == AlarmEntry::Offline ? "port /dev/ttyUSB0 lost (device gone)" : "Flow above limit, No flow";
        entries << e;
    }

    QString why;
    QElapsedTimer t;
    t.start();
    AlarmStore::write(file, entries, &why);
    const double first = msPer(t, 1);
    // As at each change: one entry new or changed, the others as they were written before.
    t.restart();
    for (int i = 0; i < kRounds; ++i) {
        entries[i].json.clear();
        AlarmStore::write(file, entries, &why);
    }
    const double list = msPer(t, kRounds);
    const qint64 bytes = QFile(file).size();

    const QByteArray blob(int(bytes), 'x');
    t.restart();
    for (int i = 0; i < kRounds; ++i) {
        QSaveFile f(dir.path() + "/reference.json");
        f.open(QIODevice::WriteOnly);
        f.write(blob);
        f.commit();
    }
    const double reference = msPer(t, kRounds);

    t.restart();
    for (int i = 0; i < kRounds; ++i)
        AlarmStore::read(file);
    const double read = msPer(t, kRounds);

    // 64 meters of one line offline at once, as a lost port makes them, then back.
    AlarmLog log;
    log.open(dir.path());
    QVector<AlarmLog::Meter> meters;
    for (int id = 1; id <= 64; ++id)
        meters.push_back(AlarmLog::Meter{0, id, QString("FT-%1").arg(id), "/dev/ttyUSB0"});
    log.setMeters(meters);
    t.restart();
    for (int round = 0; round < 10; ++round) {
        for (MeterEvent::Kind kind : {MeterEvent::WentOffline, MeterEvent::CameBack}) {
            for (int id = 1; id <= 64; ++id) {
                MeterEvent e;
                e.kind = kind;
                e.id = id;
                e.wall = QDateTime::currentDateTime();
                e.detail = "port /dev/ttyUSB0 lost (device gone)";
                log.onMeterEvent(e);
            }
            QCoreApplication::processEvents();
        }
    }
    const double burst = msPer(t, 20);

    printf("alarm list of %d entries: %lld bytes\n", AlarmLog::kMaxEntries, bytes);
    printf("  first write, every entry formed: %.2f ms\n", first);
    printf("  write at a change of one entry:  %.2f ms (same bytes through the same rename: %.2f ms, ratio %.1f)\n",
           list, reference, list / reference);
    printf("  read whole list:   %.2f ms\n", read);
    printf("  64 meters offline at once (64 events and the write): %.2f ms, %.1f writes' worth\n", burst,
           burst / list);
    return 0;
}
