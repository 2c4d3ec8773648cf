#include "SmallTmpfs.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

const char* const kFiller = "/.filler";

} // namespace

SmallTmpfs::SmallTmpfs(int kilobytes)
{
    if (geteuid() != 0) {
        why = "a tmpfs is mounted by root only";
        return;
    }
    const QByteArray options = "size=" + QByteArray::number(kilobytes) + "k,mode=0755";
    if (::mount("tmpfs", dir.path().toLocal8Bit().constData(), "tmpfs", 0, options.constData()) != 0) {
        why = QString("mount -t tmpfs on %1: %2").arg(dir.path(), strerror(errno));
        return;
    }
    mounted = true;
}

SmallTmpfs::~SmallTmpfs()
{
    // Detached: a program still holding a file there must not keep the mount behind.
    if (mounted)
        ::umount2(dir.path().toLocal8Bit().constData(), MNT_DETACH);
}

bool SmallTmpfs::fill()
{
    const int fd = ::open((dir.path() + kFiller).toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    char block[4096];
    memset(block, 'x', sizeof block);
    ssize_t w = 0;
    while ((w = ::write(fd, block, sizeof block)) > 0) {
    }
    // The last bytes that fit, one at a time, so that not even a short row is left room.
    while ((w = ::write(fd, block, 1)) > 0) {
    }
    const bool full = errno == ENOSPC;
    ::close(fd);
    return full;
}

bool SmallTmpfs::free()
{
    return QFile::remove(dir.path() + kFiller);
}
