#include "Contained.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cstdio>
#include <new>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The test's own address space now, from /proc/self/statm (in pages).
qint64 addressSpace()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    return statm.readLine().split(' ').value(0).toLongLong() * sysconf(_SC_PAGESIZE);
}

} // namespace

QString Contained::Outcome::what() const
{
    if (timedOut)
        return QStringLiteral("still running at the time bound (blocked or reading without end)");
    if (!exited)
        return QStringLiteral("ended by signal %1 (out of memory ends it with SIGABRT)").arg(signal);
    if (code == 101)
        return QStringLiteral("ran out of memory (std::bad_alloc)");
    return QStringLiteral("exited with %1").arg(code);
}

QString Contained::zeroDevice(const QString& folder)
{
    const QString path = folder + QStringLiteral("/zero-device");
    // Major 1, minor 5: the kernel's zero device.
    if (::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0600, makedev(1, 5)) != 0)
        return QString();
    return path;
}

Contained::Outcome Contained::run(const std::function<int()>& body, int timeoutMs, qint64 memoryBytes)
{
    std::fflush(stdout);
    std::fflush(stderr);
    const qint64 base = addressSpace();
    const pid_t pid = ::fork();
    if (pid == 0) {
#ifndef __SANITIZE_ADDRESS__
        // The sanitizer reserves terabytes of shadow: there only the time bound holds.
        if (base > 0) {
            const rlim_t bound = rlim_t(base + memoryBytes);
            const struct rlimit limit = {bound, bound};
            ::setrlimit(RLIMIT_AS, &limit);
        }
#endif
        int code = 100;
        try {
            code = body();
        } catch (const std::bad_alloc&) {
            code = 101;
        }
        std::fflush(stderr);
        ::_exit(code);
    }
    Outcome o;
    if (pid < 0)
        return o;
    QElapsedTimer t;
    t.start();
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (t.elapsed() > timeoutMs) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            o.timedOut = true;
            return o;
        }
        QThread::msleep(20);
    }
    o.exited = WIFEXITED(status);
    o.code = o.exited ? WEXITSTATUS(status) : -1;
    o.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return o;
}
