// Where passwords are kept: the file that stands in for the desktop's secret store on real files
// in a temporary folder, and, on a session bus of the test's own, a bus without a store and a
// store that never answers.
#include "SecretStore.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusVirtualObject>
#include <QFile>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

int modeOf(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 0777);
}

QByteArray contentsOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Takes every call and never answers, as a store waiting on a prompt nobody sees.
class SilentStore : public QDBusVirtualObject
{
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage&, const QDBusConnection&) override { return true; }
};

} // namespace

class TestSecretStore : public QObject
{
    Q_OBJECT

private slots:
    void fileKeepsSecretsForItsOwnerOnly();
    void refusesAFileOthersCanRead();
    void refusesWhatIsNoFileOfSecrets_data();
    void refusesWhatIsNoFileOfSecrets();
    void fallsBackWithoutAStoreOnTheBus();
    void givesUpOnAStoreThatDoesNotAnswer();
};

void TestSecretStore::fileKeepsSecretsForItsOwnerOnly()
{
    QTemporaryDir tmp;
    const QString folder = tmp.filePath(QStringLiteral("config/Tessmark"));
    SecretStore store(folder);
    QVERIFY2(store.where().contains(store.filePath()), qPrintable(store.where()));

    QString error;
    QCOMPARE(store.read(QStringLiteral("mqtt/password"), &error), std::nullopt);
    QVERIFY(error.isEmpty());

    const QString odd = QStringLiteral("p\u00e4ss \"w\"\nord=\\");
    QVERIFY2(store.write(QStringLiteral("mqtt/password"), odd, &error), qPrintable(error));
    QVERIFY2(store.write(QStringLiteral("other"), QStringLiteral("x"), &error), qPrintable(error));
    QCOMPARE(modeOf(store.filePath()), 0600);
    QCOMPARE(modeOf(folder), 0700);
    // Nothing left beside it from the write.
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 1);

    // Another store on the same folder, as after a restart.
    SecretStore again(folder);
    QCOMPARE(again.read(QStringLiteral("mqtt/password"), &error), std::optional<QString>(odd));
    QVERIFY2(again.write(QStringLiteral("mqtt/password"), QStringLiteral("new"), &error), qPrintable(error));
    QCOMPARE(store.read(QStringLiteral("mqtt/password"), &error), std::optional<QString>(QStringLiteral("new")));
    QCOMPARE(store.read(QStringLiteral("other"), &error), std::optional<QString>(QStringLiteral("x")));

    QVERIFY2(store.remove(QStringLiteral("mqtt/password"), &error), qPrintable(error));
    QCOMPARE(store.read(QStringLiteral("mqtt/password"), &error), std::nullopt);
    QVERIFY(error.isEmpty());
    QCOMPARE(store.read(QStringLiteral("other"), &error), std::optional<QString>(QStringLiteral("x")));
    QVERIFY2(store.remove(QStringLiteral("other"), &error), qPrintable(error));
    QVERIFY(!QFile::exists(store.filePath()));
    QVERIFY2(store.remove(QStringLiteral("never-there"), &error), qPrintable(error));

    // A file made by an earlier write with a loose umask stays 0600 when replaced.
    const mode_t old = ::umask(0);
    const bool written = store.write(QStringLiteral("k"), QStringLiteral("v"), &error);
    ::umask(old);
    QVERIFY2(written, qPrintable(error));
    QCOMPARE(modeOf(store.filePath()), 0600);
}

void TestSecretStore::refusesAFileOthersCanRead()
{
    QTemporaryDir tmp;
    SecretStore store(tmp.path());
    QString error;
    QVERIFY2(store.write(QStringLiteral("mqtt/password"), QStringLiteral("s3cret"), &error), qPrintable(error));
    const QByteArray before = contentsOf(store.filePath());

    for (const int mode : {0644, 0640, 0604}) {
        QCOMPARE(::chmod(QFile::encodeName(store.filePath()).constData(), mode_t(mode)), 0);
        error.clear();
        QCOMPARE(store.read(QStringLiteral("mqtt/password"), &error), std::nullopt);
        QVERIFY2(error.contains(QStringLiteral("can be read by others")) && error.contains(store.filePath())
                     && error.contains(QStringLiteral("chmod 600")),
                 qPrintable(error));
        // Nor is it written over: that would need its other secrets read first.
        error.clear();
        QVERIFY(!store.write(QStringLiteral("mqtt/password"), QStringLiteral("other"), &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!store.remove(QStringLiteral("mqtt/password"), &error));
        QCOMPARE(contentsOf(store.filePath()), before);
    }
    QCOMPARE(::chmod(QFile::encodeName(store.filePath()).constData(), 0600), 0);
    QCOMPARE(store.read(QStringLiteral("mqtt/password"), &error), std::optional<QString>(QStringLiteral("s3cret")));

    // Not through a link to somewhere else, and not over a damaged file.
    QTemporaryDir other;
    SecretStore linked(other.path());
    QVERIFY(QFile::link(store.filePath(), linked.filePath()));
    QCOMPARE(linked.read(QStringLiteral("mqtt/password"), &error), std::nullopt);
    QVERIFY2(error.contains(QStringLiteral("symbolic link")), qPrintable(error));

    QFile damaged(store.filePath());
    QVERIFY(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
    damaged.write("{\"mqtt/password\": \"s3c");
    damaged.close();
    QVERIFY(!store.write(QStringLiteral("k"), QStringLiteral("v"), &error));
    QVERIFY2(error.contains(QStringLiteral("damaged")), qPrintable(error));
    QCOMPARE(contentsOf(store.filePath()), QByteArray("{\"mqtt/password\": \"s3c"));
}

// Run on a session bus that starts nothing (and, in the plain run, without a bus at all): the
// first answer already names the file, and the secret goes there.
void TestSecretStore::refusesWhatIsNoFileOfSecrets_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("said");
    // Opening it would wait for a writer: the thread that asks for the password would hang.
    QTest::newRow("FIFO") << "fifo" << "is not a plain file";
    // Far more than any set of passwords: not read into memory.
    QTest::newRow("200 MB") << "large" << "is larger than";
}

void TestSecretStore::refusesWhatIsNoFileOfSecrets()
{
    QFETCH(QString, kind);
    QFETCH(QString, said);
    QTemporaryDir tmp;
    SecretStore store(tmp.path());
    const QByteArray path = QFile::encodeName(store.filePath());
    if (kind == "fifo") {
        QCOMPARE(::mkfifo(path.constData(), 0600), 0);
    } else {
        QFile f(store.filePath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("{\"k\": \"v\"}\n");
        QVERIFY(f.resize(200 * 1024 * 1024));
        f.close();
        QCOMPARE(::chmod(path.constData(), 0600), 0);
    }
    std::atomic<bool> done{false};
    QString error;
    std::optional<QString> got;
    std::thread reader([&] {
        got = store.read(QStringLiteral("k"), &error);
        done = true;
    });
    QElapsedTimer waited;
    waited.start();
    while (!done && waited.elapsed() < 30000)
        QThread::msleep(10);
    const bool answered = done;
    if (!answered) {
        // A writer that comes and goes lets a reader held in open() see the end of the FIFO.
        const int w = ::open(path.constData(), O_WRONLY | O_NONBLOCK);
        if (w >= 0)
            ::close(w);
    }
    reader.join();
    QVERIFY2(answered, "the read did not come back");
    QCOMPARE(got, std::nullopt);
    QVERIFY2(error.contains(store.filePath()) && error.contains(said), qPrintable(error));
    // Nor is it written over: what it is stays, a FIFO a FIFO.
    error.clear();
    QVERIFY(!store.write(QStringLiteral("k"), QStringLiteral("w"), &error));
    QCOMPARE(QFileInfo(store.filePath()).isFile(), kind == "large");
}

void TestSecretStore::fallsBackWithoutAStoreOnTheBus()
{
    QTemporaryDir tmp;
    SecretStore store(tmp.path());
    QVERIFY2(store.where().startsWith(QStringLiteral("a file only you can read: ")), qPrintable(store.where()));
    QString error;
    QVERIFY2(store.write(QStringLiteral("mqtt/password"), QStringLiteral("s3cret"), &error), qPrintable(error));
    QVERIFY(QFile::exists(store.filePath()));
    QCOMPARE(store.read(QStringLiteral("mqtt/password"), &error), std::optional<QString>(QStringLiteral("s3cret")));
}

// A store that is there but never answers costs one wait limit, from the GUI thread and from
// another one alike, and then the file takes the secret.
void TestSecretStore::givesUpOnAStoreThatDoesNotAnswer()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        QSKIP("needs a session bus of its own (run under dbus-run-session)");
    SilentStore silent;
    QVERIFY(bus.registerVirtualObject(QStringLiteral("/"), &silent, QDBusConnection::SubPath));
    QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.secrets")));

    QTemporaryDir tmp;
    SecretStore store(tmp.path());
    store.setWaitLimit(1500);
    QCOMPARE(store.where(), QStringLiteral("the desktop's secret store"));

    std::atomic<bool> done{false};
    bool written = false;
    QString error;
    std::thread worker([&] {
        written = store.write(QStringLiteral("mqtt/password"), QStringLiteral("s3cret"), &error);
        done.store(true);
    });
    // The main thread keeps its event loop going, as the program's does.
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 60000);
    worker.join();
    QVERIFY2(written, qPrintable(error));
    QVERIFY2(store.where().startsWith(QStringLiteral("a file only you can read: ")), qPrintable(store.where()));
    QCOMPARE(store.read(QStringLiteral("mqtt/password"), &error), std::optional<QString>(QStringLiteral("s3cret")));

    // A second store starts by asking the silent one again, here from the main thread.
    SecretStore fresh(tmp.path());
    fresh.setWaitLimit(1500);
    QCOMPARE(fresh.read(QStringLiteral("not-in-the-file"), &error), std::nullopt);
    QVERIFY(!error.isEmpty());
    QVERIFY(fresh.where().startsWith(QStringLiteral("a file only you can read: ")));

    bus.unregisterService(QStringLiteral("org.freedesktop.secrets"));
    bus.unregisterObject(QStringLiteral("/"));
}

QTEST_GUILESS_MAIN(TestSecretStore)
#include "test_secret_store.moc"
