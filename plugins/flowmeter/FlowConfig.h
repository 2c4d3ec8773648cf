#pragma once

#include "DisplayUnit.h"

#include <serial/cLineSettings.h>

#include <QString>
#include <QVector>

// What the plug-in is told to do: kept in its settings group, edited on its setup page.

// A transaction is given up by the host after half a second, while the port's thread still
// waits on the line and the requests of the other meters queue behind it. The answer time-out
// stays well inside that: 400 ms, plus the request, the answer and the frame gap.
constexpr int kLongestAnswerTimeoutMs = 400;

struct MeterConfig
{
    int id = 1;
    // The model's name ("Tessmark FM-1"): maker and model as its file says.
    QString model;
    // The user's name for it ("FT-101 inlet"); empty: the pages call it "Meter <id>".
    QString name;

    // What the pages, the log and the recordings call it.
    QString shownName() const;
};

struct LineConfig
{
    QString port;
    // 9600 8N1 unless set: what every stored setup before line settings meant.
    cLineSettings line;
    QVector<MeterConfig> meters;
    int periodMs = 200;
    // How long a meter may take to start its answer (and pause within it). 100 ms leaves a
    // real meter at 9600 baud about 90 ms to turn round; slower ones need more, up to
    // kLongestAnswerTimeoutMs.
    int answerTimeoutMs = 100;
};

// The unit each quantity is shown in, whatever the meter sends.
struct DisplayUnits
{
    DisplayUnit::Unit flow = DisplayUnit::CubicMetrePerHour;
    DisplayUnit::Unit volume = DisplayUnit::CubicMetre;
    DisplayUnit::Unit temperature = DisplayUnit::Celsius;
    // The unit `modelUnit`'s quantity is shown in; `modelUnit` itself for one of no quantity.
    DisplayUnit::Unit shown(DisplayUnit::Unit modelUnit) const;
};

// Recording of the readings to files (one CSV file per line and day; docs/recording.md).
struct RecordingConfig
{
    // Empty: the default folder.
    QString folder;
    // Seconds between rows, 1 s to 1 h.
    int intervalS = 10;
    // Whether it runs (restarted with the program when it was running at the end).
    bool on = false;

    static constexpr int kMinIntervalS = 1;
    static constexpr int kMaxIntervalS = 3600;
    // $XDG_DATA_HOME/Tessmark/Corvane/records (~/.local/share/...).
    static QString defaultFolder();
    // The folder in use: `folder`, or the default one.
    QString path() const;
    // What makes a folder no place for the recordings. A relative one would follow whatever
    // folder the program happens to be started from, and the root is the system's (as root the
    // files would land there). Empty (the default) is fine.
    enum class FolderProblem { None, Relative, Root };
    static FolderProblem folderProblem(const QString& folder);
    // The problem for the log (English), and in the user's words; empty for None.
    static QString folderProblemLogText(const QString& folder);
    static QString folderProblemText(const QString& folder);
    // The interval in use, within its bounds.
    int intervalMs() const;
};

struct FlowConfig
{
    QVector<LineConfig> lines;
    DisplayUnits units;
    // Written to every meter that has the value.
    int dampingTenths = 10;
    float calibration = 1.0f;
    // The meter on show when the program last ended: its line (from 0) and unit id; id 0 for none.
    int selectedLine = 0;
    int selectedId = 0;
    RecordingConfig recording;
};
