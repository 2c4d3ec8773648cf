#include "SecretStore.h"
#include "BoundedFile.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMutex>
#include <QThread>
#include <QTimer>
#include <QWaitCondition>

#include <qt6keychain/keychain.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kService = "Corvane";
const char* const kFileName = "Corvane.secrets";
// Far more than any set of passwords; a larger file is none of ours and is not read into memory.
constexpr qint64 kLargestFile = 1024 * 1024;

// The names a secret store answers to on the session bus: the freedesktop one (GNOME Keyring,
// KeePassXC, newer KWallet) and the older KWallets.
const char* const kStoreNames[] = {"org.freedesktop.secrets", "org.kde.kwalletd6", "org.kde.kwalletd5"};

QString tr(const char* text)
{
    return QCoreApplication::translate("SecretStore", text);
}

// One writer at a time on the fall-back file within the process: each write reads, changes and
// replaces it whole. A plain std::mutex: nothing of Qt's runs at exit for it.
std::mutex& fileLock()
{
    static std::mutex lock;
    return lock;
}

QString errnoText(int e)
{
    return QString::fromLocal8Bit(std::strerror(e));
}

// Asks the bus, with a short bound of its own, so that a bus that does not answer costs little.
QStringList busNames(QDBusConnection& bus, const char* method)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QString::fromLatin1(method));
    const QDBusMessage reply = bus.call(call, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().first().toStringList();
}

} // namespace

SecretStore::SecretStore(const QString& fileFolder)
    : m_filePath(QDir(fileFolder).absoluteFilePath(QString::fromLatin1(kFileName)))
{
}

QString SecretStore::where() const
{
    if (keychainUsable())
        return tr("the desktop's secret store");
    return tr("a file only you can read: %1").arg(m_filePath);
}

bool SecretStore::keychainUsable() const
{
    int backend = m_backend.load();
    if (backend == 0) {
        backend = 2;
        // A store is worth asking only where one runs (or would be started) on the session bus:
        // a station without a desktop has none, and asking would only wait.
        if (QCoreApplication::instance()) {
            QDBusConnection bus = QDBusConnection::sessionBus();
            if (bus.isConnected()) {
                const QStringList running = busNames(bus, "ListNames");
                const QStringList startable = busNames(bus, "ListActivatableNames");
                for (const char* name : kStoreNames) {
                    const QString n = QString::fromLatin1(name);
                    if (running.contains(n) || startable.contains(n))
                        backend = 1;
                }
            }
        }
        int expected = 0;
        m_backend.compare_exchange_strong(expected, backend);
        backend = m_backend.load();
    }
    return backend == 1;
}

void SecretStore::giveUpKeychain() const
{
    m_backend.store(2);
}

SecretStore::KeychainResult SecretStore::runKeychain(Op op, const QString& key, const QString& secret) const
{
    struct Shared
    {
        QMutex lock;
        QWaitCondition finished;
        bool done = false;
        KeychainResult result;
    };
    auto shared = std::make_shared<Shared>();
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return {Answer::Failed, {}, tr("no application to run the desktop's secret store in")};

    const QString service = QString::fromLatin1(kService);
    QKeychain::Job* job = nullptr;
    if (op == Op::Read) {
        job = new QKeychain::ReadPasswordJob(service);
    } else if (op == Op::Write) {
        auto* w = new QKeychain::WritePasswordJob(service);
        w->setTextData(secret);
        job = w;
    } else {
        job = new QKeychain::DeletePasswordJob(service);
    }
    // The job deletes itself when it finishes, also when this call gave up on it first: deleting
    // it earlier would leave the store's answer with nowhere to go.
    job->setAutoDelete(true);
    job->setKey(key);
    QObject::connect(job, &QKeychain::Job::finished, job, [shared, op](QKeychain::Job* j) {
        KeychainResult r;
        switch (j->error()) {
        case QKeychain::NoError:
            r.answer = Answer::Done;
            if (op == Op::Read)
                r.text = static_cast<QKeychain::ReadPasswordJob*>(j)->textData();
            break;
        case QKeychain::EntryNotFound:
            r.answer = Answer::NotFound;
            break;
        case QKeychain::AccessDeniedByUser:
        case QKeychain::AccessDenied:
            r.answer = Answer::Denied;
            break;
        default:
            r.answer = Answer::Failed;
            break;
        }
        r.message = j->errorString();
        QMutexLocker g(&shared->lock);
        shared->result = r;
        shared->done = true;
        shared->finished.wakeAll();
    });

    // The store's jobs share one queue that lives in the thread of the first job, so every job
    // runs in the main thread, which outlives them all.
    const int waitMs = m_waitMs.load();
    if (QThread::currentThread() == app->thread()) {
        QEventLoop loop;
        QObject::connect(job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
        job->start();
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    } else {
        job->moveToThread(app->thread());
        QMetaObject::invokeMethod(job, [job] { job->start(); }, Qt::QueuedConnection);
        QDeadlineTimer deadline(waitMs);
        QMutexLocker g(&shared->lock);
        while (!shared->done && !deadline.hasExpired())
            shared->finished.wait(&shared->lock, deadline);
    }
    QMutexLocker g(&shared->lock);
    if (!shared->done)
        return {Answer::NoAnswer, {},
                tr("the desktop's secret store did not answer within %1 s").arg(waitMs / 1000.0)};
    return shared->result;
}

bool SecretStore::loadFile(QJsonObject* out, bool* exists, QString* error) const
{
    *out = QJsonObject();
    *exists = false;
    // Not through a link (another user's file could stand behind it), and without blocking: a
    // FIFO at this name would otherwise hold the asking thread in open() for ever.
    BoundedFile f;
    if (!f.open(m_filePath, BoundedFile::ReadOnly, BoundedFile::RefuseLinks)) {
        if (f.missing())
            return true;
        if (error) {
            *error = f.why() == QLatin1String("a symbolic link")
                         ? tr("%1 is a symbolic link: refusing to read secrets through it").arg(m_filePath)
                     : f.notRegular() ? tr("%1 is not a plain file: refusing to read secrets from it").arg(m_filePath)
                                      : tr("cannot read %1: %2").arg(m_filePath, f.why());
        }
        return false;
    }
    QString refusal;
    if (f.owner() != ::geteuid())
        refusal = tr("%1 belongs to another user: refusing to read secrets from it").arg(m_filePath);
    else if ((f.mode() & 077) != 0)
        refusal = tr("%1 can be read by others (mode %2): refusing to read secrets from it; "
                     "make it yours alone with: chmod 600 %1")
                      .arg(m_filePath)
                      .arg(QString::number(f.mode() & 0777, 8).rightJustified(4, QLatin1Char('0')));
    QByteArray data;
    if (refusal.isEmpty()) {
        bool tooLarge = false;
        data = f.readAll(kLargestFile, &tooLarge);
        if (tooLarge)
            refusal = tr("%1 is larger than %2 bytes, far more than any passwords: refusing to read it")
                          .arg(m_filePath)
                          .arg(kLargestFile);
        else if (!f.why().isEmpty())
            refusal = tr("cannot read %1: %2").arg(m_filePath, f.why());
    }
    if (!refusal.isEmpty()) {
        if (error)
            *error = refusal;
        return false;
    }
    *exists = true;
    if (data.trimmed().isEmpty())
        return true;
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(data, &parseError);
    if (!doc.isObject()) {
        // Writing over it would lose whatever else it holds: the user decides.
        if (error)
            *error = tr("%1 is damaged (%2): move it away to start afresh")
                         .arg(m_filePath, parseError.error == QJsonParseError::NoError
                                              ? tr("not an object") : parseError.errorString());
        return false;
    }
    *out = doc.object();
    return true;
}

bool SecretStore::saveFile(const QJsonObject& secrets, QString* error) const
{
    const QString folder = QFileInfo(m_filePath).absolutePath();
    if (!QFileInfo::exists(folder)) {
        if (!QDir().mkpath(folder)) {
            if (error)
                *error = tr("cannot make the folder %1").arg(folder);
            return false;
        }
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    if (secrets.isEmpty()) {
        if (::unlink(QFile::encodeName(m_filePath).constData()) != 0 && errno != ENOENT) {
            if (error)
                *error = tr("cannot remove %1: %2").arg(m_filePath, errnoText(errno));
            return false;
        }
        return true;
    }
    // Made 0600 from the first byte, written whole beside the old one and put in its place, so
    // that no one else ever sees a secret and a crash leaves the old file or the new one.
    const QByteArray tmp = QFile::encodeName(m_filePath + QStringLiteral(".new-%1").arg(::getpid()));
    const int fd = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (error)
            *error = tr("cannot write %1: %2").arg(QFile::decodeName(tmp), errnoText(errno));
        return false;
    }
    const QByteArray data = QJsonDocument(secrets).toJson(QJsonDocument::Indented);
    bool ok = ::fchmod(fd, 0600) == 0;
    int e = ok ? 0 : errno;
    qsizetype written = 0;
    while (ok && written < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + written, size_t(data.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            e = errno;
            ok = false;
            break;
        }
        written += n;
    }
    if (ok && ::fsync(fd) != 0) {
        e = errno;
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        e = errno;
        ok = false;
    }
    if (ok && ::rename(tmp.constData(), QFile::encodeName(m_filePath).constData()) != 0) {
        e = errno;
        ok = false;
    }
    if (!ok) {
        ::unlink(tmp.constData());
        if (error)
            *error = tr("cannot write %1: %2").arg(m_filePath, errnoText(e));
    }
    return ok;
}

bool SecretStore::write(const QString& key, const QString& secret, QString* error)
{
    if (keychainUsable()) {
        const KeychainResult r = runKeychain(Op::Write, key, secret);
        if (r.answer == Answer::Done) {
            // An older copy in the file would be found first and hide the new one.
            return removeFromFile(key, error);
        }
        if (r.answer == Answer::Denied) {
            if (error)
                *error = tr("the desktop's secret store refused: %1").arg(r.message);
            return false;
        }
        // No store after all, or one that does not answer: the file from now on.
        giveUpKeychain();
    }
    std::lock_guard<std::mutex> g(fileLock());
    QJsonObject secrets;
    bool exists = false;
    if (!loadFile(&secrets, &exists, error))
        return false;
    secrets.insert(key, secret);
    return saveFile(secrets, error);
}

std::optional<QString> SecretStore::read(const QString& key, QString* error)
{
    if (error)
        error->clear();
    {
        // The file holds only what the desktop's store could not take, so it is the newer.
        std::lock_guard<std::mutex> g(fileLock());
        QJsonObject secrets;
        bool exists = false;
        if (!loadFile(&secrets, &exists, error))
            return std::nullopt;
        const auto it = secrets.constFind(key);
        if (it != secrets.constEnd())
            return it->toString();
    }
    if (!keychainUsable())
        return std::nullopt;
    const KeychainResult r = runKeychain(Op::Read, key, {});
    switch (r.answer) {
    case Answer::Done:
        return r.text;
    case Answer::NotFound:
        return std::nullopt;
    case Answer::Denied:
        if (error)
            *error = tr("the desktop's secret store refused: %1").arg(r.message);
        return std::nullopt;
    case Answer::Failed:
    case Answer::NoAnswer:
        break;
    }
    giveUpKeychain();
    if (error)
        *error = r.answer == Answer::NoAnswer ? r.message : tr("the desktop's secret store failed: %1").arg(r.message);
    return std::nullopt;
}

bool SecretStore::removeFromFile(const QString& key, QString* error) const
{
    std::lock_guard<std::mutex> g(fileLock());
    QJsonObject secrets;
    bool exists = false;
    if (!loadFile(&secrets, &exists, error))
        return false;
    if (!secrets.contains(key))
        return true;
    secrets.remove(key);
    return saveFile(secrets, error);
}

bool SecretStore::remove(const QString& key, QString* error)
{
    if (!removeFromFile(key, error))
        return false;
    if (!keychainUsable())
        return true;
    const KeychainResult r = runKeychain(Op::Remove, key, {});
    if (r.answer == Answer::Done || r.answer == Answer::NotFound)
        return true;
    if (r.answer != Answer::Denied)
        giveUpKeychain();
    if (error)
        *error = r.answer == Answer::NoAnswer ? r.message
                                              : tr("the desktop's secret store could not remove it: %1").arg(r.message);
    return false;
}
