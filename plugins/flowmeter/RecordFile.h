#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// One line's record files (docs/recording.md): a CSV file a day, its header once, whole rows
// only. This is the durable-file layer: each append is one write and one fdatasync, so that a
// crash or a power loss leaves at worst a torn last line, which the next open of the file cuts
// back. Used from one thread at a time.
class RecordFile
{
public:
    // `line` counts from 1.
    RecordFile(const QString& folder, int line);
    ~RecordFile();
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    struct Result
    {
        bool ok = true;
        bool noSpace = false;     // ENOSPC / EDQUOT
        bool notWritable = false; // EROFS, EACCES, EPERM, a missing folder that cannot be made
        QString error;            // in words (translated), with the path
        QString path;             // the file written (or tried)
        qint64 repairedBytes = 0; // a torn last line cut off before this append
    };

    // Appends `rows` (whole CSV lines, no line end) for `day` (local date) with one write()
    // and one fdatasync(); writes `header` first when the file is new. A day file whose
    // header differs goes on in line<N>-<day>.2.csv (.3, ...). The first append to a file
    // after it is opened cuts a torn last line back to the last line end (repairedBytes).
    // A failed or short write is cut back so the file ends at a whole row. Creates the folder
    // when missing. Never throws, never aborts. No rows: nothing is written.
    Result append(const QDate& day, const QString& header, const QStringList& rows);

    // Lets go of the open file (a stop of the recording); the next append opens it again.
    void close();

    // line<N>-<YYYY-MM-DD>.csv; part 2 and on: line<N>-<YYYY-MM-DD>.<part>.csv.
    static QString fileName(int line, const QDate& day, int part);

    QString folder() const { return dir; }
    int line() const { return lineNumber; }

private:
    // Opens the day's file whose header is `head` (or a new one), repaired; fills `r` on failure.
    bool open(const QDate& day, const QByteArray& head, Result* r);
    // Whether the open file is still the one at `openPath` (not removed or replaced meanwhile).
    bool stillThere() const;
    // Cuts a last line without its line end; the bytes cut, -1 on failure (errno set).
    qint64 repairTail();
    // Just after the last line end of the file: 0 when it has none; -1 on failure (errno set).
    qint64 lastLineEnd() const;
    // Whether the file begins with `head` and a line end; -1 on failure (errno set).
    int startsWith(const QByteArray& head) const;
    bool makeFolder(Result* r) const;
    void fail(Result* r, int err, const QString& path, const char* what) const;

    QString dir;
    int lineNumber;
    int fd = -1;
    QString openPath;
    QDate openDay;
    QByteArray openHeader;
    dev_t openDev = 0;
    ino_t openIno = 0;
};
