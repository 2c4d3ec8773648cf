#pragma once

#include "FlowHistory.h"
#include "MeterState.h"

#include <QMap>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <atomic>
#include <map>
#include <thread>

class MeterModelLoader;

// Every meter's flow history, on the GUI thread: filled at start from the recordings of the
// last days (read on a thread of its own, so that a week of files does not hold the window),
// then fed with the readings the lines' threads took.
class MeterHistories : public QObject
{
    Q_OBJECT

public:
    explicit MeterHistories(QObject* parent = nullptr);
    // Stops a reading still running, and waits for it.
    ~MeterHistories() override;

    // Starts reading the recordings of `folder`, once: what comes meanwhile is kept, and the
    // recordings go before it when they are read.
    void load(const QString& folder);
    // Gives up a reading still running; the readings kept stay.
    void stop();
    bool loading() const { return worker.joinable() && !done; }

    // The readings of line `line`'s meters (from 0) since the last call: each new flow reading
    // at the time it was taken, a gap while a meter is offline or its flow is not a reading.
    void feed(int line, const QMap<int, MeterState>& units, const MeterModelLoader& models);

    // Null while the meter has none; valid until the next feed or load.
    const FlowHistory* of(int line, int id) const;
    // Lines that moved up when one above them was removed (old place -> new, from 0) keep their
    // meters' histories; those of lines not in the map are dropped. Pointers from `of` to
    // moved histories stay valid; to dropped ones they do not.
    void moveLines(const QMap<int, int>& oldToNew);

signals:
    // The recordings were read: how many files, how many lines were skipped, and the files
    // that could not be used with why.
    void loaded(int files, int skipped, QStringList problems);

private:
    using Key = QPair<int, int>;
    void takeLoaded(QMap<Key, FlowHistory>&& read, int files, int skipped, const QStringList& problems);

    std::map<Key, FlowHistory> kept;
    // Per meter, the monotonic second of the newest reading fed.
    std::map<Key, double> fedUpTo;
    std::thread worker;
    std::atomic<bool> cancel{false};
    bool done = false;
    bool started = false;
};
