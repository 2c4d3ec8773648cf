#pragma once

#include "RecordFile.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QVector>

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

// The recorder's own thread for the disk: each interval's rows are handed over and written
// there, line by line, so that the GUI thread never waits for a write or an fdatasync.
class RecordWriter
{
public:
    // The rows of one line and day, as one append.
    struct Batch
    {
        QString folder;
        // From 1, as the files count lines.
        int line = 1;
        QDate day;
        QString header;
        QStringList rows;
        // The poster's own, handed back with the outcome: what the batch carried is known by it.
        quint64 id = 0;
    };
    // Called on the writer's thread after each append, in the order posted.
    using Report = std::function<void(const Batch& batch, const RecordFile::Result& result)>;

    // Intervals waiting at most: with a disk that hangs, an hour of 1 s rows.
    static constexpr size_t kMaxWaiting = 3600;

    explicit RecordWriter(Report report);
    // Writes what was handed over, then ends the thread.
    ~RecordWriter();
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;

    // One interval's batches. False (and nothing taken) while kMaxWaiting intervals wait.
    bool post(QVector<Batch> batches);
    // Waits until everything posted so far is written.
    void flush();

private:
    void run();

    Report report;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable done;
    std::deque<QVector<Batch>> waiting;
    bool writing = false;
    bool quit = false;
    // The writer thread's own: one file object per folder and line, kept open between appends.
    std::map<std::pair<QString, int>, std::unique_ptr<RecordFile>> files;
    std::thread thread;
};
