#pragma once

// The simulator paced at one line's settings in a folder of its own, recording when each
// request arrived (its tap), for the benchmarks that poll at the wire rate.
#include "ProgramRunner.h"
#include "serial/cLineSettings.h"

#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <thread>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

struct Line
{
    const char* name;
    cLineSettings settings;
    const char* simParity;
};

// The simulator paced at one line's settings, recording when each request arrived.
class PacedSim
{
public:
    explicit PacedSim(const Line& l, const QString& ids = "1", const QStringList& extra = {})
    {
        link = dir.path() + "/link";
        tap = dir.path() + "/tap";
        // Without -v: a back-to-back master would otherwise wait on a reader of its log.
        sim.setStandardOutputFile(dir.path() + "/out");
        sim.setStandardErrorFile(dir.path() + "/out");
        sim.start(ProgramRunner::binDir() + "/flowsim",
                  QStringList{"--ids", ids, "--link", link, "--tap", tap, "--pace", "--baud", QString::number(l.settings.baud),
                   "--parity", l.simParity} + extra);
        for (int i = 0; i < 250 && !QFileInfo::exists(link) && sim.state() != QProcess::NotRunning; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // This kernel refuses a change of a pseudo-terminal's settings that comes down to parity
    // alone (EINVAL), and the simulator has already set the rate: the terminal is put at
    // another rate first, so the master's open changes the rate too and is taken. A serial
    // device takes parity as it is.
    void unsetRate() const
    {
        const int fd = ::open(link.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios t;
        if (fd >= 0 && tcgetattr(fd, &t) == 0) {
            cfsetispeed(&t, cfgetospeed(&t) == B2400 ? B4800 : B2400);
            cfsetospeed(&t, cfgetispeed(&t));
            tcsetattr(fd, TCSANOW, &t);
        }
        if (fd >= 0)
            ::close(fd);
    }
    ~PacedSim()
    {
        sim.terminate();
        sim.waitForFinished(5000);
    }

    QTemporaryDir dir;
    QString link, tap;
    QProcess sim;
};


// The program staged under `root` with the built flow-meter plug-in and the meter models
// beside it, as an installed program has them; returns its bin folder, empty on failure.
inline QString stageFlowMeterProgram(const QString& root)
{
    const QString bin = ProgramRunner::stageProgram(root);
    return !bin.isEmpty() && ProgramRunner::stageFlowmeter(bin) ? bin : QString();
}
