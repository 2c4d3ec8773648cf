#pragma once

#include "FlowConfig.h"
#include "MeterEvent.h"
#include "MeterModel.h"
#include "MeterState.h"
#include "RecordFile.h"

#include <QDateTime>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QVector>

#include <functional>
#include <initializer_list>
#include <memory>

class FolderLock;
class RecordWriter;

// Records the readings: at each tick one row per meter of every line, from the lines' own
// snapshots, handed to a thread of its own that appends them to the line's file of the day
// (docs/recording.md). Lives on the GUI thread; the disk is never waited for there.
//
// A failed append stops the recording from writing: said once (failed, the log), tried again
// at every tick, and said again when an append succeeds ("recording resumed"). The meters'
// rows of an interval that was not written are a gap; an event row (a totalizer reset) is
// not seen again, so it is kept until an append of its line has carried it.
//
// A folder another Corvane holds (FolderLock) is not written at all: said as a failure, and
// taken over at the first interval after the other program let go of it.
class Recorder : public QObject
{
    Q_OBJECT

public:
    // One line as its thread last saw it.
    struct Line
    {
        LineConfig config;
        QMap<int, MeterState> units;
    };
    using Log = std::function<void(const QString&)>;

    explicit Recorder(Log log, QObject* parent = nullptr);
    // Writes what was handed over, then ends its thread.
    ~Recorder() override;

    // Event rows kept per line at most while nothing can be written; the oldest go beyond.
    static constexpr int kMaxKeptRows = 3000;

    // The records folder's lock, shared with whatever else keeps files there; none: the folder
    // is taken as this program's alone.
    void setFolderLock(FolderLock* lock);

    // Starts recording into `folder` (made when missing); a running recording moves there.
    void start(const QString& folder);
    void stop();
    bool running() const { return on; }
    // Whether the last append failed (while running); `error` says why.
    bool failing() const { return !lineErrors.isEmpty(); }
    // The first failure's reason: the folder held by another program, the writer fallen
    // behind, then the lines in order.
    QString error() const { return lineErrors.isEmpty() ? QString() : lineErrors.first(); }
    QString folder() const { return where; }

    // The rows of one interval at `at`, for every meter of `lines` (line index from 0), in
    // the units the user chose; with the totalizer resets seen since the last tick before them.
    void tick(const QDateTime& at, const QVector<Line>& lines, const QMap<QString, MeterModel>& models,
              const DisplayUnits& units);
    // Waits until every row handed over is written (and its outcome reported).
    void flush();

    // Lines that moved up when one above them was removed (old place -> new, from 0); the
    // lines not in the map are gone.
    void moveLines(const QMap<int, int>& oldToNew);

public slots:
    // From the lines' threads (queued): a totalizer reset is kept for the next tick.
    void onMeterEvent(MeterEvent event);

signals:
    // Recording stopped writing: why, in words, with the path.
    void failed(QString reason);
    void resumed();
    // Running, failing or resumed: for the mark in the status bar and the menu.
    void stateChanged();

private:
    // An event row not yet written, with the file it belongs in.
    struct Kept
    {
        QDate day;
        QString header;
        QString row;
        // The batch that carries it now; 0: none.
        quint64 batch = 0;
    };

    void onAppended(int line, quint64 batch, const RecordFile::Result& result);
    void keep(int line, Kept row);
    // The outcome of a batch for the kept rows it carried: written, or waiting again.
    void settle(quint64 batch, bool written);
    // Line `line` (from 1; 0: the writer fell behind; kFolderBusy) cannot be written: said
    // when its reason is new.
    void fail(int line, const QString& error);
    // These no longer fail: said when nothing fails any more.
    void clear(std::initializer_list<int> lines);

    Log log;
    std::unique_ptr<RecordWriter> writer;
    bool on = false;
    QString where;
    // The failures of the folder as a whole, before those of the lines.
    static constexpr int kFolderBusy = -1;
    static constexpr int kWriterBehind = 0;
    // Per line (from 1), the error its last append had: a line that failed says so once.
    QMap<int, QString> lineErrors;
    QVector<MeterEvent> events;
    // Per line (from 0), oldest first.
    QMap<int, QVector<Kept>> kept;
    quint64 lastBatch = 0;
    bool droppedSaid = false;
    QPointer<FolderLock> lock;
    // Per line (from 0) and unit id, the reading the last row had (its monotonic ms).
    QMap<QPair<int, int>, qint64> lastRowMs;
};
