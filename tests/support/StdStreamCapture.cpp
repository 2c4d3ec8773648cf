#include "StdStreamCapture.h"

#include <QByteArray>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

StdStreamCapture::StdStreamCapture(int which) : fd(which), saved(-1), tmp(-1)
{
    fflush(which == 1 ? stdout : stderr);
    char name[] = "/tmp/corvane-capture-XXXXXX";
    tmp = mkstemp(name);
    if (tmp < 0)
        return;
    unlink(name);
    saved = dup(fd);
    dup2(tmp, fd);
}

StdStreamCapture::~StdStreamCapture()
{
    stop();
    if (tmp >= 0)
        close(tmp);
}

void StdStreamCapture::stop()
{
    if (saved < 0)
        return;
    fflush(fd == 1 ? stdout : stderr);
    dup2(saved, fd);
    close(saved);
    saved = -1;
}

QString StdStreamCapture::text() const
{
    fflush(fd == 1 ? stdout : stderr);
    QByteArray all;
    char buf[4096];
    off_t pos = 0;
    for (;;) {
        const ssize_t n = pread(tmp, buf, sizeof buf, pos);
        if (n <= 0)
            break;
        all.append(buf, int(n));
        pos += n;
    }
    return QString::fromLocal8Bit(all);
}
