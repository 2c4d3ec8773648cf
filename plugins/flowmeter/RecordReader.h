#pragma once

#include "FlowHistory.h"

#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>

#include <atomic>

// Reads the flow back from the recordings (docs/recording.md): every day file of a folder
// within a span, each meter's `flow rate [<unit>]` column converted to m³/h, rows of a meter
// that was not read (offline, invalid, stale) as gaps. A torn or malformed line is skipped and
// counted, never fatal: the files may be written while they are read, or have been cut by a
// crash.
class RecordReader
{
public:
    // (line from 0, unit id).
    using MeterKey = QPair<int, int>;

    explicit RecordReader(const QString& folder) : dir(folder) {}

    // The readings with `fromMs` <= time < `untilMs` (ms since the epoch), per meter. Stops
    // early, with what it has, once `cancel` is set.
    QMap<MeterKey, FlowHistory> read(qint64 fromMs, qint64 untilMs, const std::atomic<bool>* cancel = nullptr);

    int filesRead() const { return files; }
    int linesSkipped() const { return skipped; }
    // Files that could not be used, each with why (for the log; in English).
    const QStringList& problems() const { return trouble; }

private:
    struct Row
    {
        qint64 ms;
        double flow;
        qint64 gapAfterMs;
    };
    void readFile(const QString& path, qint64 fromMs, qint64 untilMs, QMap<MeterKey, QVector<Row>>* rows,
                  const std::atomic<bool>* cancel);

    QString dir;
    int files = 0;
    int skipped = 0;
    QStringList trouble;
};
