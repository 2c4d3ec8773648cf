#include "MeterHistories.h"
#include "DisplayUnit.h"
#include "MeterModelLoader.h"
#include "RecordReader.h"
#include "ValueFormat.h"

#include <QDateTime>

#include <chrono>
#include <cmath>
#include <limits>
#include <type_traits>
#include <vector>

MeterHistories::MeterHistories(QObject* parent) : QObject(parent)
{
}

MeterHistories::~MeterHistories()
{
    stop();
}

void MeterHistories::stop()
{
    cancel.store(true);
    if (worker.joinable())
        worker.join();
}

void MeterHistories::load(const QString& folder)
{
    if (started)
        return;
    started = true;
    // Rows written from now on are the ones fed meanwhile: read up to here only.
    const qint64 until = QDateTime::currentMSecsSinceEpoch();
    const qint64 from = until - FlowHistory::kKeepMs;
    worker = std::thread([this, folder, from, until] {
        RecordReader reader(folder);
        QMap<Key, FlowHistory> read = reader.read(from, until, &cancel);
        const int files = reader.filesRead();
        const int skipped = reader.linesSkipped();
        const QStringList problems = reader.problems();
        // Handed to the GUI thread; dropped there unseen if this object is gone by then.
        QMetaObject::invokeMethod(
            // Moved, not copied: a week of many meters is a lot to copy on the GUI thread.
            this, [this, read = std::move(read), files, skipped, problems]() mutable {
                takeLoaded(std::move(read), files, skipped, problems);
            },
            Qt::QueuedConnection);
    });
}

void MeterHistories::takeLoaded(QMap<Key, FlowHistory>&& read, int files, int skipped, const QStringList& problems)
{
    done = true;
    if (worker.joinable())
        worker.join();
    if (cancel.load())
        return;
    for (auto it = read.begin(); it != read.end(); ++it) {
        FlowHistory merged = std::move(it.value());
        auto live = kept.find(it.key());
        if (live != kept.end())
            merged.append(live->second);
        kept[it.key()] = std::move(merged);
    }
    emit loaded(files, skipped, problems);
}

void MeterHistories::feed(int line, const QMap<int, MeterState>& units, const MeterModelLoader& models)
{
    // A reading's time on the wall clock, from its time on the monotonic one: both clocks are
    // read once here, so that readings keep their spacing whatever the wall clock does between.
    const qint64 wallNow = QDateTime::currentMSecsSinceEpoch();
    const double monotonicNow = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    for (auto it = units.begin(); it != units.end(); ++it) {
        const MeterState& u = it.value();
        const MeterModel* model = models.model(u.model);
        const int flow = model ? model->indexOf(ValueRole::FlowRate) : -1;
        if (flow < 0)
            continue;
        const Key key(line, it.key());
        const DisplayUnit::Unit unit = ValueFormat::modelUnit(model->values[flow]);
        auto upTo = fedUpTo.find(key);
        double newest = upTo == fedUpTo.end() ? -std::numeric_limits<double>::infinity() : upTo->second;
        FlowHistory& h = kept[key];
        // Every reading since the last look, not only the newest: the pages may be refreshed
        // less often than the meter is read.
        for (const QPointF& p : u.trend.points()) {
            if (p.x() <= newest)
                continue;
            newest = p.x();
            const qint64 at = wallNow - std::llround((monotonicNow - p.x()) * 1000.0);
            h.add(at, DisplayUnit::convert(p.y(), unit, DisplayUnit::CubicMetrePerHour));
        }
        fedUpTo[key] = newest;
        const bool flowInvalid = flow < u.problems.size() && u.problems[flow] != ReadingCheck::Valid;
        if ((u.seen && !u.online) || flowInvalid)
            h.add(wallNow, std::numeric_limits<double>::quiet_NaN());
    }
}

void MeterHistories::moveLines(const QMap<int, int>& oldToNew)
{
    // Taken out whole and put back under their new keys: the nodes, and with them what `of`
    // handed out, stay where they are. All are taken out before any goes back, so that a line
    // moving into the place of another does not meet it.
    auto rekey = [&oldToNew](auto& byMeter) {
        std::vector<typename std::decay_t<decltype(byMeter)>::node_type> moving;
        for (auto it = byMeter.begin(); it != byMeter.end();) {
            const auto next = std::next(it);
            const int line = it->first.first;
            if (!oldToNew.contains(line) || oldToNew.value(line) != line)
                moving.push_back(byMeter.extract(it));
            it = next;
        }
        for (auto& n : moving)
            if (oldToNew.contains(n.key().first)) {
                n.key().first = oldToNew.value(n.key().first);
                byMeter.insert(std::move(n));
            }
    };
    rekey(kept);
    rekey(fedUpTo);
}

const FlowHistory* MeterHistories::of(int line, int id) const
{
    auto it = kept.find(Key(line, id));
    return it == kept.end() ? nullptr : &it->second;
}
