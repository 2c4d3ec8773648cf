#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// Debian's mosquitto broker, run by a test on a free loopback port with a configuration file of
// its own in a temporary folder: never the system's service, gone when the object is.
class MosquittoBroker
{
public:
    struct Options
    {
        // When set, the broker speaks TLS only, with this certificate and key, signed by the CA.
        QString certFile;
        QString keyFile;
        QString caFile;
        // When set, only the users of this file (mosquitto_passwd's form) may connect.
        QString passwordFile;
        // Sessions and their queued messages kept across a stop and start (saved at the stop),
        // so that a subscriber of a lasting session misses nothing of the broker's absence.
        bool persistence = false;
        // Sends each packet at once rather than after the peer's (delayed) ACK.
        bool tcpNoDelay = false;
    };

    MosquittoBroker();
    ~MosquittoBroker();
    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    static QString program();
    static bool available() { return !program().isEmpty(); }

    // Starts it and waits until it takes connections; the first start picks the port, later
    // ones keep it. False (and error()) when it would not start.
    bool start();
    bool start(const Options& options);
    // Stops it (SIGTERM, then SIGKILL) and waits for it to end.
    void stop();
    // SIGSTOP: it keeps its connections but answers nothing, as a broker that hangs.
    void suspend();
    // SIGKILL: it dies without a word, its connections reset.
    void kill();
    bool running() const { return proc.state() == QProcess::Running; }

    int port() const { return portNumber; }
    QString folder() const { return dir.path(); }
    // What it logged so far.
    QString log() const;
    QString error() const { return lastError; }

    // A free TCP port on 127.0.0.1 (free when asked: the broker takes it right after).
    static int freePort();
    // True when something takes TCP connections on 127.0.0.1:`port`.
    static bool listening(int port);

private:
    bool startOn(const Options& options);

    QTemporaryDir dir;
    QProcess proc;
    int portNumber = 0;
    QString lastError;
};
