#include "ProgramRunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QThread>

#include <csignal>

ProgramRunner::ProgramRunner()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", config.path());
    env.insert("XDG_DATA_HOME", config.path() + "/data");
    proc.setProcessEnvironment(env);
    proc.setWorkingDirectory(work.path());
}

QString ProgramRunner::binDir()
{
    const QByteArray dir = qgetenv("CORVANE_BIN_DIR");
    return dir.isEmpty() ? QCoreApplication::applicationDirPath() + "/../bin" : QString::fromLocal8Bit(dir);
}

QString ProgramRunner::stageProgram(const QString& root)
{
    const QString bin = root + "/bin";
    const QString lib = QFileInfo(binDir() + "/../lib").canonicalFilePath();
    if (!QDir().mkpath(bin) || lib.isEmpty())
        return QString();
    QFile::remove(bin + "/corvane");
    if (!QFile::copy(binDir() + "/corvane", bin + "/corvane"))
        return QString();
    if (!QFile::exists(root + "/lib") && !QFile::link(lib, root + "/lib"))
        return QString();
    return bin;
}

bool ProgramRunner::stageFlowmeter(const QString& bin)
{
    const QString from = binDir() + "/plugins";
    const QString to = bin + "/plugins";
    if (!QDir().mkpath(to + "/models") || !QFile::copy(from + "/flowmeter.plg", to + "/flowmeter.plg"))
        return false;
    const QStringList models = QDir(from + "/models").entryList(QDir::Files);
    for (const QString& name : models)
        if (!QFile::copy(from + "/models/" + name, to + "/models/" + name))
            return false;
    return !models.isEmpty();
}

bool ProgramRunner::waitFor(const QString& text, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    for (;;) {
        collect();
        if (stdoutText.contains(text) || log().contains(text))
            return true;
        if (proc.state() == QProcess::NotRunning || t.elapsed() >= timeoutMs)
            return false;
        proc.waitForReadyRead(50);
    }
}

void ProgramRunner::collect()
{
    stdoutText += QString::fromLocal8Bit(proc.readAllStandardOutput());
    stderrText += QString::fromLocal8Bit(proc.readAllStandardError());
}

bool ProgramRunner::start(const QStringList& args, int timeoutMs)
{
    proc.start((programDir.isEmpty() ? binDir() : programDir) + "/corvane", args);
    if (!proc.waitForStarted(timeoutMs))
        return false;
    const QString ready = "Starting MAIN transaction thread handler";
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        proc.waitForReadyRead(50);
        collect();
        if (stdoutText.contains(ready) || log().contains(ready))
            return true;
        if (proc.state() == QProcess::NotRunning)
            return false;
    }
    return false;
}

bool ProgramRunner::stop(int timeoutMs)
{
    if (proc.state() != QProcess::NotRunning)
        ::kill(pid_t(proc.processId()), SIGTERM);
    const bool ended = proc.waitForFinished(timeoutMs);
    collect();
    // A sanitizer report at exit shows as a non-zero code.
    const bool clean = ended && proc.exitStatus() == QProcess::NormalExit && proc.exitCode() == 0;
    if (!clean)
        qWarning("program %s: exit status %d, code %d; last standard error:\n%s",
                 ended ? "ended" : "did not end", int(proc.exitStatus()), proc.exitCode(),
                 qPrintable(stderrText.right(3000)));
    return clean;
}

QString ProgramRunner::log() const
{
    QFile f(work.path() + "/log.txt");
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(f.readAll());
}
