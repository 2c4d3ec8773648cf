#pragma once

// The real flow-meter simulator in a temporary folder: its link, its control pipe, what it
// prints with -v (every request and answer in hexadecimal) and its tap (when each request
// frame arrived, and its function code). Line settings such as {"--baud", "19200"} and meter
// models (modelOptions) go in `extra`. A second terminal onto the same meters (`monitor`) is
// for an independent MODBUS master of the test's own (ModbusRtuMaster).
#include <QElapsedTimer>
#include <QFile>
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
        tap = dir.path() + "/tap";
        monitor = dir.path() + "/monitor";
        proc.setProcessChannelMode(QProcess::MergedChannels);
        proc.start(QString::fromLocal8Bit(qgetenv("CORVANE_BIN_DIR")) + "/flowsim",
                   QStringList{"--ids", ids, "--link", link, "--control", control, "--tap", tap, "--monitor", monitor,
                               "-v"} +
                       extra);
        started = proc.waitForStarted(5000) && waitFor("flowsim: open");
    }
    // Options that make meters of the model file `file`: of every id when `ids` is empty, else
    // of those ids only (the others stay the built-in FM-1). Pass them in `extra`, e.g.
    // FlowSim sim("1,2,3", FlowSim::modelOptions(path, {2, 3})).
    static QStringList modelOptions(const QString& file, const QList<int>& ids = {})
    {
        if (ids.isEmpty())
            return {"--model", file};
        QStringList options;
        for (int id : ids)
            options << "--model" << QString("%1=%2").arg(id).arg(file);
        return options;
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

    // Whether `unit` sent an answer that `held` accepts. The simulator prints an answer after it
    // has sent it, so a value the program already has may reach this output a moment later.
    template <typename Held>
    bool answered(int unit, Held held, int ms = 3000)
    {
        QElapsedTimer t;
        t.start();
        do {
            for (const QVector<float>& a : answers(unit))
                if (held(a))
                    return true;
            proc.waitForReadyRead(50);
        } while (t.elapsed() < ms);
        return false;
    }

    // One request frame as it arrived: the CLOCK_MONOTONIC microseconds of its first and last
    // byte (the clock of std::chrono::steady_clock on Linux) and its length.
    struct Frame
    {
        qint64 startUs = 0;
        qint64 endUs = 0;
        int length = 0;
        // The request's function code; -1 in a tap written before the simulator noted it.
        int function = -1;
    };
    // Every line of a tap file; a line that is not three or four numbers ends the list.
    static QVector<Frame> readTap(const QString& path)
    {
        QVector<Frame> frames;
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return frames;
        for (const QByteArray& line : f.readAll().split('\n')) {
            const QList<QByteArray> n = line.split(' ');
            bool ok[4] = {false, false, false, true};
            if (n.size() != 3 && n.size() != 4)
                break;
            Frame frame{n[0].toLongLong(&ok[0]), n[1].toLongLong(&ok[1]), n[2].toInt(&ok[2])};
            if (n.size() == 4)
                frame.function = n[3].toInt(&ok[3]);
            if (!ok[0] || !ok[1] || !ok[2] || !ok[3])
                break;
            frames << frame;
        }
        return frames;
    }
    QVector<Frame> frames() const { return readTap(tap); }
    // How many requests of `function` the tap has seen.
    int requests(int function) const
    {
        int n = 0;
        for (const Frame& f : frames())
            n += f.function == function ? 1 : 0;
        return n;
    }

    QTemporaryDir dir;
    QString link;
    QString control;
    QString tap;
    QString monitor;
    QProcess proc;
    QString output;
    bool started = false;
};
