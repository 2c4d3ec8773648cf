#include "Recorder.h"

#include "FolderLock.h"
#include "RecordRow.h"
#include "RecordWriter.h"

#include <QCoreApplication>

#include <algorithm>
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
        QMetaObject::invokeMethod(this, [this, line = b.line, id = b.id, r] { onAppended(line, id, r); },
                                  Qt::QueuedConnection);
    });
}

Recorder::~Recorder()
{
    writer.reset();
}

void Recorder::setFolderLock(FolderLock* l)
{
    lock = l;
}

void Recorder::start(const QString& folder)
{
    const bool moved = on && folder != where;
    // What the writer still has for the old folder is written there while it is still ours.
    if (moved)
        flush();
    where = folder;
    if (lock)
        lock->setFolder(folder);
    if (on && !moved)
        return;
    on = true;
    // The failures were the old folder's: whoever waits for them to end (the alarm list's
    // entry) is told, and the new folder says its own at its first interval.
    const bool wasFailing = failing();
    lineErrors.clear();
    lastRowMs.clear();
    log(moved ? QString("Recording moved to %1").arg(folder) : QString("Recording to %1").arg(folder));
    if (wasFailing)
        emit resumed();
    emit stateChanged();
}

void Recorder::stop()
{
    if (!on)
        return;
    on = false;
    // Stopped by hand, the recording ends with what it could not write: rows kept for a later
    // interval would land in the next recording, which the user starts when and where they
    // choose, as events of a time it did not record. The meters' rows of those intervals are
    // a gap alike.
    events.clear();
    kept.clear();
    droppedSaid = false;
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
    // Tried again before writing, whatever the lock's own timer's phase.
    if (lock)
        lock->setFolder(where);
    const QVector<MeterEvent> seen = std::exchange(events, {});
    const qint64 nowMs = FlowTrend::Stamp::now().monotonicMs;
    const quint64 firstBatch = lastBatch + 1;
    QVector<RecordWriter::Batch> batches;
    for (int i = 0; i < lines.size(); ++i) {
        const Line& l = lines[i];
        QVector<const MeterModel*> lineModels;
        for (const MeterConfig& m : l.config.meters) {
            const auto found = models.constFind(m.model);
            lineModels << (found == models.constEnd() ? nullptr : &found.value());
        }
        const RecordRow rows(lineModels, units);
        const QString header = rows.header();
        auto modelOf = [&](int id) -> const MeterModel* {
            for (int k = 0; k < l.config.meters.size(); ++k)
                if (l.config.meters[k].id == id)
                    return lineModels[k];
            return nullptr;
        };
        auto nameOf = [&](int id) {
            for (const MeterConfig& m : l.config.meters)
                if (m.id == id)
                    return m.shownName();
            return MeterConfig{id, QString(), QString()}.shownName();
        };
        // An event of before midnight goes to the file of its own day, under the header of the
        // line as it was then.
        for (const MeterEvent& e : seen)
            if (e.line == i)
                keep(i, Kept{(e.wall.isValid() ? e.wall : at).date(), header, rows.reset(e, nameOf(e.id), modelOf(e.id))});
        // Rows by file, the kept ones first. While an earlier batch carries some of them, the
        // rest wait for its outcome: a row is carried by one batch at a time, and in order.
        QMap<QPair<QDate, QString>, QStringList> byFile;
        auto found = kept.find(i);
        const bool carry = found != kept.end() &&
                           std::none_of(found->begin(), found->end(), [](const Kept& k) { return k.batch != 0; });
        if (carry)
            for (const Kept& k : *found)
                byFile[qMakePair(k.day, k.header)] << k.row;
        for (const MeterConfig& m : l.config.meters) {
            const MeterState u = l.units.value(m.id);
            const QPair<int, int> key(i, m.id);
            // No newer reading than the row before had: said, not written again as if new. A
            // line polled about as often as rows are written may just be a little late: only a
            // reading older than a round and its answer time counts.
            const qint64 age = nowMs - u.lastGoodMs;
            const bool stale = u.online && u.lastGoodMs > 0 && lastRowMs.value(key, 0) == u.lastGoodMs &&
                               age > qint64(l.config.periodMs) + l.config.answerTimeoutMs + kLateMs;
            byFile[qMakePair(at.date(), header)] << rows.meter(at, i, m.shownName(), m.id, modelOf(m.id), u, stale);
            lastRowMs[key] = u.lastGoodMs;
        }
        for (auto it = byFile.begin(); it != byFile.end(); ++it) {
            const quint64 id = ++lastBatch;
            if (carry)
                for (Kept& k : *found)
                    if (k.day == it.key().first && k.header == it.key().second)
                        k.batch = id;
            batches << RecordWriter::Batch{where, i + 1, it.key().first, it.key().second, it.value(), id};
        }
    }
    // Kept rows not handed over after all wait for the next interval.
    auto handBack = [&] {
        for (QVector<Kept>& line : kept)
            for (Kept& k : line)
                if (k.batch >= firstBatch)
                    k.batch = 0;
    };
    if (lock && lock->busy()) {
        handBack();
        fail(kFolderBusy, lock->problem());
        return;
    }
    if (batches.isEmpty()) {
        clear({kFolderBusy});
        return;
    }
    if (!writer->post(std::move(batches))) {
        handBack();
        fail(kWriterBehind,
             QCoreApplication::translate("FlowMeter", "the disk does not keep up with the recording in %1").arg(where));
    }
}

void Recorder::keep(int line, Kept row)
{
    QVector<Kept>& rows = kept[line];
    rows << row;
    if (rows.size() <= kMaxKeptRows)
        return;
    rows.removeFirst();
    if (!droppedSaid)
        log(QString("Recording: more than %1 event rows of line %2 wait to be written; the oldest are dropped")
                .arg(kMaxKeptRows)
                .arg(line + 1));
    droppedSaid = true;
}

void Recorder::settle(quint64 batch, bool written)
{
    if (batch == 0)
        return;
    for (auto line = kept.begin(); line != kept.end();) {
        QVector<Kept>& rows = line.value();
        if (written)
            rows.removeIf([batch](const Kept& k) { return k.batch == batch; });
        else
            for (Kept& k : rows)
                if (k.batch == batch)
                    k.batch = 0;
        line = rows.isEmpty() ? kept.erase(line) : std::next(line);
    }
    if (kept.isEmpty())
        droppedSaid = false;
}

void Recorder::moveLines(const QMap<int, int>& oldToNew)
{
    const bool wasFailing = failing();
    // Lines are counted from 1 in the failures (0 and below: the folder or the writer) and
    // from 0 in the rows.
    QMap<int, QString> errors;
    for (auto it = lineErrors.begin(); it != lineErrors.end(); ++it)
        if (it.key() <= kWriterBehind)
            errors.insert(it.key(), it.value());
        else if (oldToNew.contains(it.key() - 1))
            errors.insert(oldToNew.value(it.key() - 1) + 1, it.value());
    lineErrors = errors;
    QMap<QPair<int, int>, qint64> rows;
    for (auto it = lastRowMs.begin(); it != lastRowMs.end(); ++it)
        if (oldToNew.contains(it.key().first))
            rows.insert(qMakePair(oldToNew.value(it.key().first), it.key().second), it.value());
    lastRowMs = rows;
    // The event rows of a line removed go with it: its number is another line's now.
    QMap<int, QVector<Kept>> moved;
    for (auto it = kept.begin(); it != kept.end(); ++it)
        if (oldToNew.contains(it.key()))
            moved.insert(oldToNew.value(it.key()), it.value());
    kept = moved;
    if (wasFailing && !failing()) {
        log("Recording resumed");
        emit resumed();
        emit stateChanged();
    }
}

void Recorder::onAppended(int line, quint64 batch, const RecordFile::Result& r)
{
    if (r.repairedBytes > 0)
        log(QString("Record file %1 ended in a torn line: %2 bytes cut back to the last whole row")
                .arg(r.path)
                .arg(r.repairedBytes));
    settle(batch, r.ok);
    if (!on)
        return;
    if (!r.ok) {
        fail(line, r.error);
        return;
    }
    // A writer that fell behind has caught up once an append is done, and a folder taken over
    // from another program is written again.
    clear({line, kWriterBehind, kFolderBusy});
}

void Recorder::fail(int line, const QString& error)
{
    // Each line names its own file: a failure is said when a line's error changes, not at
    // every interval of every line.
    const bool news = lineErrors.value(line) != error;
    lineErrors[line] = error;
    if (!news)
        return;
    log(QString("Recording stopped: %1; trying again at each interval").arg(error));
    emit failed(error);
    emit stateChanged();
}

void Recorder::clear(std::initializer_list<int> lines)
{
    int cleared = 0;
    for (int line : lines)
        cleared += int(lineErrors.remove(line));
    if (cleared == 0)
        return;
    if (!failing()) {
        log("Recording resumed");
        emit resumed();
    }
    // Resumed, or another line still failing is what the mark says now.
    emit stateChanged();
}
