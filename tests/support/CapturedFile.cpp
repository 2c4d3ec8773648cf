#include "CapturedFile.h"

#include <QByteArray>

#include <unistd.h>

CapturedFile::CapturedFile() : f(tmpfile()) {}

CapturedFile::~CapturedFile()
{
    if (f)
        fclose(f);
}

QString CapturedFile::text() const
{
    fflush(f);
    return onDisk();
}

QString CapturedFile::onDisk() const
{
    QByteArray all;
    char buf[4096];
    off_t pos = 0;
    for (;;) {
        const ssize_t n = pread(fileno(f), buf, sizeof buf, pos);
        if (n <= 0)
            break;
        all.append(buf, int(n));
        pos += n;
    }
    return QString::fromLocal8Bit(all);
}

void CapturedFile::clear()
{
    fflush(f);
    if (ftruncate(fileno(f), 0) == 0)
        rewind(f);
}
