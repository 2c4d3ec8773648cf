#pragma once

// The real flow-meter simulator in a temporary folder: its link, its control pipe and what it
// prints with -v (every request and answer in hexadecimal).
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QVector>

#include <cstring>

#include <fcntl.h>
#include <unistd.h>

class FlowSim
{
public:
    explicit FlowSim(const QString& ids, const QStringList& extra = {})
    {
        link = dir.path() + "/link";
        control = dir.path() + "/control";
        proc.setProcessChannelMode(QProcess::MergedChannels);
        proc.start(QString::fromLocal8Bit(qgetenv("CORVANE_BIN_DIR")) + "/flowsim",
                   QStringList{"--ids", ids, "--link", link, "--control", control, "-v"} + extra);
        started = proc.waitForStarted(5000) && waitFor("flowsim: open");
    }
    ~FlowSim()
    {
        proc.terminate();
        proc.waitForFinished(5000);
    }

    QString collect()
    {
        output += QString::fromLocal8Bit(proc.readAll());
        return output;
    }
    bool waitFor(const QString& text, int ms = 5000)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            if (collect().contains(text))
                return true;
            proc.waitForReadyRead(20);
        }
        return false;
    }
    bool command(const QByteArray& line)
    {
        const int fd = ::open(control.toLocal8Bit().constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return false;
        const QByteArray l = line + "\n";
        const bool ok = ::write(fd, l.constData(), size_t(l.size())) == l.size();
        ::close(fd);
        return ok;
    }

    // The (flow, totalizer, temperature) of every whole-map answer that `unit` sent.
    QVector<QVector<float>> answers(int unit)
    {
        QVector<QVector<float>> all;
        static const QRegularExpression line("flowsim: -> ([0-9A-F ]+)\\n");
        auto it = line.globalMatch(collect());
        while (it.hasNext()) {
            const QStringList hex = it.next().captured(1).split(' ', Qt::SkipEmptyParts);
            if (hex.size() != 37 || hex[0].toInt(nullptr, 16) != unit || hex[1] != "03" || hex[2] != "20")
                continue;
            QVector<float> values;
            for (int reg = 0; reg < 6; reg += 2) {
                uint32_t bits = 0;
                for (int b = 0; b < 4; ++b)
                    bits = (bits << 8) | uint32_t(hex[3 + 2 * reg + b].toUInt(nullptr, 16));
                float f;
                memcpy(&f, &bits, sizeof f);
                values << f;
            }
            all << values;
        }
        return all;
    }

    QTemporaryDir dir;
    QString link;
    QString control;
    QProcess proc;
    QString output;
    bool started = false;
};
