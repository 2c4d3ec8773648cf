#include "RecordFile.h"
#include "BoundedFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Far more than a day can need (each part is a change of the line's meters); a bound so that a
// folder full of foreign files cannot keep the search going.
constexpr int kMaxParts = 999;

// A row is one line of the file, whatever its fields hold: the repair after a crash cuts back
// to the last line end, which must therefore never fall inside a row. A line end in a field
// (a meter's name, say) becomes a space.
QByteArray oneLine(const QString& text)
{
    QByteArray bytes = text.toUtf8();
    bytes.replace('\n', ' ');
    bytes.replace('\r', ' ');
    return bytes;
}

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

int truncateTo(int fd, off_t size)
{
    for (;;) {
        const int r = ::ftruncate(fd, size);
        if (r == 0 || errno != EINTR)
            return r;
    }
}

// Makes a new name in `folder` durable; without it a power loss may forget the whole file.
void syncFolder(const QString& folder)
{
    const int d = ::open(native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (d < 0)
        return;
    ::fsync(d);
    ::close(d);
}

QString say(const char* text)
{
    return QCoreApplication::translate("FlowMeter", text);
}

} // namespace

RecordFile::RecordFile(const QString& folder, int line)
    : dir(QDir::cleanPath(QDir(folder).absolutePath()))
    , lineNumber(line)
{
}

RecordFile::~RecordFile()
{
    close();
}

void RecordFile::close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    openPath.clear();
    openDay = QDate();
    openHeader.clear();
}

QString RecordFile::fileName(int line, const QDate& day, int part)
{
    QString name = QStringLiteral("line") + QString::number(line) + '-' + day.toString(Qt::ISODate);
    if (part > 1)
        name += '.' + QString::number(part);
    return name + QStringLiteral(".csv");
}

RecordFile::Result RecordFile::append(const QDate& day, const QString& header, const QStringList& rows)
{
    Result r;
    if (!day.isValid()) {
        r.ok = false;
        r.error = say(QT_TRANSLATE_NOOP("FlowMeter", "No day to record line %1 for.")).arg(lineNumber);
        return r;
    }
    const QByteArray head = oneLine(header);
    if (fd >= 0 && (openDay != day || openHeader != head || !stillThere()))
        close();
    if (rows.isEmpty()) {
        r.path = fd >= 0 ? openPath : dir + '/' + fileName(lineNumber, day, 1);
        return r;
    }
    if (fd < 0 && !open(day, head, &r))
        return r;
    r.path = openPath;

    struct stat st;
    if (::fstat(fd, &st) != 0) {
        fail(&r, errno, openPath, "write");
        close();
        return r;
    }
    const off_t before = st.st_size;
    QByteArray out;
    if (before == 0)
        out = head + '\n';
    for (const QString& row : rows)
        out += oneLine(row) + '\n';

    int err = 0;
    qsizetype done = 0;
    while (done < out.size()) {
        const ssize_t n = ::write(fd, out.constData() + done, size_t(out.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            err = n < 0 ? errno : EIO;
            break;
        }
        done += n;
    }
    if (err == 0 && ::fdatasync(fd) != 0)
        err = errno;
    if (err != 0) {
        // Whatever part went out is taken back, so the file ends at the last whole row. Should
        // that fail too, the repair at the next open cuts the torn line.
        if (truncateTo(fd, before) == 0)
            ::fdatasync(fd);
        fail(&r, err, openPath, "write");
        close();
        return r;
    }
    if (before == 0)
        syncFolder(dir);
    return r;
}

bool RecordFile::open(const QDate& day, const QByteArray& head, Result* r)
{
    if (!makeFolder(r)) {
        r->path = dir + '/' + fileName(lineNumber, day, 1);
        return false;
    }
    for (int part = 1; part <= kMaxParts; ++part) {
        const QString path = dir + '/' + fileName(lineNumber, day, part);
        BoundedFile opened;
        if (!opened.open(path, BoundedFile::AppendCreate)) {
            // A FIFO would take the rows until its buffer is full and then hold the writer for
            // ever, a link to a device swallow them: the name is passed over, as one of
            // another header is.
            if (opened.notRegular())
                continue;
            fail(r, opened.error(), path, "write");
            return false;
        }
        fd = opened.release();
        openPath = path;
        struct stat st;
        int fits = ::fstat(fd, &st) != 0 ? -1 : st.st_size == 0 ? 1 : startsWith(head);
        if (fits == 1) {
            const qint64 cut = st.st_size == 0 ? 0 : repairTail();
            if (cut < 0)
                fits = -1;
            else
                r->repairedBytes = cut;
        } else if (fits == 0) {
            // Another header, which is left as it is, or a file holding not one whole line:
            // the torn start of a file whose first write did not finish, with nothing to keep.
            const qint64 keep = lastLineEnd();
            if (keep < 0)
                fits = -1;
            else if (keep == 0) {
                if (truncateTo(fd, 0) != 0)
                    fits = -1;
                else {
                    r->repairedBytes = qint64(st.st_size);
                    fits = 1;
                }
            }
        }
        if (fits == 1 && ::fstat(fd, &st) != 0)
            fits = -1;
        if (fits < 0) {
            fail(r, errno, path, "write");
            close();
            return false;
        }
        if (fits == 1) {
            openDay = day;
            openHeader = head;
            openDev = st.st_dev;
            openIno = st.st_ino;
            return true;
        }
        close();
    }
    r->ok = false;
    r->path = dir + '/' + fileName(lineNumber, day, kMaxParts);
    r->error = say(QT_TRANSLATE_NOOP("FlowMeter", "Line %1 has no free record file name for %2 in %3."))
                   .arg(lineNumber)
                   .arg(day.toString(Qt::ISODate), QDir::toNativeSeparators(dir));
    return false;
}

bool RecordFile::stillThere() const
{
    struct stat st;
    return ::stat(native(openPath).constData(), &st) == 0 && st.st_dev == openDev && st.st_ino == openIno;
}

qint64 RecordFile::repairTail()
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return -1;
    const qint64 keep = lastLineEnd();
    if (keep < 0)
        return -1;
    if (keep == qint64(st.st_size))
        return 0;
    if (truncateTo(fd, off_t(keep)) != 0)
        return -1;
    return qint64(st.st_size) - keep;
}

qint64 RecordFile::lastLineEnd() const
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return -1;
    off_t end = st.st_size;
    char chunk[4096];
    off_t keep = 0;
    bool found = false;
    while (end > 0 && !found) {
        const off_t from = end > off_t(sizeof chunk) ? end - off_t(sizeof chunk) : 0;
        const size_t want = size_t(end - from);
        size_t got = 0;
        while (got < want) {
            const ssize_t n = ::pread(fd, chunk + got, want - got, from + off_t(got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return -1;
            if (n == 0) {
                errno = EIO;
                return -1;
            }
            got += size_t(n);
        }
        for (size_t i = want; i-- > 0;) {
            if (chunk[i] == '\n') {
                keep = from + off_t(i) + 1;
                found = true;
                break;
            }
        }
        end = from;
    }
    return qint64(keep);
}

int RecordFile::startsWith(const QByteArray& head) const
{
    QByteArray first(head.size() + 1, '\0');
    qsizetype got = 0;
    while (got < first.size()) {
        const ssize_t n = ::pread(fd, first.data() + got, size_t(first.size() - got), off_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += n;
    }
    return got == first.size() && first.startsWith(head) && first.endsWith('\n') ? 1 : 0;
}

bool RecordFile::makeFolder(Result* r) const
{
    struct stat st;
    if (::stat(native(dir).constData(), &st) == 0 && S_ISDIR(st.st_mode))
        return true;
    // Step by step rather than QDir::mkpath, to know why it failed: a full disk or a
    // read-only place are said as such.
    const QStringList parts = dir.split('/', Qt::SkipEmptyParts);
    QString path;
    for (const QString& part : parts) {
        path += '/' + part;
        if (::mkdir(native(path).constData(), 0777) == 0)
            continue;
        int err = errno;
        if (err == EEXIST) {
            if (::stat(native(path).constData(), &st) == 0 && S_ISDIR(st.st_mode))
                continue;
            err = ENOTDIR;
        }
        fail(r, err, dir, "folder");
        return false;
    }
    return true;
}

void RecordFile::fail(Result* r, int err, const QString& path, const char* what) const
{
    const bool folder = qstrcmp(what, "folder") == 0;
    r->ok = false;
    r->path = path;
    r->noSpace = err == ENOSPC || err == EDQUOT;
    r->notWritable = err == EROFS || err == EACCES || err == EPERM || (folder && (err == ENOENT || err == ENOTDIR));
    const QString where = QDir::toNativeSeparators(path);
    const QString why = qt_error_string(err);
    if (folder)
        r->error = say(QT_TRANSLATE_NOOP("FlowMeter", "The folder %1 for the recordings cannot be made: %2")).arg(where, why);
    else if (r->noSpace)
        r->error = say(QT_TRANSLATE_NOOP("FlowMeter", "No space left to record to %1: %2")).arg(where, why);
    else if (r->notWritable)
        r->error = say(QT_TRANSLATE_NOOP("FlowMeter", "The recording %1 cannot be written: %2")).arg(where, why);
    else
        r->error = say(QT_TRANSLATE_NOOP("FlowMeter", "Writing the recording %1 failed: %2")).arg(where, why);
}
