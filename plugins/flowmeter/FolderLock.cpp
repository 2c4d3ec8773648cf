#include "FolderLock.h"

#include <QCoreApplication>
#include <QDir>
#include <QLockFile>
#include <QTimer>

#include <algorithm>

namespace {

QString clean(const QString& folder)
{
    return folder.isEmpty() ? QString() : QDir::cleanPath(QDir(folder).absolutePath());
}

} // namespace

FolderLock::FolderLock(QObject* parent) : QObject(parent)
{
    retry = new QTimer(this);
    retry->setInterval(1000);
    connect(retry, &QTimer::timeout, this, [this] { take(); });
}

FolderLock::~FolderLock()
{
    release();
}

bool FolderLock::sameFolder(const QString& a, const QString& b)
{
    return clean(a) == clean(b);
}

void FolderLock::setRetryInterval(int ms)
{
    retry->setInterval(std::max(ms, 1));
}

bool FolderLock::setFolder(const QString& folder)
{
    const QString wanted = clean(folder);
    if (file && wanted == dir)
        return take();
    release();
    dir = wanted;
    if (dir.isEmpty()) {
        become(Unset, QString());
        return false;
    }
    file = std::make_unique<QLockFile>(QDir(dir).filePath(kFileName));
    // Held for as long as the program runs, so its age says nothing: only a lock of a process
    // that is gone is stale (Qt's default takes over any lock older than 30 s).
    file->setStaleLockTime(0);
    return take();
}

bool FolderLock::take()
{
    if (!file)
        return false;
    if (file->isLocked())
        return true;
    if (!QDir().mkpath(dir)) {
        become(Failed, QCoreApplication::translate("FlowMeter", "the records folder %1 cannot be made")
                           .arg(QDir::toNativeSeparators(dir)));
        return false;
    }
    if (file->tryLock(0)) {
        become(Held, QString());
        return true;
    }
    const QString where = QDir::toNativeSeparators(dir);
    switch (file->error()) {
    case QLockFile::LockFailedError: {
        qint64 pid = 0;
        QString host;
        QString program;
        // The holder writes its lock file in one go; one caught half-written is said without.
        if (file->getLockInfo(&pid, &host, &program) && pid > 0)
            become(Busy, QCoreApplication::translate("FlowMeter",
                                                     "the records folder %1 is in use by another Corvane (process %2 on %3)")
                             .arg(where)
                             .arg(pid)
                             .arg(host.isEmpty() ? QStringLiteral("?") : host));
        else
            become(Busy, QCoreApplication::translate("FlowMeter", "the records folder %1 is in use by another Corvane")
                             .arg(where));
        break;
    }
    case QLockFile::PermissionError:
        become(Failed, QCoreApplication::translate("FlowMeter", "no lock can be made in the records folder %1: no permission")
                           .arg(where));
        break;
    default:
        become(Failed, QCoreApplication::translate("FlowMeter", "no lock can be made in the records folder %1").arg(where));
        break;
    }
    return false;
}

void FolderLock::release()
{
    retry->stop();
    if (file && file->isLocked())
        file->unlock();
    file.reset();
    dir.clear();
    current = Unset;
    why.clear();
}

void FolderLock::become(State state, const QString& problem)
{
    if (state == Held)
        retry->stop();
    else if (state != Unset && !retry->isActive())
        retry->start();
    if (state == current && problem == why)
        return;
    current = state;
    why = problem;
    emit stateChanged();
}
