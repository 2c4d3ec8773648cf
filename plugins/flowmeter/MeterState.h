#pragma once

#include "FlowTrend.h"
#include "ReadingCheck.h"
#include "Reason.h"

#include <QDateTime>
#include <QString>
#include <QVector>

#include <cstdint>

// One meter as its line's poll thread last saw it. The values are those of the meter's model,
// in its order, as engineering values in the model's units.
struct MeterState
{
    int line = 0;
    int id = 0;
    QString model;
    bool online = false;
    bool seen = false;
    // Why it is offline (or was when last away).
    Reason reason;
    int errors = 0;
    int failuresInRow = 0;
    // One per model value: NaN where the value was not read (a command, a read that failed).
    QVector<double> values;
    // One per model value: a u64's raw number to its last digit, which `values` keeps only to
    // the 2^53 a double holds; 0 for the other types.
    QVector<quint64> wholes;
    // One per model value: why a measured value of the last answer is not a reading.
    QVector<ReadingCheck::Problem> problems;
    QDateTime lastGood;
    // The same instant on the monotonic clock (ms), for the age of the reading; 0 for none.
    qint64 lastGoodMs = 0;
    // The flow rate in the model's unit.
    FlowTrend trend;

    bool readingValid() const
    {
        for (ReadingCheck::Problem p : problems)
            if (p != ReadingCheck::Valid)
                return false;
        return true;
    }
};
