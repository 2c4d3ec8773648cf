#include "cFileKind.h"

#include <QFile>

#include <sys/stat.h>

QString cFileKind::refusal(const QString& path, qint64 limit)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || S_ISDIR(st.st_mode))
        return QString();
    if (S_ISREG(st.st_mode))
        return st.st_size > limit ? QStringLiteral("larger than %1 bytes").arg(limit) : QString();
    const char* kind = S_ISFIFO(st.st_mode)  ? "a FIFO"
                       : S_ISCHR(st.st_mode) ? "a character device"
                       : S_ISBLK(st.st_mode) ? "a block device"
                       : S_ISSOCK(st.st_mode) ? "a socket"
                                              : "of an unknown kind";
    return QStringLiteral("not a regular file (%1)").arg(QLatin1String(kind));
}
