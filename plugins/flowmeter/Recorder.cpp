#include "Recorder.h"

#include "LinePoller.h"
#include "RecordRow.h"
#include "RecordWriter.h"

#include <QCoreApplication>

#include <utility>

namespace {

// Slack beyond a round and its answer time before a reading seen again counts as stale.
constexpr qint64 kLateMs = 100;

} // namespace

Recorder::Recorder(Log l, QObject* parent) : QObject(parent), log(std::move(l))
{
    writer = std::make_unique<RecordWriter>([this](const RecordWriter::Batch& b, const RecordFile::Result& r) {
        // Queued to the GUI thread; dropped by Qt if the recorder is gone by then (it is not:
        // the writer ends in the destructor, before the object does).
        QMetaObject::invokeMethod(this, [this, line = b.line, r] { onAppended(line, r); }, Qt::QueuedConnection);
    });
}

Recorder::~Recorder()
{
    writer.reset();
}

void Recorder::start(const QString& folder)
{
    const bool moved = on && folder != where;
    where = folder;
    if (on && !moved)
        return;
    on = true;
    lineErrors.clear();
    lastRowMs.clear();
    log(moved ? QString("Recording moved to %1").arg(folder) : QString("Recording to %1").arg(folder));
    emit stateChanged();
}

void Recorder::stop()
{
    if (!on)
        return;
    on = false;
    events.clear();
    const bool wasFailing = failing();
    lineErrors.clear();
    log("Recording stopped");
    // A failure stopped by hand is over: nobody waits for it to resume any more.
    if (wasFailing)
        emit resumed();
    emit stateChanged();
}

void Recorder::flush()
{
    writer->flush();
    // The outcomes are queued to this thread: taken in now.
    QCoreApplication::sendPostedEvents(this);
}

void Recorder::onMeterEvent(MeterEvent event)
{
    if (on && event.kind == MeterEvent::TotalizerReset)
        events << event;
}

void Recorder::tick(const QDateTime& at, const QVector<Line>& lines, const QMap<QString, MeterModel>& models,
                    const DisplayUnits& units)
{
    if (!on)
        return;
    const QVector<MeterEvent> seen = std::exchange(events, {});
    const qint64 nowMs = FlowTrend::Stamp::now().monotonicMs;
    QVector<RecordWriter::Batch> batches;
    for (int i = 0; i < lines.size(); ++i) {
        const Line& l = lines[i];
        QVector<const MeterModel*> lineModels;
        for (const MeterConfig& m : l.config.meters) {
            const auto found = models.constFind(m.model);
            lineModels << (found == models.constEnd() ? nullptr : &found.value());
        }
        const RecordRow rows(lineModels, units);
        auto modelOf = [&](int id) -> const MeterModel* {
            for (int k = 0; k < l.config.meters.size(); ++k)
                if (l.config.meters[k].id == id)
                    return lineModels[k];
            return nullptr;
        };
        auto nameOf = [&](int id) {
            for (const MeterConfig& m : l.config.meters)
                if (m.id == id)
                    return LinePoller::meterName(m);
            return LinePoller::meterName(MeterConfig{id, QString(), QString()});
        };
        // Rows by day: an event of before midnight goes to the file of its own day.
        QMap<QDate, QStringList> byDay;
        for (const MeterEvent& e : seen)
            if (e.line == i)
                byDay[(e.wall.isValid() ? e.wall : at).date()] << rows.reset(e, nameOf(e.id), modelOf(e.id));
        for (const MeterConfig& m : l.config.meters) {
            const MeterState u = l.units.value(m.id);
            const QPair<int, int> key(i, m.id);
            // No newer reading than the row before had: said, not written again as if new. A
            // line polled about as often as rows are written may just be a little late: only a
            // reading older than a round and its answer time counts.
            const qint64 age = nowMs - u.lastGoodMs;
            const bool stale = u.online && u.lastGoodMs > 0 && lastRowMs.value(key, 0) == u.lastGoodMs &&
                               age > qint64(l.config.periodMs) + l.config.answerTimeoutMs + kLateMs;
            byDay[at.date()] << rows.meter(at, i, LinePoller::meterName(m), m.id, modelOf(m.id), u, stale);
            lastRowMs[key] = u.lastGoodMs;
        }
        for (auto it = byDay.begin(); it != byDay.end(); ++it)
            batches << RecordWriter::Batch{where, i + 1, it.key(), rows.header(), it.value()};
    }
    if (batches.isEmpty())
        return;
    if (!writer->post(std::move(batches))) {
        RecordFile::Result behind;
        behind.ok = false;
        behind.path = where;
        behind.error =
            QCoreApplication::translate("FlowMeter", "the disk does not keep up with the recording in %1").arg(where);
        onAppended(0, behind);
    }
}

void Recorder::moveLines(const QMap<int, int>& oldToNew)
{
    const bool wasFailing = failing();
    // Lines are counted from 1 in the failures (0: the writer fell behind) and from 0 in the rows.
    QMap<int, QString> errors;
    for (auto it = lineErrors.begin(); it != lineErrors.end(); ++it)
        if (it.key() == 0)
            errors.insert(0, it.value());
        else if (oldToNew.contains(it.key() - 1))
            errors.insert(oldToNew.value(it.key() - 1) + 1, it.value());
    lineErrors = errors;
    QMap<QPair<int, int>, qint64> rows;
    for (auto it = lastRowMs.begin(); it != lastRowMs.end(); ++it)
        if (oldToNew.contains(it.key().first))
            rows.insert(qMakePair(oldToNew.value(it.key().first), it.key().second), it.value());
    lastRowMs = rows;
    if (wasFailing && !failing()) {
        log("Recording resumed");
        emit resumed();
        emit stateChanged();
    }
}

void Recorder::onAppended(int line, const RecordFile::Result& r)
{
    if (r.repairedBytes > 0)
        log(QString("Record file %1 ended in a torn line: %2 bytes cut back to the last whole row")
                .arg(r.path)
                .arg(r.repairedBytes));
    if (!on)
        return;
    if (!r.ok) {
        // Each line names its own file: a failure is said when a line's error changes, not
        // at every interval of every line.
        const bool news = lineErrors.value(line) != r.error;
        lineErrors[line] = r.error;
        if (news) {
            log(QString("Recording stopped: %1; trying again at each interval").arg(r.error));
            emit failed(r.error);
            emit stateChanged();
        }
        return;
    }
    // A writer that fell behind has caught up once an append is done.
    const bool cleared = lineErrors.remove(line) + lineErrors.remove(0) > 0;
    if (!cleared)
        return;
    if (!failing()) {
        log("Recording resumed");
        emit resumed();
    }
    // Resumed, or another line still failing is what the mark says now.
    emit stateChanged();
}
