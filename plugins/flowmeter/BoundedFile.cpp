#include "BoundedFile.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString errnoText(int e)
{
    char buffer[256];
    // The GNU strerror_r, which may return a text of its own instead of filling the buffer.
    return QString::fromLocal8Bit(strerror_r(e, buffer, sizeof buffer));
}

QString kindOf(mode_t m)
{
    if (S_ISFIFO(m))
        return QStringLiteral("a FIFO");
    if (S_ISCHR(m))
        return QStringLiteral("a character device");
    if (S_ISBLK(m))
        return QStringLiteral("a block device");
    if (S_ISSOCK(m))
        return QStringLiteral("a socket");
    if (S_ISDIR(m))
        return QStringLiteral("a folder");
    return QStringLiteral("of an unknown kind");
}

} // namespace

BoundedFile::~BoundedFile()
{
    close();
}

bool BoundedFile::open(const QString& path, Access access, Links links)
{
    close();
    absent = false;
    otherKind = false;
    failedErrno = 0;
    reason.clear();
    // O_NONBLOCK: opening a FIFO for reading otherwise waits for a writer that may never come.
    // On the regular file that is all this class goes on with, the flag changes nothing.
    int flags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    flags |= access == ReadOnly ? O_RDONLY : access == ReadWriteCreate ? O_RDWR | O_CREAT : O_RDWR | O_CREAT | O_APPEND;
    if (links == RefuseLinks)
        flags |= O_NOFOLLOW;
    const QByteArray name = QFile::encodeName(path);
    int f;
    do
        f = ::open(name.constData(), flags, access == AppendCreate ? 0666 : 0600);
    while (f < 0 && errno == EINTR);
    if (f < 0) {
        const int e = errno;
        failedErrno = e;
        // A part of the path that is no folder: there is no such file either.
        absent = e == ENOENT || e == ENOTDIR;
        reason = e == ELOOP && links == RefuseLinks ? QStringLiteral("a symbolic link") : errnoText(e);
        return false;
    }
    struct stat st {};
    if (::fstat(f, &st) != 0) {
        failedErrno = errno;
        reason = errnoText(failedErrno);
        ::close(f);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        otherKind = true;
        reason = QStringLiteral("not a regular file (%1)").arg(kindOf(st.st_mode));
        ::close(f);
        return false;
    }
    fd = f;
    bytes = st.st_size;
    ownerId = st.st_uid;
    modeBits = st.st_mode;
    return true;
}

void BoundedFile::close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

int BoundedFile::release()
{
    const int f = fd;
    fd = -1;
    return f;
}

QByteArray BoundedFile::readAll(qint64 limit, bool* tooLarge)
{
    if (tooLarge)
        *tooLarge = false;
    QByteArray data;
    if (fd < 0)
        return data;
    // The size fstat gave is a hint only: the file may grow or shrink while it is read.
    data.reserve(qsizetype(std::min(bytes, limit) + 1));
    char piece[65536];
    qint64 at = 0;
    // One byte past the bound tells a file of exactly `limit` bytes from a larger one.
    while (at <= limit) {
        const ssize_t n = ::pread(fd, piece, size_t(std::min<qint64>(sizeof piece, limit + 1 - at)), off_t(at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            reason = errnoText(errno);
            return QByteArray();
        }
        if (n == 0)
            break;
        data.append(piece, qsizetype(n));
        at += n;
    }
    if (data.size() > limit) {
        data.truncate(qsizetype(limit));
        if (tooLarge)
            *tooLarge = true;
    }
    return data;
}

QByteArray BoundedFile::read(const QString& path, qint64 limit, bool* ok, QString* why, bool* missing, bool* tooLarge)
{
    BoundedFile f;
    *ok = f.open(path);
    if (missing)
        *missing = f.missing();
    if (!*ok) {
        if (why)
            *why = f.why();
        return QByteArray();
    }
    QByteArray data = f.readAll(limit, tooLarge);
    *ok = f.why().isEmpty();
    if (why)
        *why = f.why();
    return data;
}
