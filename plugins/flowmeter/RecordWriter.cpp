#include "RecordWriter.h"

RecordWriter::RecordWriter(Report r) : report(std::move(r)), thread([this] { run(); })
{
}

RecordWriter::~RecordWriter()
{
    {
        std::lock_guard<std::mutex> g(mutex);
        quit = true;
    }
    wake.notify_all();
    thread.join();
}

bool RecordWriter::post(QVector<Batch> batches)
{
    {
        std::lock_guard<std::mutex> g(mutex);
        if (waiting.size() >= kMaxWaiting)
            return false;
        waiting.push_back(std::move(batches));
    }
    wake.notify_all();
    return true;
}

void RecordWriter::flush()
{
    std::unique_lock<std::mutex> g(mutex);
    // Bounded by the disk: each append is one write and one fdatasync.
    done.wait(g, [this] { return waiting.empty() && !writing; });
}

void RecordWriter::run()
{
    for (;;) {
        QVector<Batch> next;
        {
            std::unique_lock<std::mutex> g(mutex);
            writing = false;
            done.notify_all();
            // Woken by post() or the destructor; what waits is written before the thread ends.
            wake.wait(g, [this] { return quit || !waiting.empty(); });
            if (waiting.empty())
                return;
            next = std::move(waiting.front());
            waiting.pop_front();
            writing = true;
        }
        for (const Batch& b : next) {
            // A folder left for another is let go of, and its files closed.
            for (auto it = files.begin(); it != files.end();)
                it = it->first.first == b.folder ? std::next(it) : files.erase(it);
            std::unique_ptr<RecordFile>& file = files[{b.folder, b.line}];
            if (!file)
                file = std::make_unique<RecordFile>(b.folder, b.line);
            const RecordFile::Result result = file->append(b.day, b.header, b.rows);
            if (report)
                report(b, result);
        }
    }
}
