#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// A file the plug-in reads but did not necessarily make: the alarm list, the spool, the
// recordings, meter models, the settings and the password file may each be anything a user
// or another program left at that name. Opened without blocking (a FIFO with no writer would
// hold the thread in open() for ever) and refused unless, after any link is followed, it is
// a regular file (a link to /dev/zero reads without end); read only up to a bound the caller
// names for its kind. The only place of the plug-in that knows the open flags and fstat.
class BoundedFile
{
public:
    // ReadWriteCreate makes a missing file for its owner alone (0600), AppendCreate one as the
    // umask allows (0666 before it), every write going to the end.
    enum Access { ReadOnly, ReadWriteCreate, AppendCreate };
    // Where a link is refused (the password file), it is said as such.
    enum Links { FollowLinks, RefuseLinks };

    BoundedFile() = default;
    ~BoundedFile();
    BoundedFile(const BoundedFile&) = delete;
    BoundedFile& operator=(const BoundedFile&) = delete;

    // False with why() when the file cannot be opened or is not a regular file (then nothing
    // of it has been read).
    bool open(const QString& path, Access access = ReadOnly, Links links = FollowLinks);
    void close();
    bool isOpen() const { return fd >= 0; }
    // The file was not there (only for ReadOnly).
    bool missing() const { return absent; }
    // It was there but is no regular file (why() says what it is).
    bool notRegular() const { return otherKind; }
    // The system's error number of a failed open (0 when it was refused for its kind).
    int error() const { return failedErrno; }
    // Why open() or a read failed, in English for the log: "not a regular file (a FIFO)",
    // "a symbolic link", or the system's text.
    QString why() const { return reason; }
    int handle() const { return fd; }
    // Hands the descriptor over: this object no longer closes it.
    int release();

    // As fstat saw the file when it was opened.
    qint64 size() const { return bytes; }
    uid_t owner() const { return ownerId; }
    mode_t mode() const { return modeBits; }

    // From the start, at most `limit` bytes; *tooLarge (when given) set when there was more,
    // which is then not read. Empty with why() on a read error.
    QByteArray readAll(qint64 limit, bool* tooLarge = nullptr);
    // Opens and reads in one; `missing` (when given) tells an absent file from a refused one.
    static QByteArray read(const QString& path, qint64 limit, bool* ok, QString* why, bool* missing = nullptr,
                           bool* tooLarge = nullptr);

private:
    int fd = -1;
    bool absent = false;
    bool otherKind = false;
    int failedErrno = 0;
    qint64 bytes = 0;
    uid_t ownerId = 0;
    mode_t modeBits = 0;
    QString reason;
};
