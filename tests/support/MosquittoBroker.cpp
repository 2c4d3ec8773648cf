#include "MosquittoBroker.h"

#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTextStream>
#include <QThread>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

MosquittoBroker::MosquittoBroker() = default;

MosquittoBroker::~MosquittoBroker()
{
    stop();
}

QString MosquittoBroker::program()
{
    QString p = QStandardPaths::findExecutable(QStringLiteral("mosquitto"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
    return p;
}

int MosquittoBroker::freePort()
{
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0
        && ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

bool MosquittoBroker::listening(int port)
{
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(quint16(port));
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

bool MosquittoBroker::start()
{
    return start(Options());
}

bool MosquittoBroker::start(const Options& o)
{
    if (running())
        return true;
    if (!dir.isValid() || program().isEmpty()) {
        lastError = QStringLiteral("no mosquitto (install the Debian package mosquitto)");
        return false;
    }
    if (portNumber != 0)
        return startOn(o);
    // The port was free when asked, but tests running beside this one (their brokers, their
    // clients' own ends) may take it before the broker binds it: then another.
    for (int attempt = 0; attempt < 5; ++attempt) {
        portNumber = freePort();
        if (startOn(o))
            return true;
        if (!lastError.contains(QStringLiteral("Address already in use")))
            break;
    }
    return false;
}

bool MosquittoBroker::startOn(const Options& o)
{
    const QString conf = dir.filePath(QStringLiteral("mosquitto.conf"));
    QFile f(conf);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        lastError = f.errorString();
        return false;
    }
    QTextStream out(&f);
    out << "per_listener_settings false\n";
    // Started as root, mosquitto becomes the user "mosquitto", who may not read the test's
    // private folder (its password file, its log, its saved sessions).
    if (::geteuid() == 0)
        out << "user root\n";
    if (o.tcpNoDelay)
        out << "set_tcp_nodelay true\n";
    if (o.persistence)
        out << "persistence true\npersistence_location " << dir.path() << "/\n";
    else
        out << "persistence false\n";
    out
        << "log_dest file " << dir.filePath(QStringLiteral("broker.log")) << "\n"
        << "log_type all\n"
        << "listener " << portNumber << " 127.0.0.1\n";
    if (!o.certFile.isEmpty())
        out << "cafile " << o.caFile << "\ncertfile " << o.certFile << "\nkeyfile " << o.keyFile << "\n";
    if (!o.passwordFile.isEmpty())
        out << "allow_anonymous false\npassword_file " << o.passwordFile << "\n";
    else
        out << "allow_anonymous true\n";
    out.flush();
    f.close();

    const qsizetype logged = log().size();
    proc.setProcessChannelMode(QProcess::MergedChannels);
    proc.start(program(), {QStringLiteral("-c"), conf});
    if (!proc.waitForStarted(10000)) {
        lastError = proc.errorString();
        return false;
    }
    QElapsedTimer t;
    t.start();
    // Bounded: a broker that does not listen within 10 s will not. Its own word that it runs,
    // not only a listener on the port: that may be another test's broker.
    while (!(log().mid(logged).contains(QStringLiteral(" running")) && listening(portNumber))) {
        if (proc.state() != QProcess::Running || t.elapsed() > 10000) {
            proc.waitForFinished(100);
            lastError = QStringLiteral("mosquitto did not listen on %1: %2 %3")
                            .arg(portNumber)
                            .arg(QString::fromLocal8Bit(proc.readAll()), log().mid(logged));
            stop();
            return false;
        }
        QThread::msleep(20);
    }
    return true;
}

void MosquittoBroker::stop()
{
    if (proc.state() == QProcess::NotRunning)
        return;
    proc.terminate();
    if (!proc.waitForFinished(5000)) {
        proc.kill();
        proc.waitForFinished(5000);
    }
}

void MosquittoBroker::suspend()
{
    if (running())
        ::kill(pid_t(proc.processId()), SIGSTOP);
}

void MosquittoBroker::kill()
{
    if (!running())
        return;
    proc.kill();
    proc.waitForFinished(5000);
}

QString MosquittoBroker::log() const
{
    QFile f(dir.filePath(QStringLiteral("broker.log")));
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll());
}
